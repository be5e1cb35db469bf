// Every icon Orvane set, taken to another computer: read out of the stores into a
// settings file (SettingsFile.h), and given again, target by target, as ordinary changes
// (IconTarget::ApplyIcon, ApplyMadeBytes), each with this computer's own backup, so that
// restoring there puts back what that computer had. Only Orvane's own settings go out;
// the backups of what a computer had stay on it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "IconTarget.h"
#include "Scope.h"
#include "SettingsFile.h"

namespace orvane {

class ShellNotifier;

// The settings this user sees that Orvane set and still holds, in both scopes: each
// folder whose Desktop.ini still shows the change a backup of Orvane's stands for, each
// file of the per-file tables that still exists, each type whose class keeps Orvane's
// backup in the scope whose icon this user sees, each drive whose entry is Orvane's. A
// made icon goes with its bytes; any other icon by its source's path as written. A folder
// or a file under this user's profile is named "%USERPROFILE%\...", so that an import by
// another user finds it in that user's profile. Nothing
// here throws; false when memory ran out (the document then holds what was read). With
// `withSources` each source outside the Windows folder (which every computer has) goes
// with its icon's bytes too, every size of it, and is imported as a made icon: the
// settings then need none of the files they came from.
bool CollectSettings(SettingsDocument& document, bool withSources = false) noexcept;

// Writes the document as a settings file (through a temporary file beside it): the
// system's reason when it cannot be written.
LONG WriteSettingsFile(const wchar_t* path, const SettingsDocument& document) noexcept;
// Reads a settings file: a file larger than SettingsFileLimit is refused before a byte of
// it is read. False with the reason in words (after "the file ...") otherwise refused.
bool ReadSettingsFile(const wchar_t* path, SettingsDocument& document, std::wstring& reason) noexcept;

// --map FROM=TO: a path that starts with FROM (a whole component: "C:\Users\ann" is not
// a start of "C:\Users\anna") starts with TO instead.
struct PathMap {
    std::wstring From;
    std::wstring To;
};

// Where a path of the file points on this computer: environment references
// (%USERPROFILE%...) expanded for this user, then the longest FROM that starts it
// replaced. None when the result would not fit into 259 characters.
std::optional<std::wstring> MapSettingPath(const std::wstring& path, const std::vector<PathMap>& maps);

struct ImportOptions {
    std::vector<PathMap> Maps;
    // Automatic: each setting in the scope the usual rule gives (all users' where the
    // rights allow); otherwise the scope named.
    ScopeChoice Scope = ScopeChoice::Automatic;
    // Only says what would change.
    bool DryRun = false;
};

enum class ImportOutcome {
    Changed,     // given its icon, with this computer's backup
    WouldChange, // a dry run's: would be given its icon
    Unchanged,   // shows that icon already; nothing written
    Skipped,     // its target or its source does not exist here
    Refused,     // the setting may not be imported (SettingProblem, or its mapped path)
    Failed,      // the change was refused by the store (Result, LastRefusal)
};

struct ImportedSetting {
    SettingKind Kind = SettingKind::Folder;
    // The target as this computer names it (after --map), or as the file gave it.
    std::wstring Target;
    ImportOutcome Outcome = ImportOutcome::Skipped;
    // Why a setting was skipped or refused.
    std::wstring Reason;
    // A failed change's result, the scope it went to and what refused it.
    ChangeResult Result = ChangeResult::Done;
    std::optional<Scope> ChangedScope;
    std::optional<Refusal> Refused;
};

struct ImportReport {
    std::vector<ImportedSetting> Settings;
    // How many settings had each outcome.
    std::size_t Count(ImportOutcome outcome) const;
};

// Gives each setting of the document to its target on this computer, in the file's
// order. A setting that is refused, skipped or fails writes nothing of its own, and the
// others go on. Each change made goes to `notifier`, which the caller sends. Nothing here
// throws; a setting met when memory ran out is Failed (WriteFailed).
ImportReport ImportSettings(const SettingsDocument& document, const ImportOptions& options,
                            ShellNotifier& notifier) noexcept;

} // namespace orvane
