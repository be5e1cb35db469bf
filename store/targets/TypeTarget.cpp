// All files of a type: the icon in the class's DefaultIcon (or, while this extension is
// the class's icon handler, in "HandlerIconInfo" behind its "%1"), with the icon from
// before the first change kept in "BAKIconInfo" in the scope of the change.
#include "ClassIconHandler.h"
#include "KindOperations.h"

#include <iterator>

#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "HandlerPlaceholder.h"
#include "IconHandlerInstall.h"
#include "IconHandlerUninstall.h"
#include "Registry.h"
#include "RegistryNames.h"

namespace orvane {

namespace {

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
    if (OpenClassSubkey(Scope::ThisUser, typeKey, DefaultIconKey, KEY_QUERY_VALUE, defaultIcon) != ERROR_SUCCESS)
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
    if (!FormatKeyPath(path, std::size(path), L"%ls\\%ls", typeKey, DefaultIconKey))
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
    if (OpenClassSubkey(Scope::ThisUser, changed.TypeKey, DefaultIconKey, KEY_QUERY_VALUE, defaultIcon) ==
            ERROR_SUCCESS &&
        ReadTextValue(defaultIcon.get(), nullptr, text, std::size(text))) {
        std::optional<IconLocation> own = ParseIconLocation(text, false);
        // While this extension is this user's handler of the class, this user's own icon
        // is the one behind its "%1" in this user's keys (an empty DefaultIconBAK: none).
        if (own && own->SetTypeKey(changed.TypeKey) && IsOwnHandlerPlaceholder(*own, Scope::ThisUser))
            own = ReadTypeIconBehindHandler(changed.TypeKey, Scope::ThisUser);
        if (own && own->IconPath[0] != L'\0' && own->SetTypeKey(changed.TypeKey))
            return WriteTypeBackupIcon(*own, Scope::ThisUser);
    }
    return WriteEmptyTypeBackup(changed.TypeKey, Scope::ThisUser);
}

LONG WriteTypeBackup(const IconLocation& icon, Scope scope)
{
    return scope == Scope::ThisUser ? WriteUserTypeBackup(icon) : WriteTypeBackupIcon(icon, scope);
}

// Takes a type's backup out once its icon is back. A "HandlerIconInfo" that an
// installation of this extension left beside it (remove-all hands the class back with the
// value in place) was the change's too: while this extension is not the class's handler it
// means nothing, and it goes with the change.
LONG DeleteTypeBackupAndLeftover(const IconLocation& backup, Scope scope)
{
    const LONG status = DeleteTypeBackupIcon(backup, scope);
    if (status != ERROR_SUCCESS || IsOwnIconHandler(backup.TypeKey, scope))
        return status;
    RegKey defaultIcon;
    if (OpenClassSubkey(scope, backup.TypeKey, DefaultIconKey, KEY_SET_VALUE, defaultIcon) != ERROR_SUCCESS)
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
    const bool handler = IsOwnIconHandler(backup.TypeKey, scope);
    RegKey defaultIcon;
    LONG status = OpenClassSubkey(scope, backup.TypeKey, DefaultIconKey, KEY_SET_VALUE, defaultIcon);
    if (status == ERROR_SUCCESS)
        status = DeletionStatus(RegDeleteValueW(defaultIcon.get(), handler ? HandlerIconValue : nullptr));
    if (status == ERROR_SUCCESS && handler) {
        RegKey classKey;
        status = OpenClassKey(scope, backup.TypeKey, KEY_ALL_ACCESS, classKey);
        RegKey iconBackup;
        if (status == ERROR_SUCCESS)
            status = iconBackup.Create(classKey.get(), DefaultIconBackupKey);
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
    const LONG status = OpenClassKey(Scope::AllUsers, typeKey, KEY_READ, classKey);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    return DeleteKeyIfEmpty(classKey.get(), DefaultIconKey);
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
    if (IsOwnIconHandler(backup.TypeKey, Scope::ThisUser) &&
        CountFileIconsOfType(backup.TypeKey, Scope::ThisUser, 1) == 0) {
        IconLocation installed = backup;
        if (!installed.SetTargetName(extension))
            return ERROR_FILENAME_EXCED_RANGE;
        return UninstallIconHandler(installed, Scope::ThisUser);
    }
    return RemoveEmptyUserClassKeys(backup.TypeKey, extension);
}

// Registers the type in the scope (so that the backup is found through the extension
// like the icon) and backs up that the scope's keys held no icon of it.
ChangeResult WriteNoTypeBackup(const IconLocation& changed, Scope scope)
{
    if (changed.TypeKey[0] == L'\0')
        return ChangeResult::Done;
    RegKey classKey;
    LONG status = RegisterFileType(changed, classKey, scope);
    classKey.reset();
    if (status == ERROR_SUCCESS)
        status = scope == Scope::ThisUser ? WriteUserTypeBackup(changed) : WriteEmptyTypeBackup(changed.TypeKey, scope);
    return ResultFromStatus(status);
}

// The type's backup, written once into the scope of the change and keeping the icon from
// before the first change there. `changed` names the class the change writes (TypeKey)
// and the extension (TargetName).
ChangeResult SaveTypeBackup(const wchar_t* path, const IconLocation& changed, const std::optional<IconLocation>& original,
                            Scope scope)
{
    if (changed.TargetName[0] != L'\0' && ReadTypeBackupIcon(changed.TargetName, scope))
        return ChangeResult::Done;
    wchar_t extension[TextCapacity];
    // All users' change chosen while this user's DefaultIcon hides all users' one in the
    // class the change writes (the end of the extension's CurVer chain): the dialog showed
    // this user's icon, which restoring must not write into all users' keys.
    wchar_t className[TextCapacity];
    if (scope == Scope::AllUsers &&
        (changed.TypeKey[0] != L'\0' ? CopyText(className, std::size(className), changed.TypeKey)
                                      : ExtensionOf(path, extension) && ReadIconClass(extension, className)) &&
        UserClassKeyExists(className, DefaultIconKey)) {
        std::optional<IconLocation> shared = ReadAllUsersTypeIcon(className);
        if (!shared || shared->IconPath[0] == L'\0')
            return WriteNoTypeBackup(changed, scope);
        return ResultFromStatus(WriteTypeBackupIcon(*shared, scope));
    }
    // A file with an entry of its own started the dialog from that entry, which is not
    // the type's icon: the type's own is backed up instead.
    if (ReadFileIcon(path) && ExtensionOf(path, extension)) {
        const std::optional<IconLocation> typeIcon = ReadTypeIconOfFiles(extension);
        if (!typeIcon)
            return WriteNoTypeBackup(changed, scope);
        return ResultFromStatus(WriteTypeBackup(*typeIcon, scope));
    }
    if (!original)
        return WriteNoTypeBackup(changed, scope);
    return ResultFromStatus(WriteTypeBackup(*original, scope));
}

// The class and scope of a change of the type, and its backup written: everything a
// change does before the icon itself is written, refused whole before anything is
// written when it cannot be made.
ChangeResult PrepareTypeChange(IconTarget& target, IconLocation& location, ScopeDecision& scope)
{
    wchar_t extension[TextCapacity];
    if (!ExtensionOf(target.Path(), extension))
        return ChangeResult::NoExtension;
    const ChangeResult fits = LocationOfFileChange(target, extension, location);
    if (fits != ChangeResult::Done)
        return fits;
    // The whole change, its backup included, goes to one scope.
    scope = FileChangeScope(target, location);
    target.SetChangedScope(scope.Where);
    if (scope.Refused)
        return ChangeResult::AccessDenied;
    return SaveTypeBackup(target.Path(), location, target.Original(), scope.Where);
}

RestoreOutcome WhatRestoreWouldDo(const IconTarget& target)
{
    const std::optional<IconLocation>& current = target.Current;
    return current && current->TargetName[0] != L'\0' && ReadTypeBackupIcon(current->TargetName)
               ? RestoreOutcome::Restores
               : RestoreOutcome::NothingToRestore;
}

ChangeResult SaveBackup(const IconTarget& target)
{
    IconTarget preparing = target;
    IconLocation location;
    ScopeDecision scope;
    return PrepareTypeChange(preparing, location, scope);
}

ChangeResult Apply(IconTarget& target)
{
    IconLocation location;
    ScopeDecision scope;
    const ChangeResult prepared = PrepareTypeChange(target, location, scope);
    if (prepared != ChangeResult::Done)
        return prepared;
    target.Current = location;
    if (scope.Where == Scope::ThisUser && SeesAllUsersHandler(location.TypeKey)) {
        const LONG installed = InstallIconHandler(location, Scope::ThisUser);
        if (installed != ERROR_SUCCESS)
            return ResultFromStatus(installed);
    }
    return ResultFromStatus(SetTypeIcon(location, scope.Where));
}

ChangeResult Restore(IconTarget& target)
{
    wchar_t extension[TextCapacity];
    if (!ExtensionOf(target.Path(), extension))
        return ChangeResult::NoExtension;
    if (!target.Current || target.Current->TargetName[0] == L'\0')
        return ChangeResult::Done;
    // This user's change first, unless a scope is chosen. Each scope's backup is looked
    // for in that scope's keys: this user's DefaultIcon that this extension's handler
    // created for a file's entry must not hide all users' change of the type.
    const wchar_t* owner = target.Current->TargetName;
    const std::optional<Scope> found =
        DecideRestoreScope(target.GetScopeChoice(), [owner](Scope s) { return ReadTypeBackupIcon(owner, s).has_value(); });
    const Scope scope = found.value_or(ChosenScope(target.GetScopeChoice()).value_or(Scope::AllUsers));
    target.SetChangedScope(scope);
    const std::optional<IconLocation> backup = found ? ReadTypeBackupIcon(owner, scope) : std::nullopt;
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

} // namespace

const KindOperations TypeOperations = {ReadFileTarget, WhatRestoreWouldDo, SaveBackup, Apply, Restore, FileScopeOfChange};

} // namespace orvane
