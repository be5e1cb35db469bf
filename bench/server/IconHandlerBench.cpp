// How long the shell waits for a file's icon location when Orvane is the class's icon
// handler, against the shell's own lookup for a file of a plain class, on the same files
// in the same run. Orvane is asked as Explorer asks it: CoCreateInstance, IPersistFile::Load,
// IExtractIconA::GetIconLocation, Release. The shell is asked through the folder:
// IShellFolder::GetUIObjectOf(IID_IExtractIconW), GetIconLocation, Release. The store's
// answer (ResolveFileIcon) is also timed alone, to show what COM adds to it.
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
#include <string>
#include <vector>

#include "ExtensionIdentity.h"
#include "FileIconResolution.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string WindowsPathOf(const char* builtPath)
{
    std::string path = builtPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    if (!path.empty() && path[0] == '\\')
        path = "Z:" + path; // Wine shows the Unix root as drive Z:
    return path;
}

std::wstring Wide(const std::string& text)
{
    std::wstring wide(text.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
    return wide;
}

bool WriteDefault(const std::string& path, const char* text)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG status = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                       static_cast<DWORD>(std::strlen(text) + 1));
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
        module_ = LoadLibraryA(WindowsPathOf(ORVANE_DLL).c_str());
        auto reg = Function("DllRegisterServer");
        registered_ = reg != nullptr && SUCCEEDED(reg());
        std::printf("registered %s for the run\n", WindowsPathOf(ORVANE_DLL).c_str());
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
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "orvbench%lx", GetCurrentProcessId());
        extension_ = std::string(".") + suffix;
        className_ = std::string(suffix) + "file";
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folder_ = std::string(temp) + suffix;
        CreateDirectoryA(folder_.c_str(), nullptr);
        ok_ = WriteDefault(extension_, className_.c_str()) &&
              WriteDefault(className_ + "\\DefaultIcon", "shell32.dll,4");
        for (int i = 0; i < count && ok_; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "f%05d", i);
            const std::string path = folder_ + "\\" + name + extension_;
            HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            ok_ = file != INVALID_HANDLE_VALUE;
            if (ok_)
                CloseHandle(file);
            names_.push_back(std::string(name) + extension_);
            paths_.push_back(path);
        }
    }
    ~BenchFiles()
    {
        for (const std::string& path : paths_)
            DeleteFileA(path.c_str());
        RemoveDirectoryA(folder_.c_str());
        RegDeleteTreeA(HKEY_CLASSES_ROOT, className_.c_str());
        RegDeleteKeyA(HKEY_CLASSES_ROOT, className_.c_str());
        RegDeleteKeyA(HKEY_CLASSES_ROOT, extension_.c_str());
    }
    // The class as Explorer finds it once Orvane is its icon handler (a file of it was given
    // an icon of its own): DefaultIcon "%1", the type's icon kept in DefaultIconBAK.
    bool Install()
    {
        return WriteDefault(className_ + "\\DefaultIconBAK", "shell32.dll,4") &&
               WriteDefault(className_ + "\\shellex\\IconHandler", orvane::ExtensionClsidText) &&
               WriteDefault(className_ + "\\DefaultIcon", "%1");
    }
    bool Ok() const { return ok_; }
    const std::string& Folder() const { return folder_; }
    const std::vector<std::string>& Names() const { return names_; }
    const std::vector<std::string>& Paths() const { return paths_; }

private:
    std::string extension_;
    std::string className_;
    std::string folder_;
    std::vector<std::string> names_;
    std::vector<std::string> paths_;
    bool ok_ = false;
};

// One round of the extension over all files; seconds, or a negative number on a wrong answer.
double AskExtension(const std::vector<std::wstring>& paths)
{
    const auto start = Clock::now();
    for (const std::wstring& path : paths) {
        IPersistFile* persist = nullptr;
        if (FAILED(CoCreateInstance(orvane::CLSID_ShellIconExtension, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistFile,
                                    reinterpret_cast<void**>(&persist))))
            return -1;
        IExtractIconA* extract = nullptr;
        char location[MAX_PATH] = {};
        int index = -1;
        UINT flags = 0;
        HRESULT hr = persist->Load(path.c_str(), STGM_READ);
        if (SUCCEEDED(hr))
            hr = persist->QueryInterface(IID_IExtractIconA, reinterpret_cast<void**>(&extract));
        if (SUCCEEDED(hr))
            hr = extract->GetIconLocation(0, location, MAX_PATH, &index, &flags);
        if (extract != nullptr)
            extract->Release();
        persist->Release();
        if (hr != S_OK || std::strcmp(location, "shell32.dll") != 0 || index != 4)
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
    IExtractIconA* extract = nullptr;
    if (FAILED(CoCreateInstance(orvane::CLSID_ShellIconExtension, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistFile,
                                reinterpret_cast<void**>(&persist))))
        return -1;
    if (FAILED(persist->QueryInterface(IID_IExtractIconA, reinterpret_cast<void**>(&extract)))) {
        persist->Release();
        return -1;
    }
    const auto start = Clock::now();
    for (const std::wstring& path : paths) {
        char location[MAX_PATH] = {};
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
double ResolveInStore(const std::vector<std::string>& paths, orvane::FileIconRule rule)
{
    const auto start = Clock::now();
    for (const std::string& path : paths) {
        const orvane::FileIconAnswer answer = orvane::ResolveFileIcon(path.c_str(), nullptr);
        if (answer.Rule != rule || std::strcmp(answer.IconPath, "shell32.dll") != 0 || answer.Index != 4)
            return -1;
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Prints the store's time per call after label; false (and says so) on a wrong answer.
bool TimeStore(const std::vector<std::string>& paths, orvane::FileIconRule rule, const char* label)
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
        std::vector<std::wstring> widePaths;
        for (const std::string& path : files.Paths())
            widePaths.push_back(Wide(path));

        // The shell works from item IDs it already holds (from enumerating the folder), so
        // they are parsed before the clock runs.
        IShellFolder* desktop = nullptr;
        IShellFolder* folder = nullptr;
        PIDLIST_ABSOLUTE folderId = nullptr;
        std::vector<PITEMID_CHILD> children;
        SHGetDesktopFolder(&desktop);
        if (desktop != nullptr && SUCCEEDED(SHParseDisplayName(Wide(files.Folder()).c_str(), nullptr, &folderId, 0, nullptr)))
            desktop->BindToObject(folderId, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder));
        for (const std::string& name : files.Names()) {
            std::wstring wide = Wide(name);
            PIDLIST_RELATIVE child = nullptr;
            if (folder != nullptr &&
                SUCCEEDED(folder->ParseDisplayName(nullptr, nullptr, wide.data(), nullptr, &child, nullptr)))
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
                std::printf("extension (create, Load, GetIconLocation, release): %8.1f us/call  %8.0f calls/s\n",
                            oursCall, count / ours);
                std::printf("shell's own (GetUIObjectOf IExtractIconW, GetIconLocation): %8.1f us/call  %8.0f calls/s\n",
                            shellCall, count / shell);
                std::printf("ratio extension/shell: %.2f (goal <= 1.5: %s)\n", oursCall / shellCall,
                            oursCall / shellCall <= 1.5 ? "met" : "not met");
                const double create = CreateOnly(widePaths.size()) / count * 1e6;
                const double ask = AskOneObject(widePaths) / count * 1e6;
                std::printf("  of which COM's CoCreateInstance and Release: %8.1f us/call\n", create);
                std::printf("  of which Load and GetIconLocation:           %8.1f us/call\n", ask);
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
