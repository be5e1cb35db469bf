// orvane import FILE: each setting of a settings file given to its target here as set
// gives it, with this computer's own backup; what cannot be given is told and the rest
// is done.
#include "Commands.h"

#include <string>

#include "ConsoleText.h"
#include "Messages.h"
#include "SettingsTransfer.h"
#include "ShellNotify.h"

namespace orvane::cli {

namespace {

const wchar_t* KindText(SettingKind kind)
{
    switch (kind) {
    case SettingKind::Folder: return L"Folder";
    case SettingKind::File: return L"File";
    case SettingKind::Type: return L"Type";
    case SettingKind::Drive: return L"Drive";
    }
    return L"Folder";
}

const wchar_t* ScopeText(const std::optional<Scope>& scope)
{
    return scope == Scope::AllUsers ? L" for all users" : scope == Scope::ThisUser ? L" for this user" : L"";
}

void Tell(const ImportedSetting& setting)
{
    const wchar_t* path = setting.Target.c_str();
    const std::wstring kind = KindText(setting.Kind);
    switch (setting.Outcome) {
    case ImportOutcome::Changed:
        WriteOut(setting.Target + L": " + kind + L" icon set" + ScopeText(setting.ChangedScope) + L"\n");
        break;
    case ImportOutcome::WouldChange:
        WriteOut(setting.Target + L": " + kind + L" icon would be set\n");
        break;
    case ImportOutcome::Unchanged:
        WriteOut(setting.Target + L": " + kind + L" icon already set; unchanged\n");
        break;
    case ImportOutcome::Skipped:
        Fail(path, L"skipped: " + setting.Reason);
        break;
    case ImportOutcome::Refused:
        Fail(path, L"refused: " + setting.Reason);
        break;
    case ImportOutcome::Failed:
        if (!setting.Reason.empty())
            Fail(path, L"not imported: " + setting.Reason);
        else if (setting.Refused && IsRefusedWrite(setting.Result))
            Fail(path, L"not imported: " +
                           RefusalText(path, *setting.Refused, setting.Result == ChangeResult::PathTooLong));
        else
            Fail(path, L"not imported: " + ResultMessage(setting.Result));
        break;
    }
}

} // namespace

int ImportSettings(const ImportInvocation& invocation)
{
    SettingsDocument document;
    std::wstring reason;
    if (!ReadSettingsFile(invocation.File, document, reason)) {
        Fail(invocation.File, L"refused: the file " + (reason.empty() ? std::wstring(L"could not be read") : reason) +
                                  L"; nothing imported");
        return 1;
    }
    ShellNotifier notifier;
    const ImportReport report = ImportSettings(document, invocation.Options, notifier);
    notifier.Send();
    for (const ImportedSetting& setting : report.Settings)
        Tell(setting);
    const bool dryRun = invocation.Options.DryRun;
    const std::size_t changed = report.Count(dryRun ? ImportOutcome::WouldChange : ImportOutcome::Changed);
    const std::size_t unchanged = report.Count(ImportOutcome::Unchanged);
    const std::size_t skipped = report.Count(ImportOutcome::Skipped);
    const std::size_t refused = report.Count(ImportOutcome::Refused);
    const std::size_t failed = report.Count(ImportOutcome::Failed);
    WriteOut(std::wstring(dryRun ? L"Would import " : L"Imported ") + std::to_wstring(changed + unchanged) + L" of " +
             std::to_wstring(report.Settings.size()) + L" setting(s): " + std::to_wstring(changed) +
             (dryRun ? L" to change, " : L" changed, ") + std::to_wstring(unchanged) + L" unchanged, " +
             std::to_wstring(skipped) + L" skipped, " + std::to_wstring(refused) + L" refused, " +
             std::to_wstring(failed) + L" failed.\n");
    return skipped + refused + failed == 0 ? 0 : 1;
}

} // namespace orvane::cli
