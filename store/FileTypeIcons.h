// File-type icons under HKEY_CLASSES_ROOT: an extension key names a class, whose
// DefaultIcon key holds the icon in its default value, the first icon the system replaced
// in "BAKIconInfo", and the icon chosen while this extension is the class's icon handler
// in "HandlerIconInfo". All three are short-form texts.
#pragma once

#include <windows.h>

#include <optional>

#include "IconLocation.h"
#include "Registry.h"

namespace orvane {

constexpr const char BackupIconValue[] = "BAKIconInfo";
constexpr const char HandlerIconValue[] = "HandlerIconInfo";

// The class that an extension names: the default value of HKEY_CLASSES_ROOT\<extension>.
// False (className untouched or empty) for no extension, no extension key, a value that
// cannot be read as text of at most 259 characters, or an empty one. Every way from an
// extension to its class goes through here.
bool ReadExtensionClass(const char* extension, char (&className)[TextCapacity]);

// Reads <name>\DefaultIcon (valueName, null for the default value) under root, following
// <name>\CurVer when DefaultIcon does not open. TypeKey is the class where the value was
// found; Owner is empty. A CurVer chain that returns to a visited class, or that is longer
// than 32 hops, ends with none.
std::optional<IconLocation> LookupClassIcon(HKEY root, const char* name, const char* valueName);

// Looks up the class that HKEY_CLASSES_ROOT\<extension> names, then its icon value.
// With keepExtension the record's Owner is the extension.
std::optional<IconLocation> ReadTypeIcon(const char* extension, const char* valueName, bool keepExtension);

// Creates (or opens) HKEY_CLASSES_ROOT\<TypeKey>, handing it out through classKey, and
// points HKEY_CLASSES_ROOT\<Owner> at it. Returns the status of creating the class key.
LONG RegisterFileType(const IconLocation& location, RegKey& classKey);

// Writes the short form into <TypeKey>\DefaultIcon's value (null: the default value),
// registering the type when the class key cannot be opened for writing.
LONG WriteTypeIcon(const IconLocation& location, const char* valueName);

std::optional<IconLocation> ReadTypeDefaultIcon(const char* extension);
std::optional<IconLocation> ReadTypeBackupIcon(const char* extension);
std::optional<IconLocation> ReadTypeHandlerIcon(const char* extension);
LONG WriteTypeDefaultIcon(const IconLocation& location);
LONG WriteTypeBackupIcon(const IconLocation& location);
LONG WriteTypeHandlerIcon(const IconLocation& location);

// Deletes "BAKIconInfo" from <TypeKey>\DefaultIcon; a missing key or value is success.
LONG DeleteTypeBackupIcon(const IconLocation& location);

} // namespace orvane
