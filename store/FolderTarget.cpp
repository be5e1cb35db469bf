// A folder's icon: its Desktop.ini, with a backup of the icon from before the first
// change in the scope of the change.
#include "TargetKinds.h"

#include <cwchar>

#include "FolderIcons.h"
#include "FolderPicture.h"
#include "ScopeRule.h"

namespace orvane {

namespace {

bool HoldsFolderBackup(const wchar_t* folder, Scope scope) { return ReadFolderBackup(folder, scope).has_value(); }

// One folder has one Desktop.ini for both scopes: a change for all users over this
// user's one would be made over it, so Automatic stays with this user while this user's
// backup says the icon is this user's.
ScopeDecision FolderChangeScope(const IconTarget& target)
{
    ChangeFacts facts;
    facts.SetForThisUser = HoldsFolderBackup(target.Path(), Scope::ThisUser);
    facts.AllUsersPreferred = MayUseFolderBackups(Scope::AllUsers);
    facts.AllUsersAccepts = MayWriteFolderBackup(Scope::AllUsers);
    facts.ThisUserAccepts = MayWriteFolderBackup(Scope::ThisUser);
    return DecideChangeScope(target.GetScopeChoice(), facts);
}

std::optional<Scope> FolderRestoreScope(const IconTarget& target)
{
    const wchar_t* folder = target.Path();
    return DecideRestoreScope(target.GetScopeChoice(), [folder](Scope s) { return HoldsFolderBackup(folder, s); });
}

// The folder's backup, taken in the scope of a change. Its backups form one chain, this
// user's change (when there is one) last: a change for all users made over this user's
// change takes this user's backup over (the icon from before this user's change) and
// this user's backup goes.
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

void Read(IconTarget& target)
{
    target.Current = ReadFolderIcon(target.Path());
    // The icon itself is in the folder for both scopes; it is set for the scope whose
    // backup says that this product changed it.
    Scope backupScope = Scope::AllUsers;
    target.SetCurrentScope(std::nullopt);
    if (ReadFolderBackup(target.Path(), &backupScope))
        target.SetCurrentScope(backupScope);
}

RestoreOutcome WhatRestoreWouldDo(const IconTarget& target)
{
    return FolderRestoreScope(target) ? RestoreOutcome::Restores : RestoreOutcome::NothingToRestore;
}

ChangeResult SaveBackupIn(const IconTarget& target, const ScopeDecision& scope)
{
    // A scope whose backup place refuses takes no change, even one without a backup.
    if (scope.Refused)
        return ChangeResult::AccessDenied;
    // Replaced on every change, so it holds the icon the folder had when the dialog
    // opened.
    if (!target.Original())
        return ChangeResult::Done;
    return ResultFromStatus(SaveFolderBackup(*target.Original(), target.Path(), scope.Where));
}

ChangeResult SaveBackup(const IconTarget& target) { return SaveBackupIn(target, FolderChangeScope(target)); }

ChangeResult ApplyLocation(IconTarget& target)
{
    // Decided once: asking the registry for the scope's facts is a good part of a change.
    const ScopeDecision scope = FolderChangeScope(target);
    target.SetChangedScope(scope.Where);
    if (!target.Current)
        return SaveBackupIn(target, scope);
    IconLocation location = *target.Current;
    if (location.TargetName[0] == L'\0')
        location.SetTargetName(target.Path());
    wchar_t profile[TextCapacity];
    if (!FormatProfilePath(location.TargetName, profile) || wcsnlen(location.IconPath, TextCapacity) > FolderIconPathLimit)
        return ChangeResult::PathTooLong;
    // A Desktop.ini that is a link or a folder is refused before the backup is touched.
    const LONG usable = CheckFolderProfile(location.TargetName);
    if (usable != ERROR_SUCCESS)
        return ResultFromStatus(usable);
    // The backups of both scopes as they are: a change whose icon cannot be written
    // after its backup was must leave the backup that names the icon from before.
    const FolderBackupSnapshot before(target.Path());
    if (!before.Taken())
        return ChangeResult::WriteFailed;
    const ChangeResult backup = SaveBackupIn(target, scope);
    if (backup != ChangeResult::Done) {
        before.PutBack();
        return backup;
    }
    target.Current = location;
    bool byFolder = false;
    const LONG status = WriteFolderIcon(location, &byFolder);
    if (status != ERROR_SUCCESS) {
        target.SetRefusal(Refusal{byFolder ? RefusingPlace::Folder : RefusingPlace::DesktopIni, status});
        before.PutBack();
    }
    return ResultFromStatus(status);
}

// Whatever the change did, an icon made for it that nothing names (the change failed,
// or it replaced an earlier made icon) goes.
ChangeResult Apply(IconTarget& target)
{
    const ChangeResult result = ApplyLocation(target);
    DeleteUnnamedMadeIcons(target.Path());
    return result;
}

ChangeResult Restore(IconTarget& target)
{
    const std::optional<Scope> scope = FolderRestoreScope(target);
    target.SetChangedScope(scope);
    if (!scope || !ReadFolderBackup(target.Path(), *scope))
        return ChangeResult::Done;
    // Refused before the folder is touched: the backup could not be taken out after.
    if (!MayWriteFolderBackup(*scope))
        return ChangeResult::AccessDenied;
    const LONG status = RestoreFolderBackup(target.Path(), *scope);
    if (status == ERROR_SUCCESS)
        DeleteUnnamedMadeIcons(target.Path());
    return ResultFromStatus(status);
}

ChangeResult ScopeOfChange(const IconTarget& target, ScopeDecision& decision)
{
    decision = FolderChangeScope(target);
    return ChangeResult::Done;
}

} // namespace

const KindOperations FolderOperations = {Read, WhatRestoreWouldDo, SaveBackup, Apply, Restore, ScopeOfChange};

} // namespace orvane
