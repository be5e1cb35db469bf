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

} // namespace orvane
