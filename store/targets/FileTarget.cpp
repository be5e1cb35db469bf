// One file's icon: its entry in the per-file table, answered by this extension as the
// class's icon handler.
#include "KindOperations.h"

#include <iterator>
#include <string_view>

#include "ClassIconHandler.h"
#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "HandlerPlaceholder.h"
#include "IconHandlerInstall.h"
#include "IconHandlerUninstall.h"
#include "PathText.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "ScopeRule.h"

namespace orvane {

namespace {

RestoreOutcome WhatRestoreWouldDo(const IconTarget& target)
{
    if (!target.Current)
        return RestoreOutcome::NothingToRestore;
    // The entry of the scope chosen, or the one this user sees.
    const std::optional<Scope> chosen = ChosenScope(target.GetScopeChoice());
    if (!(chosen ? ReadFileIcon(target.Path(), *chosen) : ReadFileIcon(target.Path())))
        return RestoreOutcome::NothingToRestore;
    return IsOwnIconHandler(*target.Current) ? RestoreOutcome::Restores : RestoreOutcome::HandlerReplaced;
}

ChangeResult SaveBackup(const IconTarget&)
{
    // A file's entry needs none: restoring takes the entry out, and the file shows its
    // type's icon again.
    return ChangeResult::Done;
}

// Writes the file's entry and, unless this extension already serves the class in the
// scope, installs it as the class's icon handler. What the installation would refuse (a
// DefaultIcon text it could not back up whole) is asked before the entry is written, and
// an entry written for an installation that then fails goes again: a failed change
// writes nothing.
LONG WriteEntryAndHandler(const IconLocation& location, const wchar_t* path, Scope scope)
{
    const bool installed = IsOwnIconHandler(location.TypeKey, scope);
    if (!installed) {
        const LONG check = CheckIconHandlerInstall(location, scope);
        if (check != ERROR_SUCCESS)
            return check;
    }
    const std::optional<IconLocation> previousEntry = ReadFileIcon(path, scope);
    LONG status = WriteFileIcon(location, path, scope);
    if (status != ERROR_SUCCESS || installed)
        return status;
    status = InstallIconHandler(location, scope);
    if (status != ERROR_SUCCESS) {
        if (previousEntry)
            WriteFileIcon(*previousEntry, path, scope);
        else
            DeleteFileIcon(path, scope);
    }
    return status;
}

ChangeResult Apply(IconTarget& target)
{
    wchar_t extension[TextCapacity];
    IconLocation location;
    const ChangeResult fits = PrepareFileChange(target, extension, location);
    if (fits != ChangeResult::Done)
        return fits;
    // The entry and the handler's installation go to one scope decided before anything
    // is written.
    const ScopeDecision scope = FileChangeScope(target, location);
    target.SetChangedScope(scope.Where);
    if (scope.Refused)
        return ChangeResult::AccessDenied;
    target.Current = location;
    return ResultFromStatus(WriteEntryAndHandler(location, target.Path(), scope.Where));
}

// What ends the restore of all users' entry before anything goes: nothing of all users'
// to take out (Done), or a refusal of its table or, when the handler would go with the
// last entry, of the class. None: the entry may go.
std::optional<ChangeResult> AllUsersEntryCheck(const IconTarget& target)
{
    const bool entry = ReadFileIcon(target.Path(), Scope::AllUsers).has_value();
    const wchar_t* typeKey = target.Current->TypeKey;
    const bool lastEntry = IsOwnIconHandler(typeKey, Scope::AllUsers) &&
                           CountFileIconsOfType(typeKey, Scope::AllUsers, 2) <= (entry ? 1 : 0);
    // Nothing of all users' to take out (this user's handler may serve the class).
    if (!entry && !lastEntry)
        return ChangeResult::Done;
    if ((entry && !MayWrite(HKEY_LOCAL_MACHINE, ProductKey)) ||
        (lastEntry && !MayWriteClassKey(Scope::AllUsers, typeKey)))
        return ChangeResult::AccessDenied;
    return std::nullopt;
}

ChangeResult Restore(IconTarget& target)
{
    // Only while this extension serves the class: a handler that another program has
    // put in its place since keeps the table entry in use.
    if (!target.Current || !IsOwnIconHandler(*target.Current))
        return ChangeResult::Done;
    const wchar_t* path = target.Path();
    // The entry this user sees is the one taken out, unless a scope is chosen.
    Scope scope = Scope::AllUsers;
    if (const std::optional<Scope> chosen = ChosenScope(target.GetScopeChoice()))
        scope = *chosen;
    else if (ReadFileIcon(path, Scope::ThisUser))
        scope = Scope::ThisUser;
    target.SetChangedScope(scope);
    // Without an entry of this user's there is nothing of this user's to take out. This
    // user's handler may still serve the class: it was installed by a type change of this
    // user's over all users' handler, so that all users' entries keep showing, and goes
    // when that change is restored.
    if (scope == Scope::ThisUser && !ReadFileIcon(path, Scope::ThisUser))
        return ChangeResult::Done;
    if (scope == Scope::AllUsers) {
        if (const std::optional<ChangeResult> refused = AllUsersEntryCheck(target))
            return *refused;
    }
    const LONG status = DeleteFileIcon(path, scope);
    if (status != ERROR_SUCCESS)
        return ResultFromStatus(status);
    if (CountFileIconsOfType(target.Current->TypeKey, scope, 1) != 0)
        return ChangeResult::Done;
    return ResultFromStatus(UninstallIconHandler(*target.Current, scope));
}

} // namespace

const KindOperations FileOperations = {ReadFileTarget, WhatRestoreWouldDo, SaveBackup, Apply, Restore, FileScopeOfChange};

} // namespace orvane
