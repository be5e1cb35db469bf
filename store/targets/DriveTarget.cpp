// A drive's icon: a letter's DefaultIcon key below DriveIcons (all users) or this user's
// Drives key, holding a backup of what another program had set there.
#include "KindOperations.h"

#include "DriveIcons.h"
#include "ScopeRule.h"

namespace orvane {

namespace {

std::optional<Scope> DriveRestoreScope(const IconTarget& target, const wchar_t* drive)
{
    // Only an entry this product set is taken back; another program's stays.
    return DecideRestoreScope(target.GetScopeChoice(), [drive](Scope s) { return HasOwnDriveEntry(drive, s); });
}

void Read(IconTarget& target)
{
    std::optional<Scope> found;
    target.Current = ReadDriveIcon(target.Path(), &found);
    target.SetCurrentScope(found);
}

RestoreOutcome WhatRestoreWouldDo(const IconTarget& target)
{
    return DriveRestoreScope(target, target.Path()) ? RestoreOutcome::Restores : RestoreOutcome::NothingToRestore;
}

ChangeResult SaveBackup(const IconTarget&)
{
    // The icon another program had set is kept beside the change when it is written.
    return ChangeResult::Done;
}

ScopeDecision DriveChangeScope(const IconTarget& target, const wchar_t* drive)
{
    // A change for all users would stay hidden behind this user's entry.
    ChangeFacts facts;
    facts.SetForThisUser = DriveEntryScope(drive) == Scope::ThisUser;
    facts.AllUsersPreferred = MayUseDriveIcons(Scope::AllUsers);
    // Asked before anything is written; what names no drive is refused as ever below.
    facts.AllUsersAccepts = !StartsWithDriveLetter(drive) || MayWriteDriveIcon(Scope::AllUsers, drive);
    facts.ThisUserAccepts = !StartsWithDriveLetter(drive) || MayWriteDriveIcon(Scope::ThisUser, drive);
    return DecideChangeScope(target.GetScopeChoice(), facts);
}

// The drive a change writes: the one Current names, else the target's own.
const wchar_t* DriveOfChange(const IconTarget& target)
{
    return target.Current && target.Current->TargetName[0] != L'\0' ? target.Current->TargetName : target.Path();
}

ChangeResult ScopeOfChange(const IconTarget& target, ScopeDecision& decision)
{
    decision = DriveChangeScope(target, DriveOfChange(target));
    return ChangeResult::Done;
}

ChangeResult Apply(IconTarget& target)
{
    if (!target.Current)
        return ChangeResult::Done;
    if (target.Current->TargetName[0] == L'\0')
        target.Current->SetTargetName(target.Path());
    const wchar_t* drive = target.Current->TargetName;
    const ScopeDecision scope = DriveChangeScope(target, drive);
    target.SetChangedScope(scope.Where);
    if (scope.Refused)
        return ChangeResult::AccessDenied;
    return ResultFromStatus(WriteDriveIcon(*target.Current, scope.Where));
}

ChangeResult Restore(IconTarget& target)
{
    if (!target.Current)
        return ChangeResult::Done;
    const wchar_t* drive = target.Current->TargetName;
    if (!StartsWithDriveLetter(drive))
        return ResultFromStatus(DeleteDriveIcon(*target.Current));
    const std::optional<Scope> scope = DriveRestoreScope(target, drive);
    target.SetChangedScope(scope);
    if (!scope)
        return ChangeResult::Done;
    // Wine grants DELETE on a key whose rights allow reading only (checked); the
    // value's write access is what a standard user is refused on every system.
    if (!MayWriteDriveIcon(*scope, drive, KEY_SET_VALUE | DELETE))
        return ChangeResult::AccessDenied;
    return ResultFromStatus(DeleteDriveIcon(*target.Current, *scope));
}

} // namespace

const KindOperations DriveOperations = {Read, WhatRestoreWouldDo, SaveBackup, Apply, Restore, ScopeOfChange};

} // namespace orvane
