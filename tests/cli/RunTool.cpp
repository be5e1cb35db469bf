#include "RunTool.h"

#include <windows.h>

#include <cwchar>
#include <iterator>

namespace orvane::test {

namespace {

std::wstring Quote(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            quoted.append(backslashes * 2 + 1, L'\\');
        else
            quoted.append(backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

std::wstring CommandLine(const std::vector<std::wstring>& args)
{
    std::wstring line = Quote(ToolPath());
    for (const std::wstring& arg : args)
        line += L" " + Quote(arg);
    return line;
}

std::wstring ReadWhole(HANDLE file)
{
    std::string bytes;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    // Lines end in "\r\n" in a file; compare them as "\n". A carriage return byte never
    // stands inside a UTF-8 sequence.
    std::string lines;
    for (char c : bytes) {
        if (c != '\r')
            lines += c;
    }
    // Decoded without MB_ERR_INVALID_CHARS: bytes that are not UTF-8 become U+FFFD and a
    // byte-order mark stays as U+FEFF, so that either shows in what the tests compare.
    if (lines.empty())
        return {};
    const int size = static_cast<int>(lines.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, lines.data(), size, nullptr, 0);
    if (units <= 0)
        return L"<output not decodable>";
    std::wstring text(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, lines.data(), size, text.data(), units);
    return text;
}

// A temporary file the child writes to; deleted when the handle closes.
HANDLE CaptureFile()
{
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetTempPathW(static_cast<DWORD>(std::size(folder)), folder);
    if (length == 0 || length >= std::size(folder) || GetTempFileNameW(folder, L"orv", 0, path) == 0)
        return INVALID_HANDLE_VALUE;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// Starts the tool with these standard handles (inherited) and waits for it; false when it
// could not be started.
bool Launch(const std::vector<std::wstring>& args, const std::wstring& workingFolder, HANDLE out, HANDLE err,
            ToolRun* run)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    // CreateProcessW may write into the command line it is given. Under a heavily loaded
    // Wine a start now and then fails with ERROR_INTERNAL_ERROR before the program runs at
    // all; that start is tried again, a few times. Any other failure is the result.
    const std::wstring given = CommandLine(args);
    std::wstring line = given;
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 4 && !started; ++attempt) {
        line = given;
        started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &process);
        if (!started && GetLastError() != ERROR_INTERNAL_ERROR)
            break;
        if (!started)
            Sleep(250);
    }
    if (!started) {
        run->Err = L"could not start " + given + L" (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        run->ExitCode = code;
    } else {
        TerminateProcess(process.hProcess, 0xFFFFFFFF);
        run->Err = L"ended after 60 s: ";
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// The folder of this test program, where the build puts orvane_console_host.exe too.
std::wstring OwnFolder()
{
    std::wstring self(32767, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    self.resize(length < self.size() ? length : 0);
    const std::size_t slash = self.rfind(L'\\');
    self.resize(slash != std::wstring::npos ? slash : 0);
    return self;
}

bool ReadWideFile(const wchar_t* path, std::wstring* text)
{
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size = {};
    bool read = GetFileSizeEx(file, &size) && size.QuadPart % sizeof(wchar_t) == 0 && size.QuadPart < (1 << 24);
    if (read) {
        text->assign(static_cast<std::size_t>(size.QuadPart) / sizeof(wchar_t), L'\0');
        DWORD got = 0;
        const DWORD bytes = static_cast<DWORD>(size.QuadPart);
        read = bytes == 0 || (ReadFile(file, text->data(), bytes, &got, nullptr) && got == bytes);
    }
    CloseHandle(file);
    return read;
}

} // namespace

std::wstring ToolPath()
{
    std::wstring given(32767, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"ORVANE_CLI", given.data(), static_cast<DWORD>(given.size()));
    if (length > 0 && length < given.size()) {
        given.resize(length);
        if (given[0] == L'/') {
            // Wine maps the Unix root to drive Z:.
            for (wchar_t& c : given)
                c = c == L'/' ? L'\\' : c;
            given = L"Z:" + given;
        }
        return given;
    }
    return OwnFolder() + L"\\..\\..\\cli\\orvane.exe";
}

ToolRun RunTool(const std::vector<std::wstring>& args, const std::wstring& workingFolder)
{
    ToolRun run;
    HANDLE out = CaptureFile();
    HANDLE err = CaptureFile();
    if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE && Launch(args, workingFolder, out, err, &run)) {
        run.Out = ReadWhole(out);
        run.Err += ReadWhole(err);
    } else if (run.Err.empty()) {
        run.Err = L"no file for the output of " + CommandLine(args) + L" (error " + std::to_wstring(GetLastError()) + L")";
    }
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE)
        CloseHandle(err);
    return run;
}

ToolRun RunToolOnConsole(const std::vector<std::wstring>& args)
{
    ToolRun run;
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t resultPath[MAX_PATH] = {};
    const DWORD length = GetTempPathW(static_cast<DWORD>(std::size(folder)), folder);
    if (length == 0 || length >= std::size(folder) || GetTempFileNameW(folder, L"orc", 0, resultPath) == 0) {
        run.Err = L"no temporary file for the console host";
        return run;
    }
    std::wstring line = Quote(OwnFolder() + L"\\orvane_console_host.exe") + L" " + Quote(resultPath) + L" " +
                        Quote(CommandLine(args));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    DWORD hostCode = 1;
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                       &process)) {
        if (WaitForSingleObject(process.hProcess, 90000) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(process.hProcess, &hostCode)) {
            TerminateProcess(process.hProcess, 1);
            hostCode = 1;
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    std::wstring result;
    const std::size_t first = hostCode == 0 && ReadWideFile(resultPath, &result) ? result.find(L'\0') : std::wstring::npos;
    const std::size_t second = first != std::wstring::npos ? result.find(L'\0', first + 1) : std::wstring::npos;
    DeleteFileW(resultPath);
    if (second == std::wstring::npos) {
        run.Err = L"the console host did not run " + CommandLine(args);
        return run;
    }
    run.ExitCode = std::wcstoul(result.substr(0, first).c_str(), nullptr, 10);
    run.Out = result.substr(first + 1, second - first - 1);
    run.Err = result.substr(second + 1);
    return run;
}

} // namespace orvane::test
