// A folder's icon: its Desktop.ini, with a backup of how the folder stood before the first
// change in the scope of the change.
#include "KindOperations.h"

#include <cwchar>

#include "FolderIcons.h"
#include "MadeIconSweep.h"
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

// The folder's backup before a change in `scope`, taken where the scope has none, and kept
// where it has one and the folder still shows what this product set last: the backup
// holds how the folder stood before the first change. Where the icon was changed by other
// means since, that is how the folder stands now. Its backups form one chain, this user's
// change (when there is one) last: a change for all users made over this user's change
// ends that chain in all users' backup (the earliest there is), and this user's goes.
// `fileKept`: whether the bytes kept from before still hold for a restore byte for byte.
LONG KeepOrTakeFolderBackup(const wchar_t* folder, Scope scope, bool& fileKept)
{
    fileKept = true;
    const bool user = HoldsFolderBackup(folder, Scope::ThisUser);
    const bool all = HoldsFolderBackup(folder, Scope::AllUsers);
    const Scope last = user ? Scope::ThisUser : Scope::AllUsers;
    const bool own = (user || all) && ShowsOwnChange(folder, last);
    if (scope == Scope::AllUsers && user) {
        LONG status = ERROR_SUCCESS;
        if (!own)
            status = TakeFolderBackup(folder, Scope::AllUsers);
        else if (!all)
            status = CopyFolderBackup(folder, Scope::ThisUser, Scope::AllUsers);
        if (status != ERROR_SUCCESS)
            return status;
        if (own)
            fileKept = FolderStillAsWritten(folder, Scope::ThisUser) && (!all || FolderChainIsWhole(folder));
        return DeleteFolderBackup(folder, Scope::ThisUser);
    }
    if (own && HoldsFolderBackup(folder, scope)) {
        fileKept = FolderStillAsWritten(folder, scope);
        return ERROR_SUCCESS;
    }
    return TakeFolderBackup(folder, scope);
}

// Restores a folder's change of one scope. All users' change under this user's one is
// taken out of the chain only: the folder keeps showing this user's icon, whose backup
// now holds what all users' change had replaced.
LONG RestoreFolderBackup(const wchar_t* folder, Scope scope)
{
    if (scope == Scope::AllUsers && HoldsFolderBackup(folder, Scope::ThisUser)) {
        const LONG status = MoveFirstFolderState(folder, Scope::AllUsers, Scope::ThisUser);
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

ChangeResult SaveBackupIn(const IconTarget& target, const ScopeDecision& scope, bool& fileKept)
{
    // A scope whose backup place refuses takes no change, even one without a backup.
    if (scope.Refused)
        return ChangeResult::AccessDenied;
    return ResultFromStatus(KeepOrTakeFolderBackup(target.Path(), scope.Where, fileKept));
}

ChangeResult SaveBackup(const IconTarget& target)
{
    bool fileKept = true;
    return SaveBackupIn(target, FolderChangeScope(target), fileKept);
}

ChangeResult ApplyLocation(IconTarget& target)
{
    // Decided once: asking the registry for the scope's facts is a good part of a change.
    const ScopeDecision scope = FolderChangeScope(target);
    target.SetChangedScope(scope.Where);
    bool fileKept = true;
    if (!target.Current)
        return SaveBackupIn(target, scope, fileKept);
    IconLocation location = *target.Current;
    if (location.TargetName[0] == L'\0')
        location.SetTargetName(target.Path());
    wchar_t desktopIni[TextCapacity];
    if (!FormatDesktopIniPath(location.TargetName, desktopIni) || wcsnlen(location.IconPath, TextCapacity) > FolderIconPathLimit)
        return ChangeResult::PathTooLong;
    // A Desktop.ini that is a link or a folder is refused before the backup is touched.
    const LONG usable = CheckFolderDesktopIni(location.TargetName);
    if (usable != ERROR_SUCCESS)
        return ResultFromStatus(usable);
    // The backups of both scopes as they are: a change whose icon cannot be written
    // after its backup was must leave the backup that names the icon from before.
    const FolderBackupSnapshot before(target.Path());
    if (!before.Taken())
        return ChangeResult::WriteFailed;
    const ChangeResult backup = SaveBackupIn(target, scope, fileKept);
    if (backup != ChangeResult::Done) {
        before.PutBack();
        return backup;
    }
    target.Current = location;
    bool byFolder = false;
    // The Desktop.ini was found to be the folder's own file above, moments ago.
    const LONG status = WriteFolderIcon(location, &byFolder, true);
    if (status != ERROR_SUCCESS) {
        target.SetRefusal(Refusal{byFolder ? RefusingPlace::Folder : RefusingPlace::DesktopIni, status});
        before.PutBack();
        return ResultFromStatus(status);
    }
    // A backup without the record of what was written still restores, its entries alone.
    RecordFolderChange(target.Path(), scope.Where, location, fileKept);
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
