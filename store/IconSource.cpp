#include "IconSource.h"

#include <windows.h>
#include <shellapi.h>

#include <new>
#include <vector>

#include "IconFileCheck.h"
#include "PathText.h"

namespace orvane {

namespace {

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
