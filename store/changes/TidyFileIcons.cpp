#include "TidyFileIcons.h"

#include <optional>

#include "ClassIconHandler.h"
#include "FileIconFollow.h"
#include "FileIconTable.h"
#include "IconHandlerUninstall.h"
#include "IconLocation.h"
#include "MadeIconSweep.h"

namespace orvane {

namespace {

// Where an orphan's file is now, when it can take the entry there (same extension, and
// no entry of the scope's own at that path), or in a Recycle Bin.
TidiedEntry Tidied(const OrphanEntry& orphan, Scope scope, const LocalVolumes& volumes)
{
    TidiedEntry tidied;
    tidied.Where = scope;
    tidied.Path = orphan.Path;
    if (!orphan.Identity)
        return tidied;
    std::optional<std::wstring> found = volumes.Find(*orphan.Identity);
    if (!found || !SameExtension(found->c_str(), orphan.Path.c_str()))
        return tidied;
    if (IsInRecycleBin(found->c_str()))
        tidied.InRecycleBin = true;
    else if (!ReadFileIconText(found->c_str(), scope))
        tidied.NewPath = std::move(*found);
    return tidied;
}

// Takes the entry out as a restore does: the handler goes from its type with the scope's
// last entry of that type.
LONG TakeOut(const OrphanEntry& orphan, Scope scope, bool& handlerRemoved)
{
    const LONG status = DeleteFileIcon(orphan.Path.c_str(), scope);
    if (status != ERROR_SUCCESS)
        return status;
    const std::optional<IconLocation> entry = ParseIconLocation(orphan.Text.c_str(), true);
    if (!entry || entry->TypeKey[0] == L'\0' || !IsOwnIconHandler(entry->TypeKey, scope) ||
        CountFileIconsOfType(entry->TypeKey, scope, 1) != 0)
        return ERROR_SUCCESS;
    const LONG uninstalled = UninstallIconHandler(*entry, scope);
    handlerRemoved = handlerRemoved || uninstalled == ERROR_SUCCESS;
    return uninstalled;
}

} // namespace

TidyReport TidyFileIcons(bool dryRun)
{
    TidyReport report;
    bool removed = false;
    const LocalVolumes volumes;
    for (Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        std::vector<OrphanEntry> orphans;
        if (!ReadOrphanEntries(scope, OrphansOf::All, orphans) && report.Status == ERROR_SUCCESS)
            report.Status = ERROR_READ_FAULT;
        for (const OrphanEntry& orphan : orphans) {
            TidiedEntry tidied = Tidied(orphan, scope, volumes);
            if (!dryRun && !tidied.InRecycleBin) {
                if (!tidied.NewPath.empty()) {
                    tidied.Status = MoveFileIcon(orphan.Path.c_str(), tidied.NewPath.c_str(), scope);
                } else {
                    tidied.Status = TakeOut(orphan, scope, report.HandlerRemoved);
                    removed = true;
                }
                if (tidied.Status != ERROR_SUCCESS && report.Status == ERROR_SUCCESS)
                    report.Status = tidied.Status;
            }
            report.Entries.push_back(std::move(tidied));
        }
    }
    // A made icon only an entry taken out named goes with it.
    if (removed)
        DeleteUnnamedStoredMadeIcons();
    return report;
}

} // namespace orvane
