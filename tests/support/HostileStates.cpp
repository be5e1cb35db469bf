#include "HostileStates.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <iterator>

#include "FileTypeIcons.h"
#include "IconLocation.h"

namespace orvane::test {
namespace {

constexpr const wchar_t* Names[] = {
    L"no-default-icon", L"curver-chain", L"curver-cycle",  L"curver-self", L"userchoice",
    L"indexless",       L"dword-backup", L"iconfile-only", L"empty-index", L"long-iconfile",
    L"link",            L"large-ansi",   L"no-profile",    L"no-icon-entries", L"windows-utf16",
    L"held-open",       L"others-drive", L"other-handler", L"locked-keys",
};
static_assert(std::size(Names) == static_cast<std::size_t>(Hostile::Count));

constexpr Hostile ClassGroup[] = {Hostile::NoDefaultIcon, Hostile::CurVerChain, Hostile::CurVerCycle,
                                  Hostile::CurVerSelf, Hostile::UserChoice};
constexpr Hostile FolderGroup[] = {Hostile::IconFileOnly, Hostile::EmptyIndex,    Hostile::LongIconFile,
                                   Hostile::Link,         Hostile::LargeAnsi,     Hostile::NoDesktopIni,
                                   Hostile::NoIconEntries, Hostile::WindowsUtf16};
constexpr Hostile Independent[] = {Hostile::Indexless,   Hostile::DwordBackup,  Hostile::HeldOpen,
                                   Hostile::OthersDrive, Hostile::OtherHandler, Hostile::LockedKeys};

constexpr wchar_t UserClasses[] = L"Software\\Classes\\";
constexpr wchar_t FileExts[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";
constexpr wchar_t StartIcon[] = L"C:\\icons\\folder-start.ico";

std::optional<std::wstring> Variable(const wchar_t* name)
{
    wchar_t text[1024];
    const DWORD length = GetEnvironmentVariableW(name, text, static_cast<DWORD>(std::size(text)));
    if (length == 0 || length >= std::size(text))
        return std::nullopt;
    return std::wstring(text, length);
}

std::vector<std::wstring> Subkeys(HKEY root, const std::wstring& path)
{
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = static_cast<DWORD>(std::size(name));
        if (RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, size);
    }
    RegCloseKey(key);
    return names;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::string Excerpt(const std::string& text, std::size_t at)
{
    const std::size_t from = at > 160 ? at - 160 : 0;
    std::string part = text.substr(from, 480);
    return (from > 0 ? "..." : "") + part + (from + part.size() < text.size() ? "..." : "");
}

} // namespace

const wchar_t* HostileName(Hostile state) { return Names[static_cast<int>(state)]; }

std::set<Hostile> HostileFromEnvironment(std::mt19937& random)
{
    const std::wstring list = Lower(Variable(L"ORVANE_SEQUENCE_HOSTILE").value_or(L"all"));
    std::set<Hostile> states;
    if (list == L"none")
        return states;
    if (list == L"all") {
        const std::size_t classPick = random() % (std::size(ClassGroup) + 1);
        if (classPick < std::size(ClassGroup))
            states.insert(ClassGroup[classPick]);
        const std::size_t folderPick = random() % (std::size(FolderGroup) + 1);
        if (folderPick < std::size(FolderGroup))
            states.insert(FolderGroup[folderPick]);
        for (Hostile state : Independent)
            if (random() % 2 == 0)
                states.insert(state);
        return states;
    }
    const std::wstring padded = L"," + list + L",";
    for (int i = 0; i < static_cast<int>(Hostile::Count); ++i)
        if (Contains(padded, std::wstring(L",") + Names[i] + L","))
            states.insert(static_cast<Hostile>(i));
    // One class and one Desktop.ini at a time: the first named of each group wins.
    auto firstOnly = [&states](const Hostile* group, std::size_t size) {
        bool seen = false;
        for (std::size_t i = 0; i < size; ++i) {
            if (seen)
                states.erase(group[i]);
            seen = seen || states.count(group[i]) > 0;
        }
    };
    firstOnly(ClassGroup, std::size(ClassGroup));
    firstOnly(FolderGroup, std::size(FolderGroup));
    return states;
}

std::wstring HostileList(const std::set<Hostile>& states)
{
    std::wstring text;
    for (Hostile state : states)
        text += (text.empty() ? L"" : L",") + std::wstring(HostileName(state));
    return text.empty() ? L"none" : text;
}

HostileType::HostileType(const std::wstring& extension, const std::wstring& named, std::set<Hostile>& states,
                         const wchar_t* machineIcon)
{
    world_.Extension = extension;
    world_.Named = named;
    world_.Classes = {named};
    auto addClass = [&](const std::wstring& name) {
        guards_.push_back(std::make_unique<KeyGuard>(HKEY_CLASSES_ROOT, name));
        guards_.push_back(std::make_unique<KeyGuard>(HKEY_CURRENT_USER, UserClasses + name));
        WriteString(HKEY_CLASSES_ROOT, name, nullptr, L"Scratch document, another class");
        world_.Classes.push_back(name);
    };
    std::optional<std::wstring> iconClass; // the used class when it has a DefaultIcon
    if (states.count(Hostile::NoDefaultIcon) || states.count(Hostile::CurVerSelf)) {
        world_.Used = {named};
        if (states.count(Hostile::CurVerSelf))
            WriteString(HKEY_CLASSES_ROOT, named + L"\\CurVer", nullptr, named);
    } else if (states.count(Hostile::CurVerChain)) {
        const std::wstring current = named + L"v2";
        addClass(current);
        WriteString(HKEY_CLASSES_ROOT, named + L"\\CurVer", nullptr, current);
        world_.Used = {current};
        iconClass = current;
    } else if (states.count(Hostile::CurVerCycle)) {
        const std::wstring other = named + L"b";
        addClass(other);
        WriteString(HKEY_CLASSES_ROOT, named + L"\\CurVer", nullptr, other);
        WriteString(HKEY_CLASSES_ROOT, other + L"\\CurVer", nullptr, named);
        world_.Used = {other, named};
    } else if (states.count(Hostile::UserChoice)) {
        const std::wstring chosen = named + L"choice";
        addClass(chosen);
        WriteString(HKEY_CLASSES_ROOT, named + L"\\DefaultIcon", nullptr, machineIcon);
        WriteString(HKEY_CURRENT_USER, std::wstring(FileExts) + extension + L"\\UserChoice", L"ProgId", chosen);
        world_.Used = {chosen};
    } else {
        world_.Used = {named};
        iconClass = named;
    }
    if (!iconClass) {
        states.erase(Hostile::Indexless);
        states.erase(Hostile::DwordBackup);
        return;
    }
    const std::wstring key = *iconClass + L"\\DefaultIcon";
    if (states.count(Hostile::Indexless)) {
        WriteString(HKEY_CLASSES_ROOT, key, nullptr, L"msiexec.exe");
        world_.BaseIcon = L"msiexec.exe,-99";
    } else {
        WriteString(HKEY_CLASSES_ROOT, key, nullptr, machineIcon);
        world_.BaseIcon = machineIcon;
    }
    if (states.count(Hostile::DwordBackup)) {
        const DWORD one = 1;
        WriteValue(HKEY_CLASSES_ROOT, key, L"BAKIconInfo", REG_DWORD, &one, sizeof one);
    }
}

namespace {

// What a folder without icon entries shows: the Folder class's icon, where it has one.
std::wstring FolderClassText()
{
    const std::optional<IconLocation> icon = LookupClassIcon(HKEY_CLASSES_ROOT, L"Folder", nullptr);
    return icon ? std::wstring(icon->IconPath) + L"," + std::to_wstring(icon->Index) : L"<none>";
}

} // namespace

std::optional<std::wstring> WriteHostileDesktopIni(Hostile state, const std::wstring& desktopIni,
                                                const std::wstring& outside)
{
    const std::string start = "C:\\icons\\folder-start.ico";
    std::string bytes = "[.ShellClassInfo]\r\n";
    std::wstring icon = std::wstring(StartIcon) + L",2";
    switch (state) {
    // Read without an index: the store reports NoIndex, which Windows shows as icon 0.
    case Hostile::IconFileOnly:
        bytes += "IconFile=" + start + "\r\n";
        icon = std::wstring(StartIcon) + L"," + std::to_wstring(NoIndex);
        break;
    case Hostile::EmptyIndex:
        bytes += "IconFile=" + start + "\r\nIconIndex=\r\n";
        icon = std::wstring(StartIcon) + L"," + std::to_wstring(NoIndex);
        break;
    case Hostile::LongIconFile: {
        // 9 + 246 + 4 = 259 characters, the longest path Windows allows.
        const std::string path = "C:\\icons\\" + std::string(246, 'l') + ".ico";
        bytes += "IconFile=" + path + "\r\nIconIndex=2\r\n";
        icon = FromUtf8(path) + L",2";
        break;
    }
    case Hostile::LargeAnsi:
    case Hostile::Link:
        bytes += "IconResource=" + start + ",2\r\nIconFile=" + start + "\r\nIconIndex=2\r\n";
        if (state == Hostile::LargeAnsi) {
            // Notes a user keeps in the folder's settings, in the ANSI code page ("café").
            bytes += "[Notes]\r\n";
            for (int line = 0; bytes.size() <= 1100 * 1024; ++line)
                bytes += "Note" + std::to_string(line) + "=caf\xE9 " + std::string(60, 'n') + "\r\n";
        }
        break;
    case Hostile::NoIconEntries:
        bytes += "InfoTip=Notes kept here\r\n[ViewState]\r\nMode=\r\nVid=\r\nFolderType=Documents\r\n";
        icon = FolderClassText();
        break;
    case Hostile::WindowsUtf16: {
        const std::string text = "\r\n[.ShellClassInfo]\r\nIconResource=" + start +
                                 ",2\r\nLocalizedResourceName=@shell32.dll,-21770\r\n";
        bytes = "\xFF\xFE";
        for (const char c : text)
            bytes += std::string(1, c) + '\0';
        break;
    }
    case Hostile::NoDesktopIni: {
        SetFileAttributesW(desktopIni.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(desktopIni.c_str());
        const std::wstring folder = desktopIni.substr(0, desktopIni.rfind(L'\\'));
        SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_DIRECTORY);
        return FolderClassText();
    }
    default:
        return std::nullopt;
    }
    const std::wstring folder = desktopIni.substr(0, desktopIni.rfind(L'\\'));
    if (state == Hostile::Link) {
        if (!WriteBytes(outside, bytes))
            return std::nullopt;
        SetFileAttributesW(desktopIni.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(desktopIni.c_str());
        if (!CreateSymbolicLinkW(desktopIni.c_str(), outside.c_str(), 0) || !IsLink(desktopIni))
            return std::nullopt;
    } else {
        if (!WriteBytes(desktopIni, bytes))
            return std::nullopt;
    }
    // Entries written by hand are in a file nobody hid, in a folder made read-only (which
    // Explorer takes as a system folder); the others as Windows leaves a folder it
    // customised.
    const bool byHand =
        state == Hostile::IconFileOnly || state == Hostile::EmptyIndex || state == Hostile::NoIconEntries;
    if (state != Hostile::Link)
        SetFileAttributesW(desktopIni.c_str(), byHand ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    SetFileAttributesW(folder.c_str(), byHand ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_SYSTEM);
    return icon;
}

bool IsLink(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

HeldFile::HeldFile(const std::wstring& path)
    : handle_(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr))
{
}

HeldFile::~HeldFile()
{
    if (handle_ != INVALID_HANDLE_VALUE)
        CloseHandle(handle_);
}

UserLocks::UserLocks(const std::vector<std::wstring>& classes, const std::wstring& driveKey)
{
    const std::wstring productRoot = ProductRoot;
    const std::wstring productKey = productRoot + L"\\Orvane";
    if (!KeyExists(HKEY_CURRENT_USER, productRoot))
        created_.push_back(productRoot);
    else if (!KeyExists(HKEY_CURRENT_USER, productKey))
        created_.push_back(productKey);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, productKey.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
        RegCloseKey(key);
    else
        applied_ = false;
    LockTree(productRoot);
    // A fresh profile may have no classes key yet: it is made (and removed again) so that
    // the lock holds whatever ran before.
    if (!KeyExists(HKEY_CURRENT_USER, L"Software\\Classes")) {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            RegCloseKey(key);
            created_.push_back(L"Software\\Classes");
        }
    }
    locks_.push_back(std::make_unique<ReadOnlyKey>(HKEY_CURRENT_USER, L"Software\\Classes"));
    applied_ = applied_ && locks_.back()->Applied();
    for (const std::wstring& name : classes)
        LockTree(UserClasses + name);
    // Each key of the drive's path that exists, the letter's with everything below it.
    for (std::size_t at = std::wcslen(UserClasses); at != std::wstring::npos;) {
        at = driveKey.find(L'\\', at + 1);
        const std::wstring part = driveKey.substr(0, at);
        if (!KeyExists(HKEY_CURRENT_USER, part))
            break;
        if (at == std::wstring::npos) {
            LockTree(part);
        } else {
            locks_.push_back(std::make_unique<ReadOnlyKey>(HKEY_CURRENT_USER, part));
            applied_ = applied_ && locks_.back()->Applied();
        }
    }
}

UserLocks::~UserLocks()
{
    locks_.clear();
    for (const std::wstring& path : created_)
        DeleteKeyTree(HKEY_CURRENT_USER, path);
}

void UserLocks::LockTree(const std::wstring& path)
{
    if (!KeyExists(HKEY_CURRENT_USER, path))
        return;
    const std::vector<std::wstring> children = Subkeys(HKEY_CURRENT_USER, path);
    locks_.push_back(std::make_unique<ReadOnlyKey>(HKEY_CURRENT_USER, path));
    applied_ = applied_ && locks_.back()->Applied();
    for (const std::wstring& child : children)
        LockTree(path + L"\\" + child);
}

std::string FirstDifference(const Regions& before, const Regions& after, const std::set<std::string>& allowed)
{
    std::set<std::string> names;
    for (const auto& [name, text] : before)
        names.insert(name);
    for (const auto& [name, text] : after)
        names.insert(name);
    for (const std::string& name : names) {
        if (allowed.count(name))
            continue;
        const auto was = before.find(name);
        const auto now = after.find(name);
        const std::string a = was == before.end() ? "(not watched)" : was->second;
        const std::string b = now == after.end() ? "(not watched)" : now->second;
        if (a == b)
            continue;
        const auto mismatch = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
        const std::size_t at = static_cast<std::size_t>(mismatch.first - a.begin());
        return name + " changed; was:\n" + Excerpt(a, at) + "\nis now:\n" + Excerpt(b, at);
    }
    return {};
}

std::string FileRegion(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    char head[64];
    std::snprintf(head, sizeof head, "attributes %lx\n", static_cast<unsigned long>(attributes));
    return head + ReadFileText(path);
}

} // namespace orvane::test
