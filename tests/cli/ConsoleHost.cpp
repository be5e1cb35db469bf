// orvane_console_host.exe: runs one command line with its standard output and error each
// on a screen buffer of this program's console, as at a command prompt, and writes what
// the two buffers then show into a file, for the command-line tests. The tests start it
// with a console of its own, so that they never leave or replace their own console.
//
//   orvane_console_host RESULT-FILE COMMAND-LINE
//
// RESULT-FILE receives UTF-16 LE text: the command's exit code in decimal, U+0000, what
// standard output's buffer shows, U+0000, what standard error's buffer shows. A buffer
// shows its rows up to the cursor, each but the cursor's own ended with "\n", without
// the blanks that fill them; the rows are 400 cells wide, so that no line wraps.
// Exit code: 0 when the command ran and the file was written, 1 otherwise.
#include <windows.h>

#include <string>

namespace {

constexpr SHORT Columns = 400;
constexpr SHORT Rows = 300;

HANDLE ScreenBuffer()
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const HANDLE buffer = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    &inherit, CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (buffer == INVALID_HANDLE_VALUE)
        return buffer;
    if (!SetConsoleScreenBufferSize(buffer, COORD{Columns, Rows})) {
        CloseHandle(buffer);
        return INVALID_HANDLE_VALUE;
    }
    return buffer;
}

bool ScreenText(HANDLE buffer, std::wstring* text)
{
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (!GetConsoleScreenBufferInfo(buffer, &info) || info.dwSize.X <= 0)
        return false;
    std::wstring row(static_cast<std::size_t>(info.dwSize.X), L' ');
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
        DWORD read = 0;
        if (!ReadConsoleOutputCharacterW(buffer, row.data(), static_cast<DWORD>(row.size()), COORD{0, y}, &read) ||
            read > row.size())
            return false;
        std::wstring cells = row.substr(0, read);
        cells.erase(cells.find_last_not_of(L' ') + 1);
        *text += cells;
        if (y < info.dwCursorPosition.Y)
            *text += L'\n';
    }
    return true;
}

bool Run(std::wstring commandLine, HANDLE out, HANDLE err, DWORD* exitCode)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return false;
    const bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
    if (!ended)
        TerminateProcess(process.hProcess, 0xFFFFFFFF);
    const bool read = ended && GetExitCodeProcess(process.hProcess, exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return read;
}

bool WriteResult(const wchar_t* path, const std::wstring& text)
{
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    DWORD written = 0;
    const bool wrote = WriteFile(file, text.data(), size, &written, nullptr) && written == size;
    return CloseHandle(file) && wrote;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 1;
    const HANDLE out = ScreenBuffer();
    const HANDLE err = ScreenBuffer();
    DWORD exitCode = 0;
    std::wstring shownOut;
    std::wstring shownErr;
    const bool ran = out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE && Run(argv[2], out, err, &exitCode) &&
                     ScreenText(out, &shownOut) && ScreenText(err, &shownErr);
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE)
        CloseHandle(err);
    if (!ran)
        return 1;
    std::wstring result = std::to_wstring(exitCode);
    result += L'\0';
    result += shownOut;
    result += L'\0';
    result += shownErr;
    return WriteResult(argv[1], result) ? 0 : 1;
}
