#include "BatchRun.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "Batch.h"
#include "ConsoleText.h"
#include "ShellNotify.h"

namespace orvane::cli {

namespace {

// Set by Ctrl+C or Ctrl+Break while a batch runs: the batch stops before its next
// target, so every target stays either changed with its backup or untouched.
std::atomic<bool> Interrupted{false};

BOOL WINAPI OnConsoleBreak(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    Interrupted = true;
    return TRUE;
}

class BreakHandler {
public:
    BreakHandler() { installed_ = SetConsoleCtrlHandler(OnConsoleBreak, TRUE) != FALSE; }
    ~BreakHandler()
    {
        if (installed_)
            SetConsoleCtrlHandler(OnConsoleBreak, FALSE);
    }
    BreakHandler(const BreakHandler&) = delete;
    BreakHandler& operator=(const BreakHandler&) = delete;

private:
    bool installed_ = false;
};

// "progress: done of total targets" on one line of the console, rewritten in place ("\r"), at most every
// tenth of a second and once at the end. Nothing when standard output is not a console:
// a file or a pipe would keep every rewrite.
class ConsoleProgress {
public:
    ConsoleProgress()
    {
        const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD mode = 0;
        if (out != nullptr && out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode))
            console_ = out;
    }
    ~ConsoleProgress()
    {
        if (shown_)
            Write(L"\n");
    }
    ConsoleProgress(const ConsoleProgress&) = delete;
    ConsoleProgress& operator=(const ConsoleProgress&) = delete;

    void operator()(std::size_t done, std::size_t total)
    {
        if (console_ == nullptr)
            return;
        const ULONGLONG now = GetTickCount64();
        if (shown_ && done != total && now - last_ < 100)
            return;
        last_ = now;
        shown_ = true;
        Write(L"\rprogress: " + std::to_wstring(done) + L" of " + std::to_wstring(total) + L" targets");
    }

private:
    void Write(const std::wstring& text)
    {
        DWORD written = 0;
        WriteConsoleW(console_, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

    HANDLE console_ = nullptr;
    bool shown_ = false;
    ULONGLONG last_ = 0;
};

} // namespace

BatchRequest RequestFor(const Invocation& invocation, BatchOperation operation)
{
    BatchRequest request;
    request.Operation = operation;
    request.AllOfType = invocation.AllOfType;
    request.Scope = invocation.Scope;
    request.Recurse = invocation.Recurse;
    request.Paths.assign(invocation.Paths.begin(), invocation.Paths.end());
    return request;
}

BatchResult RunWithProgress(const BatchRequest& request)
{
    ShellNotifier notifier;
    BatchResult result;
    {
        const BreakHandler breaks;
        ConsoleProgress progress;
        result = RunBatch(
            request, notifier, [&progress](std::size_t done, std::size_t total) { progress(done, total); },
            &Interrupted);
    }
    notifier.Send();
    return result;
}

int ReportBatch(const BatchRequest& request, const BatchResult& result, const std::wstring& doneWords,
                const std::function<std::wstring(const BatchFailure&)>& words)
{
    std::wstring summary = std::to_wstring(result.Changed) + L" of " + std::to_wstring(result.Total) + L" targets " +
                           doneWords;
    if (request.Operation == BatchOperation::Restore && result.NothingToRestore > 0)
        summary += L", " + std::to_wstring(result.NothingToRestore) + L" had nothing to restore";
    WriteOut(summary + L"\n");
    if (result.Cancelled)
        WriteErr(L"orvane: stopped after " + std::to_wstring(result.Done) + L" of " + std::to_wstring(result.Total) +
                 L" targets; the others are unchanged\n");
    for (const BatchFailure& failure : result.Failures)
        WriteErr(L"orvane: " + failure.Path + L": " + words(failure) + L"\n");
    return result.Failures.empty() && !result.Cancelled ? 0 : 1;
}

} // namespace orvane::cli
