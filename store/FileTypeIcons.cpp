#include "FileTypeIcons.h"

#include <cstddef>
#include <cstring>

namespace orvane {

namespace {

// Chains longer than this are treated as broken; real CurVer chains have one hop.
constexpr int MaxCurVerHops = 32;

bool IsEmpty(const char* text) { return text == nullptr || text[0] == '\0'; }

// "<class>\DefaultIcon" for a class; false when the path does not fit.
bool ComposeDefaultIconPath(char (&path)[TextCapacity], const char* className)
{
    return FormatKeyPath(path, sizeof path, "%s\\DefaultIcon", className);
}

// This user's choice of class for an extension, kept by Explorer's "Open with" (Windows
// 8 and later take the file's icon from it too).
constexpr char FileExtsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";

// Where class keys are read: this user's view (this user's key of a path over all
// users'), one scope's keys alone, or a root the caller opened.
struct ClassSource {
    enum class Kind { Visible, OneScope, Root } What;
    Scope In = Scope::AllUsers;
    HKEY RootKey = nullptr;

    // Opens <className>\<subkey>; the scope it was found in through foundIn.
    bool Open(const char* className, const char* subkey, REGSAM access, RegKey& key, Scope* foundIn) const
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

std::optional<IconLocation> Lookup(const ClassSource& source, const char* name, const char* valueName, Scope* foundIn)
{
    if (IsEmpty(name))
        return std::nullopt;

    // Names already looked at, the current one last. A CurVer that leads back to one of
    // them would loop for ever; a chain may pass from this user's classes to all users'
    // and back, and the names are compared whichever scope they were found in.
    char visited[MaxCurVerHops + 1][TextCapacity];
    int count = 0;
    if (!CopyText(visited[0], sizeof visited[0], name))
        return std::nullopt;
    count = 1;

    for (;;) {
        const char* current = visited[count - 1];
        // The whole path must fit, as it did when it was opened in one step: a name cut
        // short would name another key.
        char path[TextCapacity];
        if (!ComposeDefaultIconPath(path, current))
            return std::nullopt;

        RegKey defaultIcon;
        if (source.Open(current, "DefaultIcon", KEY_QUERY_VALUE, defaultIcon, foundIn)) {
            // The DefaultIcon key decides: without the value there is no icon, and CurVer
            // is not consulted.
            char text[RegistryTextLimit];
            if (!ReadTextValue(defaultIcon.get(), valueName, text, sizeof text))
                return std::nullopt;
            auto location = ParseIconLocation(text, false);
            if (location && !location->SetTypeKey(current))
                return std::nullopt;
            return location;
        }

        if (!FormatKeyPath(path, sizeof path, "%s\\CurVer", current))
            return std::nullopt;
        RegKey curVer;
        if (!source.Open(current, "CurVer", KEY_QUERY_VALUE, curVer, nullptr))
            return std::nullopt;
        char next[TextCapacity];
        if (!ReadTextValue(curVer.get(), nullptr, next, sizeof next) || next[0] == '\0')
            return std::nullopt;

        if (count > MaxCurVerHops)
            return std::nullopt;
        for (int i = 0; i < count; ++i) {
            if (SameKeyName(visited[i], next))
                return std::nullopt;
        }
        CopyText(visited[count], sizeof visited[count], next);
        ++count;
    }
}

bool ClassExists(const char* className)
{
    RegKey key;
    return OpenVisibleClassKey(className, KEY_QUERY_VALUE, key).has_value();
}

// The class this user chose for the extension, when that class exists.
bool ReadUserChoice(const char* extension, char (&className)[TextCapacity])
{
    char path[TextCapacity];
    if (!FormatKeyPath(path, sizeof path, "%s\\%s\\UserChoice", FileExtsKey, extension))
        return false;
    RegKey choice;
    if (choice.Open(HKEY_CURRENT_USER, path, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return false;
    char progId[TextCapacity];
    if (!ReadTextValue(choice.get(), "ProgId", progId, sizeof progId) || progId[0] == '\0' ||
        std::strlen(progId) > MaxKeyNameLength || !ClassExists(progId))
        return false;
    return CopyText(className, sizeof className, progId);
}

} // namespace

bool ReadExtensionClass(const char* extension, char (&className)[TextCapacity])
{
    if (IsEmpty(extension))
        return false;
    if (ReadUserChoice(extension, className))
        return true;
    RegKey extensionKey;
    if (!OpenVisibleClassKey(extension, KEY_QUERY_VALUE, extensionKey))
        return false;
    return ReadTextValue(extensionKey.get(), nullptr, className, sizeof className) && className[0] != '\0';
}

std::optional<IconLocation> LookupClassIcon(HKEY root, const char* name, const char* valueName)
{
    if (root == nullptr)
        return std::nullopt;
    if (root == HKEY_CLASSES_ROOT)
        return LookupVisibleClassIcon(name, valueName, nullptr);
    return Lookup({ClassSource::Kind::Root, Scope::AllUsers, root}, name, valueName, nullptr);
}

std::optional<IconLocation> LookupVisibleClassIcon(const char* name, const char* valueName, Scope* foundIn)
{
    return Lookup({ClassSource::Kind::Visible}, name, valueName, foundIn);
}

std::optional<IconLocation> LookupClassIconIn(Scope scope, const char* name, const char* valueName)
{
    return Lookup({ClassSource::Kind::OneScope, scope}, name, valueName, nullptr);
}

std::optional<IconLocation> ReadTypeIcon(const char* extension, const char* valueName, bool keepExtension, Scope* foundIn)
{
    char className[TextCapacity];
    if (!ReadExtensionClass(extension, className))
        return std::nullopt;
    auto location = LookupVisibleClassIcon(className, valueName, foundIn);
    if (location && keepExtension && !location->SetOwner(extension))
        return std::nullopt;
    return location;
}

LONG RegisterFileType(const IconLocation& location, RegKey& classKey, Scope scope)
{
    classKey.reset();
    if (location.TypeKey[0] == '\0')
        return ERROR_INVALID_PARAMETER;

    const LONG status = CreateClassKey(scope, location.TypeKey, classKey);

    // The extension is pointed at the class even when the class key could not be made,
    // and even when it named another class before. This user's extension key is made only
    // when the extension does not lead to the class already: this user's class key of a
    // class all users have is seen through all users' extension key.
    char seen[TextCapacity];
    const bool leadsThere = scope == Scope::ThisUser && ReadExtensionClass(location.Owner, seen) &&
                            SameKeyName(seen, location.TypeKey);
    if (location.Owner[0] != '\0' && !leadsThere) {
        RegKey extensionKey;
        if (CreateClassKey(scope, location.Owner, extensionKey) == ERROR_SUCCESS)
            WriteTextValue(extensionKey.get(), nullptr, location.TypeKey);
    }
    return status;
}

LONG WriteTypeIcon(const IconLocation& location, const char* valueName, Scope scope)
{
    if (location.TypeKey[0] == '\0')
        return ERROR_INVALID_PARAMETER;

    // Refuse before anything is created: a class whose DefaultIcon path does not fit
    // could never be read back, and a text that does not fit would leave an empty key.
    char path[TextCapacity];
    char text[TextCapacity];
    if (!ComposeDefaultIconPath(path, location.TypeKey) ||
        !FormatIconLocation(location, false, text, sizeof text))
        return ERROR_FILENAME_EXCED_RANGE;

    RegKey classKey;
    LONG status = OpenClassKey(scope, location.TypeKey, KEY_WRITE, classKey);
    if (status != ERROR_SUCCESS)
        status = RegisterFileType(location, classKey, scope);
    if (!classKey)
        return status != ERROR_SUCCESS ? status : ERROR_INVALID_HANDLE;

    RegKey defaultIcon;
    if (defaultIcon.Open(classKey.get(), "DefaultIcon", KEY_WRITE) != ERROR_SUCCESS) {
        status = defaultIcon.Create(classKey.get(), "DefaultIcon");
        if (status != ERROR_SUCCESS)
            return status;
    }
    return WriteIconLocationValue(defaultIcon.get(), location, valueName, false);
}

std::optional<IconLocation> ReadTypeDefaultIcon(const char* extension)
{
    return ReadTypeIcon(extension, nullptr, true);
}

std::optional<IconLocation> ReadTypeBackupIcon(const char* extension)
{
    return ReadTypeIcon(extension, BackupIconValue, false);
}

std::optional<IconLocation> ReadTypeBackupIcon(const char* extension, Scope scope)
{
    char className[TextCapacity];
    if (!ReadExtensionClass(extension, className))
        return std::nullopt;
    std::optional<IconLocation> backup = LookupClassIconIn(scope, className, BackupIconValue);
    if (backup)
        return backup;
    // A chain whose links are all users' ends in a class of which this user may have a
    // DefaultIcon of their own: the backup is kept where the icon is seen.
    const std::optional<IconLocation> seen = LookupVisibleClassIcon(className, nullptr, nullptr);
    if (!seen || SameKeyName(seen->TypeKey, className))
        return std::nullopt;
    return LookupClassIconIn(scope, seen->TypeKey, BackupIconValue);
}

std::optional<IconLocation> ReadTypeHandlerIcon(const char* extension)
{
    return ReadTypeIcon(extension, HandlerIconValue, true);
}

LONG WriteTypeDefaultIcon(const IconLocation& location) { return WriteTypeDefaultIcon(location, Scope::AllUsers); }

LONG WriteTypeBackupIcon(const IconLocation& location) { return WriteTypeBackupIcon(location, Scope::AllUsers); }

LONG WriteTypeHandlerIcon(const IconLocation& location) { return WriteTypeHandlerIcon(location, Scope::AllUsers); }

LONG DeleteTypeBackupIcon(const IconLocation& location) { return DeleteTypeBackupIcon(location, Scope::AllUsers); }

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
    if (location.TypeKey[0] == '\0')
        return ERROR_INVALID_PARAMETER;
    char path[TextCapacity];
    if (!ComposeDefaultIconPath(path, location.TypeKey))
        return ERROR_FILENAME_EXCED_RANGE;

    RegKey defaultIcon;
    const LONG status = OpenClassSubkey(scope, location.TypeKey, "DefaultIcon", KEY_ALL_ACCESS, defaultIcon);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    return DeletionStatus(RegDeleteValueA(defaultIcon.get(), BackupIconValue));
}

} // namespace orvane
