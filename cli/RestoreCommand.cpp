// orvane restore PATH...: each target's icon as it was before Orvane changed it; with
// --recurse each folder PATH and every folder below it, through the store's batch.
#include "Commands.h"

#include <string>

#include "BatchRun.h"
#include "CommandTargets.h"
#include "ConsoleText.h"
#include "Messages.h"

namespace orvane::cli {

namespace {

bool RestoreTarget(const wchar_t* path, IconTarget& target)
{
    switch (target.WhatRestoreWouldDo()) {
    case RestoreOutcome::NothingToRestore:
        WriteOut(std::wstring(target.Path()) + L": nothing to restore (" + KindWord(target) + L")\n");
        return true;
    case RestoreOutcome::HandlerReplaced:
        Fail(path, std::wstring(L"the icon handler of class ") + target.Current->TypeKey +
                       L" is no longer Orvane; its entry is kept");
        return false;
    case RestoreOutcome::Restores:
        break;
    }
    if (!ReportChange(path, target, target.RestoreDefault(), true))
        return false;
    WriteOut(std::wstring(target.Path()) + L": " + KindWord(target) + L" icon restored\n");
    return true;
}

int RestoreTrees(const Invocation& invocation)
{
    const BatchRequest request = RequestFor(invocation, BatchOperation::Restore);
    return ReportBatch(request, RunWithProgress(request), L"restored",
                       [](const BatchFailure& failure) { return ProblemText(failure, true); });
}

} // namespace

int RestoreTargets(const Invocation& invocation)
{
    if (invocation.Recurse)
        return RestoreTrees(invocation);
    return ForEachTarget(invocation, OpenRestorableTarget, RestoreTarget);
}

} // namespace orvane::cli
