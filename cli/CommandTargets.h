// The targets that show and restore work on, opened one PATH at a time as the dialog
// opens its target, each told to the shell once the last is done. (set, and restore with
// --recurse, run through the store's batch instead.)
#pragma once

#include <optional>

#include "IconTarget.h"
#include "Invocation.h"
#include "ShellNotify.h"

namespace orvane::cli {

// A file whose name gives no file type: nothing can be set for it in any scope.
bool HasNoFileType(const IconTarget& target);

// Opens what `path` names for show: it exists, or it is a file deleted since its icon
// was set (show needs nothing of the file itself). None, with the reason told, otherwise.
std::optional<IconTarget> OpenShownTarget(const wchar_t* path, const Invocation& invocation);

// The same for restore, which also refuses a file whose name gives no file type.
std::optional<IconTarget> OpenRestorableTarget(const wchar_t* path, const Invocation& invocation);

// Opens each PATH in turn with `open` and hands it to `act`; a target that cannot be
// opened or whose action fails makes the status 1, and the others still go ahead. What
// the actions changed is told to the shell once, after the last: one notification per
// changed item and at most one association change for the whole run.
template <class Open, class Act>
int ForEachTarget(const Invocation& invocation, Open open, Act act)
{
    int status = 0;
    ShellNotifier notifier;
    for (const wchar_t* path : invocation.Paths) {
        std::optional<IconTarget> opened = open(path, invocation);
        if (!opened || !act(path, *opened))
            status = 1;
        if (opened)
            notifier.Add(*opened);
    }
    notifier.Send();
    return status;
}

} // namespace orvane::cli
