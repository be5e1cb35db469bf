#include "IconTarget.h"

#include <cwchar>
#include <iterator>
#include <string_view>

#include "DriveIcons.h"
#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "FolderIcons.h"
#include "PathText.h"
#include "Registry.h"
#include "ShellPath.h"

namespace orvane {

namespace {

// The extension of the file name in path, dot included. False when the name has none,
// or only a dot: then there is no class name to derive from it.
bool ExtensionOf(const wchar_t* path, wchar_t (&extension)[TextCapacity])
{
    extension[0] = L'\0';
    const std::wstring_view found = FileExtension(std::wstring_view(path, wcsnlen(path, TextCapacity)));
    return NamesFileClass(found) && CopyText(extension, std::size(extension), found);
}

// The longest key path the type and handler stores compose below a class is
// "<class>\shellex\IconHandlerBAK"; a class name that leaves no room for it is refused
// before anything is written.
bool ClassPathsFit(const wchar_t* typeKey)
{
    wchar_t path[TextCapacity];
    return FormatKeyPath(path, std::size(path), L"%ls\\shellex\\IconHandlerBAK", typeKey);
}

bool TextFormFits(const IconLocation& location, bool withTypeKey)
{
    wchar_t text[TextCapacity];
    return FormatIconLocation(location, withTypeKey, text, std::size(text));
}

// The type's icon as the files of the type without an entry of their own show it, and as
// the class keeps it once this extension's handler is uninstalled again. While the handler
// is installed DefaultIcon only says "%1": a backup taken of that and later written back
// would leave every file of the type without an icon. foundIn (may be null) is the scope
// of the DefaultIcon key read.
std::optional<IconLocation> ReadTypeIconOfFiles(const wchar_t* extension, Scope* foundIn = nullptr)
{
    std::optional<IconLocation> typeIcon = ReadTypeIcon(extension, nullptr, true, foundIn);
    if (typeIcon && IsOwnHandlerPlaceholder(*typeIcon))
        return ReadTypeIconBehindHandler(*typeIcon);
    return typeIcon;
}

// The scope in which a type's icon, read from a DefaultIcon key of that scope, is this
// system's setting: where the type change's backup is kept. A type's icon as the system
// registered it is nobody's setting, also while this extension is the class's handler for
// the sake of other files of the type that have icons of their own.
std::optional<Scope> TypeSettingScope(const wchar_t* extension, const IconLocation& typeIcon, Scope found)
{
    if (ReadTypeBackupIcon(extension, found))
        return found;
    // This user's "%1", there for a file's own icon, shows all users' type icon behind it
    // when this user's keys had none of their own.
    if (found == Scope::ThisUser && IsOwnIconHandlerIn(Scope::ThisUser, typeIcon.TypeKey) &&
        ReadTypeBackupIcon(extension, Scope::AllUsers))
        return Scope::AllUsers;
    return std::nullopt;
}

bool UserClassKeyExists(const wchar_t* className, const wchar_t* subkey)
{
    RegKey key;
    return OpenClassSubkey(Scope::ThisUser, className, subkey, KEY_QUERY_VALUE, key) == ERROR_SUCCESS;
}

// What deciding a change's scope needs to know of all users' places.
struct AllUsersPlaces {
    bool Accept = false; // each place the change writes accepts the write
    bool Shown = false;  // what is written there is what this user then sees
};

// All users' places that a change of one file (the product's key with its table and,
// unless this extension already serves the class there, the class) or of all files of a
// type (the class) writes, asked at the top of each place: the product's key and the
// class key (or the keys above them that would be written into, when they are still
// missing), which is where a standard user is refused. A key below them that refuses
// alone is an odd DACL, reported as a failed write as it always was. A class that only
// this user has, or a key of this user's that would hide what is written for all users,
// keeps the change this user's.
AllUsersPlaces ExamineAllUsersPlaces(const IconLocation& location, const wchar_t* path, bool allOfType)
{
    const wchar_t* typeKey = location.TypeKey;
    AllUsersPlaces places;
    RegKey classKey;
    const bool sharedClass = OpenClassKey(Scope::AllUsers, typeKey, KEY_QUERY_VALUE, classKey) == ERROR_SUCCESS;
    classKey.reset();
    places.Accept = sharedClass || location.Owner[0] == L'\0' || MayWriteClassKey(Scope::AllUsers, location.Owner);
    if (allOfType) {
        places.Shown = !UserClassKeyExists(typeKey, L"DefaultIcon");
        places.Accept = places.Accept && MayWriteClassKey(Scope::AllUsers, typeKey);
    } else {
        const bool installed = sharedClass && IsOwnIconHandlerIn(Scope::AllUsers, typeKey);
        places.Shown = !ReadFileIcon(path, Scope::ThisUser) && !UserClassKeyExists(typeKey, L"DefaultIcon") &&
                       !UserClassKeyExists(typeKey, L"shellex\\IconHandler");
        places.Accept = places.Accept && MayWrite(HKEY_LOCAL_MACHINE, ProductKey) &&
                        (installed || MayWriteClassKey(Scope::AllUsers, typeKey));
    }
    if (!sharedClass) {
        RegKey userClass;
        if (OpenClassKey(Scope::ThisUser, typeKey, KEY_QUERY_VALUE, userClass) == ERROR_SUCCESS)
            places.Shown = false; // a class only this user has
    }
    return places;
}

// Whether this user's places accept a change of one file (the table and, unless this
// extension already serves the class there, the class) or of a type (the class), asked
// before anything is written as all users' are: this user's keys may refuse too (locked
// by a policy or another program), and the platform may accept a key created below one
// that refuses, so that trying would leave a refused change half written.
bool ThisUserAccepts(const IconLocation& location, bool allOfType)
{
    const bool classAccepts = MayWriteClassKey(Scope::ThisUser, location.TypeKey);
    if (allOfType)
        return classAccepts;
    return MayWrite(HKEY_CURRENT_USER, FileIconsKey) &&
           (classAccepts || IsOwnIconHandlerIn(Scope::ThisUser, location.TypeKey));
}

// The scope a change of one file or of a type goes to: the one chosen (all users' only
// when its places accept the write), or under Automatic all users' when they accept it
// and this user then sees it. None: refused, nothing to be written.
std::optional<Scope> ScopeOfFileChange(ScopeChoice choice, const IconLocation& location, const wchar_t* path,
                                       bool allOfType)
{
    if (choice == ScopeChoice::ThisUser)
        return Scope::ThisUser;
    const AllUsersPlaces places = ExamineAllUsersPlaces(location, path, allOfType);
    return DecideScope(choice, choice == ScopeChoice::Automatic ? places.Accept && places.Shown : places.Accept);
}

// Whether this user sees the class through all users' installation of this extension,
// with no DefaultIcon text of their own: a type icon written into this user's DefaultIcon
// would hide the "%1" that makes Explorer ask for each file's own icon. This user's
// change then installs the handler in this user's classes too, and keeps the icon in
// "HandlerIconInfo" behind this user's "%1".
bool SeesAllUsersHandler(const wchar_t* typeKey)
{
    if (OwnIconHandlerScope(typeKey) != Scope::AllUsers)
        return false;
    RegKey defaultIcon;
    if (OpenClassSubkey(Scope::ThisUser, typeKey, L"DefaultIcon", KEY_QUERY_VALUE, defaultIcon) != ERROR_SUCCESS)
        return true;
    wchar_t text[TextCapacity] = {};
    return QueryTextValue(defaultIcon.get(), nullptr, text, std::size(text)) == ERROR_FILE_NOT_FOUND;
}

// An empty "BAKIconInfo": the scope's keys held no icon of the type before its first
// change (this user's: this user saw all users' icon; all users': the class had none, as
// many programs register theirs), so that restoring takes away what the change wrote.
LONG WriteEmptyTypeBackup(const wchar_t* typeKey, Scope scope)
{
    wchar_t path[TextCapacity];
    if (!FormatKeyPath(path, std::size(path), L"%ls\\DefaultIcon", typeKey))
        return ERROR_FILENAME_EXCED_RANGE;
    RegKey defaultIcon;
    const LONG status = CreateClassKey(scope, path, defaultIcon);
    if (status != ERROR_SUCCESS)
        return status;
    return WriteTextValue(defaultIcon.get(), BackupIconValue, L"");
}

// The type's backup in this user's classes keeps what this user's own DefaultIcon held
// before the first change (empty when this user had no icon of their own, and saw all
// users'), so that restoring leaves this user's keys as they were and all users' icon,
// whatever it is by then, shows through again.
LONG WriteUserTypeBackup(const IconLocation& changed)
{
    wchar_t text[TextCapacity] = {};
    RegKey defaultIcon;
    if (OpenClassSubkey(Scope::ThisUser, changed.TypeKey, L"DefaultIcon", KEY_QUERY_VALUE, defaultIcon) ==
            ERROR_SUCCESS &&
        ReadTextValue(defaultIcon.get(), nullptr, text, std::size(text))) {
        std::optional<IconLocation> own = ParseIconLocation(text, false);
        // While this extension is this user's handler of the class, this user's own icon
        // is the one behind its "%1" in this user's keys (an empty DefaultIconBAK: none).
        if (own && own->SetTypeKey(changed.TypeKey) && IsOwnHandlerPlaceholderIn(Scope::ThisUser, *own))
            own = ReadTypeIconBehindHandlerIn(Scope::ThisUser, changed.TypeKey);
        if (own && own->IconPath[0] != L'\0' && own->SetTypeKey(changed.TypeKey))
            return WriteTypeBackupIcon(*own, Scope::ThisUser);
    }
    return WriteEmptyTypeBackup(changed.TypeKey, Scope::ThisUser);
}

// Takes a type's backup out once its icon is back. A "HandlerIconInfo" that an
// installation of this extension left beside it (remove-all hands the class back with the
// value in place) was the change's too: while this extension is not the class's handler it
// means nothing, and it goes with the change.
LONG DeleteTypeBackupAndLeftover(const IconLocation& backup, Scope scope)
{
    const LONG status = DeleteTypeBackupIcon(backup, scope);
    if (status != ERROR_SUCCESS || IsOwnIconHandlerIn(scope, backup.TypeKey))
        return status;
    RegKey defaultIcon;
    if (OpenClassSubkey(scope, backup.TypeKey, L"DefaultIcon", KEY_SET_VALUE, defaultIcon) != ERROR_SUCCESS)
        return ERROR_SUCCESS;
    return DeletionStatus(RegDeleteValueW(defaultIcon.get(), HandlerIconValue));
}

// Puts a type's icon back from the scope's backup. An empty backup says that the scope's
// keys held no icon: the value the change wrote goes. While this extension is the scope's
// handler of the class, the type's icon chosen since goes, and the handler's backup says
// again that the class had no icon there.
LONG PutBackTypeIcon(const IconLocation& backup, Scope scope)
{
    if (backup.IconPath[0] != L'\0')
        return SetTypeIcon(backup, scope);
    const bool handler = IsOwnIconHandlerIn(scope, backup.TypeKey);
    RegKey defaultIcon;
    LONG status = OpenClassSubkey(scope, backup.TypeKey, L"DefaultIcon", KEY_SET_VALUE, defaultIcon);
    if (status == ERROR_SUCCESS)
        status = DeletionStatus(RegDeleteValueW(defaultIcon.get(), handler ? HandlerIconValue : nullptr));
    if (status == ERROR_SUCCESS && handler) {
        RegKey classKey;
        status = OpenClassKey(scope, backup.TypeKey, KEY_ALL_ACCESS, classKey);
        RegKey iconBackup;
        if (status == ERROR_SUCCESS)
            status = iconBackup.Create(classKey.get(), L"DefaultIconBAK");
        if (status == ERROR_SUCCESS)
            status = WriteTextValue(iconBackup.get(), nullptr, L"");
    }
    return status;
}

// All users' DefaultIcon key once a restore left nothing in it: the type change made it
// for a class that had none, and the class goes back to having none (its CurVer is then
// followed again, as before the change).
LONG RemoveEmptyDefaultIcon(const wchar_t* typeKey)
{
    RegKey classKey;
    LONG status = OpenClassKey(Scope::AllUsers, typeKey, KEY_READ, classKey);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    RegKey defaultIcon;
    status = defaultIcon.Open(classKey.get(), L"DefaultIcon", KEY_READ);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    DWORD subkeys = 0;
    DWORD values = 0;
    status = RegQueryInfoKeyW(defaultIcon.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                              nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS || subkeys != 0 || values != 0)
        return status;
    defaultIcon.reset();
    return DeletionStatus(RegDeleteKeyW(classKey.get(), L"DefaultIcon"));
}

// Puts this user's type icon back from this user's backup, and removes the keys that
// then hold nothing.
LONG RestoreUserTypeIcon(const IconLocation& backup, const wchar_t* extension)
{
    LONG status = PutBackTypeIcon(backup, Scope::ThisUser);
    if (status != ERROR_SUCCESS)
        return status;
    status = DeleteTypeBackupAndLeftover(backup, Scope::ThisUser);
    if (status != ERROR_SUCCESS)
        return status;
    // This user's handler that no file entry of this user's needs was installed by the
    // change over all users' installation, and goes with it.
    if (IsOwnIconHandlerIn(Scope::ThisUser, backup.TypeKey) &&
        CountFileIconsOfType(backup.TypeKey, Scope::ThisUser) == 0) {
        IconLocation installed = backup;
        if (!installed.SetOwner(extension))
            return ERROR_FILENAME_EXCED_RANGE;
        return UninstallIconHandler(installed, Scope::ThisUser);
    }
    return RemoveEmptyUserClassKeys(backup.TypeKey, extension);
}

// The type's backup, written once into the scope of the change and keeping the icon from
// before the first change there; a single file never needs one. `changed` names the class
// the change writes (TypeKey) and the extension (Owner). A type that had no icon in the
// scope gets an empty backup, so that restoring takes away what the change wrote.
ChangeResult SaveTypeBackup(const wchar_t* path, const IconLocation& changed, const std::optional<IconLocation>& original,
                            Scope scope)
{
    if (changed.Owner[0] != L'\0' && ReadTypeBackupIcon(changed.Owner, scope))
        return ChangeResult::Done;
    auto none = [&]() {
        if (changed.TypeKey[0] == L'\0')
            return ChangeResult::Done;
        // Registered in the scope first, so that the backup is found through the
        // extension like the icon.
        RegKey classKey;
        LONG status = RegisterFileType(changed, classKey, scope);
        classKey.reset();
        if (status == ERROR_SUCCESS)
            status = scope == Scope::ThisUser ? WriteUserTypeBackup(changed)
                                              : WriteEmptyTypeBackup(changed.TypeKey, scope);
        return ResultFromStatus(status);
    };
    wchar_t extension[TextCapacity];
    // All users' change chosen while this user's DefaultIcon hides all users' one in the
    // class the change writes (the end of the extension's CurVer chain): the dialog showed
    // this user's icon, which restoring must not write into all users' keys.
    wchar_t className[TextCapacity];
    if (scope == Scope::AllUsers &&
        (changed.TypeKey[0] != L'\0' ? CopyText(className, std::size(className), changed.TypeKey)
                                      : ExtensionOf(path, extension) && ReadIconClass(extension, className)) &&
        UserClassKeyExists(className, L"DefaultIcon")) {
        std::optional<IconLocation> shared = ReadAllUsersTypeIcon(className);
        if (!shared || shared->IconPath[0] == L'\0')
            return none();
        return ResultFromStatus(WriteTypeBackupIcon(*shared, scope));
    }
    // A file with an entry of its own started the dialog from that entry, which is not
    // the type's icon: the type's own is backed up instead.
    if (ReadFileIcon(path) && ExtensionOf(path, extension)) {
        const std::optional<IconLocation> typeIcon = ReadTypeIconOfFiles(extension);
        if (!typeIcon)
            return none();
        return ResultFromStatus(scope == Scope::ThisUser ? WriteUserTypeBackup(*typeIcon)
                                                         : WriteTypeBackupIcon(*typeIcon, scope));
    }
    if (!original)
        return none();
    return ResultFromStatus(scope == Scope::ThisUser ? WriteUserTypeBackup(*original)
                                                     : WriteTypeBackupIcon(*original, scope));
}

// Where a change of a folder's or a drive's icon goes. A scope chosen on purpose is kept
// (whether it accepts the write is asked afterwards). Automatic stays with this user
// while the target's icon is set for this user: a change for all users would stay hidden
// behind it (a drive's) or be made over it (a folder's); otherwise all users when this
// process may write all users' place of the kind, this user when it may not.
template <class MayWriteAllUsers>
Scope ScopeOfChange(ScopeChoice choice, bool setForThisUser, MayWriteAllUsers mayWriteAllUsers)
{
    switch (choice) {
    case ScopeChoice::AllUsers:
        return Scope::AllUsers;
    case ScopeChoice::ThisUser:
        return Scope::ThisUser;
    case ScopeChoice::Automatic:
        break;
    }
    if (setForThisUser)
        return Scope::ThisUser;
    return mayWriteAllUsers() ? Scope::AllUsers : Scope::ThisUser;
}

// The scope whose setting a restore takes back: a chosen one, or the one the user sees
// (this user's first). The scopes that hold a setting are asked through `holds`.
template <class Holds>
std::optional<Scope> ScopeOfRestore(ScopeChoice choice, Holds holds)
{
    switch (choice) {
    case ScopeChoice::AllUsers:
        return holds(Scope::AllUsers) ? std::optional<Scope>(Scope::AllUsers) : std::nullopt;
    case ScopeChoice::ThisUser:
        return holds(Scope::ThisUser) ? std::optional<Scope>(Scope::ThisUser) : std::nullopt;
    case ScopeChoice::Automatic:
        break;
    }
    for (const Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        if (holds(scope))
            return scope;
    }
    return std::nullopt;
}

bool HoldsFolderBackup(const wchar_t* folder, Scope scope) { return ReadFolderBackupOf(scope, folder).has_value(); }

Scope ScopeOfFolderChange(ScopeChoice choice, const wchar_t* folder)
{
    return ScopeOfChange(choice, HoldsFolderBackup(folder, Scope::ThisUser),
                         [] { return MayUseFolderBackups(Scope::AllUsers); });
}

// The folder's backup, taken in the scope of a change. One folder has one Desktop.ini for
// both scopes, so its backups form one chain, this user's change (when there is one)
// last: a change for all users made over this user's change takes this user's backup
// over (the icon from before this user's change) and this user's backup goes.
LONG SaveFolderBackup(const IconLocation& original, const wchar_t* folder, Scope scope)
{
    if (scope == Scope::AllUsers && HoldsFolderBackup(folder, Scope::ThisUser)) {
        const LONG status = CopyFolderBackup(folder, Scope::ThisUser, Scope::AllUsers);
        if (status != ERROR_SUCCESS)
            return status;
        return DeleteFolderBackup(folder, Scope::ThisUser);
    }
    return WriteFolderBackupOfEntries(original, folder, scope);
}

// Restores a folder's change of one scope. All users' change under this user's one is
// taken out of the chain only: the folder keeps showing this user's icon, whose backup
// now holds what all users' change had replaced.
LONG RestoreFolderBackup(const wchar_t* folder, Scope scope)
{
    if (scope == Scope::AllUsers && HoldsFolderBackup(folder, Scope::ThisUser)) {
        const LONG status = CopyFolderBackup(folder, Scope::AllUsers, Scope::ThisUser);
        if (status != ERROR_SUCCESS)
            return status;
        return DeleteFolderBackup(folder, Scope::AllUsers);
    }
    // The backup goes only once the folder holds it again.
    const LONG status = WriteFolderIconFromBackup(folder, scope);
    if (status != ERROR_SUCCESS)
        return status;
    return DeleteFolderBackup(folder, scope);
}

} // namespace

ChangeResult ResultFromStatus(LONG status)
{
    switch (status) {
    case ERROR_SUCCESS:
        return ChangeResult::Done;
    case ERROR_ACCESS_DENIED:
        return ChangeResult::AccessDenied;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
        return ChangeResult::PathTooLong;
    case ProfileIsLinkStatus:
        return ChangeResult::ProfileIsLink;
    case ProfileIsFolderStatus:
        return ChangeResult::ProfileIsFolder;
    default:
        return ChangeResult::WriteFailed;
    }
}

LONG SetTypeIcon(const IconLocation& location) { return SetTypeIcon(location, Scope::AllUsers); }

LONG SetTypeIcon(const IconLocation& location, Scope scope)
{
    if (!IsOwnIconHandlerIn(scope, location.TypeKey))
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

IconTarget::IconTarget(const wchar_t* path)
{
    // A path without its terminator within the field is never handed to the platform.
    if (path == nullptr || wcsnlen(path, TextCapacity) == TextCapacity)
        return;
    // Every store keeps and finds a target under the name Explorer gives the item; a
    // path the platform cannot complete (the empty one) is kept as it is.
    if (!ShellPathOf(path, path_))
        CopyText(path_, std::size(path_), path);
    kind_ = ClassifyTarget(path_);
}

const std::optional<IconLocation>& IconTarget::ReadCurrentIcon()
{
    switch (Kind()) {
    case TargetKind::Folder: {
        Current = ReadFolderIcon(path_);
        // The icon itself is in the folder for both scopes; it is set for the scope whose
        // backup says that this product changed it.
        Scope backupScope = Scope::AllUsers;
        currentScope_.reset();
        if (ReadFolderBackup(path_, &backupScope))
            currentScope_ = backupScope;
        break;
    }
    case TargetKind::File: {
        wchar_t extension[TextCapacity];
        const bool hasExtension = ExtensionOf(path_, extension);
        currentScope_.reset();
        std::optional<IconLocation> found = ReadFileIcon(path_, Scope::ThisUser);
        if (found) {
            currentScope_ = Scope::ThisUser;
        } else if ((found = ReadFileIcon(path_, Scope::AllUsers))) {
            currentScope_ = Scope::AllUsers;
        } else if (hasExtension) {
            Scope seenIn = Scope::AllUsers;
            found = ReadTypeIconOfFiles(extension, &seenIn);
            if (found)
                currentScope_ = TypeSettingScope(extension, *found, seenIn);
        }
        if (found) {
            Current = found;
            allOfType_ = false;
        } else if (hasExtension && HasIconHandler(extension)) {
            Current = ReadTypeHandlerIcon(extension);
        }
        break;
    }
    case TargetKind::Drive: {
        currentScope_.reset();
        Current = ReadDriveIcon(path_, &currentScope_);
        break;
    }
    case TargetKind::Unclassified:
        break;
    }
    return Current;
}

void IconTarget::RememberOriginal(const std::optional<IconLocation>& location)
{
    if (location)
        original_ = location;
}

bool IconTarget::HasBackup() const
{
    switch (Kind()) {
    case TargetKind::Folder:
        return ScopeOfRestore(scopeChoice_, [&](Scope scope) { return HoldsFolderBackup(path_, scope); }).has_value();
    case TargetKind::File:
        if (!allOfType_)
            return true;
        return Current && Current->Owner[0] != L'\0' && ReadTypeBackupIcon(Current->Owner).has_value();
    case TargetKind::Drive:
        return true;
    case TargetKind::Unclassified:
        break;
    }
    return false;
}

ChangeResult IconTarget::SaveBackup() const
{
    switch (Kind()) {
    case TargetKind::Folder: {
        // A scope whose backup place refuses takes no change, even one without a backup.
        const Scope scope = ScopeOfFolderChange(scopeChoice_, path_);
        if (!MayWriteFolderBackup(scope))
            return ChangeResult::AccessDenied;
        // Replaced on every change, so it holds the icon the folder had when the dialog
        // opened.
        if (original_)
            return ResultFromStatus(SaveFolderBackup(*original_, path_, scope));
        break;
    }
    case TargetKind::File: {
        if (!allOfType_ || !original_)
            break;
        // Into the scope the change itself goes to, decided in the same way.
        const IconLocation& location = Current ? *Current : *original_;
        const std::optional<Scope> scope = ScopeOfFileChange(scopeChoice_, location, path_, true);
        if (!scope)
            return ChangeResult::AccessDenied;
        return SaveTypeBackup(path_, location, original_, *scope);
    }
    case TargetKind::Drive:
    case TargetKind::Unclassified:
        break;
    }
    return ChangeResult::Done;
}

ChangeResult IconTarget::ApplyIcon()
{
    const TargetKind kind = Kind();

    if (kind == TargetKind::Folder) {
        changedScope_ = ScopeOfFolderChange(scopeChoice_, path_);
        if (!Current)
            return SaveBackup();
        IconLocation location = *Current;
        if (location.Owner[0] == L'\0')
            location.SetOwner(path_);
        wchar_t profile[TextCapacity];
        if (!FormatProfilePath(location.Owner, profile) ||
            wcsnlen(location.IconPath, TextCapacity) > FolderIconPathLimit)
            return ChangeResult::PathTooLong;
        // A Desktop.ini that is a link or a folder is refused before the backup is touched.
        const LONG usable = CheckFolderProfile(location.Owner);
        if (usable != ERROR_SUCCESS)
            return ResultFromStatus(usable);
        // The backups of both scopes as they are: a change whose icon cannot be written
        // after its backup was must leave the backup that names the icon from before.
        const FolderBackupSnapshot before(path_);
        if (!before.Taken())
            return ChangeResult::WriteFailed;
        const ChangeResult backup = SaveBackup();
        if (backup != ChangeResult::Done) {
            before.PutBack();
            return backup;
        }
        Current = location;
        const LONG status = WriteFolderIcon(*Current);
        if (status != ERROR_SUCCESS)
            before.PutBack();
        return ResultFromStatus(status);
    }

    if (kind == TargetKind::File) {
        wchar_t extension[TextCapacity];
        if (!ExtensionOf(path_, extension))
            return ChangeResult::NoExtension;
        IconLocation location = Current ? *Current : IconLocation();
        if (!Current || location.Owner[0] == L'\0') {
            // No icon was found for the type: the icon goes to the class Explorer takes the
            // files' icon from all the same, which may have no DefaultIcon yet. Only an
            // extension that names no class gets one, named after the extension with its
            // letter case kept: REPORT.ABC gives ABCfile.
            wchar_t typeKey[TextCapacity];
            if (!ReadIconClass(extension, typeKey) &&
                !FormatKeyPath(typeKey, std::size(typeKey), L"%lsfile", extension + 1))
                return ChangeResult::PathTooLong;
            if (!location.SetTypeKey(typeKey) || !location.SetOwner(extension))
                return ChangeResult::PathTooLong;
        }
        if (location.TypeKey[0] == L'\0')
            return ChangeResult::WriteFailed;
        // Everything that could be refused for its length is refused before the backup
        // is written, so that a refusal leaves nothing behind.
        if (!ClassPathsFit(location.TypeKey) || !TextFormFits(location, !allOfType_))
            return ChangeResult::PathTooLong;
        // The whole change, its backup included, goes to one scope decided before
        // anything is written.
        const std::optional<Scope> scope = ScopeOfFileChange(scopeChoice_, location, path_, allOfType_);
        changedScope_ = scope.value_or(Scope::AllUsers);
        if (!scope || (*scope == Scope::ThisUser && !ThisUserAccepts(location, allOfType_)))
            return ChangeResult::AccessDenied;
        if (allOfType_) {
            const ChangeResult backup = SaveTypeBackup(path_, location, original_, *scope);
            if (backup != ChangeResult::Done)
                return backup;
        }
        Current = location;

        if (allOfType_) {
            if (*scope == Scope::ThisUser && SeesAllUsersHandler(Current->TypeKey)) {
                const LONG installed = InstallIconHandler(*Current, Scope::ThisUser);
                if (installed != ERROR_SUCCESS)
                    return ResultFromStatus(installed);
            }
            return ResultFromStatus(SetTypeIcon(*Current, *scope));
        }
        // What the installation of the handler would refuse (a DefaultIcon text it could
        // not back up whole) is asked before the entry is written, and an entry written
        // for an installation that then fails goes again: a failed change writes nothing.
        const bool installed = IsOwnIconHandlerIn(*scope, Current->TypeKey);
        if (!installed) {
            const LONG check = CheckIconHandlerInstall(*Current, *scope);
            if (check != ERROR_SUCCESS)
                return ResultFromStatus(check);
        }
        const std::optional<IconLocation> previousEntry = ReadFileIcon(path_, *scope);
        LONG status = WriteFileIcon(*Current, path_, *scope);
        if (status != ERROR_SUCCESS || installed)
            return ResultFromStatus(status);
        status = InstallIconHandler(*Current, *scope);
        if (status != ERROR_SUCCESS) {
            if (previousEntry)
                WriteFileIcon(*previousEntry, path_, *scope);
            else
                DeleteFileIcon(path_, *scope);
        }
        return ResultFromStatus(status);
    }

    if (kind == TargetKind::Drive) {
        if (!Current)
            return ChangeResult::Done;
        if (Current->Owner[0] == L'\0')
            Current->SetOwner(path_);
        const wchar_t* drive = Current->Owner;
        const Scope scope = ScopeOfChange(scopeChoice_, DriveEntryScope(drive) == Scope::ThisUser,
                                          [] { return MayUseDriveIcons(Scope::AllUsers); });
        changedScope_ = scope;
        // Asked before anything is written; what names no drive is refused as ever below.
        if (NamesDrive(drive) && !MayWriteDriveIcon(scope, drive))
            return ChangeResult::AccessDenied;
        return ResultFromStatus(WriteDriveIcon(*Current, scope));
    }

    return ChangeResult::Done;
}

ChangeResult IconTarget::RestoreDefault()
{
    switch (Kind()) {
    case TargetKind::Folder: {
        const std::optional<Scope> scope =
            ScopeOfRestore(scopeChoice_, [&](Scope s) { return HoldsFolderBackup(path_, s); });
        changedScope_ = scope;
        if (!scope)
            return ChangeResult::Done;
        const auto backup = ReadFolderBackupOf(*scope, path_);
        if (!backup)
            return ChangeResult::Done;
        // Refused before the folder is touched: the backup could not be taken out after.
        if (!MayWriteFolderBackup(*scope))
            return ChangeResult::AccessDenied;
        return ResultFromStatus(RestoreFolderBackup(path_, *scope));
    }
    case TargetKind::File:
        return allOfType_ ? RestoreTypeIcon() : RestoreFileEntry();
    case TargetKind::Drive: {
        if (!Current)
            return ChangeResult::Done;
        const wchar_t* drive = Current->Owner;
        if (!NamesDrive(drive))
            return ResultFromStatus(DeleteDriveIcon(*Current));
        // Only an entry this product set is taken back; another program's stays.
        const std::optional<Scope> scope =
            ScopeOfRestore(scopeChoice_, [drive](Scope s) { return HasOwnDriveEntryIn(s, drive); });
        changedScope_ = scope;
        if (!scope)
            return ChangeResult::Done;
        // Wine grants DELETE on a key whose rights allow reading only (checked); the
        // value's write access is what a standard user is refused on every system.
        if (!MayWriteDriveIcon(*scope, drive, KEY_SET_VALUE | DELETE))
            return ChangeResult::AccessDenied;
        return ResultFromStatus(DeleteDriveIcon(*Current, *scope));
    }
    case TargetKind::Unclassified:
        break;
    }
    return ChangeResult::Done;
}

ChangeResult IconTarget::RestoreTypeIcon()
{
    wchar_t extension[TextCapacity];
    if (!ExtensionOf(path_, extension))
        return ChangeResult::NoExtension;
    if (!Current || Current->Owner[0] == L'\0')
        return ChangeResult::Done;
    // This user's change first, unless a scope is chosen. Each scope's backup is looked
    // for in that scope's keys: this user's DefaultIcon that this extension's handler
    // created for a file's entry must not hide all users' change of the type.
    const wchar_t* owner = Current->Owner;
    const std::optional<Scope> found =
        ScopeOfRestore(scopeChoice_, [owner](Scope s) { return ReadTypeBackupIcon(owner, s).has_value(); });
    const Scope scope = found.value_or(scopeChoice_ == ScopeChoice::ThisUser ? Scope::ThisUser : Scope::AllUsers);
    changedScope_ = scope;
    if (!found)
        return ChangeResult::Done;
    const std::optional<IconLocation> backup = ReadTypeBackupIcon(owner, scope);
    if (!backup)
        return ChangeResult::Done;
    if (scope == Scope::AllUsers && !MayWriteClassKey(Scope::AllUsers, backup->TypeKey))
        return ChangeResult::AccessDenied;
    if (scope == Scope::ThisUser)
        return ResultFromStatus(RestoreUserTypeIcon(*backup, owner));
    LONG status = PutBackTypeIcon(*backup, scope);
    if (status == ERROR_SUCCESS)
        status = DeleteTypeBackupAndLeftover(*backup, scope);
    if (status == ERROR_SUCCESS && backup->IconPath[0] == L'\0')
        status = RemoveEmptyDefaultIcon(backup->TypeKey);
    return ResultFromStatus(status);
}

ChangeResult IconTarget::RestoreFileEntry()
{
    // Only while this extension serves the class: a handler that another program has
    // put in its place since keeps the table entry in use.
    if (!Current || !IsOwnIconHandler(*Current))
        return ChangeResult::Done;
    // The entry this user sees is the one taken out, unless a scope is chosen.
    Scope scope = Scope::AllUsers;
    if (scopeChoice_ == ScopeChoice::ThisUser ||
        (scopeChoice_ == ScopeChoice::Automatic && ReadFileIcon(path_, Scope::ThisUser)))
        scope = Scope::ThisUser;
    changedScope_ = scope;
    // Without an entry of this user's there is nothing of this user's to take out. This
    // user's handler may still serve the class: it was installed by a type change of this
    // user's over all users' handler, so that all users' entries keep showing, and goes
    // when that change is restored.
    if (scope == Scope::ThisUser && !ReadFileIcon(path_, Scope::ThisUser))
        return ChangeResult::Done;
    if (scope == Scope::AllUsers) {
        // Asked before anything goes: the entry's table, and the class when the handler
        // would go with the last entry.
        const bool entry = ReadFileIcon(path_, Scope::AllUsers).has_value();
        const bool lastEntry = IsOwnIconHandlerIn(Scope::AllUsers, Current->TypeKey) &&
                               CountFileIconsOfType(Current->TypeKey, Scope::AllUsers) <= (entry ? 1 : 0);
        // Nothing of all users' to take out (this user's handler may serve the class).
        if (!entry && !lastEntry)
            return ChangeResult::Done;
        if ((entry && !MayWrite(HKEY_LOCAL_MACHINE, ProductKey)) ||
            (lastEntry && !MayWriteClassKey(Scope::AllUsers, Current->TypeKey)))
            return ChangeResult::AccessDenied;
    }
    const LONG status = DeleteFileIcon(path_, scope);
    if (status != ERROR_SUCCESS)
        return ResultFromStatus(status);
    if (CountFileIconsOfType(Current->TypeKey, scope) != 0)
        return ChangeResult::Done;
    return ResultFromStatus(UninstallIconHandler(*Current, scope));
}

RestoreOutcome IconTarget::WhatRestoreWouldDo() const
{
    if (!Current)
        return RestoreOutcome::NothingToRestore;
    switch (kind_) {
    case TargetKind::Folder:
        return HasBackup() ? RestoreOutcome::Restores : RestoreOutcome::NothingToRestore;
    case TargetKind::File:
        if (allOfType_)
            return HasBackup() ? RestoreOutcome::Restores : RestoreOutcome::NothingToRestore;
        // The entry of the scope chosen, or the one this user sees.
        if (!(scopeChoice_ == ScopeChoice::Automatic ? ReadFileIcon(path_)
                                                     : ReadFileIcon(path_, scopeChoice_ == ScopeChoice::ThisUser
                                                                               ? Scope::ThisUser
                                                                               : Scope::AllUsers)))
            return RestoreOutcome::NothingToRestore;
        return IsOwnIconHandler(*Current) ? RestoreOutcome::Restores : RestoreOutcome::HandlerReplaced;
    case TargetKind::Drive: {
        const wchar_t* drive = path_;
        return ScopeOfRestore(scopeChoice_, [drive](Scope s) { return HasOwnDriveEntryIn(s, drive); })
                   ? RestoreOutcome::Restores
                   : RestoreOutcome::NothingToRestore;
    }
    case TargetKind::Unclassified:
        break;
    }
    return RestoreOutcome::NothingToRestore;
}

bool IconTarget::SetCurrentIconPath(const wchar_t* path)
{
    if (!Current)
        Current.emplace();
    return Current->SetIconPath(path);
}

void IconTarget::SetCurrentIndex(std::int32_t index)
{
    if (!Current)
        Current.emplace();
    Current->SetIndex(index);
}

} // namespace orvane
