// Runs the built orvane.exe as a child process under the same Wine prefix, as a person at
// a command prompt would, and captures what it prints and its exit code.
#pragma once

#include <string>
#include <vector>

namespace orvane::test {

struct ToolRun {
    unsigned long ExitCode = 0xFFFFFFFF;
    std::string Out;
    std::string Err;
};

// The program's path: ORVANE_CLI (a Unix or Windows path) when set, else
// ..\..\cli\orvane.exe from this test program's folder, as the build lays them out.
std::string ToolPath();

// Quotes each argument for the command line (CommandLineToArgv rules), starts the tool in
// the folder `workingFolder` (this process's own when empty) and waits for it (at most
// 60 s; ExitCode stays 0xFFFFFFFF on a time-out).
ToolRun RunTool(const std::vector<std::string>& args, const std::string& workingFolder = "");

} // namespace orvane::test
