// Which icon handler a class names in shellex\IconHandler, and which one it had before
// this extension took its place (shellex\IconHandlerBAK), read as this user sees the
// class or in one scope's keys alone.
#pragma once

#include <windows.h>

#include <optional>

#include "IconLocation.h"
#include "Scope.h"

namespace orvane {

enum class HandlerSlot { Current, Backup };

// Whether a handler text is exactly this extension's class identifier (byte for byte,
// case included): what installing writes, and nothing else counts as this extension.
bool IsOwnHandlerText(const wchar_t (&text)[TextCapacity]);

// Reads <name>\shellex\IconHandler (or IconHandlerBAK) into buffer; false, buffer
// untouched, when there is nothing to read.
bool ReadIconHandlerText(const wchar_t* name, HandlerSlot slot, wchar_t (&buffer)[TextCapacity]);
bool ReadIconHandlerText(const wchar_t* name, HandlerSlot slot, wchar_t (&buffer)[TextCapacity], Scope scope);
bool ReadExtensionIconHandlerText(const wchar_t* extension, HandlerSlot slot, wchar_t (&buffer)[TextCapacity]);

// True when the class named by TypeKey has exactly this extension's class identifier
// as its icon handler (byte for byte, case included).
bool IsOwnIconHandler(const IconLocation& location);
// The scope of the class's visible shellex\IconHandler key when it names this extension.
std::optional<Scope> OwnIconHandlerScope(const wchar_t* typeKey);
bool IsOwnIconHandler(const wchar_t* typeKey, Scope scope);
// The handler the class's files had before this extension was installed:
// shellex\IconHandlerBAK, or, for an installation of this user's (ownHandlerScope, from
// OwnIconHandlerScope) without a backup of its own, the handler all users' class names.
bool ReadPreviousIconHandlerText(const wchar_t* typeKey, std::optional<Scope> ownHandlerScope,
                                 wchar_t (&buffer)[TextCapacity]);
// True when the extension's class has any icon handler text of two or more characters.
bool HasIconHandler(const wchar_t* extension);

} // namespace orvane
