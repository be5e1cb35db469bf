// Tells the shell what changes changed, so that Explorer redraws exactly that: the item
// whose icon changed, and the file types' data only where a type's own data changed.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include "IconTarget.h"

namespace orvane {

// Collects what a run of changes changed (the dialog's one, or the command line's many
// paths) and tells the shell once they are made:
// - SHCNE_UPDATEITEM (SHCNF_PATHW) for each changed item, once per item. Named is the
//   folder, file or drive root itself: a shell view watches its folder's children, so the
//   event reaches the window that draws the item (its parent's) and the item's own.
// - at most one SHCNE_ASSOCCHANGED (SHCNF_IDLIST, both items null, as the platform asks),
//   sent first, when any change touched data that Explorer keeps for every item it
//   applies to: a file type's icon or icon handler, or a drive's icon setting.
// - past ItemsPerFolderLimit changed items in one folder, one SHCNE_UPDATEDIR
//   (SHCNF_PATHW) for that folder instead of its items' events, where the first of them
//   would have been. A view takes it as "there were changes to this folder" and reads the
//   folder's items again once. The shell's own change queue turns a quick run of about a
//   hundred item events in one folder into that same event when its listeners fall
//   behind; coalescing a little below that makes the outcome independent of the queue's
//   timing, so that a batch of thousands of folders (a tree of 100 x 100: 101 events
//   instead of 10,100) does not flood Explorer, while a selection of a few dozen items
//   still has each item redrawn alone.
// Nothing here throws; a list that cannot grow turns into the association change,
// which makes Explorer redraw every icon.
class ShellNotifier {
public:
    // More changed items than this in one folder are told as one change of the folder.
    static constexpr std::size_t ItemsPerFolderLimit = 64;

    ShellNotifier() = default;
    ShellNotifier(const ShellNotifier&) = delete;
    ShellNotifier& operator=(const ShellNotifier&) = delete;

    // What the target's last ApplyIcon or RestoreDefault changed (nothing when it changed
    // nothing or failed).
    void Add(const IconTarget& target) noexcept;
    // A change of the file types' data that no single target made (remove-all).
    void AddAssociationChange() noexcept { associations_ = true; }
    // Sends what was collected and forgets it.
    void Send() noexcept;

private:
    std::vector<std::wstring> items_;
    // items_ in lower case, so that each is kept once without a search of the list.
    std::unordered_set<std::wstring> seen_;
    bool associations_ = false;
};

// One change, as the dialog makes it.
void NotifyChange(const IconTarget& target) noexcept;
// The file types' data changed as a whole (remove-all): one SHCNE_ASSOCCHANGED.
void NotifyAssociationsChanged() noexcept;

} // namespace orvane
