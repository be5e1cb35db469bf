// How long the shell waits for a file's icon location from Orvane, against the shell's own
// lookup of a plain file's icon on the same machine in the same run. Three kinds of file
// are asked:
//   plain    a file of a class with a plain DefaultIcon ("shell32.dll,4");
//   entry    a file of a class on which Orvane is the icon handler, with an entry of its
//            own in the per-file table (alternately this user's table and all users');
//   sibling  a file of that class without an entry: the type's icon, from DefaultIconBAK.
// Both tables hold entries while the figures are taken, so that each request reads this
// user's table before all users'. For each kind, Orvane's own part is IPersistFile::Load
// and IExtractIconW::GetIconLocation (Explorer's interface) on one object; COM's creation
// and release of the object is timed alone, once for all kinds. The shell is asked
// through the folder, as Explorer asks for a plain file's icon:
// IShellFolder::GetUIObjectOf(IID_IExtractIconW), GetIconLocation, Release. Each figure is
// the best of three rounds, the rounds interleaving all measurements. Then entries that
// know their file: the answer for a file without an entry while 0, 1 and 1,000 of 50,000
// entries have lost their file, and the first request after a change of such a table.
// Each step runs under a time limit of its own and a step that runs out says so
// (BenchStep.h); what an earlier run left when it was ended so goes first (EarlierRuns.h).
//
// Usage: orvane_server_bench [files per kind] [entries that know their file]   (10000, 50000)
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "Batch.h"
#include "BenchStep.h"
#include "EarlierRuns.h"
#include "ExtensionIdentity.h"
#include "FileIdentity.h"
#include "Scope.h"
#include "ShellNotify.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Rounds = 3;
constexpr wchar_t ProductParentKey[] = L"Software\\Brindlewick Software";
constexpr wchar_t ProductKeyPath[] = L"Software\\Brindlewick Software\\Orvane";
constexpr wchar_t TableKeyPath[] = L"Software\\Brindlewick Software\\Orvane\\FileIcons";
constexpr wchar_t IdsKeyPath[] = L"Software\\Brindlewick Software\\Orvane\\FileIconIds";
constexpr wchar_t EntryIcon[] = L"C:\\icons\\set.icl";
constexpr int EntryIndex = 7;

// UTF-8 (the build's paths) to UTF-16 and back, for the console.
std::wstring FromUtf8(const char* text)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string Utf8(const std::wstring& text)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow.data(), length, nullptr, nullptr);
    narrow.resize(narrow.size() - 1);
    return narrow;
}

std::wstring WindowsPathOf(const char* builtPath)
{
    std::wstring path = FromUtf8(builtPath);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    if (!path.empty() && path[0] == L'\\')
        path = L"Z:" + path; // Wine shows the Unix root as drive Z:
    return path;
}

bool WriteText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    // The size is in bytes, the terminating zero counted.
    const LONG status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool KeyExists(HKEY root, const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Deletes root\path when it holds neither values nor subkeys.
void DeleteIfEmpty(HKEY root, const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 1;
    DWORD values = 1;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    if (subkeys == 0 && values == 0)
        RegDeleteKeyW(root, path);
}

// Registers the built DLL for the run when no registration is there, and takes out again
// only what it put in.
class ServerRegistration {
public:
    ServerRegistration()
    {
        IUnknown* probe = nullptr;
        if (SUCCEEDED(CoCreateInstance(orvane::CLSID_ShellIconExtension, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                       reinterpret_cast<void**>(&probe)))) {
            probe->Release();
            std::printf("using the registered extension\n");
            return;
        }
        module_ = LoadLibraryW(WindowsPathOf(ORVANE_DLL).c_str());
        auto reg = Function("DllRegisterServer");
        registered_ = reg != nullptr && SUCCEEDED(reg());
        std::printf("registered %s for the run\n", Utf8(WindowsPathOf(ORVANE_DLL)).c_str());
    }
    ~ServerRegistration()
    {
        if (registered_) {
            if (auto unreg = Function("DllUnregisterServer"))
                unreg();
        }
        if (module_ != nullptr)
            FreeLibrary(module_);
    }

private:
    using Entry = HRESULT(STDAPICALLTYPE*)();
    Entry Function(const char* name)
    {
        return module_ == nullptr ? nullptr
                                  : reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }
    HMODULE module_ = nullptr;
    bool registered_ = false;
};

// The file kinds asked, with the answer each must get.
struct Kind {
    const char* Name;
    std::vector<std::wstring> Paths;
    const wchar_t* Icon;
    int Index;
};

// Two unique classes (a plain one and one on which Orvane is installed), a folder of files
// of both, and table entries in both scopes; everything goes again at the end.
class BenchFiles {
public:
    explicit BenchFiles(int count)
    {
        wchar_t suffix[32];
        std::swprintf(suffix, std::size(suffix), L"orvbench%lx", GetCurrentProcessId());
        plainExtension_ = std::wstring(L".") + suffix + L"p";
        plainClass_ = std::wstring(suffix) + L"plain";
        ownExtension_ = std::wstring(L".") + suffix + L"o";
        ownClass_ = std::wstring(suffix) + L"own";
        wchar_t temp[MAX_PATH];
        const DWORD length = GetTempPathW(static_cast<DWORD>(std::size(temp)), temp);
        if (length == 0 || length >= std::size(temp))
            return;
        folder_ = std::wstring(temp) + suffix;
        if (!CreateDirectoryW(folder_.c_str(), nullptr))
            return;
        userProductExisted_ = KeyExists(HKEY_CURRENT_USER, ProductParentKey);
        machineTableExisted_ = KeyExists(HKEY_LOCAL_MACHINE, TableKeyPath);

        // The installed class as installing a file's own icon leaves it: DefaultIcon "%1",
        // the type's icon kept in DefaultIconBAK, Orvane the icon handler, no earlier handler.
        ok_ = WriteText(HKEY_CLASSES_ROOT, plainExtension_, nullptr, plainClass_) &&
              WriteText(HKEY_CLASSES_ROOT, plainClass_ + L"\\DefaultIcon", nullptr, L"shell32.dll,4") &&
              WriteText(HKEY_CLASSES_ROOT, ownExtension_, nullptr, ownClass_) &&
              WriteText(HKEY_CLASSES_ROOT, ownClass_ + L"\\DefaultIconBAK", nullptr, L"shell32.dll,4") &&
              WriteText(HKEY_CLASSES_ROOT, ownClass_ + L"\\shellex\\IconHandler", nullptr, orvane::ExtensionClsidText) &&
              WriteText(HKEY_CLASSES_ROOT, ownClass_ + L"\\DefaultIcon", nullptr, L"%1");

        kinds_.push_back({"plain", {}, L"shell32.dll", 4});
        kinds_.push_back({"entry", {}, EntryIcon, EntryIndex});
        kinds_.push_back({"sibling", {}, L"shell32.dll", 4});
        const wchar_t* stems[] = {L"p", L"e", L"s"};
        const std::wstring* extensions[] = {&plainExtension_, &ownExtension_, &ownExtension_};
        const std::wstring entry = std::wstring(EntryIcon) + L"," + std::to_wstring(EntryIndex) + L"," + ownClass_;
        for (std::size_t k = 0; k < kinds_.size() && ok_; ++k) {
            for (int i = 0; i < count && ok_; ++i) {
                wchar_t name[32];
                std::swprintf(name, std::size(name), L"%ls%05d", stems[k], i);
                const std::wstring path = folder_ + L"\\" + name + *extensions[k];
                HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
                ok_ = file != INVALID_HANDLE_VALUE;
                if (ok_)
                    CloseHandle(file);
                files_.push_back(path);
                kinds_[k].Paths.push_back(path);
                if (k == 0)
                    plainNames_.push_back(std::wstring(name) + *extensions[k]);
                if (k == 1 && ok_)
                    ok_ = WriteText(i % 2 == 0 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, TableKeyPath, path.c_str(), entry);
            }
        }
    }
    ~BenchFiles()
    {
        for (const std::wstring& path : files_)
            DeleteFileW(path.c_str());
        if (!folder_.empty())
            RemoveDirectoryW(folder_.c_str());
        for (const std::wstring* name : {&plainClass_, &ownClass_, &plainExtension_, &ownExtension_}) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, name->c_str());
            RegDeleteKeyW(HKEY_CLASSES_ROOT, name->c_str());
        }
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            HKEY table = nullptr;
            if (RegOpenKeyExW(root, TableKeyPath, 0, KEY_SET_VALUE, &table) != ERROR_SUCCESS)
                continue;
            for (const std::wstring& path : kinds_.size() > 1 ? kinds_[1].Paths : std::vector<std::wstring>{})
                RegDeleteValueW(table, path.c_str());
            RegCloseKey(table);
        }
        if (!userProductExisted_) {
            for (const wchar_t* path : {TableKeyPath, ProductKeyPath, ProductParentKey})
                DeleteIfEmpty(HKEY_CURRENT_USER, path);
        }
        if (!machineTableExisted_)
            DeleteIfEmpty(HKEY_LOCAL_MACHINE, TableKeyPath);
    }
    bool Ok() const { return ok_; }
    const std::wstring& Folder() const { return folder_; }
    const std::vector<std::wstring>& PlainNames() const { return plainNames_; }
    const std::vector<Kind>& Kinds() const { return kinds_; }
    const std::wstring& OwnClass() const { return ownClass_; }

private:
    std::wstring plainExtension_;
    std::wstring plainClass_;
    std::wstring ownExtension_;
    std::wstring ownClass_;
    std::wstring folder_;
    std::vector<std::wstring> files_;
    std::vector<std::wstring> plainNames_;
    std::vector<Kind> kinds_;
    bool userProductExisted_ = true;
    bool machineTableExisted_ = true;
    bool ok_ = false;
};

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// COM's creation and release of the object alone; seconds, negative on a failure.
double CreateOnly(std::size_t count)
{
    const auto start = Clock::now();
    for (std::size_t i = 0; i < count; ++i) {
        IPersistFile* persist = nullptr;
        if (FAILED(CoCreateInstance(orvane::CLSID_ShellIconExtension, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistFile,
                                    reinterpret_cast<void**>(&persist))))
            return -1;
        persist->Release();
    }
    return Seconds(start);
}

// One extension object, asked as Explorer asks it: IPersistFile::Load, then
// IExtractIconW::GetIconLocation.
class Handler {
public:
    Handler()
    {
        if (SUCCEEDED(CoCreateInstance(orvane::CLSID_ShellIconExtension, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IPersistFile, reinterpret_cast<void**>(&persist_))))
            persist_->QueryInterface(IID_IExtractIconW, reinterpret_cast<void**>(&extract_));
    }
    ~Handler()
    {
        if (extract_ != nullptr)
            extract_->Release();
        if (persist_ != nullptr)
            persist_->Release();
    }
    Handler(const Handler&) = delete;
    Handler& operator=(const Handler&) = delete;
    bool Ok() const { return extract_ != nullptr; }
    // True when the file is answered with the kind's icon.
    bool Answers(const Kind& kind, const std::wstring& path)
    {
        wchar_t location[MAX_PATH] = {};
        int index = -1;
        UINT flags = 0;
        HRESULT hr = persist_->Load(path.c_str(), STGM_READ);
        if (SUCCEEDED(hr))
            hr = extract_->GetIconLocation(0, location, MAX_PATH, &index, &flags);
        return hr == S_OK && std::wcscmp(location, kind.Icon) == 0 && index == kind.Index;
    }

private:
    IPersistFile* persist_ = nullptr;
    IExtractIconW* extract_ = nullptr;
};

// Orvane's own part for each file of the kind, on one object; seconds, negative on a wrong
// answer.
double AskOurs(const Kind& kind, std::size_t count)
{
    Handler handler;
    bool right = handler.Ok();
    const auto start = Clock::now();
    for (std::size_t i = 0; i < count && right; ++i)
        right = handler.Answers(kind, kind.Paths[i]);
    const double seconds = Seconds(start);
    if (!right)
        std::printf("a wrong answer for a file of kind %s\n", kind.Name);
    return right ? seconds : -1;
}

// The first request after a change: before each request a value that no answer reads is
// written into root\key (the request then arms the watch again and reads anew what the
// change may have touched). Microseconds per request, negative on a wrong answer.
double AskAfterChange(const Kind& kind, HKEY root, const std::wstring& key, std::size_t count)
{
    Handler handler;
    bool right = handler.Ok();
    double seconds = 0;
    for (std::size_t i = 0; i < count && right; ++i) {
        right = WriteText(root, key, L"OrvaneBenchTouch", std::to_wstring(i));
        const auto start = Clock::now();
        right = handler.Answers(kind, kind.Paths[i % kind.Paths.size()]) && right;
        seconds += Seconds(start);
    }
    HKEY touched = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, &touched) == ERROR_SUCCESS) {
        RegDeleteValueW(touched, L"OrvaneBenchTouch");
        RegCloseKey(touched);
    }
    return right ? seconds / count * 1e6 : -1;
}

// The shell's whole lookup of a plain file's icon; seconds, negative on a failure.
double AskShell(IShellFolder* folder, const std::vector<PITEMID_CHILD>& children, std::size_t count)
{
    const auto start = Clock::now();
    for (std::size_t i = 0; i < count; ++i) {
        IExtractIconW* extract = nullptr;
        PCUITEMID_CHILD item = children[i];
        if (FAILED(folder->GetUIObjectOf(nullptr, 1, &item, IID_IExtractIconW, nullptr, reinterpret_cast<void**>(&extract))))
            return -1;
        wchar_t location[MAX_PATH] = {};
        int index = -1;
        UINT flags = 0;
        const HRESULT hr = extract->GetIconLocation(0, location, MAX_PATH, &index, &flags);
        extract->Release();
        if (FAILED(hr))
            return -1;
    }
    return Seconds(start);
}

// Best of the rounds for each measurement: creation, each kind's own part, the shell.
struct Figures {
    double Create = 1e9;
    std::vector<double> Ours;
    double Shell = 1e9;
};

bool RunRounds(const BenchFiles& files, IShellFolder* folder, const std::vector<PITEMID_CHILD>& children,
               std::size_t count, int rounds, Figures& best)
{
    const std::vector<Kind>& kinds = files.Kinds();
    best.Ours.assign(kinds.size(), 1e9);
    for (int round = 0; round < rounds; ++round) {
        const double create = CreateOnly(count);
        if (create < 0) {
            std::printf("could not create the extension\n");
            return false;
        }
        best.Create = std::min(best.Create, create);
        for (std::size_t k = 0; k < kinds.size(); ++k) {
            const double ours = AskOurs(kinds[k], count);
            if (ours < 0)
                return false;
            best.Ours[k] = std::min(best.Ours[k], ours);
        }
        const double shell = AskShell(folder, children, count);
        if (shell < 0) {
            std::printf("the shell failed to answer\n");
            return false;
        }
        best.Shell = std::min(best.Shell, shell);
    }
    return true;
}

// A batch that gives each of `count` new files of one fresh type its own icon through the
// store's batch path (each change one table entry, the first also installing the handler
// on the class), the handler asked for the file just changed after every 100 changes, as
// Explorer asks while the batch runs; everything is restored and removed afterwards.
// False on a wrong answer or a failed change.
bool BatchOfFiles(const std::wstring& folder, int count)
{
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, static_cast<UINT>(std::size(system)));
    if (length == 0 || length >= std::size(system))
        return false;
    const std::wstring icon = std::wstring(system) + L"\\shell32.dll";
    wchar_t suffix[32];
    std::swprintf(suffix, std::size(suffix), L"orvbatch%lx", GetCurrentProcessId());
    const std::wstring extension = std::wstring(L".") + suffix;
    const std::wstring className = std::wstring(suffix) + L"file";
    bool ok = WriteText(HKEY_CLASSES_ROOT, extension, nullptr, className) &&
              WriteText(HKEY_CLASSES_ROOT, className + L"\\DefaultIcon", nullptr, L"shell32.dll,4");
    Kind kind{"batch", {}, icon.c_str(), 5};
    for (int i = 0; i < count && ok; ++i) {
        wchar_t name[32];
        std::swprintf(name, std::size(name), L"\\b%05d", i);
        const std::wstring path = folder + name + extension;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ok = file != INVALID_HANDLE_VALUE;
        if (ok)
            CloseHandle(file);
        kind.Paths.push_back(path);
    }

    orvane::BatchRequest request;
    request.Operation = orvane::BatchOperation::Apply;
    request.IconPath = icon;
    request.Index = kind.Index;
    request.Paths = kind.Paths;
    Handler handler;
    ok = ok && handler.Ok();
    double worst = 0;
    bool right = true;
    double total = 0;
    if (ok) {
        orvane::ShellNotifier notifier;
        const auto start = Clock::now();
        const orvane::BatchResult applied =
            orvane::RunBatch(request, notifier, [&](std::size_t done, std::size_t) {
                if (done % 100 != 0 || done == 0)
                    return;
                const auto asked = Clock::now();
                right = handler.Answers(kind, kind.Paths[done - 1]) && right;
                worst = std::max(worst, Seconds(asked));
            });
        total = Seconds(start);
        ok = applied.Changed == kind.Paths.size() && applied.Failures.empty();
        request.Operation = orvane::BatchOperation::Restore;
        orvane::RunBatch(request, notifier);
    }
    if (ok && right)
        std::printf("batch files %d: total %.2f s, handler worst %.1f ms\n", count, total, worst * 1e3);
    else
        std::printf("batch files %d: %s\n", count, ok ? "a wrong answer from the handler" : "the batch failed");
    for (const std::wstring& path : kind.Paths)
        DeleteFileW(path.c_str());
    for (const std::wstring* name : {&className, &extension}) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, name->c_str());
        RegDeleteKeyW(HKEY_CLASSES_ROOT, name->c_str());
    }
    return ok && right;
}

// All users' table grown to `entries` values (other files' entries, beside those already
// there), then changed once (a value that no answer reads) before each of a few requests
// for a file of the kind; prints the slowest of those first requests. The values go again.
bool TableChange(const Kind& kind, int entries)
{
    HKEY table = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, TableKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &table, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const std::wstring data = std::wstring(EntryIcon) + L",1,orvbenchnone";
    std::vector<std::wstring> names;
    bool ok = true;
    for (int i = 0; i < entries && ok; ++i) {
        wchar_t name[64];
        std::swprintf(name, std::size(name), L"C:\\orvane bench\\filler%06d.txt", i);
        names.emplace_back(name);
        ok = RegSetValueExW(table, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    Handler handler;
    ok = ok && handler.Ok() && handler.Answers(kind, kind.Paths[0]);
    double worst = 0;
    constexpr int Requests = 5;
    for (int i = 0; i < Requests && ok; ++i) {
        const std::wstring touch = std::to_wstring(i);
        ok = RegSetValueExW(table, L"OrvaneBenchTouch", 0, REG_SZ, reinterpret_cast<const BYTE*>(touch.c_str()),
                            static_cast<DWORD>((touch.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
        const auto start = Clock::now();
        ok = handler.Answers(kind, kind.Paths[(i + 1) % kind.Paths.size()]) && ok;
        worst = std::max(worst, Seconds(start));
    }
    RegDeleteValueW(table, L"OrvaneBenchTouch");
    for (const std::wstring& name : names)
        RegDeleteValueW(table, name.c_str());
    RegCloseKey(table);
    if (ok)
        std::printf("table change entries %d: first request %.1f ms (slowest of %d)\n", entries, worst * 1e3, Requests);
    else
        std::printf("table change entries %d: a wrong answer or a failed write\n", entries);
    return ok;
}

// Waits until this process has used almost no processor time for two half seconds in a
// row (the handler's walk on the thread pool has ended), at most two minutes; gives the
// milliseconds waited.
double WaitUntilQuiet()
{
    const auto used = [] {
        FILETIME created, exited, kernel, user;
        GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
        const auto ticks = [](const FILETIME& time) {
            return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
        };
        return ticks(kernel) + ticks(user);
    };
    const auto start = Clock::now();
    int quiet = 0;
    for (ULONGLONG before = used(); quiet < 2 && Seconds(start) < 120;) {
        Sleep(500);
        const ULONGLONG now = used();
        quiet = now - before < 100000 ? quiet + 1 : 0; // 10 ms in 100-nanosecond units
        before = now;
    }
    return Seconds(start) * 1e3;
}

// All users' table with `entries` entries that know their file, the files real and spread
// over 100 folders; everything goes again with it.
class FillerTable {
public:
    static constexpr int Folders = 100;

    FillerTable(const std::wstring& folder, int entries) : fillers_(folder + L"\\fillers")
    {
        ok_ = CreateDirectoryW(fillers_.c_str(), nullptr) != FALSE;
        for (int f = 0; f < Folders && ok_; ++f)
            ok_ = CreateDirectoryW((fillers_ + L"\\" + std::to_wstring(f)).c_str(), nullptr) != FALSE;
        ok_ = ok_ && RegCreateKeyExW(HKEY_LOCAL_MACHINE, TableKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &table_,
                                     nullptr) == ERROR_SUCCESS;
        const std::wstring data = std::wstring(EntryIcon) + L",1,orvbenchnone";
        for (int i = 0; i < entries && ok_; ++i) {
            wchar_t name[48];
            std::swprintf(name, std::size(name), L"\\%d\\filler%06d.txt", i % Folders, i);
            names_.push_back(fillers_ + name);
            HANDLE file = CreateFileW(names_.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            ok_ = file != INVALID_HANDLE_VALUE;
            if (ok_)
                CloseHandle(file);
            ok_ = ok_ &&
                  RegSetValueExW(table_, names_.back().c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
                  orvane::WriteFileIconIdentity(names_.back().c_str(), orvane::Scope::AllUsers,
                                                orvane::ReadFileIdentity(names_.back().c_str())) == ERROR_SUCCESS;
        }
    }
    ~FillerTable()
    {
        if (table_ != nullptr)
            RegDeleteValueW(table_, L"OrvaneBenchTouch");
        HKEY ids = nullptr;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, IdsKeyPath, 0, KEY_SET_VALUE, &ids);
        for (const std::wstring& name : names_) {
            if (table_ != nullptr)
                RegDeleteValueW(table_, name.c_str());
            if (ids != nullptr)
                RegDeleteValueW(ids, name.c_str());
            DeleteFileW(name.c_str());
        }
        DeleteFileW(Renamed().c_str());
        if (ids != nullptr)
            RegCloseKey(ids);
        DeleteIfEmpty(HKEY_LOCAL_MACHINE, IdsKeyPath);
        if (table_ != nullptr)
            RegCloseKey(table_);
        for (int f = 0; f < Folders; ++f)
            RemoveDirectoryW((fillers_ + L"\\" + std::to_wstring(f)).c_str());
        RemoveDirectoryW(fillers_.c_str());
    }
    FillerTable(const FillerTable&) = delete;
    FillerTable& operator=(const FillerTable&) = delete;

    bool Ok() const { return ok_; }
    // A change of the table that no answer reads.
    bool Touch(int value)
    {
        const std::wstring touch = std::to_wstring(value);
        return RegSetValueExW(table_, L"OrvaneBenchTouch", 0, REG_SZ, reinterpret_cast<const BYTE*>(touch.c_str()),
                              static_cast<DWORD>((touch.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    // Orphans the first `count` entries: the first by a rename to Renamed(), the others by
    // deleting their file, so that no file takes them.
    bool Orphan(int count)
    {
        for (; orphaned_ < count && orphaned_ < static_cast<int>(names_.size()); ++orphaned_) {
            const wchar_t* name = names_[static_cast<std::size_t>(orphaned_)].c_str();
            if (!(orphaned_ == 0 ? MoveFileW(name, Renamed().c_str()) : DeleteFileW(name)))
                return false;
        }
        return orphaned_ == count;
    }
    std::wstring Renamed() const { return fillers_ + L"\\0\\renamed.txt"; }

private:
    std::wstring fillers_;
    HKEY table_ = nullptr;
    std::vector<std::wstring> names_;
    int orphaned_ = 0;
    bool ok_ = false;
};

struct OrphanFigures {
    double FirstMs = 0; // the first request after a change of the table
    double FoundMs = 0; // from it until the renamed file was answered from its entry
    double QuietMs = 0; // from it until the process had been quiet for a second
    double Ours = 1e9;  // seconds per file without an entry, best round
    double Shell = 1e9; // the shell's lookup in the same rounds
    double Moved = 1e9; // seconds per answer for the renamed file
};

// One case: the table touched, the first request, the wait for the handler's walk on the
// thread pool, then the best of three rounds over the files without an entry, the shell's
// lookup and (with orphans) the renamed file.
bool MeasureOrphans(Handler& handler, const Kind& kind, FillerTable& table, int orphans, IShellFolder* shellFolder,
                    const std::vector<PITEMID_CHILD>& children, OrphanFigures& figures)
{
    const Kind moved{"moved", {table.Renamed()}, EntryIcon, 1};
    const std::size_t requests = std::min<std::size_t>(2000, kind.Paths.size());
    const std::size_t shellRequests = std::min(requests, children.size());
    WaitUntilQuiet();
    bool ok = table.Touch(orphans);
    const auto first = Clock::now();
    ok = ok && handler.Answers(kind, kind.Paths[0]);
    figures.FirstMs = Seconds(first) * 1e3;
    if (orphans != 0) {
        while (ok && !handler.Answers(moved, table.Renamed()) && Seconds(first) < 120)
            Sleep(1);
        figures.FoundMs = Seconds(first) * 1e3;
        ok = ok && handler.Answers(moved, table.Renamed());
    }
    figures.QuietMs = figures.FoundMs + WaitUntilQuiet();
    for (int round = 0; round < Rounds && ok; ++round) {
        auto start = Clock::now();
        for (std::size_t i = 0; i < requests && ok; ++i)
            ok = handler.Answers(kind, kind.Paths[i]);
        figures.Ours = std::min(figures.Ours, Seconds(start) / requests);
        // The shell's lookup in the same round: what the machine's load did to both.
        const double shellRound = AskShell(shellFolder, children, shellRequests);
        ok = ok && shellRound >= 0;
        figures.Shell = std::min(figures.Shell, shellRound / shellRequests);
        if (orphans == 0)
            continue;
        start = Clock::now();
        for (int i = 0; i < 200 && ok; ++i)
            ok = handler.Answers(moved, table.Renamed());
        figures.Moved = std::min(figures.Moved, Seconds(start) / 200);
    }
    return ok;
}

// Entries that know their file: of `entries`, 0, 1 and 1,000 have lost their file (one
// renamed, the others deleted). For each, the figures of MeasureOrphans, the answer for a
// file without an entry against today's (`today`, a table without identities, and
// `shell`, the shell's lookup then, microseconds per file), also as a share of the
// shell's lookup measured in the same rounds.
bool OrphanEntries(const Kind& kind, const std::wstring& folder, int entries, double today, double shell,
                   IShellFolder* shellFolder, const std::vector<PITEMID_CHILD>& children)
{
    const std::string ofEntries = " of " + std::to_string(entries) + " entries";
    // Each entry costs a file, a value and an identity: 0.5 to 1.5 ms here.
    const DWORD fillLimit = 120 + static_cast<DWORD>(entries / 100);
    std::optional<FillerTable> table;
    orvane::bench::RunStep("entries with identities" + ofEntries, fillLimit, [&] { table.emplace(folder, entries); });
    Handler handler;
    bool ok = table->Ok() && handler.Ok();
    for (int orphans : {0, 1, 1000}) {
        OrphanFigures figures;
        // Up to two waits of two minutes each for the handler's walk (which, under Wine,
        // searches the whole drive for each lost file), and three rounds: a case takes
        // 10 s to 4 min here.
        ok = ok && orvane::bench::RunStep("orphans " + std::to_string(orphans) + ofEntries, 900, [&] {
                 return table->Orphan(orphans) &&
                        MeasureOrphans(handler, kind, *table, orphans, shellFolder, children, figures);
             });
        if (!ok)
            break;
        const double ours = figures.Ours * 1e6;
        const double shellNow = figures.Shell * 1e6;
        std::printf("orphans %d of %d entries with identities: first request after a table change %.1f ms; "
                    "file without an entry %.1f us, shell %.1f us (today %.1f us, shell %.1f us; "
                    "ratio to today %.2f, against the shell %.2f)",
                    orphans, entries, figures.FirstMs, ours, shellNow, today, shell, ours / today,
                    (ours / shellNow) / (today / shell));
        if (orphans != 0)
            std::printf("; renamed file found after %.0f ms, then answered in %.1f us", figures.FoundMs,
                        figures.Moved * 1e6);
        std::printf("; quiet for a second %.0f ms after the first request\n", figures.QuietMs);
    }
    if (!ok)
        std::printf("orphans of %d entries: a wrong answer or a failed write\n", entries);
    orvane::bench::RunStep("entries with identities removed" + ofEntries, fillLimit, [&] { table.reset(); });
    return ok;
}

// The limits of the steps whose work grows with the files per kind: creating them with their
// classes and entries, and the rounds, take about 5 ms a file (all kinds) here.
DWORD PerFileLimit(int count) { return 120 + static_cast<DWORD>(count / 20); }

// The figures, each step under its own limit (BenchStep.h): several times what it takes on
// this 2-core machine with a build beside it.
int Measure(int count, int orphanTable)
{
    using orvane::bench::RunStep;
    const orvane::bench::Removed earlier = RunStep("earlier runs removed", 600, orvane::bench::RemoveEarlierRuns);
    if (earlier.Classes + earlier.Values + earlier.Files != 0)
        std::printf("removed what earlier runs left: %zu classes, %zu table values, %zu files\n", earlier.Classes,
                    earlier.Values, earlier.Files);
    std::optional<ServerRegistration> registration;
    std::optional<BenchFiles> files;
    RunStep("files, classes and entries", PerFileLimit(count), [&] {
        registration.emplace();
        files.emplace(count);
    });
    if (!files->Ok()) {
        std::printf("could not create the files, the classes and the table entries\n");
        RunStep("files, classes and entries removed", PerFileLimit(count), [&] { files.reset(); });
        return 1;
    }

    // The shell works from item IDs it already holds (from enumerating the folder), so
    // they are parsed before the clock runs.
    IShellFolder* desktop = nullptr;
    IShellFolder* folder = nullptr;
    PIDLIST_ABSOLUTE folderId = nullptr;
    std::vector<PITEMID_CHILD> children;
    RunStep("item ids parsed", PerFileLimit(count), [&] {
        SHGetDesktopFolder(&desktop);
        if (desktop != nullptr && SUCCEEDED(SHParseDisplayName(files->Folder().c_str(), nullptr, &folderId, 0, nullptr)))
            desktop->BindToObject(folderId, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder));
        for (const std::wstring& name : files->PlainNames()) {
            // ParseDisplayName takes a writable name.
            std::wstring writable = name;
            PIDLIST_RELATIVE child = nullptr;
            if (folder != nullptr &&
                SUCCEEDED(folder->ParseDisplayName(nullptr, nullptr, writable.data(), nullptr, &child, nullptr)))
                children.push_back(reinterpret_cast<PITEMID_CHILD>(child));
        }
    });

    int status = 0;
    if (folder == nullptr || children.size() != files->PlainNames().size()) {
        std::printf("could not reach the files through the shell\n");
        status = 1;
    } else {
        // A short round first warms both roads up (module loads, the registry's caches).
        Figures warm;
        Figures best;
        const std::size_t all = static_cast<std::size_t>(count);
        const bool measured = RunStep("rounds", PerFileLimit(count), [&] {
            return RunRounds(*files, folder, children, std::min<std::size_t>(200, all), 1, warm) &&
                   RunRounds(*files, folder, children, all, Rounds, best);
        });
        if (!measured) {
            status = 1;
        } else {
            const double perCall = 1e6 / count;
            std::printf("%d files of each kind, best of %d interleaved rounds, entries in both tables\n", count,
                        Rounds);
            std::printf("creation and release (CoCreateInstance, Release): %.1f us\n", best.Create * perCall);
            const double shell = best.Shell * perCall;
            for (std::size_t k = 0; k < files->Kinds().size(); ++k) {
                const double ours = best.Ours[k] * perCall;
                std::printf("case %s: ours %.1f us, shell %.1f us, ratio %.2f\n", files->Kinds()[k].Name, ours,
                            shell, ours / shell);
            }
            const Kind& sibling = files->Kinds()[2];
            double afterClass = -1;
            double afterTable = -1;
            // Well under a second here.
            RunStep("first request after a change", 120, [&] {
                afterClass = AskAfterChange(sibling, HKEY_CLASSES_ROOT, files->OwnClass(), std::min<std::size_t>(200, all));
                afterTable = AskAfterChange(sibling, HKEY_LOCAL_MACHINE, TableKeyPath, std::min<std::size_t>(20, all));
            });
            if (afterClass < 0 || afterTable < 0) {
                std::printf("a wrong answer right after a change\n");
                status = 1;
            } else {
                std::printf("first request after a change of the classes: %.1f us; of all users' table (%d entries): "
                            "%.1f us\n",
                            afterClass, (count + 1) / 2, afterTable);
            }
            // The batch gives and restores 1,000 icons in one to three minutes here (each
            // restore counts the type's entries in the table); a table change of 50,000
            // entries takes about 10 s.
            if (!RunStep("batch files 1000", 900, [&] { return BatchOfFiles(files->Folder(), 1000); }) ||
                !RunStep("table change entries 5000", 120, [&] { return TableChange(sibling, 5000); }) ||
                !RunStep("table change entries 50000", 300, [&] { return TableChange(sibling, 50000); }))
                status = 1;
            if (!OrphanEntries(sibling, files->Folder(), orphanTable, best.Ours[2] * perCall, shell, folder, children))
                status = 1;
        }
    }
    for (PITEMID_CHILD child : children)
        CoTaskMemFree(child);
    if (folder != nullptr)
        folder->Release();
    if (desktop != nullptr)
        desktop->Release();
    CoTaskMemFree(folderId);
    RunStep("files, classes and entries removed", PerFileLimit(count), [&] {
        files.reset();
        registration.reset();
    });
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    const int orphanTable = argc > 2 ? std::max(1000, std::atoi(argv[2])) : 50000;
    if (FAILED(CoInitialize(nullptr)))
        return 1;
    const int status = Measure(count, orphanTable);
    CoUninitialize();
    return status;
}
