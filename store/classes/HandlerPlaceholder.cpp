#include "HandlerPlaceholder.h"

#include <cwchar>

#include "ClassIconHandler.h"
#include "FileTypeIcons.h"
#include "Registry.h"
#include "RegistryNames.h"

namespace orvane {

namespace {

// "%1" anywhere in the path stands for the file itself, as the icon handler reads it.
bool HoldsPlaceholder(const IconLocation& typeIcon)
{
    return std::wcsstr(typeIcon.IconPath, HandlerIconText) != nullptr;
}

// A record without a path says nothing about an icon; the icon handler passes such a
// value over in the same way.
bool NamesIcon(const std::optional<IconLocation>& location) { return location && location->IconPath[0] != L'\0'; }

} // namespace

bool IsOwnHandlerPlaceholder(const IconLocation& typeIcon)
{
    return HoldsPlaceholder(typeIcon) && IsOwnIconHandler(typeIcon);
}

std::optional<IconLocation> ReadTypeIconBehindHandler(const IconLocation& typeIcon)
{
    if (!HoldsPlaceholder(typeIcon))
        return std::nullopt;
    const std::optional<Scope> handlerScope = OwnIconHandlerScope(typeIcon.TypeKey);
    if (!handlerScope)
        return std::nullopt;

    std::optional<IconLocation> chosen = LookupClassIcon(HKEY_CLASSES_ROOT, typeIcon.TypeKey, HandlerIconValue);
    if (!NamesIcon(chosen)) {
        chosen = ReadTypeIconBeforeHandler(typeIcon.TypeKey, handlerScope);
        if (!NamesIcon(chosen))
            return std::nullopt;
    }
    if (!chosen->SetTypeKey(typeIcon.TypeKey) || !chosen->SetTargetName(typeIcon.TargetName))
        return std::nullopt;
    return chosen;
}

std::optional<IconLocation> ReadTypeIconBeforeHandler(const wchar_t* typeKey, std::optional<Scope> ownHandlerScope)
{
    std::optional<IconLocation> backup = ReadDefaultIconBackup(typeKey);
    if (NamesIcon(backup))
        return backup;
    // This user's empty backup stands for a class without an icon of this user's own:
    // before installing, this user saw all users' icon of the class, and sees it again
    // once uninstalling has removed this user's keys.
    if (ownHandlerScope != Scope::ThisUser)
        return backup;
    return ReadAllUsersTypeIcon(typeKey);
}

std::optional<IconLocation> ReadAllUsersTypeIcon(const wchar_t* typeKey)
{
    std::optional<IconLocation> shared = LookupClassIcon(typeKey, nullptr, Scope::AllUsers);
    if (!shared || !IsOwnHandlerPlaceholder(*shared, Scope::AllUsers))
        return shared;
    // All users' DefaultIcon is this extension's "%1" too: the icon behind it there.
    return ReadTypeIconBehindHandler(shared->TypeKey, Scope::AllUsers);
}

bool IsOwnHandlerPlaceholder(const IconLocation& typeIcon, Scope scope)
{
    return HoldsPlaceholder(typeIcon) && IsOwnIconHandler(typeIcon.TypeKey, scope);
}

std::optional<IconLocation> ReadTypeIconBehindHandler(const wchar_t* typeKey, Scope scope)
{
    std::optional<IconLocation> chosen = LookupClassIcon(typeKey, HandlerIconValue, scope);
    if (NamesIcon(chosen))
        return chosen;
    RegKey key;
    if (OpenClassSubkey(scope, typeKey, DefaultIconBackupKey, KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
        return std::nullopt;
    std::optional<IconLocation> before = ReadIconLocationValue(key.get(), nullptr, false);
    if (before && !before->SetTypeKey(typeKey))
        return std::nullopt;
    return before;
}

std::optional<IconLocation> ReadDefaultIconBackup(const wchar_t* typeKey)
{
    RegKey backup;
    if (!CanNameKey(typeKey) || !OpenVisibleClassSubkey(typeKey, DefaultIconBackupKey, KEY_QUERY_VALUE, backup))
        return std::nullopt;
    return ReadIconLocationValue(backup.get(), nullptr, false);
}

} // namespace orvane
