#include "FileTypeIcons.h"

#include <cstddef>
#include <cwchar>
#include <iterator>

#include "ClassIconHandler.h"
#include "IconHandlerInstall.h"
#include "RegistryNames.h"

namespace orvane {

namespace {

// Chains longer than this are treated as broken; real CurVer chains have one hop.
constexpr int MaxCurVerHops = 32;

bool IsEmpty(const wchar_t* text) { return text == nullptr || text[0] == L'\0'; }

// "<class>\DefaultIcon" for a class; false when the path does not fit.
bool ComposeDefaultIconPath(wchar_t (&path)[TextCapacity], const wchar_t* className)
{
    return FormatKeyPath(path, std::size(path), L"%ls\\%ls", className, DefaultIconKey);
}

// This user's choice of class for an extension, kept by Explorer's "Open with" (Windows
// 8 and later take the file's icon from it too).

// Where class keys are read: this user's view (this user's key of a path over all
// users'), one scope's keys alone, or a root the caller opened.
struct ClassSource {
    enum class Kind { Visible, OneScope, Root } What;
    Scope In = Scope::AllUsers;
    HKEY RootKey = nullptr;

    // Opens <className>\<subkey>; the scope it was found in through foundIn.
    bool Open(const wchar_t* className, const wchar_t* subkey, REGSAM access, RegKey& key, Scope* foundIn) const
    {
        switch (What) {
        case Kind::Visible: {
            const std::optional<Scope> found = OpenVisibleClassSubkey(className, subkey, access, key);
            if (found && foundIn != nullptr)
                *foundIn = *found;
            return found.has_value();
        }
        case Kind::OneScope:
            if (OpenClassSubkey(In, className, subkey, access, key) != ERROR_SUCCESS)
                return false;
            if (foundIn != nullptr)
                *foundIn = In;
            return true;
        case Kind::Root:
            break;
        }
        RegKey classKey;
        if (classKey.Open(RootKey, className, KEY_READ) != ERROR_SUCCESS)
            return false;
        return key.Open(classKey.get(), subkey, access) == ERROR_SUCCESS;
    }
};

std::optional<IconLocation> Lookup(const ClassSource& source, const wchar_t* name, const wchar_t* valueName,
                                   Scope* foundIn)
{
    if (IsEmpty(name))
        return std::nullopt;

    // Names already looked at, the current one last. A CurVer that leads back to one of
    // them would loop for ever; a chain may pass from this user's classes to all users'
    // and back, and the names are compared whichever scope they were found in.
    wchar_t visited[MaxCurVerHops + 1][TextCapacity];
    int count = 0;
    if (!CopyText(visited[0], std::size(visited[0]), name))
        return std::nullopt;
    count = 1;

    for (;;) {
        const wchar_t* current = visited[count - 1];
        // The whole path must fit, as it did when it was opened in one step: a name cut
        // short would name another key.
        wchar_t path[TextCapacity];
        if (!ComposeDefaultIconPath(path, current))
            return std::nullopt;

        RegKey defaultIcon;
        if (source.Open(current, DefaultIconKey, KEY_QUERY_VALUE, defaultIcon, foundIn)) {
            // The DefaultIcon key decides: without the value there is no icon, and CurVer
            // is not consulted.
            auto location = ReadIconLocationValue(defaultIcon.get(), valueName, false);
            if (location && !location->SetTypeKey(current))
                return std::nullopt;
            return location;
        }

        if (!FormatKeyPath(path, std::size(path), L"%ls\\%ls", current, CurVerKey))
            return std::nullopt;
        RegKey curVer;
        if (!source.Open(current, CurVerKey, KEY_QUERY_VALUE, curVer, nullptr))
            return std::nullopt;
        wchar_t next[TextCapacity];
        if (!ReadTextValue(curVer.get(), nullptr, next, std::size(next)) || next[0] == L'\0')
            return std::nullopt;

        if (count > MaxCurVerHops)
            return std::nullopt;
        for (int i = 0; i < count; ++i) {
            if (SameKeyName(visited[i], next))
                return std::nullopt;
        }
        CopyText(visited[count], std::size(visited[count]), next);
        ++count;
    }
}

bool ClassExists(const wchar_t* className)
{
    RegKey key;
    return OpenVisibleClassKey(className, KEY_QUERY_VALUE, key).has_value();
}

// The class this user chose for the extension, when that class exists.
bool ReadUserChoice(const wchar_t* extension, wchar_t (&className)[TextCapacity])
{
    wchar_t path[TextCapacity];
    if (!FormatKeyPath(path, std::size(path), L"%ls\\%ls\\%ls", FileExtsKey, extension, UserChoiceKey))
        return false;
    RegKey choice;
    if (choice.Open(HKEY_CURRENT_USER, path, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return false;
    wchar_t progId[TextCapacity];
    if (!ReadTextValue(choice.get(), ProgIdValue, progId, std::size(progId)) || progId[0] == L'\0' ||
        std::wcslen(progId) > MaxKeyNameLength || !ClassExists(progId))
        return false;
    return CopyText(className, std::size(className), progId);
}

// Whether the scope's key of the extension names a class (or holds a value that cannot
// be read as a class name, which is not overwritten either).
bool ExtensionKeyNamesClass(Scope scope, const wchar_t* extension)
{
    RegKey key;
    if (OpenClassKey(scope, extension, KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
        return false;
    wchar_t named[TextCapacity];
    const LONG status = QueryTextValue(key.get(), nullptr, named, std::size(named));
    if (status == ERROR_FILE_NOT_FOUND)
        return false;
    return status != ERROR_SUCCESS || named[0] != L'\0';
}

} // namespace

bool ReadExtensionClass(const wchar_t* extension, wchar_t (&className)[TextCapacity])
{
    if (IsEmpty(extension))
        return false;
    if (ReadUserChoice(extension, className))
        return true;
    RegKey extensionKey;
    if (!OpenVisibleClassKey(extension, KEY_QUERY_VALUE, extensionKey))
        return false;
    return ReadTextValue(extensionKey.get(), nullptr, className, std::size(className)) && className[0] != L'\0';
}

bool ReadIconClass(const wchar_t* extension, wchar_t (&className)[TextCapacity])
{
    wchar_t named[TextCapacity];
    return ReadExtensionClass(extension, named) && FollowCurVerToIconClass(named, className);
}

bool FollowCurVerToIconClass(const wchar_t* name, wchar_t (&className)[TextCapacity])
{
    // Names already passed, the current one last.
    wchar_t visited[MaxCurVerHops + 1][TextCapacity];
    if (IsEmpty(name) || !CopyText(visited[0], std::size(visited[0]), name))
        return false;
    int count = 1;
    for (;;) {
        const wchar_t* current = visited[count - 1];
        RegKey key;
        if (std::wcslen(current) > MaxKeyNameLength ||
            OpenVisibleClassSubkey(current, DefaultIconKey, KEY_QUERY_VALUE, key) ||
            !OpenVisibleClassSubkey(current, CurVerKey, KEY_QUERY_VALUE, key))
            break;
        wchar_t next[TextCapacity];
        if (!ReadTextValue(key.get(), nullptr, next, std::size(next)) || next[0] == L'\0' ||
            std::wcslen(next) > MaxKeyNameLength || count > MaxCurVerHops || !ClassExists(next))
            break;
        bool seen = false;
        for (int i = 0; i < count && !seen; ++i)
            seen = SameKeyName(visited[i], next);
        if (seen)
            break;
        CopyText(visited[count], std::size(visited[count]), next);
        ++count;
    }
    return CopyText(className, std::size(className), visited[count - 1]);
}

std::optional<IconLocation> LookupClassIcon(HKEY root, const wchar_t* name, const wchar_t* valueName)
{
    if (root == nullptr)
        return std::nullopt;
    if (root == HKEY_CLASSES_ROOT)
        return LookupVisibleClassIcon(name, valueName, nullptr);
    return Lookup({ClassSource::Kind::Root, Scope::AllUsers, root}, name, valueName, nullptr);
}

std::optional<IconLocation> LookupVisibleClassIcon(const wchar_t* name, const wchar_t* valueName, Scope* foundIn)
{
    return Lookup({ClassSource::Kind::Visible}, name, valueName, foundIn);
}

std::optional<IconLocation> LookupClassIcon(const wchar_t* name, const wchar_t* valueName, Scope scope)
{
    return Lookup({ClassSource::Kind::OneScope, scope}, name, valueName, nullptr);
}

std::optional<IconLocation> ReadTypeIcon(const wchar_t* extension, const wchar_t* valueName, bool keepExtension,
                                         Scope* foundIn)
{
    wchar_t className[TextCapacity];
    if (!ReadExtensionClass(extension, className))
        return std::nullopt;
    auto location = LookupVisibleClassIcon(className, valueName, foundIn);
    if (location && keepExtension && !location->SetTargetName(extension))
        return std::nullopt;
    return location;
}

LONG RegisterFileType(const IconLocation& location, RegKey& classKey, Scope scope)
{
    classKey.reset();
    if (location.TypeKey[0] == L'\0')
        return ERROR_INVALID_PARAMETER;

    const LONG status = CreateClassKey(scope, location.TypeKey, classKey);

    // The extension is pointed at the class even when the class key could not be made,
    // but never away from a class it names already: which class an extension names is
    // the choice of the programs that registered it, and its files would lose their open
    // command and everything else of that class. This user's extension key is made only
    // when this user sees the extension name no class at all: a key of this user's would
    // hide all users' one (and the class all users' names, whose CurVer may lead to the
    // class being registered here).
    wchar_t seen[TextCapacity];
    const bool named = scope == Scope::ThisUser && ReadExtensionClass(location.TargetName, seen);
    if (location.TargetName[0] != L'\0' && !named && !ExtensionKeyNamesClass(scope, location.TargetName)) {
        RegKey extensionKey;
        if (CreateClassKey(scope, location.TargetName, extensionKey) == ERROR_SUCCESS)
            WriteTextValue(extensionKey.get(), nullptr, location.TypeKey);
    }
    return status;
}

LONG WriteTypeIcon(const IconLocation& location, const wchar_t* valueName, Scope scope)
{
    if (location.TypeKey[0] == L'\0')
        return ERROR_INVALID_PARAMETER;

    // Refuse before anything is created: a class whose DefaultIcon path does not fit
    // could never be read back, and a text that does not fit would leave an empty key.
    wchar_t path[TextCapacity];
    wchar_t text[TextCapacity];
    if (!ComposeDefaultIconPath(path, location.TypeKey) ||
        !FormatIconLocation(location, false, text, std::size(text)))
        return ERROR_FILENAME_EXCED_RANGE;

    RegKey classKey;
    LONG status = OpenClassKey(scope, location.TypeKey, KEY_WRITE, classKey);
    if (status != ERROR_SUCCESS)
        status = RegisterFileType(location, classKey, scope);
    if (!classKey)
        return status != ERROR_SUCCESS ? status : ERROR_INVALID_HANDLE;

    RegKey defaultIcon;
    if (defaultIcon.Open(classKey.get(), DefaultIconKey, KEY_WRITE) != ERROR_SUCCESS) {
        status = defaultIcon.Create(classKey.get(), DefaultIconKey);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return WriteIconLocationValue(defaultIcon.get(), location, valueName, false);
}

std::optional<IconLocation> ReadTypeBackupIcon(const wchar_t* extension)
{
    return ReadTypeIcon(extension, BackupIconValue, false);
}

std::optional<IconLocation> ReadTypeBackupIcon(const wchar_t* extension, Scope scope)
{
    wchar_t className[TextCapacity];
    if (!ReadExtensionClass(extension, className))
        return std::nullopt;
    std::optional<IconLocation> backup = LookupClassIcon(className, BackupIconValue, scope);
    if (backup)
        return backup;
    // A chain whose links are all users' ends in a class of which this user may have a
    // DefaultIcon of their own: the backup is kept where the icon is seen.
    const std::optional<IconLocation> seen = LookupVisibleClassIcon(className, nullptr, nullptr);
    if (!seen || SameKeyName(seen->TypeKey, className))
        return std::nullopt;
    return LookupClassIcon(seen->TypeKey, BackupIconValue, scope);
}

std::optional<IconLocation> ReadTypeHandlerIcon(const wchar_t* extension)
{
    return ReadTypeIcon(extension, HandlerIconValue, true);
}

LONG WriteTypeDefaultIcon(const IconLocation& location, Scope scope) { return WriteTypeIcon(location, nullptr, scope); }

LONG WriteTypeBackupIcon(const IconLocation& location, Scope scope)
{
    return WriteTypeIcon(location, BackupIconValue, scope);
}

LONG WriteTypeHandlerIcon(const IconLocation& location, Scope scope)
{
    return WriteTypeIcon(location, HandlerIconValue, scope);
}

LONG DeleteTypeBackupIcon(const IconLocation& location, Scope scope)
{
    if (location.TypeKey[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    wchar_t path[TextCapacity];
    if (!ComposeDefaultIconPath(path, location.TypeKey))
        return ERROR_FILENAME_EXCED_RANGE;

    RegKey defaultIcon;
    const LONG status = OpenClassSubkey(scope, location.TypeKey, DefaultIconKey, KEY_ALL_ACCESS, defaultIcon);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    return DeletionStatus(RegDeleteValueW(defaultIcon.get(), BackupIconValue));
}

LONG SetTypeIcon(const IconLocation& location, Scope scope)
{
    if (!IsOwnIconHandler(location.TypeKey, scope))
        return WriteTypeDefaultIcon(location, scope);
    // While this extension serves the class's icons, DefaultIcon must stay "%1". The icon
    // handler answers the type's icon from "HandlerIconInfo"; uninstalling puts
    // DefaultIconBAK back into DefaultIcon, so it must hold the same icon, or the type
    // would fall back to whatever it had when the handler was installed.
    const LONG status = WriteTypeHandlerIcon(location, scope);
    if (status != ERROR_SUCCESS)
        return status;
    return WriteDefaultIconBackup(location, scope);
}

} // namespace orvane
