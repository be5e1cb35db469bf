#include "ShellNotify.h"

#include <shlobj.h>

#include <new>
#include <unordered_map>

namespace orvane {

namespace {

// The folder that holds an item ("C:\a" for "C:\a\b", "C:\" for "C:\a"); empty for a
// drive's root and anything else without a parent of its own.
std::wstring ParentOf(const std::wstring& item)
{
    const std::size_t slash = item.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash + 1 == item.size())
        return {};
    // "C:\a": the root keeps its backslash.
    if (slash == 2 && item[1] == L':')
        return item.substr(0, 3);
    return item.substr(0, slash);
}

std::wstring Folded(const std::wstring& path)
{
    std::wstring folded(path);
    CharLowerBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    return folded;
}

} // namespace

void ShellNotifier::Add(const IconTarget& target) noexcept
{
    const ShownChange& change = target.LastChange();
    associations_ = associations_ || change.Associations;
    if (!change.Item || target.Path()[0] == L'\0')
        return;
    try {
        std::wstring item(target.Path());
        if (seen_.insert(Folded(item)).second)
            items_.push_back(std::move(item));
    } catch (const std::bad_alloc&) {
        associations_ = true;
    }
}

void ShellNotifier::Send() noexcept
{
    if (associations_)
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    try {
        // Items per parent folder (in lower case); a folder past the limit is told once,
        // where its first item stood.
        std::unordered_map<std::wstring, std::size_t> perFolder;
        std::vector<std::wstring> parents;
        parents.reserve(items_.size());
        for (const std::wstring& item : items_) {
            parents.push_back(Folded(ParentOf(item)));
            if (!parents.back().empty())
                ++perFolder[parents.back()];
        }
        std::unordered_set<std::wstring> told;
        for (std::size_t i = 0; i < items_.size(); ++i) {
            const std::wstring& parent = parents[i];
            const auto folder = parent.empty() ? perFolder.end() : perFolder.find(parent);
            if (folder == perFolder.end() || folder->second <= ItemsPerFolderLimit)
                SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW, items_[i].c_str(), nullptr);
            else if (told.insert(parent).second)
                SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHW, ParentOf(items_[i]).c_str(), nullptr);
        }
    } catch (const std::bad_alloc&) {
        // No room to group the items: Explorer is told to redraw every icon.
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    }
    items_.clear();
    seen_.clear();
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
