#include "BatchCommands.h"

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

std::wstring ProblemText(const BatchFailure& failure, bool restoring)
{
    // A place other than the registry refused: the scope, and so --for-me, has no part in it.
    if (failure.Refused)
        return RefusalText(failure.Path.c_str(), *failure.Refused, failure.Problem == BatchProblem::PathTooLong);
    switch (failure.Problem) {
    case BatchProblem::NotFound: return L"no such file, folder or drive";
    case BatchProblem::SubfoldersUnreadable: return L"its subfolders could not be listed; they were left as they are";
    case BatchProblem::NoExtension:
        return L"has no extension; a file's icon belongs to the file type of its extension";
    case BatchProblem::PathTooLong: return L"a path or icon source is too long (at most 259 characters)";
    case BatchProblem::AccessDenied:
        if (failure.RefusedScope == Scope::AllUsers)
            return restoring ? L"access denied; the icon was set for all users, and restoring it needs administrator "
                               L"rights"
                             : L"access denied; all users' settings need administrator rights (--for-me changes it "
                               L"for this user only)";
        return L"access denied; this user's settings (HKEY_CURRENT_USER) or the target itself refused the change";
    case BatchProblem::WriteFailed: return L"the icon could not be written (the folder or its Desktop.ini refused it)";
    case BatchProblem::DesktopIniIsLink:
        return L"the folder's Desktop.ini is a link to another place; nothing is written through it";
    case BatchProblem::DesktopIniIsFolder: return L"the folder holds a folder named Desktop.ini; nothing written";
    case BatchProblem::HandlerReplaced: return L"the icon handler of its class is no longer Orvane; its entry is kept";
    }
    return L"failed";
}

BatchRequest RequestFor(const TargetList& targets, BatchOperation operation)
{
    BatchRequest request;
    request.Operation = operation;
    request.AllOfType = targets.AllOfType;
    request.Scope = targets.Scope;
    request.Recurse = true;
    request.Paths.assign(targets.Paths.begin(), targets.Paths.end());
    return request;
}

// Runs the batch, tells the shell once, prints the summary and then every failure.
int Run(const BatchRequest& request, const std::wstring& doneWords)
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
    std::wstring summary = std::to_wstring(result.Changed) + L" of " + std::to_wstring(result.Total) + L" targets " +
                           doneWords;
    if (request.Operation == BatchOperation::Restore && result.NothingToRestore > 0)
        summary += L", " + std::to_wstring(result.NothingToRestore) + L" had nothing to restore";
    WriteOut(summary + L"\n");
    if (result.Cancelled)
        WriteErr(L"orvane: stopped after " + std::to_wstring(result.Done) + L" of " + std::to_wstring(result.Total) +
                 L" targets; the others are unchanged\n");
    for (const BatchFailure& failure : result.Failures)
        WriteErr(L"orvane: " + failure.Path + L": " +
                 ProblemText(failure, request.Operation == BatchOperation::Restore) + L"\n");
    return result.Failures.empty() && !result.Cancelled ? 0 : 1;
}

} // namespace

int SetIconInTrees(const IconChoice& choice, const TargetList& targets)
{
    BatchRequest request = RequestFor(targets, BatchOperation::Apply);
    request.IconPath = choice.Source;
    request.Index = choice.Index;
    return Run(request, L"given the icon");
}

int RestoreTrees(const TargetList& targets) { return Run(RequestFor(targets, BatchOperation::Restore), L"restored"); }

} // namespace orvane::cli
