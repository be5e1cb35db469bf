#include "IconSources.h"

#include <windows.h>
#include <shellapi.h>

#include <climits>
#include <cwchar>
#include <iterator>
#include <new>
#include <vector>

#include "IconFileCheck.h"
#include "PathText.h"

namespace orvane {

namespace {

// Resource ids are 16-bit; a larger number names no group.
constexpr unsigned MaxResourceId = 0xFFFF;

struct GroupSearch {
    unsigned Id = 0;
    int Position = 0;
    int Found = -1;
};

BOOL CALLBACK VisitIconGroup(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param)
{
    auto* search = reinterpret_cast<GroupSearch*>(param);
    if (IS_INTRESOURCE(name) && reinterpret_cast<ULONG_PTR>(name) == search->Id) {
        search->Found = search->Position;
        return FALSE;
    }
    ++search->Position;
    return TRUE;
}

bool NamedAsIconFile(const wchar_t* file)
{
    const std::wstring_view extension = FileExtension(file);
    return CompareStringOrdinal(extension.data(), static_cast<int>(extension.size()), L".ico", 4, TRUE) == CSTR_EQUAL;
}

bool ReadAt(HANDLE handle, std::uint64_t offset, unsigned char* out, DWORD size)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    return ReadFile(handle, out, size, &read, &at) && read == size;
}

} // namespace

HMODULE LoadResourcesOf(const wchar_t* file)
{
    HMODULE module = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr)
        module = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return module;
}

bool ExpandIconPath(const wchar_t* path, wchar_t (&out)[TextCapacity])
{
    out[0] = L'\0';
    if (path == nullptr)
        return false;
    if (std::wcschr(path, L'%') == nullptr)
        return CopyText(out, std::size(out), path);
    wchar_t expanded[TextCapacity] = {};
    const DWORD capacity = static_cast<DWORD>(std::size(expanded));
    const DWORD needed = ExpandEnvironmentStringsW(path, expanded, capacity);
    // The answer counts the terminator, in characters; one that does not fit leaves the
    // buffer unusable.
    if (needed == 0 || needed > capacity)
        return false;
    expanded[capacity - 1] = L'\0';
    return CopyText(out, std::size(out), expanded);
}

int FindIconOfResourceId(const wchar_t* path, unsigned id)
{
    if (id == 0 || id > MaxResourceId)
        return -1;
    wchar_t file[TextCapacity];
    if (!ExpandIconPath(path, file) || file[0] == L'\0')
        return -1;
    HMODULE module = LoadResourcesOf(file);
    if (module == nullptr)
        return -1;
    GroupSearch search;
    search.Id = id;
    EnumResourceNamesW(module, reinterpret_cast<LPCWSTR>(RT_GROUP_ICON), VisitIconGroup,
                       reinterpret_cast<LONG_PTR>(&search));
    FreeLibrary(module);
    return search.Found;
}

int IconListPosition(const wchar_t* path, std::int32_t index)
{
    if (index >= 0)
        return index;
    if (index == NoIndex || index == INT32_MIN)
        return -1;
    return FindIconOfResourceId(path, static_cast<unsigned>(-index));
}

IconFileState CheckIconFile(const wchar_t* file)
{
    if (file == nullptr || *file == L'\0')
        return IconFileState::NotIconFile;
    HANDLE handle = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return IconFileState::NotIconFile;
    IconFileState state = IconFileState::Damaged;
    LARGE_INTEGER fileSize{};
    unsigned char header[IconFileHeaderSize] = {};
    const bool sized = GetFileSizeEx(handle, &fileSize) && fileSize.QuadPart >= 0;
    if (sized && fileSize.QuadPart == 0) {
        // Nothing the platform could misread: it finds no icons in an empty file.
        state = IconFileState::NotIconFile;
    } else if (sized) {
        const std::uint64_t size = static_cast<std::uint64_t>(fileSize.QuadPart);
        const DWORD headerBytes = static_cast<DWORD>(size < IconFileHeaderSize ? size : IconFileHeaderSize);
        const bool read = ReadAt(handle, 0, header, headerBytes);
        if (read && !ReadsAsIconFile(header, headerBytes) && !NamedAsIconFile(file)) {
            state = IconFileState::NotIconFile;
        } else if (read && headerBytes == IconFileHeaderSize) {
            // At most 6 + 65,535 * 16 bytes, about 1 MiB; a directory longer than the
            // file fails without being read.
            const std::size_t extent = IconDirectoryExtent(header, IconFileHeaderSize);
            if (extent <= size) {
                try {
                    std::vector<unsigned char> directory(extent);
                    if (ReadAt(handle, 0, directory.data(), static_cast<DWORD>(extent)) &&
                        IconDirectoryFits(directory.data(), directory.size(), size))
                        state = IconFileState::IconFile;
                } catch (const std::bad_alloc&) {
                }
            }
        }
    }
    CloseHandle(handle);
    return state;
}

LONG SourceReadStatus(const wchar_t* file)
{
    if (file == nullptr || *file == L'\0')
        return ERROR_FILE_NOT_FOUND;
    HANDLE handle = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? static_cast<LONG>(error) : ERROR_ACCESS_DENIED;
    }
    CloseHandle(handle);
    return ERROR_SUCCESS;
}

unsigned CountIcons(const wchar_t* source)
{
    if (source == nullptr || *source == L'\0')
        return 0;
    if (CheckIconFile(source) == IconFileState::Damaged)
        return 0;
    const UINT count = ExtractIconExW(source, -1, nullptr, nullptr, 0);
    return count == 0xFFFFFFFFu || count > MaxSourceIcons ? 0 : count;
}

} // namespace orvane
