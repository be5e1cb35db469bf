// The per-file icon table (HKEY_LOCAL_MACHINE\<ProductKey>\FileIcons, one long-form value
// per file path) and the installation of this extension as a class's icon handler, with
// backups of the class's DefaultIcon text (DefaultIconBAK) and previous handler
// (shellex\IconHandlerBAK).
#pragma once

#include <windows.h>

#include <optional>

#include "IconLocation.h"

namespace orvane {

std::optional<IconLocation> ReadFileIcon(const char* filePath);
LONG WriteFileIcon(const IconLocation& location, const char* filePath);
LONG DeleteFileIcon(const char* filePath);

// The number of table entries whose stored class (the third field) is typeKey, compared
// without regard to case.
int CountFileIconsOfType(const char* typeKey);

LONG InstallIconHandler(const IconLocation& location);
LONG UninstallIconHandler(const IconLocation& location);

enum class HandlerSlot { Current, Backup };

// Reads <name>\shellex\IconHandler (or IconHandlerBAK) into buffer; false, buffer
// untouched, when there is nothing to read.
bool ReadIconHandlerText(const char* name, HandlerSlot slot, char (&buffer)[TextCapacity]);
bool ReadExtensionIconHandlerText(const char* extension, HandlerSlot slot, char (&buffer)[TextCapacity]);

// True when the class named by TypeKey has exactly this extension's class identifier
// as its icon handler (byte for byte, case included).
bool IsOwnIconHandler(const IconLocation& location);
// True when the extension's class has any icon handler text of two or more characters.
bool HasIconHandler(const char* extension);

// While this extension is a class's icon handler, the class's DefaultIcon says "%1" and the
// type's own icon is kept beside it: in "HandlerIconInfo" when one was chosen since
// installing, else in DefaultIconBAK, the text that uninstalling puts back.
//
// True when typeIcon, a record read from a class's DefaultIcon (TypeKey = the class in
// which it was found), is that "%1": its path contains "%1" and the class's icon handler
// is this extension.
bool IsOwnHandlerPlaceholder(const IconLocation& typeIcon);
// The type's own icon behind that "%1": "HandlerIconInfo" if it names an icon, else the
// default value of <TypeKey>\DefaultIconBAK (short form); TypeKey is the class, Owner
// that of typeIcon. None when neither names an icon (the class had none before
// installing), or when typeIcon is no such "%1".
std::optional<IconLocation> ReadTypeIconBehindHandler(const IconLocation& typeIcon);
// The default value of <typeKey>\DefaultIconBAK in short form (TypeKey and Owner empty):
// the class's DefaultIcon text from before this extension became its icon handler.
std::optional<IconLocation> ReadDefaultIconBackup(const char* typeKey);
// Writes the short form of location into the default value of <TypeKey>\DefaultIconBAK,
// creating the key when it is missing: what DefaultIcon becomes when this extension is
// uninstalled from the class.
LONG WriteDefaultIconBackup(const IconLocation& location);

} // namespace orvane
