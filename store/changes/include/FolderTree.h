// The folders of a tree: a folder and every folder below it, for changes that reach a
// folder's subfolders too.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

namespace orvane {

// A folder of the tree whose subfolders could not be listed, with the platform's error.
struct TreeProblem {
    std::wstring Path;
    DWORD Error = ERROR_SUCCESS;
};

// Whether an entry found while listing a folder is a link to another place (a junction,
// a symbolic link, a mount point) rather than a folder of the tree's own. The platform
// puts the reparse tag into WIN32_FIND_DATAW::dwReserved0; a name surrogate is a link.
// A reparse point without a tag (Wine shows a Unix symbolic link so) is taken for a link
// too; placeholders of cloud storage (no name surrogate) are folders of the tree.
bool IsLinkEntry(DWORD attributes, DWORD reparseTag);

// Appends `root` and every folder below it to `folders`, each before the folders inside
// it, without ever going through a link (IsLinkEntry) out of the tree. A folder that
// cannot be listed is still appended (it may take a change of its own) and goes to
// `problems` with the reason; its subfolders are not known. A path that would not fit
// into 259 characters is not appended and goes to `problems` (ERROR_FILENAME_EXCED_RANGE).
// Stops early, false, once `cancel` is set; false also when memory runs out. Nothing
// here throws.
bool CollectFolderTree(const std::wstring& root, std::vector<std::wstring>& folders,
                       std::vector<TreeProblem>& problems, const std::atomic<bool>* cancel = nullptr) noexcept;

} // namespace orvane
