// Runs the built orvane.exe as a child process under the same Wine prefix, as a person at
// a command prompt would, and captures what it prints and its exit code.
#pragma once

#include <string>
#include <vector>

namespace orvane::test {

struct ToolRun {
    unsigned long ExitCode = 0xFFFFFFFF;
    std::wstring Out;
    std::wstring Err;
};

// The program's path: ORVANE_CLI (a Unix or Windows path) when set, else
// ..\..\cli\orvane.exe from this test program's folder, as the build lays them out.
std::wstring ToolPath();

// Quotes each argument for the command line (CommandLineToArgvW rules), starts the tool
// with CreateProcessW in the folder `workingFolder` (this process's own when empty) and
// waits for it (at most 60 s; ExitCode stays 0xFFFFFFFF on a time-out). Its standard
// output and error go to files; their bytes are read as UTF-8 (a byte-order mark or
// bytes that are not UTF-8 show in the text), with "\r\n" read as "\n".
ToolRun RunTool(const std::vector<std::wstring>& args, const std::wstring& workingFolder = L"");

// The same at a command prompt: orvane_console_host.exe (beside this test program) runs
// the tool in a console of its own, standard output and error each on a screen buffer,
// and Out and Err are what the buffers then show: the rows up to the cursor (400 cells
// wide, so that no line wraps), their trailing blanks dropped, each but the cursor's own
// ended with "\n". The tool runs in this process's folder. This process's own console
// and standard handles are left alone.
ToolRun RunToolOnConsole(const std::vector<std::wstring>& args);

} // namespace orvane::test
