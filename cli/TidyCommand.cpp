// orvane tidy: per-file icons whose file moved follow it, those whose file is gone go.
#include "Commands.h"

#include <windows.h>

#include <string>

#include "ConsoleText.h"
#include "ErrorText.h"
#include "Messages.h"
#include "ShellNotify.h"
#include "TidyFileIcons.h"

namespace orvane::cli {

namespace {

const wchar_t* ScopeWord(Scope scope) { return scope == Scope::ThisUser ? L"this user's" : L"all users'"; }

} // namespace

int Tidy(bool dryRun)
{
    const TidyReport report = TidyFileIcons(dryRun);
    int status = report.Status == ERROR_SUCCESS ? 0 : 1;
    std::size_t moved = 0, removed = 0;
    for (const TidiedEntry& entry : report.Entries) {
        const std::wstring what = entry.NewPath.empty() ? std::wstring(dryRun ? L"would be removed" : L"removed") +
                                                              L" (its file is gone)"
                                                        : std::wstring(dryRun ? L"would follow its file to " : L"followed its file to ") +
                                                              entry.NewPath;
        if (entry.Status != ERROR_SUCCESS) {
            Fail(entry.Path.c_str(), std::wstring(L"icon of ") + ScopeWord(entry.Where) + L" not tidied: " +
                                         SystemErrorText(entry.Status));
            status = 1;
            continue;
        }
        if (entry.InRecycleBin) {
            WriteOut(entry.Path + L": " + ScopeWord(entry.Where) + L" icon kept (its file is in the Recycle Bin)\n");
            continue;
        }
        WriteOut(entry.Path + L": " + ScopeWord(entry.Where) + L" icon " + what + L"\n");
        (entry.NewPath.empty() ? removed : moved) += 1;
    }
    if (!dryRun && report.HandlerRemoved)
        NotifyAssociationsChanged();
    if (report.Status != ERROR_SUCCESS && report.Entries.empty())
        WriteErr(L"orvane: tidy: " + SystemErrorText(report.Status) + L"\n");
    WriteOut(std::wstring(dryRun ? L"Would tidy " : L"Tidied ") + std::to_wstring(moved) + L" moved and " +
             std::to_wstring(removed) + L" gone file icon(s).\n");
    return status;
}

} // namespace orvane::cli
