// Which processors' code a program, a module and the system's own programs (Explorer
// among them) are built for, as IMAGE_FILE_MACHINE_* values: an in-process extension loads
// only into a process of its own kind, whatever emulation lets a program run.
#pragma once

#include <windows.h>

namespace orvane {

// The machine of the system's own programs: ARM64 on Windows on Arm, even for an x64 or x86
// program that the system emulates there.
USHORT NativeMachine();

// The machine this module was built for.
USHORT BuiltMachine();

// The machine a PE file (a DLL, a program) was built for; IMAGE_FILE_MACHINE_UNKNOWN when it
// cannot be read or is no PE file.
USHORT MachineOfFile(const wchar_t* path);

// Whether a process of machine `process` loads a DLL whose header names `module`: only
// the same machine. An Arm64X DLL's header names ARM64 and an Arm64EC one's x64; Explorer
// on Windows on Arm is a classic ARM64 process, which loads neither x64 nor Arm64EC code.
bool LoadsInProcess(USHORT process, USHORT module);

// For tests: NativeMachine answers `machine` until it is given IMAGE_FILE_MACHINE_UNKNOWN,
// which makes it ask the system again.
void SetNativeMachineForTesting(USHORT machine);

} // namespace orvane
