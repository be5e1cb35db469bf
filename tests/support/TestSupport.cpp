#include "TestSupport.h"

#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orvane::test {

namespace {

std::unique_ptr<KeyGuard::Tree> Capture(HKEY key)
{
    auto tree = std::make_unique<KeyGuard::Tree>();
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameSize = sizeof name;
        DWORD type = 0;
        DWORD dataSize = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &dataSize) != ERROR_SUCCESS)
            break;
        KeyGuard::Value value;
        value.Name.assign(name, nameSize);
        value.Type = type;
        value.Data.resize(dataSize);
        DWORD size = dataSize;
        RegQueryValueExA(key, value.Name.c_str(), nullptr, &type, value.Data.empty() ? nullptr : value.Data.data(), &size);
        value.Data.resize(size);
        tree->Values.push_back(std::move(value));
    }
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY sub = nullptr;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            tree->Subkeys.emplace_back(std::string(name, nameSize), Capture(sub));
            RegCloseKey(sub);
        } else {
            tree->Subkeys.emplace_back(std::string(name, nameSize), nullptr); // cannot be read
        }
    }
    return tree;
}

void Write(HKEY root, const std::string& path, const KeyGuard::Tree& tree)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    for (const auto& value : tree.Values)
        RegSetValueExA(key, value.Name.c_str(), 0, value.Type, value.Data.data(), static_cast<DWORD>(value.Data.size()));
    RegCloseKey(key);
    for (const auto& [name, sub] : tree.Subkeys)
        if (sub)
            Write(root, path + "\\" + name, *sub);
}

bool LessIgnoringCase(const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) < 0; }

void Dump(const KeyGuard::Tree& tree, const std::string& indent, std::string& out)
{
    std::vector<std::string> values;
    for (const auto& value : tree.Values) {
        std::string line = indent + "value [" + value.Name + "] type " + std::to_string(value.Type) + " data";
        for (const BYTE b : value.Data) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02x", b);
            line += hex;
        }
        values.push_back(line + "\n");
    }
    std::sort(values.begin(), values.end(), LessIgnoringCase);
    for (const auto& line : values)
        out += line;

    std::vector<const std::pair<std::string, std::unique_ptr<KeyGuard::Tree>>*> subkeys;
    for (const auto& sub : tree.Subkeys)
        subkeys.push_back(&sub);
    std::sort(subkeys.begin(), subkeys.end(), [](auto* a, auto* b) { return LessIgnoringCase(a->first, b->first); });
    for (const auto* sub : subkeys) {
        out += indent + "key [" + sub->first + "]\n";
        if (sub->second)
            Dump(*sub->second, indent + "  ", out);
        else
            out += indent + "  (cannot open)\n";
    }
}

} // namespace

KeyGuard::KeyGuard(HKEY root, std::string path) : root_(root), path_(std::move(path))
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root_, path_.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
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

bool DeleteKeyTree(HKEY root, const std::string& path)
{
    RegDeleteTreeA(root, path.c_str());
    RegDeleteKeyA(root, path.c_str());
    return !KeyExists(root, path);
}

bool KeyExists(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool ReadRaw(HKEY root, const std::string& path, const char* name, std::vector<BYTE>* data, DWORD* type)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG status = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        data->assign(size, 0);
        status = RegQueryValueExA(key, name, nullptr, type, data->data(), &size);
        data->resize(size);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool ReadValue(HKEY root, const std::string& path, const char* name, std::string* text, DWORD* type)
{
    std::vector<BYTE> data;
    DWORD valueType = 0;
    if (!ReadRaw(root, path, name, &data, &valueType))
        return false;
    if (text) {
        text->assign(data.begin(), data.end());
        // Drop the stored terminator so that tests compare the text itself.
        while (!text->empty() && text->back() == '\0' && (valueType == REG_SZ || valueType == REG_EXPAND_SZ))
            text->pop_back();
    }
    if (type)
        *type = valueType;
    return true;
}

bool WriteValue(HKEY root, const std::string& path, const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG status = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool WriteString(HKEY root, const std::string& path, const char* name, const std::string& text)
{
    return WriteValue(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

std::string ValueText(HKEY root, const std::string& path, const char* name, DWORD* type)
{
    std::string text;
    if (!ReadValue(root, path, name, &text, type))
        return "<none>";
    return text;
}

std::string DumpKey(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "(missing)\n";
    const auto tree = Capture(key);
    RegCloseKey(key);
    std::string out;
    Dump(*tree, "", out);
    return out;
}

ReadOnlyKey::ReadOnlyKey(HKEY root, std::string path, const char* dacl, REGSAM view)
    : root_(root), path_(std::move(path)), view_(view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root_, path_.c_str(), 0, READ_CONTROL | WRITE_DAC | view_, &key) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    saved_.resize(size);
    if (size == 0 || RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, saved_.data(), &size) != ERROR_SUCCESS)
        saved_.clear();
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(dacl, SDDL_REVISION_1, &readOnly, nullptr)) {
        applied_ = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly) == ERROR_SUCCESS;
        LocalFree(readOnly);
    }
    RegCloseKey(key);
}

ReadOnlyKey::~ReadOnlyKey()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root_, path_.c_str(), 0, WRITE_DAC | view_, &key) != ERROR_SUCCESS)
        return;
    if (!saved_.empty()) {
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, saved_.data());
    } else if (applied_) {
        PSECURITY_DESCRIPTOR open = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;KA;;;WD)", SDDL_REVISION_1, &open, nullptr)) {
            RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, open);
            LocalFree(open);
        }
    }
    RegCloseKey(key);
}

namespace {

constexpr char MachineProductKey[] = "Software\\Brindlewick Software\\Orvane";
constexpr char MachineDriveIcons[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";

} // namespace

StandardUser::StandardUser(const std::vector<std::string>& classes)
{
    for (const char* path : {MachineProductKey, MachineDriveIcons}) {
        HKEY key = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_READ, nullptr, &key, &disposition) != ERROR_SUCCESS) {
            applied_ = false;
            continue;
        }
        RegCloseKey(key);
        if (disposition == REG_CREATED_NEW_KEY)
            created_.push_back(path);
        LockTree(HKEY_LOCAL_MACHINE, path, 0);
    }
    // A 32-bit program's HKEY_CLASSES_ROOT is the machine's one classes key.
    locks_.push_back(std::make_unique<ReadOnlyKey>(HKEY_LOCAL_MACHINE, "Software\\Classes", "D:P(A;;KR;;;WD)", KEY_WOW64_64KEY));
    applied_ = applied_ && locks_.back()->Applied();
    for (const std::string& name : classes)
        LockTree(HKEY_LOCAL_MACHINE, "Software\\Classes\\" + name, KEY_WOW64_64KEY);
}

StandardUser::~StandardUser()
{
    locks_.clear();
    for (const std::string& path : created_)
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
}

void StandardUser::LockTree(HKEY root, const std::string& path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return; // nothing there to lock; creating it is refused at its parent
    std::vector<std::string> children;
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.push_back(name);
    }
    RegCloseKey(key);
    locks_.push_back(std::make_unique<ReadOnlyKey>(root, path, "D:P(A;;KR;;;WD)", view));
    applied_ = applied_ && locks_.back()->Applied();
    for (const std::string& child : children)
        LockTree(root, path + "\\" + child, view);
}

ScratchType::ScratchType(bool registered, const char* description)
{
    if (registered) {
        WriteString(HKEY_CLASSES_ROOT, Extension, nullptr, Class);
        WriteString(HKEY_CLASSES_ROOT, Class, nullptr, description);
    }
}

void ScratchType::SetDefaultIcon(const std::string& text, DWORD type) const
{
    WriteValue(HKEY_CLASSES_ROOT, Key("DefaultIcon"), nullptr, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void ScratchType::SetHandler(const std::string& text) const
{
    WriteString(HKEY_CLASSES_ROOT, Key("shellex\\IconHandler"), nullptr, text);
}

std::string ReadFileText(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
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

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

std::string ShellIconLocation(const std::string& path, bool announce)
{
    if (announce)
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    SHFILEINFOA info = {};
    if (!SHGetFileInfoA(path.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION))
        return "<none>";
    return std::string(info.szDisplayName) + "," + std::to_string(info.iIcon);
}

namespace {

void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0)
                continue;
            const std::string child = path + "\\" + data.cFileName;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

} // namespace

std::string UniqueName(const char* prefix)
{
    static unsigned counter = 0;
    char name[64];
    std::snprintf(name, sizeof name, "%sorvt%lx%x%x", prefix, static_cast<unsigned long>(GetCurrentProcessId()), static_cast<unsigned>(GetTickCount() & 0xFFFF), ++counter);
    return name;
}

TempDir::TempDir()
{
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    path_ = std::string(base) + UniqueName("");
    if (!path_.empty() && path_.back() == '\\')
        path_.pop_back();
    CreateDirectoryA(path_.c_str(), nullptr);
}

TempDir::~TempDir() { RemoveTree(path_); }

std::string TempDir::MakeFolder(const std::string& relative)
{
    std::string full = path_;
    std::size_t start = 0;
    while (start <= relative.size()) {
        const std::size_t end = relative.find('\\', start);
        full += "\\" + relative.substr(start, end == std::string::npos ? std::string::npos : end - start);
        CreateDirectoryA(full.c_str(), nullptr);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return full;
}

std::string TempDir::MakeFile(const std::string& relative, const std::string& content)
{
    const std::size_t slash = relative.rfind('\\');
    if (slash != std::string::npos)
        MakeFolder(relative.substr(0, slash));
    const std::string full = path_ + "\\" + relative;
    HANDLE file = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(file);
    }
    return full;
}

std::string Shell32Path()
{
    char dir[MAX_PATH] = {};
    GetSystemDirectoryA(dir, sizeof dir);
    return std::string(dir) + "\\shell32.dll";
}

std::string WriteIconFile(const std::string& path, int count)
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
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(handle, file.data(), static_cast<DWORD>(file.size()), &written, nullptr);
        CloseHandle(handle);
    }
    return path;
}

} // namespace orvane::test
