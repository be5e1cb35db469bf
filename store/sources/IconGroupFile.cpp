#include "IconGroupFile.h"

#include <cstring>
#include <cwchar>
#include <iterator>
#include <new>

#include "IconFileCheck.h"
#include "IconSources.h"
#include "PathText.h"
#include "ShellPath.h"
#include "WholeFile.h"

namespace orvane {

namespace {

// A made icon is never larger (MadeIconFile.cpp reads no bigger one whole).
constexpr std::size_t LargestCopy = 16u << 20;
// A group's directory entry in a module: the icon file's entry with a 16-bit resource id
// of the RT_ICON image in place of the image's offset.
constexpr std::size_t GroupEntrySize = 14;

std::uint16_t Word(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

void PutWord(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value)
{
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void PutDword(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value)
{
    PutWord(out, at, value & 0xFFFF);
    PutWord(out, at + 2, value >> 16);
}

struct GroupAt {
    std::int32_t Position = 0;
    std::int32_t Seen = 0;
    LPWSTR Name = nullptr; // an id, or a copy of the name (freed by the finder)
    std::wstring OwnName;
};

BOOL CALLBACK FindGroupAt(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param)
{
    auto* search = reinterpret_cast<GroupAt*>(param);
    if (search->Seen++ != search->Position)
        return TRUE;
    if (IS_INTRESOURCE(name)) {
        search->Name = name;
    } else {
        search->OwnName = name;
        search->Name = search->OwnName.data();
    }
    return FALSE;
}

// The resource's bytes and size; null when the module lacks it.
const std::uint8_t* ResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type, DWORD* size)
{
    HRSRC found = FindResourceW(module, name, type);
    if (found == nullptr)
        return nullptr;
    *size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    return loaded == nullptr || *size == 0 ? nullptr : static_cast<const std::uint8_t*>(LockResource(loaded));
}

// The icon file rebuilt from a group (GRPICONDIR) and its RT_ICON images. The group's
// entries are checked against its size; each image's size is the resource's own, not
// what the group claims.
bool RebuildGroup(HMODULE module, const std::uint8_t* group, DWORD groupSize, std::vector<std::uint8_t>& bytes)
{
    if (groupSize < IconFileHeaderSize || Word(group) != 0 || Word(group + 2) != 1)
        return false;
    const std::size_t count = Word(group + 4);
    if (count == 0 || groupSize < IconFileHeaderSize + count * GroupEntrySize)
        return false;
    bytes.assign(IconFileHeaderSize + count * IconFileEntrySize, 0);
    PutWord(bytes, 2, 1);
    PutWord(bytes, 4, static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = group + IconFileHeaderSize + i * GroupEntrySize;
        DWORD size = 0;
        const std::uint8_t* image =
            ResourceBytes(module, MAKEINTRESOURCEW(Word(entry + 12)), reinterpret_cast<LPCWSTR>(RT_ICON), &size);
        if (image == nullptr || bytes.size() + size > LargestCopy)
            return false;
        const std::size_t at = IconFileHeaderSize + i * IconFileEntrySize;
        std::memcpy(&bytes[at], entry, 8); // width, height, colours, reserved, planes, bit count
        PutDword(bytes, at + 8, size);
        PutDword(bytes, at + 12, static_cast<std::uint32_t>(bytes.size()));
        bytes.insert(bytes.end(), image, image + size);
    }
    return IconDirectoryFits(bytes.data(), bytes.size(), bytes.size());
}

bool CopyGroup(const wchar_t* file, std::int32_t index, std::vector<std::uint8_t>& bytes)
{
    HMODULE module = LoadResourcesOf(file);
    if (module == nullptr)
        return false;
    LPCWSTR name = nullptr;
    GroupAt search;
    if (index < 0) {
        if (index > -0x10000)
            name = MAKEINTRESOURCEW(-index);
    } else {
        search.Position = index;
        EnumResourceNamesW(module, reinterpret_cast<LPCWSTR>(RT_GROUP_ICON), FindGroupAt,
                           reinterpret_cast<LONG_PTR>(&search));
        name = search.Name;
    }
    DWORD size = 0;
    const std::uint8_t* group =
        name == nullptr ? nullptr : ResourceBytes(module, name, reinterpret_cast<LPCWSTR>(RT_GROUP_ICON), &size);
    const bool rebuilt = group != nullptr && RebuildGroup(module, group, size, bytes);
    FreeLibrary(module);
    return rebuilt;
}

bool IsUnder(const wchar_t* path, const wchar_t* folder)
{
    const std::size_t length = std::wcslen(folder);
    if (length == 0 || std::wcslen(path) <= length)
        return false;
    const bool separated = folder[length - 1] == L'\\' || path[length] == L'\\' || path[length] == L'/';
    return separated && CompareStringOrdinal(path, static_cast<int>(length), folder, static_cast<int>(length), TRUE) ==
                            CSTR_EQUAL;
}

} // namespace

bool CopyIconBytes(const wchar_t* source, std::int32_t index, std::vector<std::uint8_t>& bytes)
{
    bytes.clear();
    wchar_t file[TextCapacity];
    if (source == nullptr || !ExpandIconPath(source, file) || file[0] == L'\0')
        return false;
    bool copied = false;
    try {
        switch (CheckIconFile(file)) {
        case IconFileState::IconFile:
            copied = index == 0 && ReadFileBytes(file, LargestCopy, bytes) && !bytes.empty() &&
                     IconDirectoryFits(bytes.data(), bytes.size(), bytes.size());
            break;
        case IconFileState::NotIconFile:
            copied = CopyGroup(file, index, bytes);
            break;
        case IconFileState::Damaged:
            break;
        }
    } catch (const std::bad_alloc&) {
        copied = false;
    }
    if (!copied)
        bytes.clear();
    return copied;
}

bool CopyWithFolderByDefault(const wchar_t* source)
{
    wchar_t file[TextCapacity];
    if (source == nullptr || !ExpandIconPath(source, file) || file[0] == L'\0')
        return false;
    // "shell32.dll": found along the system's search path.
    if (std::wcschr(file, L'\\') == nullptr && std::wcschr(file, L'/') == nullptr)
        return false;
    wchar_t windows[TextCapacity];
    const UINT length = GetWindowsDirectoryW(windows, static_cast<UINT>(std::size(windows)));
    if (length > 0 && length < std::size(windows) && IsUnder(file, windows))
        return false;
    try {
        return PlaceOf(file) != PlaceKind::Local;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace orvane
