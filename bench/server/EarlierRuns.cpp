#include "EarlierRuns.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <iterator>
#include <string>
#include <vector>

#include "Registry.h"
#include "RegistryNames.h"

namespace orvane::bench {

namespace {

// The names a run makes carry its process id in hex after one of these stems:
// ".orvbench1a2bp" and "orvbench1a2bown" (classes), "orvbatch1a2b" (the batch's type),
// "<temp>\orvbench1a2b\..." (files, and the table's entries for them).
constexpr const wchar_t* Stems[] = {L"orvbench", L"orvbatch"};
// The entries of other files that a table change adds: no file and no process id.
constexpr wchar_t OtherFilesPrefix[] = L"C:\\orvane bench\\";
constexpr wchar_t TouchValue[] = L"OrvaneBenchTouch";

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    const std::size_t length = std::wcslen(prefix);
    return text.size() >= length && CompareStringOrdinal(text.c_str(), static_cast<int>(length), prefix,
                                                         static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

bool IsRunning(DWORD process)
{
    if (process == GetCurrentProcessId())
        return true;
    HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, process);
    if (handle == nullptr)
        return false;
    const bool running = WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
    CloseHandle(handle);
    return running;
}

// Whether `name` (a class, or a file's name) was made by a run that has ended.
bool OfEndedRun(const std::wstring& name)
{
    const std::wstring bare = !name.empty() && name[0] == L'.' ? name.substr(1) : name;
    for (const wchar_t* stem : Stems) {
        if (!StartsWith(bare, stem))
            continue;
        // A name may go on with a letter that is a hex digit too ("orvbatch1a2bfile"): the
        // run has ended only when no run of any of the leading digits is running.
        const wchar_t* digits = bare.c_str() + std::wcslen(stem);
        std::size_t count = 0;
        while (count < 8 && std::iswxdigit(digits[count]))
            ++count;
        if (count == 0)
            continue;
        for (; count > 0; --count) {
            const std::wstring number(digits, count);
            if (IsRunning(static_cast<DWORD>(std::wcstoul(number.c_str(), nullptr, 16))))
                return false;
        }
        return true;
    }
    return false;
}

std::wstring TempFolder()
{
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(static_cast<DWORD>(std::size(temp)), temp);
    return length == 0 || length >= std::size(temp) ? std::wstring() : std::wstring(temp);
}

std::vector<std::wstring> SubkeyNames(HKEY root)
{
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(std::size(name));
        const LONG status = RegEnumKeyExW(root, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            return names;
        names.emplace_back(name, length);
    }
}

// The classes of ended runs, in all users' and this user's classes.
std::size_t RemoveClasses()
{
    std::size_t removed = 0;
    for (const std::wstring& name : SubkeyNames(HKEY_CLASSES_ROOT)) {
        if (!OfEndedRun(name))
            continue;
        // HKEY_CLASSES_ROOT shows this user's key over all users'; each goes in turn.
        for (int i = 0; i < 2; ++i) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, name.c_str());
            RegDeleteKeyW(HKEY_CLASSES_ROOT, name.c_str());
        }
        ++removed;
    }
    return removed;
}

// Whether a table value is one that an ended run wrote.
bool IsEndedRunsValue(const std::wstring& name, const std::wstring& temp)
{
    if (StartsWith(name, OtherFilesPrefix) || CompareStringOrdinal(name.c_str(), -1, TouchValue, -1, TRUE) == CSTR_EQUAL)
        return true;
    if (temp.empty() || !StartsWith(name, temp.c_str()))
        return false;
    const std::wstring rest = name.substr(temp.size());
    return OfEndedRun(rest.substr(0, rest.find(L'\\')));
}

std::size_t RemoveValues(const std::wstring& temp)
{
    std::size_t removed = 0;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (const wchar_t* path : {FileIconsKey, FileIconIdsKey}) {
            RegKey key;
            if (key.Open(root, path, KEY_SET_VALUE) != ERROR_SUCCESS)
                continue;
            for (const std::wstring& name : ReadValueNames(root, path)) {
                if (IsEndedRunsValue(name, temp) && RegDeleteValueW(key.get(), name.c_str()) == ERROR_SUCCESS)
                    ++removed;
            }
        }
    }
    return removed;
}

// Deletes a folder and everything in it; gives the number of files deleted.
std::size_t RemoveFolder(const std::wstring& folder)
{
    std::size_t removed = 0;
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = folder + L"\\" + name;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                removed += RemoveFolder(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                removed += DeleteFileW(path.c_str()) ? 1 : 0;
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
    return removed;
}

std::size_t RemoveFiles(const std::wstring& temp)
{
    std::size_t removed = 0;
    if (temp.empty())
        return removed;
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((temp + L"orv*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return removed;
    std::vector<std::wstring> folders;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && OfEndedRun(found.cFileName))
            folders.push_back(temp + found.cFileName);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    for (const std::wstring& folder : folders)
        removed += RemoveFolder(folder);
    return removed;
}

} // namespace

Removed RemoveEarlierRuns()
{
    const std::wstring temp = TempFolder();
    Removed removed;
    removed.Classes = RemoveClasses();
    removed.Values = RemoveValues(temp);
    removed.Files = RemoveFiles(temp);
    if (removed.Values != 0) {
        // This user's keys went with the run's last entry, as the product leaves them.
        for (const wchar_t* path : {FileIconsKey, FileIconIdsKey, ProductKey, CompanyKey})
            DeleteKeyIfEmpty(HKEY_CURRENT_USER, path);
        DeleteKeyIfEmpty(HKEY_LOCAL_MACHINE, FileIconIdsKey);
    }
    return removed;
}

} // namespace orvane::bench
