// Orvane's sparse package (Windows 11's top-level context-menu entry) is registered by
// orvane.exe, which ships beside orvane.dll: "orvane.exe package register|unregister".
// Other programs only start it: DllInstall (regsvr32 /n /i:user) and the installers'
// custom action (orvane-setup.dll), which copies what orvane.exe prints into the
// installer's log. So the Windows Runtime never loads into a process that loads
// orvane.dll as a shell extension.
#pragma once

#include <windows.h>

#include <string>

namespace orvane {

using OutputLine = void (*)(void* context, const std::wstring& line);

// Runs `commandLine` (the program's path quoted, then its arguments) without a window,
// hands each line it prints (standard output and error) to `line`, and returns its exit
// code; a program that cannot start or runs longer than `timeoutMs` (it is then ended)
// is told through `line` and gives -1.
long RunProgram(const std::wstring& commandLine, OutputLine line, void* context, DWORD timeoutMs);

// How long the package commands may take: orvane.exe gives each deployment step two
// minutes, and all-users registration has two steps.
constexpr DWORD PackageCommandTimeoutMs = 300000;

} // namespace orvane
