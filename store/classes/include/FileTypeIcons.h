// File-type icons under HKEY_CLASSES_ROOT: an extension key names a class, whose
// DefaultIcon key holds the icon in its default value, the first icon the system replaced
// in "BAKIconInfo", and the icon chosen while this extension is the class's icon handler
// in "HandlerIconInfo". All three are short-form texts. Every class key is read as this
// user's Explorer sees it (this user's classes over all users', key by key); writes go
// to one scope's classes, all users' unless told otherwise.
#pragma once

#include <windows.h>

#include <optional>

#include "IconLocation.h"
#include "Registry.h"
#include "Scope.h"

namespace orvane {

// The class a file of this extension takes its icon from, as Explorer picks it: the class
// this user chose ("ProgId" of the extension's UserChoice key under
// HKCU\...\Explorer\FileExts) when that class exists, else the default value of the
// extension key (this user's key over all users'). False (className untouched or empty)
// for no extension, no extension key, a value that cannot be read as text of at most 259
// characters, or an empty one. Every way from an extension to its class goes through here.
bool ReadExtensionClass(const wchar_t* extension, wchar_t (&className)[TextCapacity]);

// The class whose DefaultIcon the files of the extension show, also while it has none:
// the class of ReadExtensionClass, then, while that class has no DefaultIcon key, the
// class its CurVer names, as long as that class exists and has not been passed already
// (a cycle or a CurVer that names its own class ends the walk). False when the extension
// names no class. A file's own icon goes to this class, never to a new one.
bool ReadIconClass(const wchar_t* extension, wchar_t (&className)[TextCapacity]);
// The same walk from a class name.
bool FollowCurVerToIconClass(const wchar_t* name, wchar_t (&className)[TextCapacity]);

// Reads <name>\DefaultIcon (valueName, null for the default value) under root, following
// <name>\CurVer when DefaultIcon does not open. TypeKey is the class where the value was
// found; TargetName is empty. A CurVer chain that returns to a visited class, or that is longer
// than 32 hops, ends with none. HKEY_CLASSES_ROOT stands for what this user sees there
// (as on Windows): each key of the walk is this user's when it exists, else all users'.
std::optional<IconLocation> LookupClassIcon(HKEY root, const wchar_t* name, const wchar_t* valueName);
// The same in this user's view, with the scope of the DefaultIcon key read (foundIn may
// be null).
std::optional<IconLocation> LookupVisibleClassIcon(const wchar_t* name, const wchar_t* valueName, Scope* foundIn);
// The same in one scope's classes alone.
std::optional<IconLocation> LookupClassIcon(const wchar_t* name, const wchar_t* valueName, Scope scope);

// Looks up the class that the extension's file take their icon from (ReadExtensionClass),
// then its icon value. With keepExtension the record's TargetName is the extension.
std::optional<IconLocation> ReadTypeIcon(const wchar_t* extension, const wchar_t* valueName, bool keepExtension,
                                         Scope* foundIn = nullptr);

// Creates (or opens) the scope's <TypeKey> class key, handing it out through classKey, and
// points the scope's <TargetName> extension key at it unless that key names a class already.
// Returns the status of creating the class key.
LONG RegisterFileType(const IconLocation& location, RegKey& classKey, Scope scope = Scope::AllUsers);

// Writes the short form into <TypeKey>\DefaultIcon's value (null: the default value) in
// the scope's classes, registering the type there when the class key cannot be opened for
// writing.
LONG WriteTypeIcon(const IconLocation& location, const wchar_t* valueName, Scope scope = Scope::AllUsers);

std::optional<IconLocation> ReadTypeBackupIcon(const wchar_t* extension);
// "BAKIconInfo" as one scope keeps it, in the class whose DefaultIcon this user sees.
std::optional<IconLocation> ReadTypeBackupIcon(const wchar_t* extension, Scope scope);
std::optional<IconLocation> ReadTypeHandlerIcon(const wchar_t* extension);
// Into the scope's classes.
LONG WriteTypeDefaultIcon(const IconLocation& location, Scope scope);
LONG WriteTypeBackupIcon(const IconLocation& location, Scope scope);
LONG WriteTypeHandlerIcon(const IconLocation& location, Scope scope);

// Deletes "BAKIconInfo" from <TypeKey>\DefaultIcon in the scope's classes; a missing key
// or value is success.
LONG DeleteTypeBackupIcon(const IconLocation& location, Scope scope);

// Makes a location the type's icon in a scope's classes: into "HandlerIconInfo" while
// this extension is the class's icon handler there, into DefaultIcon's default value
// otherwise.
LONG SetTypeIcon(const IconLocation& location, Scope scope);

} // namespace orvane
