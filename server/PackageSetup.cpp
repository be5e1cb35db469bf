#include "PackageSetup.h"

#include <iterator>
#include <new>
#include <string>
#include <vector>

namespace orvane {

namespace {

class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    HANDLE get() const { return handle_; }
    HANDLE* put() { return &handle_; }
    void reset()
    {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_;
};

std::wstring FromUtf8(const std::string& bytes)
{
    if (bytes.empty())
        return L"";
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0)
        return L"";
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
    return text;
}

// Hands each whole line of `pending` to `line`, keeping an unfinished last line; with
// `flush` that one too.
void PassLines(std::string* pending, bool flush, OutputLine line, void* context)
{
    std::string::size_type end;
    while ((end = pending->find('\n')) != std::string::npos) {
        std::string text = pending->substr(0, end);
        pending->erase(0, end + 1);
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        line(context, FromUtf8(text));
    }
    if (flush && !pending->empty()) {
        line(context, FromUtf8(*pending));
        pending->clear();
    }
}

bool ReadAvailable(HANDLE pipe, std::string* pending)
{
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0)
        return false;
    char buffer[4096];
    DWORD read = 0;
    if (!ReadFile(pipe, buffer, available < sizeof buffer ? available : sizeof buffer, &read, nullptr) || read == 0)
        return false;
    pending->append(buffer, read);
    return true;
}

std::wstring CodeText(DWORD code) { return std::to_wstring(code); }

} // namespace

long RunProgram(const std::wstring& commandLine, OutputLine line, void* context, DWORD timeoutMs)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    Handle readEnd;
    Handle writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0) ||
        !SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0)) {
        line(context, L"no pipe for orvane.exe's output (error " + CodeText(GetLastError()) + L")");
        return -1;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
        line(context, commandLine + L": cannot be started (error " + CodeText(GetLastError()) + L")");
        return -1;
    }
    Handle processHandle(process.hProcess);
    Handle threadHandle(process.hThread);
    writeEnd.reset();

    std::string pending;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    bool ended = false;
    while (!ended) {
        if (ReadAvailable(readEnd.get(), &pending)) {
            PassLines(&pending, false, line, context);
            continue;
        }
        ended = WaitForSingleObject(processHandle.get(), 50) == WAIT_OBJECT_0;
        if (!ended && GetTickCount64() > deadline) {
            TerminateProcess(processHandle.get(), ERROR_TIMEOUT);
            WaitForSingleObject(processHandle.get(), 5000);
            while (ReadAvailable(readEnd.get(), &pending)) {
            }
            PassLines(&pending, true, line, context);
            line(context, commandLine + L": did not finish within " + CodeText(timeoutMs / 1000) + L" s and was ended");
            return -1;
        }
    }
    while (ReadAvailable(readEnd.get(), &pending)) {
    }
    PassLines(&pending, true, line, context);
    DWORD code = 0;
    if (!GetExitCodeProcess(processHandle.get(), &code))
        return -1;
    return static_cast<long>(code);
}

} // namespace orvane
