#include "Batch.h"

#include <windows.h>

#include <cwctype>
#include <new>
#include <unordered_set>

#include "FileIconTable.h"
#include "FolderTree.h"
#include "Scope.h"
#include "ShellNotify.h"
#include "ShellPath.h"

namespace orvane {

namespace {

// File names compare without case on Windows: "C:\A" and "c:\a" are one target.
std::wstring FoldedCase(const std::wstring& path)
{
    std::wstring folded(path);
    CharLowerBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    return folded;
}

// Appends each target once, in the order first named.
class UniqueTargets {
public:
    explicit UniqueTargets(std::vector<std::wstring>& targets) : targets_(targets) {}
    void Add(std::wstring path)
    {
        if (seen_.insert(FoldedCase(path)).second)
            targets_.push_back(std::move(path));
    }

private:
    std::vector<std::wstring>& targets_;
    std::unordered_set<std::wstring> seen_;
};

ChangeResult ApplyTo(IconTarget& target, const BatchRequest& request)
{
    if (request.Change)
        return request.Change(target);
    if (!target.SetCurrentIconPath(request.IconPath.c_str()))
        return ChangeResult::PathTooLong;
    target.SetCurrentIndex(request.Index);
    return target.ApplyIcon();
}

// One target as if it were alone; the failure, if any, goes to `result`.
void RunOne(const std::wstring& path, const BatchRequest& request, ShellNotifier& notifier, BatchResult& result)
{
    IconTarget target = OpenTarget(path.c_str(), request.Scope);
    target.SetAllOfType(request.AllOfType);
    ChangeResult change = ChangeResult::Done;
    if (request.Operation == BatchOperation::Apply) {
        change = ApplyTo(target, request);
    } else {
        switch (target.WhatRestoreWouldDo()) {
        case RestoreOutcome::NothingToRestore:
            ++result.NothingToRestore;
            return;
        case RestoreOutcome::HandlerReplaced:
            result.Failures.push_back({path, BatchProblem::HandlerReplaced, std::nullopt, std::nullopt});
            return;
        case RestoreOutcome::Restores:
            break;
        }
        change = target.RestoreDefault();
    }
    notifier.Add(target);
    if (change == ChangeResult::Done) {
        ++result.Changed;
        return;
    }
    result.Failures.push_back({path, ProblemOf(change),
                               change == ChangeResult::AccessDenied ? target.ChangedScope() : std::nullopt,
                               IsRefusedWrite(change) ? target.LastRefusal() : std::nullopt});
}

} // namespace

BatchProblem ProblemOf(ChangeResult result)
{
    switch (result) {
    case ChangeResult::NoExtension: return BatchProblem::NoExtension;
    case ChangeResult::PathTooLong: return BatchProblem::PathTooLong;
    case ChangeResult::AccessDenied: return BatchProblem::AccessDenied;
    case ChangeResult::DesktopIniIsLink: return BatchProblem::DesktopIniIsLink;
    case ChangeResult::DesktopIniIsFolder: return BatchProblem::DesktopIniIsFolder;
    case ChangeResult::HandlerNotLoadable: return BatchProblem::HandlerNotLoadable;
    case ChangeResult::Done:
    case ChangeResult::WriteFailed: break;
    }
    return BatchProblem::WriteFailed;
}

bool CollectBatchTargets(const BatchRequest& request, std::vector<std::wstring>& targets,
                         std::vector<BatchFailure>& failures, const std::atomic<bool>* cancel) noexcept
{
    try {
        UniqueTargets list(targets);
        std::vector<std::wstring> tree;
        std::vector<TreeProblem> problems;
        for (const std::wstring& given : request.Paths) {
            wchar_t path[TextCapacity];
            if (!ShellPathOf(given.c_str(), path)) {
                failures.push_back({given, given.empty() ? BatchProblem::NotFound : BatchProblem::PathTooLong,
                                    std::nullopt, std::nullopt});
                continue;
            }
            // A path that does not exist would classify as a folder (its attributes read
            // as all ones, the directory bit included). A file that has gone since its
            // icon was set can still be restored: that needs nothing of the file.
            const DWORD attributes = GetFileAttributesW(path);
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                if (request.Operation == BatchOperation::Restore && IsGoneFileWithEntry(path))
                    list.Add(path);
                else
                    failures.push_back({given, BatchProblem::NotFound, std::nullopt, std::nullopt});
                continue;
            }
            if (!request.Recurse || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                list.Add(path);
                continue;
            }
            tree.clear();
            problems.clear();
            if (!CollectFolderTree(path, tree, problems, cancel))
                return false;
            for (std::wstring& folder : tree)
                list.Add(std::move(folder));
            for (TreeProblem& problem : problems)
                failures.push_back({std::move(problem.Path),
                                    problem.Error == ERROR_FILENAME_EXCED_RANGE ? BatchProblem::PathTooLong
                                                                                : BatchProblem::SubfoldersUnreadable,
                                    std::nullopt, std::nullopt});
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

BatchResult RunBatch(const BatchRequest& request, ShellNotifier& notifier, const BatchProgress& progress,
                     const std::atomic<bool>* cancel) noexcept
{
    BatchResult result;
    try {
        // Whether a scope's keys accept writes is asked once for the whole batch.
        const WriteAnswersKept answers;
        std::vector<std::wstring> targets;
        if (!CollectBatchTargets(request, targets, result.Failures, cancel)) {
            result.Cancelled = true;
            return result;
        }
        result.Total = targets.size();
        if (progress)
            progress(0, result.Total);
        for (const std::wstring& path : targets) {
            if (cancel != nullptr && cancel->load()) {
                result.Cancelled = true;
                break;
            }
            RunOne(path, request, notifier, result);
            ++result.Done;
            if (progress)
                progress(result.Done, result.Total);
        }
    } catch (...) {
        // Memory ran out between two targets (a failure could not be listed): the
        // targets done so far stay done, the others untouched.
        result.Cancelled = true;
    }
    return result;
}

} // namespace orvane
