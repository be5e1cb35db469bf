#include "DialogActions.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cwchar>
#include <iterator>
#include <string>

#include "DialogText.h"
#include "ErrorText.h"
#include "FolderTrust.h"
#include "MadeSource.h"
#include "ManyTargets.h"
#include "Placement.h"
#include "RecentList.h"
#include "RemoveAll.h"
#include "SettingsTransfer.h"
#include "ShellNotify.h"
#include "TidyFileIcons.h"
#include "resource.h"

namespace orvane {

namespace {

constexpr const wchar_t RestoreQuestion[] = L"The Windows default icon will be used.\nContinue?";
constexpr const wchar_t RestoreCaption[] = L"Orvane - Restore default Icon";
constexpr const wchar_t RemoveQuestion[] = L"All Orvane Information will be cleared.\nContinue?";
constexpr const wchar_t RemoveCaption[] = L"Orvane - Remove Orvane";
constexpr const wchar_t ChangeFailedCaption[] = L"Orvane - Icon not changed";
constexpr const wchar_t RestoreFailedCaption[] = L"Orvane - Icon not restored";
constexpr const wchar_t RemoveFailedCaption[] = L"Orvane - Settings not removed";
constexpr const wchar_t TidyCaption[] = L"Orvane - Tidy File Icons";
constexpr const wchar_t ExportCaption[] = L"Orvane - Export settings";
constexpr const wchar_t ImportCaption[] = L"Orvane - Import settings";
constexpr const wchar_t SettingsFilter[] = L"Orvane Settings (*.json)\0*.json\0All Files (*.*)\0*.*\0";
// The summary names this many of the settings not imported, each with its reason.
constexpr std::size_t ImportProblemsShown = 10;
// How many entries followed their file, and how many went with their file.
constexpr const wchar_t TidySummary[] = L"%lu file icon(s) followed their renamed or moved file; %lu whose file is gone were removed.";
constexpr const wchar_t TidyFailures[] = L"\n\n%lu could not be tidied: ";
constexpr const wchar_t TrustCaption[] = L"Orvane - Icon may not show";
constexpr const wchar_t MarkNotRemovedCaption[] = L"Orvane - Mark not removed";

void ShowFailure(HWND dialog, const wchar_t* text, const wchar_t* caption)
{
    MessageBoxW(dialog, text, caption, MB_OK | MB_ICONERROR);
}

// After a folder's icon is written: says where Windows may not show it, and removes the
// mark of the web from its Desktop.ini only when the user answers yes.
void TellWhereTheIconMayNotShow(HWND dialog, ChangeIconDialog& record)
{
    if (record.Target.Kind() != TargetKind::Folder)
        return;
    const TrustFindings findings =
        CheckFolderIconTrust(record.Target.Path(), record.Target.Current ? record.Target.Current->IconPath : nullptr);
    if (!findings.Any())
        return;
    wchar_t text[2048];
    FormatTrustFindings(record, findings, text, std::size(text));
    if (!findings.Has(TrustFinding::DesktopIniMarked)) {
        MessageBoxW(dialog, text, TrustCaption, MB_OK | MB_ICONWARNING);
        return;
    }
    if (MessageBoxW(dialog, text, TrustCaption, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
        return;
    const LONG status = RemoveDesktopIniMark(record.Target.Path());
    if (status != ERROR_SUCCESS) {
        std::swprintf(text, std::size(text), L"The mark of the web could not be removed from Desktop.ini (error %ld).",
                      static_cast<long>(status));
        ShowFailure(dialog, text, MarkNotRemovedCaption);
    }
}

void OnOkForMany(HWND dialog, ChangeIconDialog& record)
{
    HWND list = GetDlgItem(dialog, IDC_ICONLIST);
    if (SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0) != 0) {
        record.Target.SetCurrentIndex(static_cast<int>(
            SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_SELECTED, 0))));
        if (record.Target.CurrentIndex() >= 0) {
            ChangeMany(dialog, record, false);
            SaveRecentList(GetDlgItem(dialog, IDC_SOURCES));
        }
    }
    SaveDialogRect(dialog);
    EndDialog(dialog, IDOK);
}

} // namespace

void OnOk(HWND dialog, ChangeIconDialog& record)
{
    if (UsesBatch(dialog, record)) {
        OnOkForMany(dialog, record);
        return;
    }
    // Enter reaches here even while the button is disabled.
    if (!CanTakeIcon(record))
        return;
    HWND list = GetDlgItem(dialog, IDC_ICONLIST);
    if (SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0) != 0) {
        // Item i shows icon i of its file; of several selected items the first counts.
        const int item = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                                       MAKELPARAM(LVNI_SELECTED, 0)));
        record.Target.SetCurrentIndex(item);
        if (record.Target.CurrentIndex() >= 0) {
            const ChangeResult result = ApplyChosenIcon(dialog, record);
            if (result != ChangeResult::Done) {
                wchar_t text[1024];
                FormatChangeFailure(record, result, L"changed", text, std::size(text));
                ShowFailure(dialog, text, ChangeFailedCaption);
                return;
            }
            SaveRecentList(GetDlgItem(dialog, IDC_SOURCES));
            TellWhereTheIconMayNotShow(dialog, record);
        }
    }
    NotifyShell(record);
    SaveDialogRect(dialog);
    EndDialog(dialog, IDOK);
}

void OnRestore(HWND dialog, ChangeIconDialog& record)
{
    if (MessageBoxW(dialog, RestoreQuestion, RestoreCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    HWND restore = GetDlgItem(dialog, IDC_RESTORE);
    ShowWindow(restore, SW_HIDE);
    if (UsesBatch(dialog, record)) {
        ChangeMany(dialog, record, true);
        SaveDialogRect(dialog);
        EndDialog(dialog, IDCANCEL);
        return;
    }
    const ChangeResult result = record.Target.RestoreDefault();
    if (result != ChangeResult::Done) {
        ShowWindow(restore, SW_SHOW);
        wchar_t text[1024];
        FormatChangeFailure(record, result, L"restored to the Windows default", text, std::size(text));
        ShowFailure(dialog, text, RestoreFailedCaption);
        return;
    }
    SaveDialogRect(dialog);
    NotifyShell(record);
    EndDialog(dialog, IDCANCEL);
}

void OnRemoveAll(HWND dialog)
{
    if (MessageBoxW(dialog, RemoveQuestion, RemoveCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    const LONG status = RemoveAllSettings();
    // Also after a partial failure: this user's types may have been handed back.
    NotifyAssociationsChanged();
    if (status != ERROR_SUCCESS) {
        wchar_t text[512];
        FormatRemoveFailure(status, text, std::size(text));
        ShowFailure(dialog, text, RemoveFailedCaption);
    }
}

void OnTidy(HWND dialog)
{
    const TidyReport report = TidyFileIcons(false);
    if (report.HandlerRemoved)
        NotifyAssociationsChanged();
    std::size_t moved = 0, removed = 0, failed = 0;
    for (const TidiedEntry& entry : report.Entries) {
        if (entry.Status != ERROR_SUCCESS)
            ++failed;
        else if (entry.InRecycleBin)
            continue;
        else if (entry.NewPath.empty())
            ++removed;
        else
            ++moved;
    }
    wchar_t text[512];
    std::swprintf(text, std::size(text), TidySummary, static_cast<unsigned long>(moved),
                  static_cast<unsigned long>(removed));
    std::wstring message = text;
    if (failed != 0 || (report.Status != ERROR_SUCCESS && report.Entries.empty())) {
        std::swprintf(text, std::size(text), TidyFailures, static_cast<unsigned long>(failed));
        message += text;
        message += SystemErrorText(report.Status);
    }
    MessageBoxW(dialog, message.c_str(), TidyCaption, MB_OK | (failed != 0 ? MB_ICONWARNING : MB_ICONINFORMATION));
}

namespace {

// The standard file dialog for a settings file: false when the person cancels.
bool ChooseSettingsFile(HWND dialog, bool save, wchar_t (&file)[TextCapacity])
{
    OPENFILENAMEW ofn{};
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    ofn.hwndOwner = dialog;
    ofn.lpstrFilter = SettingsFilter;
    ofn.lpstrFile = file;
    ofn.nMaxFile = TextCapacity - 1;
    ofn.lpstrTitle = save ? L"Export Orvane Settings" : L"Import Orvane Settings";
    ofn.lpstrDefExt = L"json";
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    const BOOL chosen = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    file[TextCapacity - 1] = L'\0';
    return chosen != FALSE;
}

const wchar_t* OutcomeWord(ImportOutcome outcome)
{
    switch (outcome) {
    case ImportOutcome::Skipped: return L"skipped";
    case ImportOutcome::Refused: return L"refused";
    default: return L"not imported";
    }
}

// Why a change of an import was not made, in a few words.
std::wstring NotMadeText(const ImportedSetting& setting)
{
    if (setting.Refused)
        return SystemErrorText(setting.Refused->Status);
    switch (setting.Result) {
    case ChangeResult::AccessDenied: return L"access denied";
    case ChangeResult::PathTooLong: return L"a path is too long";
    case ChangeResult::NoExtension: return L"the file has no type";
    case ChangeResult::DesktopIniIsLink: return L"its Desktop.ini is a link";
    case ChangeResult::DesktopIniIsFolder: return L"its Desktop.ini is a folder";
    case ChangeResult::HandlerNotLoadable: return L"Explorer cannot load the installed icon handler";
    default: return L"the change could not be written";
    }
}

void ExportTo(HWND dialog, const wchar_t* file)
{
    SettingsDocument document;
    const LONG status = CollectSettings(document) ? WriteSettingsFile(file, document) : ERROR_OUTOFMEMORY;
    if (status != ERROR_SUCCESS) {
        ShowFailure(dialog, (std::wstring(L"The settings were not exported to ") + file + L".\n" + SystemErrorText(status)).c_str(),
                    ExportCaption);
        return;
    }
    const std::wstring text = std::to_wstring(document.Settings.size()) + L" setting(s) exported to " + file + L".";
    MessageBoxW(dialog, text.c_str(), ExportCaption, MB_OK | MB_ICONINFORMATION);
}

void ImportFrom(HWND dialog, const wchar_t* file)
{
    SettingsDocument document;
    std::wstring reason;
    if (!ReadSettingsFile(file, document, reason)) {
        ShowFailure(dialog, (std::wstring(L"Nothing was imported: the file ") + reason + L".").c_str(), ImportCaption);
        return;
    }
    ShellNotifier notifier;
    const ImportReport report = ImportSettings(document, ImportOptions{}, notifier);
    notifier.Send();
    const std::size_t notDone = report.Count(ImportOutcome::Skipped) + report.Count(ImportOutcome::Refused) +
                                report.Count(ImportOutcome::Failed);
    std::wstring text = std::to_wstring(report.Count(ImportOutcome::Changed)) + L" setting(s) imported, " +
                        std::to_wstring(report.Count(ImportOutcome::Unchanged)) + L" already set, " +
                        std::to_wstring(notDone) + L" not imported.";
    std::size_t shown = 0;
    for (const ImportedSetting& setting : report.Settings) {
        if (setting.Outcome == ImportOutcome::Changed || setting.Outcome == ImportOutcome::Unchanged)
            continue;
        if (shown++ == ImportProblemsShown) {
            text += L"\n...";
            break;
        }
        const std::wstring why = !setting.Reason.empty() ? setting.Reason : NotMadeText(setting);
        text += L"\n" + setting.Target + L": " + OutcomeWord(setting.Outcome) + L" (" + why + L")";
    }
    MessageBoxW(dialog, text.c_str(), ImportCaption, MB_OK | (notDone != 0 ? MB_ICONWARNING : MB_ICONINFORMATION));
}

} // namespace

void OnExportSettings(HWND dialog)
{
    wchar_t file[TextCapacity] = L"Orvane settings.json";
    if (!ChooseSettingsFile(dialog, true, file))
        return;
    try {
        ExportTo(dialog, file);
    } catch (const std::bad_alloc&) {
        ShowFailure(dialog, L"The settings were not exported: memory ran out.", ExportCaption);
    }
}

void OnImportSettings(HWND dialog)
{
    wchar_t file[TextCapacity] = L"";
    if (!ChooseSettingsFile(dialog, false, file))
        return;
    try {
        ImportFrom(dialog, file);
    } catch (const std::bad_alloc&) {
        ShowFailure(dialog, L"The import stopped: memory ran out.", ImportCaption);
    }
}

} // namespace orvane
