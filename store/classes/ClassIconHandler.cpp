#include "ClassIconHandler.h"

#include <cwchar>
#include <iterator>

#include "ExtensionIdentity.h"
#include "FileTypeIcons.h"
#include "Registry.h"
#include "RegistryNames.h"

namespace orvane {

namespace {

const wchar_t* SlotKey(HandlerSlot slot) { return slot == HandlerSlot::Current ? IconHandlerKey : IconHandlerBackupKey; }

} // namespace

bool IsOwnHandlerText(const wchar_t (&text)[TextCapacity])
{
    return std::wmemcmp(text, ExtensionClsidText, std::size(ExtensionClsidText)) == 0;
}

bool ReadIconHandlerText(const wchar_t* name, HandlerSlot slot, wchar_t (&buffer)[TextCapacity])
{
    if (!CanNameKey(name))
        return false;
    RegKey key;
    return OpenVisibleClassSubkey(name, SlotKey(slot), KEY_READ, key) &&
           ReadTextValue(key.get(), nullptr, buffer, std::size(buffer));
}

bool ReadIconHandlerText(const wchar_t* name, HandlerSlot slot, wchar_t (&buffer)[TextCapacity], Scope scope)
{
    if (!CanNameKey(name))
        return false;
    RegKey key;
    return OpenClassSubkey(scope, name, SlotKey(slot), KEY_READ, key) == ERROR_SUCCESS &&
           ReadTextValue(key.get(), nullptr, buffer, std::size(buffer));
}

std::optional<Scope> OwnIconHandlerScope(const wchar_t* typeKey)
{
    if (!CanNameKey(typeKey))
        return std::nullopt;
    RegKey key;
    const std::optional<Scope> scope = OpenVisibleClassSubkey(typeKey, IconHandlerKey, KEY_READ, key);
    wchar_t text[TextCapacity] = {};
    if (!scope || !ReadTextValue(key.get(), nullptr, text, std::size(text)) || !IsOwnHandlerText(text))
        return std::nullopt;
    return scope;
}

bool IsOwnIconHandler(const wchar_t* typeKey, Scope scope)
{
    wchar_t text[TextCapacity] = {};
    return ReadIconHandlerText(typeKey, HandlerSlot::Current, text, scope) && IsOwnHandlerText(text);
}

bool ReadPreviousIconHandlerText(const wchar_t* typeKey, std::optional<Scope> ownHandlerScope,
                                 wchar_t (&buffer)[TextCapacity])
{
    if (ReadIconHandlerText(typeKey, HandlerSlot::Backup, buffer))
        return true;
    // Installed for this user over a class whose handler all users' keys name: that one
    // is what this user's files had before, and is not kept in this user's backup.
    if (ownHandlerScope != Scope::ThisUser)
        return false;
    wchar_t text[TextCapacity] = {};
    if (ReadIconHandlerText(typeKey, HandlerSlot::Current, text, Scope::AllUsers) && !IsOwnHandlerText(text))
        return CopyText(buffer, std::size(buffer), text);
    return ReadIconHandlerText(typeKey, HandlerSlot::Backup, buffer, Scope::AllUsers);
}

bool ReadExtensionIconHandlerText(const wchar_t* extension, HandlerSlot slot, wchar_t (&buffer)[TextCapacity])
{
    wchar_t className[TextCapacity];
    return ReadExtensionClass(extension, className) && ReadIconHandlerText(className, slot, buffer);
}

bool IsOwnIconHandler(const IconLocation& location) { return OwnIconHandlerScope(location.TypeKey).has_value(); }

bool HasIconHandler(const wchar_t* extension)
{
    wchar_t text[TextCapacity] = {};
    return ReadExtensionIconHandlerText(extension, HandlerSlot::Current, text) && std::wcslen(text) >= 2;
}

} // namespace orvane
