#include "FolderLink.h"

#include <windows.h>

namespace orvane::test {

namespace {

using UnixName = char*(CDECL*)(const wchar_t*);
using Spawn = LONG(CDECL*)(char* const*, int);

// Runs /bin/<program> with the Unix names of the given paths after `option`.
bool RunUnix(const char* program, const char* option, const std::wstring& first, const std::wstring* second)
{
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    const auto spawn = reinterpret_cast<Spawn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));
    if (unixName == nullptr || spawn == nullptr)
        return false;
    char* a = unixName(first.c_str());
    char* b = second != nullptr ? unixName(second->c_str()) : nullptr;
    bool ran = false;
    if (a != nullptr && (second == nullptr || b != nullptr)) {
        std::string path = std::string("/bin/") + program;
        std::string flag = option;
        char* const argv[] = {path.data(), flag.data(), a, b, nullptr};
        ran = spawn(argv, 1) == 0;
    }
    HeapFree(GetProcessHeap(), 0, a);
    HeapFree(GetProcessHeap(), 0, b);
    return ran;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

} // namespace

FolderLink::FolderLink(std::wstring link, const std::wstring& target) : link_(std::move(link))
{
    if (CreateSymbolicLinkW(link_.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && Exists(link_)) {
        made_ = true;
        platform_ = true;
        return;
    }
    made_ = RunUnix("ln", "-s", target, &link_) && Exists(link_);
}

FolderLink::~FolderLink()
{
    if (!made_)
        return;
    // A link made by the platform goes as a folder does; a Unix one by unlinking it, as
    // Wine would remove a folder through it.
    if (platform_)
        RemoveDirectoryW(link_.c_str());
    else
        RunUnix("rm", "-f", link_, nullptr);
}

} // namespace orvane::test
