#include "FileTypeIcons.h"

#include <cstddef>

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

LONG CreateClassKey(RegKey& key, const char* name) { return key.Create(HKEY_CLASSES_ROOT, name); }

} // namespace

bool ReadExtensionClass(const char* extension, char (&className)[TextCapacity])
{
    if (IsEmpty(extension))
        return false;
    RegKey extensionKey;
    if (extensionKey.Open(HKEY_CLASSES_ROOT, extension, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return false;
    return ReadTextValue(extensionKey.get(), nullptr, className, sizeof className) && className[0] != '\0';
}

std::optional<IconLocation> LookupClassIcon(HKEY root, const char* name, const char* valueName)
{
    if (root == nullptr || IsEmpty(name))
        return std::nullopt;

    // Names already looked at, the current one last. A CurVer that leads back to one of
    // them would loop for ever.
    char visited[MaxCurVerHops + 1][TextCapacity];
    int count = 0;
    if (!CopyText(visited[0], sizeof visited[0], name))
        return std::nullopt;
    count = 1;

    for (;;) {
        const char* current = visited[count - 1];
        char path[TextCapacity];
        if (!ComposeDefaultIconPath(path, current))
            return std::nullopt;

        RegKey defaultIcon;
        if (defaultIcon.Open(root, path, KEY_QUERY_VALUE) == ERROR_SUCCESS) {
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
        if (curVer.Open(root, path, KEY_QUERY_VALUE) != ERROR_SUCCESS)
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

std::optional<IconLocation> ReadTypeIcon(const char* extension, const char* valueName, bool keepExtension)
{
    char className[TextCapacity];
    if (!ReadExtensionClass(extension, className))
        return std::nullopt;
    auto location = LookupClassIcon(HKEY_CLASSES_ROOT, className, valueName);
    if (location && keepExtension && !location->SetOwner(extension))
        return std::nullopt;
    return location;
}

LONG RegisterFileType(const IconLocation& location, RegKey& classKey)
{
    classKey.reset();
    if (location.TypeKey[0] == '\0')
        return ERROR_INVALID_PARAMETER;

    const LONG status = CreateClassKey(classKey, location.TypeKey);

    // The extension is pointed at the class even when the class key could not be made,
    // and even when it named another class before.
    if (location.Owner[0] != '\0') {
        RegKey extensionKey;
        if (CreateClassKey(extensionKey, location.Owner) == ERROR_SUCCESS)
            WriteTextValue(extensionKey.get(), nullptr, location.TypeKey);
    }
    return status;
}

LONG WriteTypeIcon(const IconLocation& location, const char* valueName)
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
    LONG status = classKey.Open(HKEY_CLASSES_ROOT, location.TypeKey, KEY_WRITE);
    if (status != ERROR_SUCCESS)
        status = RegisterFileType(location, classKey);
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

std::optional<IconLocation> ReadTypeHandlerIcon(const char* extension)
{
    return ReadTypeIcon(extension, HandlerIconValue, true);
}

LONG WriteTypeDefaultIcon(const IconLocation& location) { return WriteTypeIcon(location, nullptr); }

LONG WriteTypeBackupIcon(const IconLocation& location) { return WriteTypeIcon(location, BackupIconValue); }

LONG WriteTypeHandlerIcon(const IconLocation& location) { return WriteTypeIcon(location, HandlerIconValue); }

LONG DeleteTypeBackupIcon(const IconLocation& location)
{
    if (location.TypeKey[0] == '\0')
        return ERROR_INVALID_PARAMETER;
    char path[TextCapacity];
    if (!ComposeDefaultIconPath(path, location.TypeKey))
        return ERROR_FILENAME_EXCED_RANGE;

    RegKey defaultIcon;
    const LONG status = defaultIcon.Open(HKEY_CLASSES_ROOT, path, KEY_ALL_ACCESS);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    return DeletionStatus(RegDeleteValueA(defaultIcon.get(), BackupIconValue));
}

} // namespace orvane
