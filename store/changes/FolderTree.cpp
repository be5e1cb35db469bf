#include "FolderTree.h"

#include <winnt.h>

#include <new>

#include "IconLocation.h"

namespace orvane {

namespace {

bool IsDotEntry(const wchar_t* name)
{
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

std::wstring Joined(const std::wstring& folder, const wchar_t* name)
{
    std::wstring path = folder;
    if (path.empty() || path.back() != L'\\')
        path += L'\\';
    path += name;
    return path;
}

// The subfolders of one folder, in the order the file system lists them; the platform's
// error when the folder cannot be listed.
DWORD ListSubfolders(const std::wstring& folder, std::vector<std::wstring>& subfolders,
                     std::vector<TreeProblem>& problems)
{
    // "\\?\" lets the pattern pass MAX_PATH for a folder path of 258 or 259 characters;
    // a UNC path keeps its plain form.
    std::wstring pattern = Joined(folder, L"*");
    if (pattern.size() >= MAX_PATH && folder.size() > 2 && folder[1] == L':')
        pattern.insert(0, L"\\\\?\\");
    WIN32_FIND_DATAW found;
    // Basic information skips the short names; the large fetch asks for fewer, bigger
    // directory reads, which a tree of thousands of folders is mostly made of.
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        // A drive's root has no "." entry: an empty one matches nothing.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsDotEntry(found.cFileName) ||
            IsLinkEntry(found.dwFileAttributes, found.dwReserved0))
            continue;
        std::wstring path = Joined(folder, found.cFileName);
        if (path.size() >= TextCapacity)
            problems.push_back({std::move(path), ERROR_FILENAME_EXCED_RANGE});
        else
            subfolders.push_back(std::move(path));
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
}

} // namespace

bool IsLinkEntry(DWORD attributes, DWORD reparseTag)
{
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    return reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag);
}

bool CollectFolderTree(const std::wstring& root, std::vector<std::wstring>& folders,
                       std::vector<TreeProblem>& problems, const std::atomic<bool>* cancel) noexcept
{
    try {
        if (root.size() >= TextCapacity) {
            problems.push_back({root, ERROR_FILENAME_EXCED_RANGE});
            return true;
        }
        // Depth first with a stack of its own: a deep tree cannot exhaust the thread's
        // stack. Each folder's subfolders go onto the stack in reverse, so they come out
        // (and are appended) in the order they were listed.
        std::vector<std::wstring> pending{root};
        std::vector<std::wstring> subfolders;
        while (!pending.empty()) {
            if (cancel != nullptr && cancel->load())
                return false;
            std::wstring folder = std::move(pending.back());
            pending.pop_back();
            subfolders.clear();
            const DWORD error = ListSubfolders(folder, subfolders, problems);
            if (error != ERROR_SUCCESS)
                problems.push_back({folder, error});
            folders.push_back(std::move(folder));
            for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it)
                pending.push_back(std::move(*it));
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace orvane
