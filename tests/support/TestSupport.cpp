#include "TestSupport.h"

#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <iterator>

namespace orvane::test {

namespace {

// The names of a key's subkeys, each exactly as the registry holds it. The buffer grows
// when a name is longer than the key reported (another program may add one meanwhile).
std::vector<std::wstring> SubkeyNames(HKEY key)
{
    DWORD longest = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    std::vector<wchar_t> name(std::max<DWORD>(longest, 255) + 1);
    std::vector<std::wstring> names;
    for (DWORD i = 0;;) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        const LONG status = RegEnumKeyExW(key, i, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA && name.size() < 32768) {
            name.resize(name.size() * 2);
            continue;
        }
        if (status != ERROR_SUCCESS)
            break;
        names.emplace_back(name.data(), nameSize);
        ++i;
    }
    return names;
}

std::unique_ptr<KeyGuard::Tree> Capture(HKEY key)
{
    auto tree = std::make_unique<KeyGuard::Tree>();
    DWORD longestName = 0;
    DWORD largestData = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName, &largestData,
                     nullptr, nullptr);
    // Value names reach 16383 characters; the data is read with the name in one call, so
    // that a name is never looked up again (which could find another value).
    std::vector<wchar_t> name(std::max<DWORD>(longestName, 255) + 1);
    std::vector<BYTE> data(std::max<DWORD>(largestData, 1));
    int retries = 0;
    for (DWORD i = 0;;) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG status = RegEnumValueW(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
        if (status == ERROR_MORE_DATA && ++retries < 16) {
            // Either buffer may be the short one; both grow, within what the registry allows.
            if (name.size() < 32768)
                name.resize(name.size() * 2);
            data.resize(std::max<std::size_t>(data.size() * 2, dataSize));
            continue;
        }
        if (status != ERROR_SUCCESS)
            break;
        KeyGuard::Value value;
        value.Name.assign(name.data(), nameSize);
        value.Type = type;
        value.Data.assign(data.begin(), data.begin() + dataSize);
        tree->Values.push_back(std::move(value));
        retries = 0;
        ++i;
    }
    for (const std::wstring& child : SubkeyNames(key)) {
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            tree->Subkeys.emplace_back(child, Capture(sub));
            RegCloseKey(sub);
        } else {
            tree->Subkeys.emplace_back(child, nullptr); // cannot be read
        }
    }
    return tree;
}

void Write(HKEY root, const std::wstring& path, const KeyGuard::Tree& tree)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    for (const auto& value : tree.Values)
        RegSetValueExW(key, value.Name.c_str(), 0, value.Type, value.Data.data(), static_cast<DWORD>(value.Data.size()));
    RegCloseKey(key);
    for (const auto& [name, sub] : tree.Subkeys)
        if (sub)
            Write(root, path + L"\\" + name, *sub);
}

// The order in which the registry keeps names: compared code unit by code unit after
// the system's upper-casing, a name before every longer one it begins. Names that
// differ only in case cannot both exist in one key; for any that do compare equal the
// exact units decide, so that the dump stays the same from run to run.
bool RegistryOrder(const std::wstring& a, const std::wstring& b)
{
    const int order = CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                           static_cast<int>(b.size()), TRUE);
    if (order != CSTR_EQUAL)
        return order == CSTR_LESS_THAN;
    return a < b;
}

void Dump(const KeyGuard::Tree& tree, const std::wstring& indent, std::wstring& out)
{
    std::vector<const KeyGuard::Value*> values;
    for (const auto& value : tree.Values)
        values.push_back(&value);
    std::sort(values.begin(), values.end(), [](auto* a, auto* b) { return RegistryOrder(a->Name, b->Name); });
    for (const auto* value : values) {
        out += indent + L"value [" + value->Name + L"] type " + std::to_wstring(value->Type) + L" data";
        for (const BYTE b : value->Data) {
            static const wchar_t digits[] = L"0123456789abcdef";
            out += L' ';
            out += digits[b >> 4];
            out += digits[b & 0x0F];
        }
        out += L'\n';
    }

    std::vector<const std::pair<std::wstring, std::unique_ptr<KeyGuard::Tree>>*> subkeys;
    for (const auto& sub : tree.Subkeys)
        subkeys.push_back(&sub);
    std::sort(subkeys.begin(), subkeys.end(), [](auto* a, auto* b) { return RegistryOrder(a->first, b->first); });
    for (const auto* sub : subkeys) {
        out += indent + L"key [" + sub->first + L"]\n";
        if (sub->second)
            Dump(*sub->second, indent + L"  ", out);
        else
            out += indent + L"  (cannot open)\n";
    }
}

} // namespace

KeyGuard::KeyGuard(HKEY root, std::wstring path) : root_(root), path_(std::move(path))
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        saved_ = Capture(key);
        RegCloseKey(key);
    }
}

KeyGuard::~KeyGuard()
{
    DeleteKeyTree(root_, path_);
    if (saved_)
        Write(root_, path_, *saved_);
}

bool DeleteKeyTree(HKEY root, const std::wstring& path)
{
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
    return !KeyExists(root, path);
}

bool KeyExists(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool ReadRaw(HKEY root, const std::wstring& path, const wchar_t* name, std::vector<BYTE>* data, DWORD* type)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        data->assign(size, 0);
        status = RegQueryValueExW(key, name, nullptr, type, data->data(), &size);
        data->resize(size);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool ReadValue(HKEY root, const std::wstring& path, const wchar_t* name, std::wstring* text, DWORD* type)
{
    std::vector<BYTE> data;
    DWORD valueType = 0;
    if (!ReadRaw(root, path, name, &data, &valueType))
        return false;
    if (text) {
        // The data as UTF-16 code units, as stored; an odd last byte becomes a unit of its
        // own, so that no byte of hostile data goes unseen.
        text->clear();
        for (std::size_t i = 0; i < data.size(); i += sizeof(wchar_t)) {
            const unsigned low = data[i];
            const unsigned high = i + 1 < data.size() ? data[i + 1] : 0;
            text->push_back(static_cast<wchar_t>(low | high << 8));
        }
        // Drop the stored terminator so that tests compare the text itself.
        while (!text->empty() && text->back() == L'\0' && (valueType == REG_SZ || valueType == REG_EXPAND_SZ))
            text->pop_back();
    }
    if (type)
        *type = valueType;
    return true;
}

bool WriteValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG status = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool WriteString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text)
{
    return WriteValue(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::wstring ValueText(HKEY root, const std::wstring& path, const wchar_t* name, DWORD* type)
{
    std::wstring text;
    if (!ReadValue(root, path, name, &text, type))
        return L"<none>";
    return text;
}

std::wstring DumpKey(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"(missing)\n";
    const auto tree = Capture(key);
    RegCloseKey(key);
    std::wstring out;
    Dump(*tree, L"", out);
    return out;
}

ReadOnlyKey::ReadOnlyKey(HKEY root, std::wstring path, const wchar_t* dacl, REGSAM view)
    : root_(root), path_(std::move(path)), view_(view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, path_.c_str(), 0, READ_CONTROL | WRITE_DAC | view_, &key) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    saved_.resize(size);
    if (size == 0 || RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, saved_.data(), &size) != ERROR_SUCCESS)
        saved_.clear();
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(dacl, SDDL_REVISION_1, &readOnly, nullptr)) {
        applied_ = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly) == ERROR_SUCCESS;
        LocalFree(readOnly);
    }
    RegCloseKey(key);
}

ReadOnlyKey::~ReadOnlyKey()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, path_.c_str(), 0, WRITE_DAC | view_, &key) != ERROR_SUCCESS)
        return;
    if (!saved_.empty()) {
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, saved_.data());
    } else if (applied_) {
        PSECURITY_DESCRIPTOR open = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KA;;;WD)", SDDL_REVISION_1, &open, nullptr)) {
            RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, open);
            LocalFree(open);
        }
    }
    RegCloseKey(key);
}

namespace {

constexpr wchar_t MachineProductKey[] = L"Software\\Brindlewick Software\\Orvane";
constexpr wchar_t MachineDriveIcons[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";

} // namespace

StandardUser::StandardUser(const std::vector<std::wstring>& classes)
{
    for (const wchar_t* path : {MachineProductKey, MachineDriveIcons}) {
        HKEY key = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_READ, nullptr, &key, &disposition) != ERROR_SUCCESS) {
            applied_ = false;
            continue;
        }
        RegCloseKey(key);
        if (disposition == REG_CREATED_NEW_KEY)
            created_.push_back(path);
        LockTree(HKEY_LOCAL_MACHINE, path, 0);
    }
    // A 32-bit program's HKEY_CLASSES_ROOT is the machine's one classes key.
    locks_.push_back(std::make_unique<ReadOnlyKey>(HKEY_LOCAL_MACHINE, L"Software\\Classes", L"D:P(A;;KR;;;WD)", KEY_WOW64_64KEY));
    applied_ = applied_ && locks_.back()->Applied();
    for (const std::wstring& name : classes)
        LockTree(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + name, KEY_WOW64_64KEY);
}

StandardUser::~StandardUser()
{
    locks_.clear();
    for (const std::wstring& path : created_)
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
}

void StandardUser::LockTree(HKEY root, const std::wstring& path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return; // nothing there to lock; creating it is refused at its parent
    const std::vector<std::wstring> children = SubkeyNames(key);
    RegCloseKey(key);
    locks_.push_back(std::make_unique<ReadOnlyKey>(root, path, L"D:P(A;;KR;;;WD)", view));
    applied_ = applied_ && locks_.back()->Applied();
    for (const std::wstring& child : children)
        LockTree(root, path + L"\\" + child, view);
}

ScratchType::ScratchType(bool registered, const wchar_t* description)
{
    if (registered) {
        WriteString(HKEY_CLASSES_ROOT, Extension, nullptr, Class);
        WriteString(HKEY_CLASSES_ROOT, Class, nullptr, description);
    }
}

void ScratchType::SetDefaultIcon(const std::wstring& text, DWORD type) const
{
    WriteValue(HKEY_CLASSES_ROOT, Key(L"DefaultIcon"), nullptr, type, text.c_str(),
               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void ScratchType::SetHandler(const std::wstring& text) const
{
    WriteString(HKEY_CLASSES_ROOT, Key(L"shellex\\IconHandler"), nullptr, text);
}

namespace {

// The path as the file calls take it: a path too long for the plain form (folders end
// at MAX_PATH - 12 units) is handed over with the "\\?\" prefix, which turns off the
// limit; every other path goes as it is, so that the platform still normalizes it.
std::wstring FileCallPath(const std::wstring& path)
{
    const bool absolute = path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
    if (absolute && path.size() >= MAX_PATH - 12)
        return L"\\\\?\\" + path;
    return path;
}

} // namespace

std::string ReadFileText(const std::wstring& path)
{
    HANDLE file = CreateFileW(FileCallPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<none>";
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        text.append(buffer, read);
    CloseHandle(file);
    return text;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                           nullptr);
    if (length <= 0)
        return {};
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length, nullptr, nullptr);
    return bytes;
}

std::wstring FromUtf8(const std::string& text)
{
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c);
    return text;
}

std::wstring ShellIconLocation(const std::wstring& path, bool announce)
{
    if (announce)
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    SHFILEINFOW info = {};
    if (!SHGetFileInfoW(path.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION))
        return L"<none>";
    // szDisplayName is a fixed array; the shell terminates it, but it is not trusted to.
    const wchar_t* end = std::find(std::begin(info.szDisplayName), std::end(info.szDisplayName), L'\0');
    return std::wstring(std::cbegin(info.szDisplayName), end) + L"," + std::to_wstring(info.iIcon);
}

namespace {

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(FileCallPath(path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0)
                continue;
            const std::wstring child = path + L"\\" + data.cFileName;
            SetFileAttributesW(FileCallPath(child).c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(FileCallPath(child).c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    SetFileAttributesW(FileCallPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(FileCallPath(path).c_str());
}

} // namespace

std::wstring UniqueName(const wchar_t* prefix)
{
    static unsigned counter = 0;
    wchar_t number[48];
    std::swprintf(number, std::size(number), L"%lx%x%x", static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned>(GetTickCount() & 0xFFFF), ++counter);
    return std::wstring(prefix) + L"orvt" + number;
}

TempDir::TempDir(const std::wstring& below)
{
    wchar_t base[MAX_PATH + 1] = {};
    const DWORD length = below.empty() ? GetTempPathW(static_cast<DWORD>(std::size(base)), base) : 0;
    path_ = (below.empty() ? std::wstring(base, length < std::size(base) ? length : 0) : below) + UniqueName(L"");
    if (!path_.empty() && path_.back() == L'\\')
        path_.pop_back();
    CreateDirectoryW(FileCallPath(path_).c_str(), nullptr);
}

TempDir::~TempDir() { RemoveTree(path_); }

ZoneMark::ZoneMark(const std::wstring& file, const std::string& content) : stream_(file + L":Zone.Identifier")
{
    HANDLE handle = CreateFileW(FileCallPath(stream_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    written_ = WriteFile(handle, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
               written == content.size();
    CloseHandle(handle);
}

ZoneMark::~ZoneMark() { DeleteFileW(FileCallPath(stream_).c_str()); }

bool HasZoneStream(const std::wstring& file)
{
    return GetFileAttributesW(FileCallPath(file + L":Zone.Identifier").c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring DriveRootOfType(UINT driveType)
{
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const std::wstring root = std::wstring(1, letter) + L":\\";
        if (GetDriveTypeW(root.c_str()) != driveType)
            continue;
        const std::wstring probe = root + UniqueName(L"");
        if (CreateDirectoryW(probe.c_str(), nullptr)) {
            RemoveDirectoryW(probe.c_str());
            return root;
        }
    }
    return L"";
}

std::wstring TempDir::MakeFolder(const std::wstring& relative)
{
    std::wstring full = path_;
    std::size_t start = 0;
    while (start <= relative.size()) {
        const std::size_t end = relative.find(L'\\', start);
        full += L"\\" + relative.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        CreateDirectoryW(FileCallPath(full).c_str(), nullptr);
        if (end == std::wstring::npos)
            break;
        start = end + 1;
    }
    return full;
}

std::wstring TempDir::MakeFile(const std::wstring& relative, const std::string& content)
{
    const std::size_t slash = relative.rfind(L'\\');
    if (slash != std::wstring::npos)
        MakeFolder(relative.substr(0, slash));
    const std::wstring full = path_ + L"\\" + relative;
    HANDLE file = CreateFileW(FileCallPath(full).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(file);
    }
    return full;
}

std::wstring Shell32Path()
{
    wchar_t dir[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(dir, static_cast<UINT>(std::size(dir)));
    return std::wstring(dir, length < std::size(dir) ? length : 0) + L"\\shell32.dll";
}

std::wstring WriteIconFile(const std::wstring& path, int count)
{
    // ICONDIR, then `count` ICONDIRENTRY records, then `count` 16x16 32-bit DIBs with masks.
    const DWORD pixels = 16 * 16 * 4;
    const DWORD mask = 16 * 4; // 1 bpp rows padded to 4 bytes
    const DWORD imageSize = sizeof(BITMAPINFOHEADER) + pixels + mask;
    std::vector<BYTE> file;
    auto put16 = [&](WORD v) { file.push_back(BYTE(v)); file.push_back(BYTE(v >> 8)); };
    auto put32 = [&](DWORD v) { put16(WORD(v)); put16(WORD(v >> 16)); };
    put16(0);
    put16(1);
    put16(WORD(count));
    DWORD offset = 6 + 16 * count;
    for (int i = 0; i < count; ++i) {
        file.push_back(16);
        file.push_back(16);
        file.push_back(0);
        file.push_back(0);
        put16(1);
        put16(32);
        put32(imageSize);
        put32(offset);
        offset += imageSize;
    }
    for (int i = 0; i < count; ++i) {
        BITMAPINFOHEADER header = {};
        header.biSize = sizeof header;
        header.biWidth = 16;
        header.biHeight = 32;
        header.biPlanes = 1;
        header.biBitCount = 32;
        const BYTE* raw = reinterpret_cast<const BYTE*>(&header);
        file.insert(file.end(), raw, raw + sizeof header);
        for (DWORD p = 0; p < 16 * 16; ++p) {
            file.push_back(BYTE(40 * i));
            file.push_back(BYTE(200 - 10 * i));
            file.push_back(BYTE(p));
            file.push_back(255);
        }
        file.insert(file.end(), mask, 0);
    }
    HANDLE handle = CreateFileW(FileCallPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(handle, file.data(), static_cast<DWORD>(file.size()), &written, nullptr);
        CloseHandle(handle);
    }
    return path;
}

// The profile file's text as the platform's profile functions read it: UTF-16 LE after
// a byte order mark, else in the ANSI code page. "<none>" when there is no file.
std::wstring DesktopIniText(const std::wstring& path)
{
    const std::string bytes = ReadFileText(path);
    std::wstring text;
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(static_cast<wchar_t>(static_cast<BYTE>(bytes[i]) | static_cast<BYTE>(bytes[i + 1]) << 8));
        return text;
    }
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length));
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], length);
    }
    return text;
}


std::vector<std::wstring> FolderContent(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(FileCallPath(folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0)
            names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring Joined(std::vector<std::wstring> names)
{
    std::sort(names.begin(), names.end());
    std::wstring text;
    for (const std::wstring& name : names)
        text += name + L"|";
    return text;
}

} // namespace orvane::test
