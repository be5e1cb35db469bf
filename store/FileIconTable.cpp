#include "FileIconTable.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string_view>

#include "ExtensionIdentity.h"
#include "FileTypeIcons.h"
#include "PathText.h"
#include "Registry.h"
#include "Scope.h"

namespace orvane {

namespace {

// Value names may have up to 16,383 characters; the table is enumerated with room for
// any of them, so a long name from elsewhere never ends the walk early.
constexpr DWORD ValueNameCapacity = 16384;

LONG FirstFailure(LONG first, LONG next)
{
    return first != ERROR_SUCCESS ? first : next;
}

bool IsOwnHandlerText(const wchar_t (&text)[TextCapacity])
{
    return std::wmemcmp(text, ExtensionClsidText, std::size(ExtensionClsidText)) == 0;
}

// Creates (or opens) parent\path and sets its default value. Backups are written with the
// type of what they back up, so that an expandable DefaultIcon text comes back expandable.
LONG CreateWithDefaultText(HKEY parent, const wchar_t* path, const wchar_t* text, DWORD type)
{
    RegKey key;
    const LONG status = key.Create(parent, path);
    if (status != ERROR_SUCCESS)
        return status;
    return WriteTextValue(key.get(), nullptr, text, type);
}

bool SubkeyExists(HKEY parent, const wchar_t* path)
{
    RegKey key;
    return key.Open(parent, path, KEY_QUERY_VALUE) != ERROR_FILE_NOT_FOUND;
}

bool IsEmptyKey(HKEY key)
{
    DWORD subkeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    return subkeys == 0 && values == 0;
}

// Deletes parent\path if it holds nothing at all.
LONG DeleteIfEmpty(HKEY parent, const wchar_t* path)
{
    RegKey key;
    LONG status = key.Open(parent, path, KEY_READ);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    if (!IsEmptyKey(key.get()))
        return ERROR_SUCCESS;
    key.reset();
    return DeletionStatus(RegDeleteKeyW(parent, path));
}

// A backup key is this system's own; anything found below it goes with it.
LONG DeleteBackupKey(HKEY classKey, const wchar_t* path)
{
    return DeletionStatus(RegDeleteTreeW(classKey, path));
}

bool IsOwnHandler(HKEY classKey)
{
    RegKey handler;
    if (handler.Open(classKey, IconHandlerKey, KEY_READ) != ERROR_SUCCESS)
        return false;
    wchar_t text[TextCapacity] = {};
    return ReadTextValue(handler.get(), nullptr, text, std::size(text)) && IsOwnHandlerText(text);
}

// Whether shellex\IconHandler names a handler other than this extension: any text but
// this extension's class identifier (one too long to read included).
bool HasOtherHandler(HKEY classKey)
{
    RegKey handler;
    if (handler.Open(classKey, IconHandlerKey, KEY_READ) != ERROR_SUCCESS)
        return false;
    wchar_t text[TextCapacity] = {};
    const LONG status = QueryTextValue(handler.get(), nullptr, text, std::size(text));
    if (status == ERROR_FILE_NOT_FOUND)
        return false;
    return status != ERROR_SUCCESS || (text[0] != L'\0' && !IsOwnHandlerText(text));
}

// Puts a DefaultIcon text back. An empty backup stands for a class that had no icon
// text (or no DefaultIcon key, which installation created): the default value is
// removed again, and a DefaultIcon key left with nothing in it is deleted.
LONG PutBackDefaultIcon(HKEY classKey, const wchar_t (&text)[TextCapacity], DWORD type)
{
    RegKey defaultIcon;
    LONG status = defaultIcon.Open(classKey, DefaultIconKey, KEY_ALL_ACCESS);
    if (text[0] == L'\0') {
        if (status != ERROR_SUCCESS)
            return DeletionStatus(status);
        status = DeletionStatus(RegDeleteValueW(defaultIcon.get(), nullptr));
        if (status != ERROR_SUCCESS)
            return status;
        defaultIcon.reset();
        return DeleteIfEmpty(classKey, DefaultIconKey);
    }
    if (status == ERROR_FILE_NOT_FOUND)
        status = defaultIcon.Create(classKey, DefaultIconKey);
    if (status != ERROR_SUCCESS)
        return status;
    return WriteTextValue(defaultIcon.get(), nullptr, text, type);
}

// Takes this extension's class identifier out of shellex\IconHandler, and the keys
// that then hold nothing. Another handler's text is left alone.
LONG RemoveOwnHandler(HKEY classKey)
{
    if (!IsOwnHandler(classKey))
        return ERROR_SUCCESS;
    RegKey handler;
    LONG status = handler.Open(classKey, IconHandlerKey, KEY_ALL_ACCESS);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    status = DeletionStatus(RegDeleteValueW(handler.get(), nullptr));
    handler.reset();
    if (status != ERROR_SUCCESS)
        return status;
    status = DeleteIfEmpty(classKey, IconHandlerKey);
    if (status != ERROR_SUCCESS)
        return status;
    return DeleteIfEmpty(classKey, ShellexKey);
}

// "HandlerIconInfo" of a class whose type change has been restored (no "BAKIconInfo"
// left) holds what DefaultIconBAK holds too, the text uninstalling puts back: kept beside
// it, the value would outlive the installation, and nothing would take it away later. A
// change still waiting to be restored keeps it, for that restore to find.
LONG DropChosenIconOfRestoredType(HKEY classKey)
{
    RegKey defaultIcon;
    if (defaultIcon.Open(classKey, DefaultIconKey, KEY_ALL_ACCESS) != ERROR_SUCCESS ||
        RegQueryValueExW(defaultIcon.get(), BackupIconValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    return DeletionStatus(RegDeleteValueW(defaultIcon.get(), HandlerIconValue));
}

// DefaultIconBAK back into DefaultIcon. A backup that cannot be read is deleted (there
// is nothing to restore from it) and reported; a backup whose restore could not be
// written is kept, so that a later uninstallation can still put it back.
LONG RestoreDefaultIcon(HKEY classKey)
{
    RegKey backup;
    LONG status = backup.Open(classKey, DefaultIconBackupKey, KEY_READ);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    wchar_t text[TextCapacity] = {};
    DWORD type = REG_SZ;
    const bool readable = QueryTextValue(backup.get(), nullptr, text, std::size(text), &type) == ERROR_SUCCESS;
    backup.reset();
    if (readable) {
        status = DropChosenIconOfRestoredType(classKey);
        if (status != ERROR_SUCCESS)
            return status;
        status = PutBackDefaultIcon(classKey, text, type);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return FirstFailure(readable ? ERROR_SUCCESS : ERROR_INVALID_DATA, DeleteBackupKey(classKey, DefaultIconBackupKey));
}

// shellex\IconHandlerBAK back into shellex\IconHandler; without a backup the class had
// no handler before, and this extension's own is taken out.
LONG RestoreIconHandler(HKEY classKey)
{
    RegKey backup;
    LONG status = backup.Open(classKey, IconHandlerBackupKey, KEY_READ);
    if (status == ERROR_FILE_NOT_FOUND)
        return RemoveOwnHandler(classKey);
    if (status != ERROR_SUCCESS)
        return status;
    wchar_t text[TextCapacity] = {};
    DWORD type = REG_SZ;
    const bool readable = QueryTextValue(backup.get(), nullptr, text, std::size(text), &type) == ERROR_SUCCESS;
    backup.reset();
    if (readable) {
        status = CreateWithDefaultText(classKey, IconHandlerKey, text, type);
        if (status != ERROR_SUCCESS)
            return status;
        return DeleteBackupKey(classKey, IconHandlerBackupKey);
    }
    status = FirstFailure(ERROR_INVALID_DATA, DeleteBackupKey(classKey, IconHandlerBackupKey));
    // The handler to return to is lost; leaving this extension in its place would keep
    // it serving a class that no longer has any per-file icon.
    return FirstFailure(status, RemoveOwnHandler(classKey));
}

} // namespace

namespace {

constexpr std::size_t TableDataUnits = RegistryTextLimit / sizeof(wchar_t);

// Hands each entry of an open table to visit(name, nameLength, data), the data as
// ReadTextValue reads a value: at most 520 bytes, of which the whole UTF-16 units up to
// the first terminator, fewer than 260 characters, of a string value. Other values (a
// number's bytes would read as a path nobody chose) are no entries. False when
// the walk ended on an error before the last value.
template <class Visit>
bool ForEachTableEntry(HKEY table, Visit visit)
{
    wchar_t name[ValueNameCapacity];
    for (DWORD index = 0;; ++index) {
        // One spare unit for the terminator the data may lack.
        wchar_t data[TableDataUnits + 1];
        DWORD nameSize = ValueNameCapacity;
        DWORD dataSize = RegistryTextLimit;
        DWORD type = REG_NONE;
        const LONG status = RegEnumValueW(table, index, name, &nameSize, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
        if (status == ERROR_MORE_DATA)
            continue; // data over 520 bytes is no entry of this system's
        if (status == ERROR_NO_MORE_ITEMS)
            return true;
        if (status != ERROR_SUCCESS)
            return false;
        if (dataSize > RegistryTextLimit || !IsStringType(type))
            continue;
        // An odd last byte is half a character and is left out.
        const std::size_t units = dataSize / sizeof(wchar_t);
        data[units] = L'\0';
        if (wcsnlen(data, units) >= TableDataUnits)
            continue;
        visit(name, static_cast<std::size_t>(nameSize), data);
    }
}

// The entry a table's data text gives for a file: the long form, owned by the file's
// extension.
std::optional<IconLocation> EntryOfFile(const wchar_t* filePath, const wchar_t* data)
{
    auto location = ParseIconLocation(data, true);
    if (!location)
        return std::nullopt;
    const std::wstring_view extension = FileExtension(filePath);
    if (extension.size() <= MaxKeyNameLength)
        CopyText(location->Owner, std::size(location->Owner), extension);
    return location;
}

// Orders value names as the registry matches them: ordinally, without regard to case.
int CompareValueNames(const wchar_t* a, std::size_t lengthA, const wchar_t* b, std::size_t lengthB)
{
    return CompareStringOrdinal(a, static_cast<int>(lengthA), b, static_cast<int>(lengthB), TRUE) - CSTR_EQUAL;
}

bool AcceptsFilePath(const wchar_t* filePath)
{
    // An empty name would read the table key's default value, which is no entry.
    return filePath != nullptr && filePath[0] != L'\0' && wcsnlen(filePath, TextCapacity) < TextCapacity;
}

} // namespace

std::optional<IconLocation> ReadFileIcon(const wchar_t* filePath)
{
    // Without a table of this user's the first open fails and nothing else is read.
    std::optional<IconLocation> own = ReadFileIcon(filePath, Scope::ThisUser);
    return own ? own : ReadFileIcon(filePath, Scope::AllUsers);
}

std::optional<IconLocation> ReadFileIcon(const wchar_t* filePath, Scope scope)
{
    if (!AcceptsFilePath(filePath))
        return std::nullopt;

    RegKey table;
    if (table.Open(ProductKeyRoot(scope), FileIconsKey, KEY_READ) != ERROR_SUCCESS)
        return std::nullopt;
    wchar_t data[TableDataUnits];
    if (!ReadStringValue(table.get(), filePath, data, std::size(data)))
        return std::nullopt;
    table.reset();
    return EntryOfFile(filePath, data);
}

bool FileIconTableCopy::Read(Scope scope)
{
    entries_.clear();
    RegKey table;
    if (table.Open(ProductKeyRoot(scope), FileIconsKey, KEY_READ) != ERROR_SUCCESS)
        return true;
    const bool whole = ForEachTableEntry(table.get(), [&](const wchar_t* name, std::size_t length, const wchar_t* data) {
        // No file that ReadFileIcon looks up has such a name.
        if (length != 0 && length < TextCapacity)
            entries_.emplace_back(std::wstring(name, length), data);
    });
    if (!whole) {
        entries_.clear();
        return false;
    }
    std::sort(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
        return CompareValueNames(a.first.c_str(), a.first.size(), b.first.c_str(), b.first.size()) < 0;
    });
    return true;
}

std::optional<IconLocation> FileIconTableCopy::Find(const wchar_t* filePath) const
{
    if (!AcceptsFilePath(filePath))
        return std::nullopt;
    const std::size_t length = std::wcslen(filePath);
    const auto at = std::lower_bound(entries_.begin(), entries_.end(), filePath,
                                     [length](const auto& entry, const wchar_t* path) {
                                         return CompareValueNames(entry.first.c_str(), entry.first.size(), path, length) < 0;
                                     });
    if (at == entries_.end() || CompareValueNames(at->first.c_str(), at->first.size(), filePath, length) != 0)
        return std::nullopt;
    return EntryOfFile(filePath, at->second.c_str());
}

LONG WriteFileIcon(const IconLocation& location, const wchar_t* filePath, Scope scope)
{
    if (filePath == nullptr || filePath[0] == L'\0' || location.TypeKey[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    // Paths are kept whole: a path that a 260-character buffer would cut could not be
    // found again under its own name.
    if (wcsnlen(filePath, TextCapacity) >= TextCapacity)
        return ERROR_FILENAME_EXCED_RANGE;
    wchar_t text[TextCapacity];
    if (!FormatIconLocation(location, true, text, std::size(text)))
        return ERROR_FILENAME_EXCED_RANGE;

    RegKey table;
    LONG status = table.Open(ProductKeyRoot(scope), FileIconsKey, KEY_ALL_ACCESS);
    if (status != ERROR_SUCCESS)
        status = table.Create(ProductKeyRoot(scope), FileIconsKey);
    if (status != ERROR_SUCCESS)
        return status;
    return WriteTextValue(table.get(), filePath, text);
}

LONG DeleteFileIcon(const wchar_t* filePath, Scope scope)
{
    if (filePath == nullptr || filePath[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    RegKey table;
    LONG status = table.Open(ProductKeyRoot(scope), FileIconsKey, KEY_ALL_ACCESS);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    status = DeletionStatus(RegDeleteValueW(table.get(), filePath));
    table.reset();
    if (status != ERROR_SUCCESS || scope != Scope::ThisUser)
        return status;
    // This user's table and the keys above it go with its last entry when nothing else
    // is kept there, so that HKEY_CURRENT_USER is left as it was before the first entry.
    for (const wchar_t* path : {FileIconsKey, ProductKey, L"Software\\Brindlewick Software"}) {
        status = DeleteIfEmpty(HKEY_CURRENT_USER, path);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

int CountFileIconsOfType(const wchar_t* typeKey)
{
    // The handler goes with the last entry of the scope it was installed in.
    return CountFileIconsOfType(typeKey, OwnIconHandlerScope(typeKey).value_or(Scope::AllUsers));
}

int CountFileIconsOfType(const wchar_t* typeKey, Scope scope)
{
    if (typeKey == nullptr || typeKey[0] == L'\0')
        return 0;
    RegKey table;
    if (table.Open(ProductKeyRoot(scope), FileIconsKey, KEY_READ) != ERROR_SUCCESS)
        return 0;

    int count = 0;
    ForEachTableEntry(table.get(), [&](const wchar_t*, std::size_t, const wchar_t* data) {
        const auto entry = ParseIconLocation(data, true);
        // Class names compare as the registry compares key names.
        if (entry && entry->TypeKey[0] != L'\0' && SameKeyName(entry->TypeKey, typeKey))
            ++count;
    });
    return count;
}

namespace {

// What installing replaces in a class, read before anything is written.
struct ReplacedByInstalling {
    bool HasDefaultIcon = false;
    wchar_t PreviousIcon[TextCapacity] = {};
    DWORD PreviousIconType = REG_SZ;
    bool HasIconText = false;
    bool BackUpHandler = false;
    wchar_t PreviousHandler[TextCapacity] = {};
    DWORD PreviousHandlerType = REG_SZ;
};

// Reads DefaultIcon's text and the handler that installing replaces; a text that cannot
// be backed up whole (over 259 characters, or not readable) is the reading's failure,
// so that the installation stops with the class untouched.
LONG ReadWhatInstallingReplaces(HKEY classKey, ReplacedByInstalling& replaced)
{
    RegKey defaultIcon;
    LONG status = defaultIcon.Open(classKey, DefaultIconKey, KEY_QUERY_VALUE);
    if (status == ERROR_SUCCESS) {
        replaced.HasDefaultIcon = true;
        status = QueryTextValue(defaultIcon.get(), nullptr, replaced.PreviousIcon, std::size(replaced.PreviousIcon),
                                &replaced.PreviousIconType);
        if (status == ERROR_SUCCESS)
            replaced.HasIconText = true;
        else if (status != ERROR_FILE_NOT_FOUND)
            return status;
    } else if (status != ERROR_FILE_NOT_FOUND) {
        return status;
    }

    RegKey handler;
    status = handler.Open(classKey, IconHandlerKey, KEY_READ);
    if (status == ERROR_SUCCESS) {
        status = QueryTextValue(handler.get(), nullptr, replaced.PreviousHandler, std::size(replaced.PreviousHandler),
                                &replaced.PreviousHandlerType);
        if (status == ERROR_SUCCESS)
            replaced.BackUpHandler = !IsOwnHandlerText(replaced.PreviousHandler);
        else if (status != ERROR_FILE_NOT_FOUND)
            return status;
    } else if (status != ERROR_FILE_NOT_FOUND) {
        return status;
    }
    return ERROR_SUCCESS;
}

} // namespace

LONG CheckIconHandlerInstall(const IconLocation& location, Scope scope)
{
    if (location.TypeKey[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    if (std::wcslen(location.TypeKey) > MaxKeyNameLength)
        return ERROR_FILENAME_EXCED_RANGE;
    RegKey classKey;
    const LONG status = OpenClassKey(scope, location.TypeKey, KEY_READ, classKey);
    if (status == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS; // a class made by installing has nothing to back up
    if (status != ERROR_SUCCESS)
        return status;
    ReplacedByInstalling replaced;
    return ReadWhatInstallingReplaces(classKey.get(), replaced);
}

LONG InstallIconHandler(const IconLocation& location, Scope scope)
{
    if (location.TypeKey[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    if (std::wcslen(location.TypeKey) > MaxKeyNameLength)
        return ERROR_FILENAME_EXCED_RANGE;

    // In this user's classes the backups keep what this user's own keys held (an empty
    // DefaultIconBAK and no IconHandlerBAK when there were none), so that uninstalling
    // leaves them as they were; what all users' keys show behind them is read there.
    RegKey classKey;
    LONG status = OpenClassKey(scope, location.TypeKey, KEY_ALL_ACCESS, classKey);
    if (status != ERROR_SUCCESS) {
        status = RegisterFileType(location, classKey, scope);
        if (!classKey)
            return status != ERROR_SUCCESS ? status : ERROR_INVALID_HANDLE;
    }

    // Everything that is replaced is read before anything is written, so that a text
    // that cannot be backed up whole stops the installation with the class untouched.
    ReplacedByInstalling replaced;
    status = ReadWhatInstallingReplaces(classKey.get(), replaced);
    if (status != ERROR_SUCCESS)
        return status;

    // A DefaultIcon of "%1" next to an existing backup is this extension's own doing
    // (it is installed already, or another program took over shellex\IconHandler):
    // the backup still holds the class's real icon and is kept.
    const bool keepIconBackup = std::wcscmp(replaced.PreviousIcon, HandlerIconText) == 0 &&
                                SubkeyExists(classKey.get(), DefaultIconBackupKey);
    const bool hadHandlerBackup = SubkeyExists(classKey.get(), IconHandlerBackupKey);

    // A write that fails part way puts back what the ones before it wrote, so that a
    // failed installation leaves the class as it was.
    bool wroteIconBackup = false;
    bool wroteHandlerBackup = false;
    bool wroteDefaultIcon = false;
    auto undo = [&](LONG failure) {
        if (wroteDefaultIcon) {
            RegKey defaultIcon;
            if (replaced.HasIconText) {
                CreateWithDefaultText(classKey.get(), DefaultIconKey, replaced.PreviousIcon, replaced.PreviousIconType);
            } else if (defaultIcon.Open(classKey.get(), DefaultIconKey, KEY_SET_VALUE) == ERROR_SUCCESS) {
                RegDeleteValueW(defaultIcon.get(), nullptr);
                defaultIcon.reset();
                if (!replaced.HasDefaultIcon)
                    DeleteIfEmpty(classKey.get(), DefaultIconKey);
            }
        }
        if (wroteHandlerBackup && !hadHandlerBackup)
            DeleteBackupKey(classKey.get(), IconHandlerBackupKey);
        if (wroteIconBackup)
            DeleteBackupKey(classKey.get(), DefaultIconBackupKey);
        return failure;
    };

    if (!keepIconBackup) {
        status = CreateWithDefaultText(classKey.get(), DefaultIconBackupKey, replaced.PreviousIcon,
                                       replaced.PreviousIconType);
        if (status != ERROR_SUCCESS)
            return undo(status);
        wroteIconBackup = true;
        // A "HandlerIconInfo" still there was chosen under an earlier installation; the
        // type's icon since is the DefaultIcon text just backed up. Left in place, the
        // icon handler would answer the old icon for every file of the type.
        if (replaced.HasDefaultIcon) {
            RegKey defaultIcon;
            status = defaultIcon.Open(classKey.get(), DefaultIconKey, KEY_SET_VALUE);
            if (status == ERROR_SUCCESS)
                status = DeletionStatus(RegDeleteValueW(defaultIcon.get(), HandlerIconValue));
            if (status != ERROR_SUCCESS)
                return undo(status);
        }
    }
    if (replaced.BackUpHandler) {
        status = CreateWithDefaultText(classKey.get(), IconHandlerBackupKey, replaced.PreviousHandler,
                                       replaced.PreviousHandlerType);
        if (status != ERROR_SUCCESS)
            return undo(status);
        wroteHandlerBackup = true;
    }

    // A class without DefaultIcon gets one: the shell consults an icon handler only
    // for a class whose DefaultIcon is "%1".
    status = CreateWithDefaultText(classKey.get(), DefaultIconKey, HandlerIconText, REG_SZ);
    if (status != ERROR_SUCCESS)
        return undo(status);
    wroteDefaultIcon = true;
    status = CreateWithDefaultText(classKey.get(), IconHandlerKey, ExtensionClsidText, REG_SZ);
    if (status != ERROR_SUCCESS)
        return undo(status);
    return ERROR_SUCCESS;
}

LONG UninstallIconHandler(const IconLocation& location, Scope scope)
{
    if (location.TypeKey[0] == L'\0')
        return ERROR_INVALID_PARAMETER;

    // No key has a name that long, so nothing of this extension's can be there.
    if (std::wcslen(location.TypeKey) > MaxKeyNameLength)
        return ERROR_SUCCESS;

    // A class that holds nothing of this extension's is left alone without asking for
    // write access, which a user without administrator rights does not have.
    RegKey classKey;
    LONG status = OpenClassKey(scope, location.TypeKey, KEY_READ, classKey);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    if (!SubkeyExists(classKey.get(), DefaultIconBackupKey) && !SubkeyExists(classKey.get(), IconHandlerBackupKey) &&
        !IsOwnHandler(classKey.get()))
        return ERROR_SUCCESS;
    // Another program's handler has taken this extension's place since: the "%1" in
    // DefaultIcon is what makes the shell consult that handler, and the class is no longer
    // this extension's to hand back. The backups stay, for the day that program gives the
    // handler back to this extension.
    if (HasOtherHandler(classKey.get()))
        return ERROR_SUCCESS;

    status = OpenClassKey(scope, location.TypeKey, KEY_ALL_ACCESS, classKey);
    if (status != ERROR_SUCCESS)
        return status;
    status = RestoreDefaultIcon(classKey.get());
    // A DefaultIcon that could not be put back keeps its backup, and the installation
    // stays whole for a later try: the previous handler back beside "%1" would look like
    // another program's taking over, which is left alone.
    if (status != ERROR_SUCCESS && SubkeyExists(classKey.get(), DefaultIconBackupKey))
        return status;
    status = FirstFailure(status, RestoreIconHandler(classKey.get()));
    classKey.reset();
    if (scope == Scope::ThisUser)
        status = FirstFailure(status, RemoveEmptyUserClassKeys(location.TypeKey, location.Owner));
    return status;
}

namespace {

// This user's extension key when it holds nothing but its default value naming the class,
// and all users have no key of the extension: what pointing a type new to this user at
// its class made, and nothing the user had before.
LONG RemoveUserExtensionKeyOf(HKEY classes, const wchar_t* extension, const wchar_t* typeKey)
{
    if (extension == nullptr || extension[0] == L'\0' || std::wcslen(extension) > MaxKeyNameLength)
        return ERROR_SUCCESS;
    RegKey shared;
    if (OpenClassKey(Scope::AllUsers, extension, KEY_QUERY_VALUE, shared) == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    RegKey key;
    LONG status = key.Open(classes, extension, KEY_READ);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    DWORD subkeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        subkeys != 0 || values != 1)
        return ERROR_SUCCESS;
    wchar_t named[TextCapacity] = {};
    if (!ReadTextValue(key.get(), nullptr, named, std::size(named)) || !SameKeyName(named, typeKey))
        return ERROR_SUCCESS;
    key.reset();
    return DeletionStatus(RegDeleteKeyW(classes, extension));
}

} // namespace

LONG RemoveUserExtensionKey(const wchar_t* extension, const wchar_t* typeKey)
{
    if (typeKey == nullptr || typeKey[0] == L'\0' || std::wcslen(typeKey) > MaxKeyNameLength)
        return ERROR_SUCCESS;
    RegKey classes;
    LONG status = classes.Open(HKEY_CURRENT_USER, UserClassesKey, KEY_READ);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    RegKey remaining;
    if (remaining.Open(classes.get(), typeKey, KEY_QUERY_VALUE) == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    return RemoveUserExtensionKeyOf(classes.get(), extension, typeKey);
}

LONG RemoveEmptyUserClassKeys(const wchar_t* typeKey, const wchar_t* extension)
{
    if (typeKey == nullptr || typeKey[0] == L'\0' || std::wcslen(typeKey) > MaxKeyNameLength)
        return ERROR_SUCCESS;
    RegKey classes;
    LONG status = classes.Open(HKEY_CURRENT_USER, UserClassesKey, KEY_READ);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    RegKey classKey;
    status = classKey.Open(classes.get(), typeKey, KEY_READ);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    // Deepest first, so that a parent is asked once its children have gone.
    for (const wchar_t* path : {DefaultIconKey, DefaultIconBackupKey, IconHandlerKey, IconHandlerBackupKey, ShellexKey})
        status = FirstFailure(status, DeleteIfEmpty(classKey.get(), path));
    classKey.reset();
    status = FirstFailure(status, DeleteIfEmpty(classes.get(), typeKey));
    RegKey remaining;
    if (status != ERROR_SUCCESS || remaining.Open(classes.get(), typeKey, KEY_QUERY_VALUE) == ERROR_SUCCESS)
        return status;
    return RemoveUserExtensionKeyOf(classes.get(), extension, typeKey);
}

namespace {

bool NamesClass(const wchar_t* name)
{
    return name != nullptr && name[0] != L'\0' && wcsnlen(name, MaxKeyNameLength + 1) <= MaxKeyNameLength;
}

const wchar_t* SlotKey(HandlerSlot slot) { return slot == HandlerSlot::Current ? IconHandlerKey : IconHandlerBackupKey; }

// The class key is opened first and the handler key below it (see OpenClassSubkey), so
// that a class name of up to 255 characters and "\shellex\IconHandlerBAK" never make a
// path the registry calls refuse.
bool ReadHandlerKeyText(HKEY key, wchar_t (&buffer)[TextCapacity])
{
    return ReadTextValue(key, nullptr, buffer, std::size(buffer));
}

} // namespace

bool ReadIconHandlerText(const wchar_t* name, HandlerSlot slot, wchar_t (&buffer)[TextCapacity])
{
    if (!NamesClass(name))
        return false;
    RegKey key;
    return OpenVisibleClassSubkey(name, SlotKey(slot), KEY_READ, key) && ReadHandlerKeyText(key.get(), buffer);
}

bool ReadIconHandlerText(Scope scope, const wchar_t* name, HandlerSlot slot, wchar_t (&buffer)[TextCapacity])
{
    if (!NamesClass(name))
        return false;
    RegKey key;
    return OpenClassSubkey(scope, name, SlotKey(slot), KEY_READ, key) == ERROR_SUCCESS &&
           ReadHandlerKeyText(key.get(), buffer);
}

std::optional<Scope> OwnIconHandlerScope(const wchar_t* typeKey)
{
    if (!NamesClass(typeKey))
        return std::nullopt;
    RegKey key;
    const std::optional<Scope> scope = OpenVisibleClassSubkey(typeKey, IconHandlerKey, KEY_READ, key);
    wchar_t text[TextCapacity] = {};
    if (!scope || !ReadHandlerKeyText(key.get(), text) || !IsOwnHandlerText(text))
        return std::nullopt;
    return scope;
}

bool IsOwnIconHandlerIn(Scope scope, const wchar_t* typeKey)
{
    wchar_t text[TextCapacity] = {};
    return ReadIconHandlerText(scope, typeKey, HandlerSlot::Current, text) && IsOwnHandlerText(text);
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
    if (ReadIconHandlerText(Scope::AllUsers, typeKey, HandlerSlot::Current, text) && !IsOwnHandlerText(text))
        return CopyText(buffer, std::size(buffer), text);
    return ReadIconHandlerText(Scope::AllUsers, typeKey, HandlerSlot::Backup, buffer);
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

bool IsOwnHandlerPlaceholder(const IconLocation& typeIcon)
{
    // "%1" anywhere in the path stands for the file itself, as the icon handler reads it.
    return std::wcsstr(typeIcon.IconPath, HandlerIconText) != nullptr && IsOwnIconHandler(typeIcon);
}

std::optional<IconLocation> ReadTypeIconBehindHandler(const IconLocation& typeIcon)
{
    if (std::wcsstr(typeIcon.IconPath, HandlerIconText) == nullptr)
        return std::nullopt;
    const std::optional<Scope> handlerScope = OwnIconHandlerScope(typeIcon.TypeKey);
    if (!handlerScope)
        return std::nullopt;

    // A record without a path says nothing about an icon; the icon handler passes such a
    // value over in the same way.
    std::optional<IconLocation> chosen = LookupClassIcon(HKEY_CLASSES_ROOT, typeIcon.TypeKey, HandlerIconValue);
    if (!chosen || chosen->IconPath[0] == L'\0') {
        chosen = ReadTypeIconBeforeHandler(typeIcon.TypeKey, handlerScope);
        if (!chosen || chosen->IconPath[0] == L'\0')
            return std::nullopt;
    }
    if (!chosen->SetTypeKey(typeIcon.TypeKey) || !chosen->SetOwner(typeIcon.Owner))
        return std::nullopt;
    return chosen;
}

std::optional<IconLocation> ReadTypeIconBeforeHandler(const wchar_t* typeKey, std::optional<Scope> ownHandlerScope)
{
    std::optional<IconLocation> backup = ReadDefaultIconBackup(typeKey);
    if (backup && backup->IconPath[0] != L'\0')
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
    std::optional<IconLocation> shared = LookupClassIconIn(Scope::AllUsers, typeKey, nullptr);
    if (!shared || !IsOwnHandlerPlaceholderIn(Scope::AllUsers, *shared))
        return shared;
    // All users' DefaultIcon is this extension's "%1" too: the icon behind it there.
    return ReadTypeIconBehindHandlerIn(Scope::AllUsers, shared->TypeKey);
}

bool IsOwnHandlerPlaceholderIn(Scope scope, const IconLocation& typeIcon)
{
    return std::wcsstr(typeIcon.IconPath, HandlerIconText) != nullptr && IsOwnIconHandlerIn(scope, typeIcon.TypeKey);
}

std::optional<IconLocation> ReadTypeIconBehindHandlerIn(Scope scope, const wchar_t* typeKey)
{
    std::optional<IconLocation> chosen = LookupClassIconIn(scope, typeKey, HandlerIconValue);
    if (chosen && chosen->IconPath[0] != L'\0')
        return chosen;
    RegKey key;
    wchar_t text[RegistryTextLimit / sizeof(wchar_t)];
    if (OpenClassSubkey(scope, typeKey, DefaultIconBackupKey, KEY_QUERY_VALUE, key) != ERROR_SUCCESS ||
        !ReadTextValue(key.get(), nullptr, text, std::size(text)))
        return std::nullopt;
    std::optional<IconLocation> before = ParseIconLocation(text, false);
    if (before && !before->SetTypeKey(typeKey))
        return std::nullopt;
    return before;
}

std::optional<IconLocation> ReadDefaultIconBackup(const wchar_t* typeKey)
{
    RegKey backup;
    if (!NamesClass(typeKey) || !OpenVisibleClassSubkey(typeKey, DefaultIconBackupKey, KEY_QUERY_VALUE, backup))
        return std::nullopt;
    wchar_t text[RegistryTextLimit / sizeof(wchar_t)];
    if (!ReadTextValue(backup.get(), nullptr, text, std::size(text)))
        return std::nullopt;
    return ParseIconLocation(text, false);
}

LONG WriteDefaultIconBackup(const IconLocation& location, Scope scope)
{
    if (location.TypeKey[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    if (std::wcslen(location.TypeKey) > MaxKeyNameLength)
        return ERROR_FILENAME_EXCED_RANGE;
    wchar_t text[TextCapacity];
    if (!FormatIconLocation(location, false, text, std::size(text)))
        return ERROR_FILENAME_EXCED_RANGE;

    RegKey classKey;
    const LONG status = OpenClassKey(scope, location.TypeKey, KEY_WRITE, classKey);
    if (status != ERROR_SUCCESS)
        return status;
    return CreateWithDefaultText(classKey.get(), DefaultIconBackupKey, text, REG_SZ);
}

} // namespace orvane
