#include "ShellNotify.h"

#include <shlobj.h>

#include <algorithm>
#include <new>

namespace orvane {

void ShellNotifier::Add(const IconTarget& target) noexcept
{
    const ShownChange& change = target.LastChange();
    associations_ = associations_ || change.Associations;
    if (!change.Item || target.Path()[0] == L'\0')
        return;
    try {
        const std::wstring item(target.Path());
        if (std::find(items_.begin(), items_.end(), item) == items_.end())
            items_.push_back(item);
    } catch (const std::bad_alloc&) {
        associations_ = true;
    }
}

void ShellNotifier::Send() noexcept
{
    if (associations_)
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    for (const std::wstring& item : items_)
        SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW, item.c_str(), nullptr);
    items_.clear();
    associations_ = false;
}

void NotifyChange(const IconTarget& target) noexcept
{
    ShellNotifier notifier;
    notifier.Add(target);
    notifier.Send();
}

void NotifyAssociationsChanged() noexcept { SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }

} // namespace orvane
