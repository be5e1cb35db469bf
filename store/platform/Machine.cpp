#include "Machine.h"

#include <atomic>

#include "WholeFile.h"

namespace orvane {

namespace {

std::atomic<USHORT> nativeForTesting{IMAGE_FILE_MACHINE_UNKNOWN};

using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);

} // namespace

USHORT NativeMachine()
{
    const USHORT played = nativeForTesting.load();
    if (played != IMAGE_FILE_MACHINE_UNKNOWN)
        return played;
    // Windows 10 1709 and later tell the native machine to every process, an emulated x64
    // one on Arm included (GetNativeSystemInfo answers such a process x64).
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto isWow64Process2 = kernel != nullptr ? reinterpret_cast<IsWow64Process2Function>(
                                                         reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process2")))
                                                   : nullptr;
    USHORT process = IMAGE_FILE_MACHINE_UNKNOWN;
    USHORT native = IMAGE_FILE_MACHINE_UNKNOWN;
    if (isWow64Process2 != nullptr && isWow64Process2(GetCurrentProcess(), &process, &native) &&
        native != IMAGE_FILE_MACHINE_UNKNOWN)
        return native;
    // Earlier systems run no x64 code on Arm.
    SYSTEM_INFO info = {};
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64: return IMAGE_FILE_MACHINE_AMD64;
    case PROCESSOR_ARCHITECTURE_ARM64: return IMAGE_FILE_MACHINE_ARM64;
    case PROCESSOR_ARCHITECTURE_INTEL: return IMAGE_FILE_MACHINE_I386;
    default: return BuiltMachine();
    }
}

USHORT BuiltMachine()
{
#if defined(__aarch64__) || defined(_M_ARM64)
    return IMAGE_FILE_MACHINE_ARM64;
#elif defined(__x86_64__) || defined(_M_X64)
    return IMAGE_FILE_MACHINE_AMD64;
#else
    return IMAGE_FILE_MACHINE_I386;
#endif
}

USHORT MachineOfFile(const wchar_t* path)
{
    if (path == nullptr || path[0] == L'\0')
        return IMAGE_FILE_MACHINE_UNKNOWN;
    FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    if (!file.Valid())
        return IMAGE_FILE_MACHINE_UNKNOWN;
    IMAGE_DOS_HEADER dos = {};
    DWORD read = 0;
    if (!ReadFile(file.Value, &dos, sizeof dos, &read, nullptr) || read != sizeof dos || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        dos.e_lfanew <= 0 || dos.e_lfanew > 64 * 1024)
        return IMAGE_FILE_MACHINE_UNKNOWN;
    LARGE_INTEGER at = {};
    at.QuadPart = dos.e_lfanew;
    struct {
        DWORD Signature;
        IMAGE_FILE_HEADER File;
    } nt = {};
    if (!SetFilePointerEx(file.Value, at, nullptr, FILE_BEGIN) || !ReadFile(file.Value, &nt, sizeof nt, &read, nullptr) ||
        read != sizeof nt || nt.Signature != IMAGE_NT_SIGNATURE)
        return IMAGE_FILE_MACHINE_UNKNOWN;
    return nt.File.Machine;
}

bool LoadsInProcess(USHORT process, USHORT module)
{
    return module == process;
}

void SetNativeMachineForTesting(USHORT machine) { nativeForTesting.store(machine); }

} // namespace orvane
