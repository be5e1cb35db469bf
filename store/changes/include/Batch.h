// Many targets changed at once (a selection, a folder with all its subfolders, the
// command line's paths): each target opened, backed up and changed exactly as if it
// were alone, with progress, cancel between targets, and the failures collected.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "IconTarget.h"
#include "Scope.h"

namespace orvane {

class ShellNotifier;

enum class BatchOperation {
    Apply,   // gives each target the icon
    Restore, // puts back what each target had before this product changed it
};

// Why one target of a batch was not changed.
enum class BatchProblem {
    NotFound,             // no such file, folder or drive
    SubfoldersUnreadable, // the folder's subfolders could not be listed (the folder itself may have changed)
    NoExtension,
    PathTooLong,
    AccessDenied,
    WriteFailed,
    DesktopIniIsLink,
    DesktopIniIsFolder,
    HandlerReplaced, // a file's own entry kept: another icon handler serves its class now
    HandlerNotLoadable, // Explorer cannot load the icon handler the file's icon needs
};

struct BatchFailure {
    std::wstring Path;
    BatchProblem Problem = BatchProblem::WriteFailed;
    // The scope that refused an AccessDenied change, as the target recorded it.
    std::optional<Scope> RefusedScope;
    // What refused the change when it was not the registry, and the system's reason
    // (AccessDenied, WriteFailed and PathTooLong only).
    std::optional<Refusal> Refused;
};

struct BatchRequest {
    BatchOperation Operation = BatchOperation::Apply;
    // The icon an Apply gives: a path (up to 259 characters) and an index.
    std::wstring IconPath;
    std::int32_t Index = 0;
    // A file stands for all files of its type.
    bool AllOfType = false;
    ScopeChoice Scope = ScopeChoice::Automatic;
    // A folder stands for itself and every folder below it (FolderTree).
    bool Recurse = false;
    // An Apply's own change of each opened target, in place of giving it IconPath and
    // Index (the dialog's made icons and copies kept with a folder). Must not throw.
    std::function<ChangeResult(IconTarget&)> Change;
    std::vector<std::wstring> Paths;
};

struct BatchResult {
    // Targets found (each folder of a tree counts), and how many of them were worked on
    // before the end or a cancel.
    std::size_t Total = 0;
    std::size_t Done = 0;
    // Changed, and left as they were because there was nothing to restore.
    std::size_t Changed = 0;
    std::size_t NothingToRestore = 0;
    // Stopped by the cancel flag (or by memory running out) before the last target.
    bool Cancelled = false;
    std::vector<BatchFailure> Failures;
};

// Told after each target: how many are done of how many.
using BatchProgress = std::function<void(std::size_t done, std::size_t total)>;

// Runs the batch. The targets are the request's paths as Explorer names them (each
// once; a tree's folders after their root), each opened with the request's scope choice
// and changed through its own rules and backup. `cancel` is read before each target
// only, so every target is either changed with its backup or untouched. What each change
// changed goes to `notifier`, which the caller sends once (it coalesces). Nothing here
// throws; the progress callback must not throw either.
BatchResult RunBatch(const BatchRequest& request, ShellNotifier& notifier, const BatchProgress& progress = {},
                     const std::atomic<bool>* cancel = nullptr) noexcept;

// The targets a request names, as RunBatch finds them (each once, trees walked), with
// the paths that name nothing or whose tree could not be read as failures.
bool CollectBatchTargets(const BatchRequest& request, std::vector<std::wstring>& targets,
                         std::vector<BatchFailure>& failures, const std::atomic<bool>* cancel = nullptr) noexcept;

// The problem a change's result stands for (Done has none: WriteFailed).
BatchProblem ProblemOf(ChangeResult result);

} // namespace orvane
