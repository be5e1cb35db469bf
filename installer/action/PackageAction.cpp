// orvane-setup.dll: the installers' custom actions. Windows Installer runs it from its
// Binary table (wixl builds DLL actions only from there), so it is a DLL of its own,
// small, rather than orvane.dll. RunPackageCommand, for Windows 11's context menu, runs
// the command line in the action's CustomActionData ("C:\...\orvane.exe" package
// register ...) and copies each line it prints into the installer's log, which an EXE
// action could not do. ReadNativeMachine tells the package which processor the system's
// own programs (Explorer among them) are built for, which no installer property says.
#include <windows.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "Machine.h"
#include "PackageSetup.h"

namespace {

template <typename Function>
Function Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// msi.dll's functions, from the process that runs the action (which has it loaded), so
// that this DLL imports nothing but kernel32 and the C runtime.
class InstallerLog {
public:
    explicit InstallerLog(MSIHANDLE install) : install_(install)
    {
        HMODULE msi = GetModuleHandleW(L"msi.dll");
        if (msi == nullptr)
            msi = LoadLibraryW(L"msi.dll");
        if (msi == nullptr)
            return;
        property_ = Export<decltype(property_)>(msi, "MsiGetPropertyW");
        setProperty_ = Export<decltype(setProperty_)>(msi, "MsiSetPropertyW");
        createRecord_ = Export<decltype(createRecord_)>(msi, "MsiCreateRecord");
        setString_ = Export<decltype(setString_)>(msi, "MsiRecordSetStringW");
        processMessage_ = Export<decltype(processMessage_)>(msi, "MsiProcessMessage");
        closeHandle_ = Export<decltype(closeHandle_)>(msi, "MsiCloseHandle");
    }

    // A deferred action's CustomActionData.
    std::wstring CommandLine() const
    {
        if (property_ == nullptr)
            return L"";
        wchar_t empty[1] = L"";
        DWORD size = 0;
        if (property_(install_, L"CustomActionData", empty, &size) != ERROR_MORE_DATA)
            return L"";
        std::vector<wchar_t> text(size + 1, L'\0');
        size += 1;
        if (property_(install_, L"CustomActionData", text.data(), &size) != ERROR_SUCCESS)
            return L"";
        return std::wstring(text.data(), size);
    }

    bool SetProperty(const wchar_t* name, const std::wstring& value) const
    {
        return setProperty_ != nullptr && setProperty_(install_, name, value.c_str()) == ERROR_SUCCESS;
    }

    // One line in the installer's log ("Orvane: ..."), as an information message. The
    // text is field 1 under the template "[1]", so that brackets in it are not read as
    // properties.
    void Write(const std::wstring& text) const
    {
        if (createRecord_ == nullptr || setString_ == nullptr || processMessage_ == nullptr || closeHandle_ == nullptr)
            return;
        const MSIHANDLE record = createRecord_(1);
        if (record == 0)
            return;
        setString_(record, 0, L"[1]");
        setString_(record, 1, (L"Orvane: " + text).c_str());
        processMessage_(install_, INSTALLMESSAGE_INFO, record);
        closeHandle_(record);
    }

private:
    MSIHANDLE install_;
    UINT(WINAPI* property_)(MSIHANDLE, LPCWSTR, LPWSTR, DWORD*) = nullptr;
    UINT(WINAPI* setProperty_)(MSIHANDLE, LPCWSTR, LPCWSTR) = nullptr;
    MSIHANDLE(WINAPI* createRecord_)(UINT) = nullptr;
    UINT(WINAPI* setString_)(MSIHANDLE, UINT, LPCWSTR) = nullptr;
    int(WINAPI* processMessage_)(MSIHANDLE, INSTALLMESSAGE, MSIHANDLE) = nullptr;
    UINT(WINAPI* closeHandle_)(MSIHANDLE) = nullptr;
};

void LogLine(void* context, const std::wstring& line) { static_cast<const InstallerLog*>(context)->Write(line); }

} // namespace

// Always succeeds: the package gives Windows 11's top-level menu entry, and without it
// the classic entry still works, so a failure is logged, never a failed install or
// uninstall.
extern "C" UINT WINAPI RunPackageCommand(MSIHANDLE install)
{
    try {
        InstallerLog log(install);
        const std::wstring commandLine = log.CommandLine();
        log.Write(L"running " + commandLine);
        const long code = orvane::RunProgram(commandLine, LogLine, &log, orvane::PackageCommandTimeoutMs);
        log.Write(L"exit code " + std::to_wstring(code));
    } catch (...) {
        // Out of memory while logging: the install goes on.
    }
    return ERROR_SUCCESS;
}

// Immediate, before the launch conditions: ORVANE_NATIVE_MACHINE is the IMAGE_FILE_MACHINE_*
// value, in decimal, of the system's own programs. An x64 or x86 package runs emulated on
// Windows on Arm, where VersionNT64 and the processor properties describe the emulated
// machine, while Explorer there is an arm64 program that loads no x64 or x86 extension: its
// launch condition refuses the install when this says ARM64 (43620). Without an answer the
// property stays empty and the condition lets the install go on.
extern "C" UINT WINAPI ReadNativeMachine(MSIHANDLE install)
{
    try {
        InstallerLog log(install);
        const USHORT machine = orvane::NativeMachine();
        std::wstring line = L"native machine 0x";
        for (int shift = 12; shift >= 0; shift -= 4)
            line += L"0123456789ABCDEF"[(machine >> shift) & 0xF];
        log.Write(line);
        if (machine != IMAGE_FILE_MACHINE_UNKNOWN)
            log.SetProperty(L"ORVANE_NATIVE_MACHINE", std::to_wstring(machine));
    } catch (...) {
        // Out of memory: no answer, as on a system that gives none.
    }
    return ERROR_SUCCESS;
}
