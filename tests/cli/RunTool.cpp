#include "RunTool.h"

#include <windows.h>

#include <cstdlib>

namespace orvane::test {

namespace {

std::string Quote(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            quoted.append(backslashes * 2 + 1, '\\');
        else
            quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

std::string ReadWhole(HANDLE file)
{
    std::string text;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        text.append(buffer, read);
    // The C runtime writes "\r\n" to a file in text mode; compare lines as "\n".
    std::string lines;
    for (char c : text) {
        if (c != '\r')
            lines += c;
    }
    return lines;
}

// A temporary file the child writes to; deleted when the handle closes.
HANDLE CaptureFile()
{
    char folder[MAX_PATH];
    char path[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    GetTempFileNameA(folder, "orv", 0, path);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

} // namespace

std::string ToolPath()
{
    if (const char* given = std::getenv("ORVANE_CLI"); given != nullptr && given[0] != '\0') {
        std::string path = given;
        if (path[0] == '/') {
            // Wine maps the Unix root to drive Z:.
            for (char& c : path)
                c = c == '/' ? '\\' : c;
            path = "Z:" + path;
        }
        return path;
    }
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string path = self;
    path.resize(path.rfind('\\'));
    return path + "\\..\\..\\cli\\orvane.exe";
}

ToolRun RunTool(const std::vector<std::string>& args, const std::string& workingFolder)
{
    ToolRun run;
    std::string commandLine = Quote(ToolPath());
    for (const std::string& arg : args)
        commandLine += " " + Quote(arg);

    HANDLE out = CaptureFile();
    HANDLE err = CaptureFile();
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    std::string mutableLine = commandLine;
    if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
        CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process.hProcess, &code);
            run.ExitCode = code;
        } else {
            TerminateProcess(process.hProcess, 0xFFFFFFFF);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        run.Out = ReadWhole(out);
        run.Err = ReadWhole(err);
    } else {
        run.Err = "could not start " + commandLine;
    }
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE)
        CloseHandle(err);
    return run;
}

} // namespace orvane::test
