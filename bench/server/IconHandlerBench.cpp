// How long the shell waits for a file's icon location when Orvane is the class's icon
// handler, against the shell's own lookup for a file of a plain class, on the same files
// in the same run. Orvane is asked as Explorer asks it: CoCreateInstance, IPersistFile::Load,
// IExtractIconW::GetIconLocation, Release (and, for older callers, through IExtractIconA).
// The shell is asked through the folder: IShellFolder::GetUIObjectOf(IID_IExtractIconW),
// GetIconLocation, Release. The store's answer (ResolveFileIcon) is also timed alone, to
// show what COM adds to it.
//
// Usage: orvane_server_bench [file count]   (default 10000)
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "ExtensionIdentity.h"
#include "FileIconResolution.h"

namespace {

using Clock = std::chrono::steady_clock;

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

bool WriteDefault(const std::wstring& path, const wchar_t* text)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    // The size is in bytes, the terminating zero counted.
    const LONG status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                       static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
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

// A unique extension whose class has a plain DefaultIcon, and a folder of files of it.
class BenchFiles {
public:
    explicit BenchFiles(int count)
    {
        wchar_t suffix[32];
        std::swprintf(suffix, std::size(suffix), L"orvbench%lx", GetCurrentProcessId());
        extension_ = std::wstring(L".") + suffix;
        className_ = std::wstring(suffix) + L"file";
        wchar_t temp[MAX_PATH];
        const DWORD length = GetTempPathW(static_cast<DWORD>(std::size(temp)), temp);
        if (length == 0 || length >= std::size(temp))
            return;
        folder_ = std::wstring(temp) + suffix;
        CreateDirectoryW(folder_.c_str(), nullptr);
        ok_ = WriteDefault(extension_, className_.c_str()) &&
              WriteDefault(className_ + L"\\DefaultIcon", L"shell32.dll,4");
        for (int i = 0; i < count && ok_; ++i) {
            wchar_t name[32];
            std::swprintf(name, std::size(name), L"f%05d", i);
            const std::wstring path = folder_ + L"\\" + name + extension_;
            HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            ok_ = file != INVALID_HANDLE_VALUE;
            if (ok_)
                CloseHandle(file);
            names_.push_back(std::wstring(name) + extension_);
            paths_.push_back(path);
        }
    }
    ~BenchFiles()
    {
        for (const std::wstring& path : paths_)
            DeleteFileW(path.c_str());
        if (!folder_.empty())
            RemoveDirectoryW(folder_.c_str());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, className_.c_str());
        RegDeleteKeyW(HKEY_CLASSES_ROOT, className_.c_str());
        RegDeleteKeyW(HKEY_CLASSES_ROOT, extension_.c_str());
    }
    // The class as Explorer finds it once Orvane is its icon handler (a file of it was given
    // an icon of its own): DefaultIcon "%1", the type's icon kept in DefaultIconBAK.
    bool Install()
    {
        return WriteDefault(className_ + L"\\DefaultIconBAK", L"shell32.dll,4") &&
               WriteDefault(className_ + L"\\shellex\\IconHandler", orvane::ExtensionClsidText) &&
               WriteDefault(className_ + L"\\DefaultIcon", L"%1");
    }
    bool Ok() const { return ok_; }
    const std::wstring& Folder() const { return folder_; }
    const std::vector<std::wstring>& Names() const { return names_; }
    const std::vector<std::wstring>& Paths() const { return paths_; }

private:
    std::wstring extension_;
    std::wstring className_;
    std::wstring folder_;
    std::vector<std::wstring> names_;
    std::vector<std::wstring> paths_;
    bool ok_ = false;
};

// The two interfaces the extension is asked through.
template <class Interface>
struct Road;

template <>
struct Road<IExtractIconW> {
    using Char = wchar_t;
    static const IID& Iid() { return IID_IExtractIconW; }
    static bool IsShell32(const Char* text) { return std::wcscmp(text, L"shell32.dll") == 0; }
};

template <>
struct Road<IExtractIconA> {
    using Char = char;
    static const IID& Iid() { return IID_IExtractIconA; }
    static bool IsShell32(const Char* text) { return std::strcmp(text, "shell32.dll") == 0; }
};

// One round of the extension over all files; seconds, or a negative number on a wrong answer.
template <class Interface = IExtractIconW>
double AskExtension(const std::vector<std::wstring>& paths)
{
    const auto start = Clock::now();
    for (const std::wstring& path : paths) {
        IPersistFile* persist = nullptr;
        if (FAILED(CoCreateInstance(orvane::CLSID_ShellIconExtension, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistFile,
                                    reinterpret_cast<void**>(&persist))))
            return -1;
        Interface* extract = nullptr;
        typename Road<Interface>::Char location[MAX_PATH] = {};
        int index = -1;
        UINT flags = 0;
        HRESULT hr = persist->Load(path.c_str(), STGM_READ);
        if (SUCCEEDED(hr))
            hr = persist->QueryInterface(Road<Interface>::Iid(), reinterpret_cast<void**>(&extract));
        if (SUCCEEDED(hr))
            hr = extract->GetIconLocation(0, location, MAX_PATH, &index, &flags);
        if (extract != nullptr)
            extract->Release();
        persist->Release();
        if (hr != S_OK || !Road<Interface>::IsShell32(location) || index != 4)
            return -1;
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The parts of the extension's time: COM's creation and release alone, and Load with
// GetIconLocation on one object.
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
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double AskOneObject(const std::vector<std::wstring>& paths)
{
    IPersistFile* persist = nullptr;
    IExtractIconW* extract = nullptr;
    if (FAILED(CoCreateInstance(orvane::CLSID_ShellIconExtension, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistFile,
                                reinterpret_cast<void**>(&persist))))
        return -1;
    if (FAILED(persist->QueryInterface(IID_IExtractIconW, reinterpret_cast<void**>(&extract)))) {
        persist->Release();
        return -1;
    }
    const auto start = Clock::now();
    for (const std::wstring& path : paths) {
        wchar_t location[MAX_PATH] = {};
        int index = -1;
        persist->Load(path.c_str(), STGM_READ);
        extract->GetIconLocation(0, location, MAX_PATH, &index, nullptr);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    extract->Release();
    persist->Release();
    return seconds;
}

// The store's answer alone, as the handler works it out inside GetIconLocation, without COM;
// the previous handler is not asked (the bench's class has none). Negative on a wrong answer.
double ResolveInStore(const std::vector<std::wstring>& paths, orvane::FileIconRule rule)
{
    const auto start = Clock::now();
    for (const std::wstring& path : paths) {
        const orvane::FileIconAnswer answer = orvane::ResolveFileIcon(path.c_str(), nullptr);
        if (answer.Rule != rule || std::wcscmp(answer.IconPath, L"shell32.dll") != 0 || answer.Index != 4)
            return -1;
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Prints the store's time per call after label; false (and says so) on a wrong answer.
bool TimeStore(const std::vector<std::wstring>& paths, orvane::FileIconRule rule, const char* label)
{
    const double seconds = ResolveInStore(paths, rule);
    if (seconds < 0) {
        std::printf("a wrong answer from the store (%s)\n", label);
        return false;
    }
    std::printf("%s %8.1f us/call\n", label, seconds / paths.size() * 1e6);
    return true;
}

double AskShell(IShellFolder* folder, const std::vector<PITEMID_CHILD>& children)
{
    const auto start = Clock::now();
    for (PITEMID_CHILD child : children) {
        IExtractIconW* extract = nullptr;
        PCUITEMID_CHILD item = child;
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
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    if (FAILED(CoInitialize(nullptr)))
        return 1;
    int status = 0;
    {
        ServerRegistration registration;
        BenchFiles files(count);
        if (!files.Ok()) {
            std::printf("could not create the files and the class\n");
            CoUninitialize();
            return 1;
        }
        const std::vector<std::wstring>& widePaths = files.Paths();

        // The shell works from item IDs it already holds (from enumerating the folder), so
        // they are parsed before the clock runs.
        IShellFolder* desktop = nullptr;
        IShellFolder* folder = nullptr;
        PIDLIST_ABSOLUTE folderId = nullptr;
        std::vector<PITEMID_CHILD> children;
        SHGetDesktopFolder(&desktop);
        if (desktop != nullptr && SUCCEEDED(SHParseDisplayName(files.Folder().c_str(), nullptr, &folderId, 0, nullptr)))
            desktop->BindToObject(folderId, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder));
        for (const std::wstring& name : files.Names()) {
            // ParseDisplayName takes a writable name.
            std::wstring writable = name;
            PIDLIST_RELATIVE child = nullptr;
            if (folder != nullptr &&
                SUCCEEDED(folder->ParseDisplayName(nullptr, nullptr, writable.data(), nullptr, &child, nullptr)))
                children.push_back(reinterpret_cast<PITEMID_CHILD>(child));
        }

        if (folder == nullptr || children.size() != files.Names().size()) {
            std::printf("could not reach the files through the shell\n");
            status = 1;
        } else {
            // Warm both roads up (module loads, registry caches), then alternate rounds and
            // keep each road's best.
            AskExtension({widePaths.begin(), widePaths.begin() + std::min<std::size_t>(200, widePaths.size())});
            AskShell(folder, {children.begin(), children.begin() + std::min<std::size_t>(200, children.size())});
            double ours = 1e9;
            double shell = 1e9;
            for (int round = 0; round < 3 && status == 0; ++round) {
                const double a = AskExtension(widePaths);
                const double b = AskShell(folder, children);
                if (a < 0 || b < 0) {
                    std::printf("a wrong or failed answer in round %d (%s)\n", round, a < 0 ? "extension" : "shell");
                    status = 1;
                    break;
                }
                ours = std::min(ours, a);
                shell = std::min(shell, b);
            }
            if (status == 0) {
                const double oursCall = ours / count * 1e6;
                const double shellCall = shell / count * 1e6;
                std::printf("files: %d of a plain class (DefaultIcon shell32.dll,4), best of 3 rounds\n", count);
                std::printf("extension (create, Load, IExtractIconW::GetIconLocation, release): %8.1f us/call  %8.0f calls/s\n",
                            oursCall, count / ours);
                std::printf("shell's own (GetUIObjectOf IExtractIconW, GetIconLocation): %8.1f us/call  %8.0f calls/s\n",
                            shellCall, count / shell);
                std::printf("ratio extension/shell: %.2f (goal <= 1.5: %s)\n", oursCall / shellCall,
                            oursCall / shellCall <= 1.5 ? "met" : "not met");
                const double create = CreateOnly(widePaths.size()) / count * 1e6;
                const double ask = AskOneObject(widePaths) / count * 1e6;
                std::printf("  of which COM's CoCreateInstance and Release: %8.1f us/call\n", create);
                std::printf("  of which Load and GetIconLocation:           %8.1f us/call\n", ask);
                const double narrow = AskExtension<IExtractIconA>(widePaths);
                if (narrow < 0) {
                    std::printf("a wrong or failed answer through IExtractIconA\n");
                    status = 1;
                } else {
                    std::printf("extension through IExtractIconA (older callers):   %8.1f us/call\n",
                                narrow / count * 1e6);
                }
                if (!TimeStore(files.Paths(), orvane::FileIconRule::DefaultIcon, "  the store's ResolveFileIcon alone, no COM:  "))
                    status = 1;
                const double installed = files.Install() ? AskExtension(widePaths) : -1;
                if (installed < 0) {
                    std::printf("a wrong or failed answer with the class installed\n");
                    status = 1;
                } else {
                    std::printf("extension, class installed (\"%%1\", type icon from DefaultIconBAK): %8.1f us/call\n",
                                installed / count * 1e6);
                    if (!TimeStore(files.Paths(), orvane::FileIconRule::DefaultIconBackup,
                                   "  the store's ResolveFileIcon alone, no COM, class installed:"))
                        status = 1;
                }
            }
        }
        for (PITEMID_CHILD child : children)
            CoTaskMemFree(child);
        if (folder != nullptr)
            folder->Release();
        if (desktop != nullptr)
            desktop->Release();
        CoTaskMemFree(folderId);
    }
    CoUninitialize();
    return status;
}
