// Tells the shell what changes changed, so that Explorer redraws exactly that: the item
// whose icon changed, and the file types' data only where a type's own data changed.
#pragma once

#include <string>
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
// Nothing here throws; a list that cannot grow turns into the association change,
// which makes Explorer redraw every icon.
class ShellNotifier {
public:
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
    bool associations_ = false;
};

// One change, as the dialog makes it.
void NotifyChange(const IconTarget& target) noexcept;
// The file types' data changed as a whole (remove-all): one SHCNE_ASSOCCHANGED.
void NotifyAssociationsChanged() noexcept;

} // namespace orvane
