#include "ChangeIconDialog.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>

#include "IconList.h"
#include "IconResources.h"
#include "Layout.h"
#include "RecentList.h"
#include "RemoveAll.h"
#include "SourceBrowser.h"
#include "ShellNotify.h"
#include "resource.h"

namespace orvane {

namespace {

constexpr const char FeedbackLink[] = "MailTo:orvane-feedback@brindlewick.example";
constexpr const char MakerWebPage[] = "https://www.brindlewick.example/orvane/";

constexpr const char RestoreQuestion[] = "The Windows default icon will be used.\nContinue?";
constexpr const char RestoreCaption[] = "Orvane - Restore default Icon";
constexpr const char RemoveQuestion[] = "All Orvane Information will be cleared.\nContinue?";
constexpr const char RemoveCaption[] = "Orvane - Remove Orvane";
constexpr const char ChangeFailedCaption[] = "Orvane - Icon not changed";
constexpr const char RestoreFailedCaption[] = "Orvane - Icon not restored";
constexpr const char RemoveFailedCaption[] = "Orvane - Settings not removed";

ChangeIconDialog* RecordOf(HWND dialog)
{
    return reinterpret_cast<ChangeIconDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

void ShowFailure(HWND dialog, const char* text, const char* caption)
{
    MessageBoxA(dialog, text, caption, MB_OK | MB_ICONERROR);
}

BOOL OnInitDialog(HWND dialog, ChangeIconDialog& record)
{
    SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&record));
    InitLayout(record, dialog);

    SendMessageA(dialog, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadIconA(record.Resources, MAKEINTRESOURCEA(IDI_ORVANE))));
    // The caption shows the small image, drawn for 16 pixels rather than scaled down.
    SendMessageA(dialog, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(LoadImageA(record.Resources, MAKEINTRESOURCEA(IDI_ORVANE), IMAGE_ICON,
                                                     GetSystemMetrics(SM_CXSMICON),
                                                     GetSystemMetrics(SM_CYSMICON), LR_SHARED)));

    static_cast<IconTarget&>(record) = IconTarget(record.TargetPath);
    const TargetKind kind = record.Kind();
    const std::optional<IconLocation> current = record.ReadCurrentIcon();
    record.RememberOriginal(current);

    const bool canTakeIcon = CanTakeIcon(record);
    if (kind != TargetKind::File) {
        record.SetAllOfType(false);
        ShowWindow(GetDlgItem(dialog, IDC_ALLOFTYPE), SW_HIDE);
    } else if (!canTakeIcon) {
        // Neither a single-file nor a type icon can be stored for it: nothing to choose.
        ShowWindow(GetDlgItem(dialog, IDC_ALLOFTYPE), SW_HIDE);
        EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
    } else if (record.AllOfType()) {
        SendDlgItemMessageA(dialog, IDC_ALLOFTYPE, BM_SETCHECK, BST_CHECKED, 0);
    }
    UpdateHeadline(record, dialog);

    if (!current || !canTakeIcon || !record.HasBackup())
        ShowWindow(GetDlgItem(dialog, IDC_RESTORE), SW_HIDE);

    HWND combo = GetDlgItem(dialog, IDC_SOURCES);
    LoadRecentList(combo);
    if (current && current->IconPath[0] != '\0' &&
        FillIconList(dialog, current->IconPath, IconListPosition(current->IconPath, current->Index)))
        AddRecentEntry(combo, current->IconPath);
    record.ShownSource = static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));

    const ShellVersion version = GetShellVersion();
    char text[64];
    std::snprintf(text, sizeof text, "Shellversion %lu.%lu", version.Major, version.Minor);
    SetDlgItemTextA(dialog, IDC_SHELLVERSION, text);
    return TRUE;
}

void OnSourceChosen(HWND dialog, ChangeIconDialog& record)
{
    HWND combo = GetDlgItem(dialog, IDC_SOURCES);
    char entry[TextCapacity];
    if (!SelectedRecentEntry(combo, entry))
        return;
    // A source without icons must not become the current one: the list would go on
    // showing the previous file's icons, and OK would apply one of their indexes to it.
    if (FillIconList(dialog, entry, -1) && record.SetCurrentIconPath(entry)) {
        record.ShownSource = static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
        return;
    }
    SendMessageA(combo, CB_SETCURSEL, record.ShownSource, 0);
}

void OnOk(HWND dialog, ChangeIconDialog& record)
{
    // Enter reaches here even while the button is disabled.
    if (!CanTakeIcon(record))
        return;
    HWND list = GetDlgItem(dialog, IDC_ICONLIST);
    if (SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0) != 0) {
        // Item i shows icon i of its file; of several selected items the first counts.
        const int item = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                                       MAKELPARAM(LVNI_SELECTED, 0)));
        record.SetCurrentIndex(item);
        if (record.CurrentIndex() >= 0) {
            const ChangeResult result = record.ApplyIcon();
            if (result != ChangeResult::Done) {
                char text[1024];
                FormatChangeFailure(record, result, "changed", text, sizeof text);
                ShowFailure(dialog, text, ChangeFailedCaption);
                return;
            }
            SaveRecentList(GetDlgItem(dialog, IDC_SOURCES));
        }
    }
    NotifyShell(record);
    SaveDialogRect(dialog);
    EndDialog(dialog, IDOK);
}

void OnRestore(HWND dialog, ChangeIconDialog& record)
{
    if (MessageBoxA(dialog, RestoreQuestion, RestoreCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    HWND restore = GetDlgItem(dialog, IDC_RESTORE);
    ShowWindow(restore, SW_HIDE);
    const ChangeResult result = record.RestoreDefault();
    if (result != ChangeResult::Done) {
        ShowWindow(restore, SW_SHOW);
        char text[1024];
        FormatChangeFailure(record, result, "restored to the Windows default", text, sizeof text);
        ShowFailure(dialog, text, RestoreFailedCaption);
        return;
    }
    SaveDialogRect(dialog);
    NotifyShell(record);
    EndDialog(dialog, IDCANCEL);
}

void OnRemoveAll(HWND dialog)
{
    if (MessageBoxA(dialog, RemoveQuestion, RemoveCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    const LONG status = RemoveAllSettings();
    if (status != ERROR_SUCCESS) {
        char text[512];
        FormatRemoveFailure(status, text, sizeof text);
        ShowFailure(dialog, text, RemoveFailedCaption);
    }
}

void OnCommand(HWND dialog, ChangeIconDialog& record, WORD id, WORD code)
{
    if (code == CBN_SELCHANGE && id == IDC_SOURCES) {
        OnSourceChosen(dialog, record);
        return;
    }
    switch (id) {
    case IDOK:
        OnOk(dialog, record);
        break;
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        break;
    case IDC_RESTORE:
        OnRestore(dialog, record);
        break;
    case IDC_BROWSE:
        BrowseForIconFile(record, dialog);
        break;
    case IDC_ALLOFTYPE:
        record.SetAllOfType((SendDlgItemMessageA(dialog, IDC_ALLOFTYPE, BM_GETSTATE, 0, 0) & BST_CHECKED) != 0);
        UpdateHeadline(record, dialog);
        break;
    case IDM_SENDFEEDBACK:
    case IDM_VISITWEBPAGE:
        // The shell opens each link with whatever handles its scheme.
        ShellExecuteA(dialog, nullptr, id == IDM_SENDFEEDBACK ? FeedbackLink : MakerWebPage, nullptr, nullptr,
                      SW_SHOW);
        break;
    case IDM_REMOVEALL:
        OnRemoveAll(dialog);
        break;
    default:
        break;
    }
}

INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* record = reinterpret_cast<ChangeIconDialog*>(lParam);
        if (record == nullptr) {
            EndDialog(dialog, -1);
            return TRUE;
        }
        return OnInitDialog(dialog, *record);
    }
    if (message == WM_GETMINMAXINFO) {
        LimitTrackSize(reinterpret_cast<MINMAXINFO*>(lParam));
        return FALSE;
    }
    ChangeIconDialog* record = RecordOf(dialog);
    if (record == nullptr)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        OnCommand(dialog, *record, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_SIZE:
        ResizeControls(*record, dialog, LOWORD(lParam), HIWORD(lParam));
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK ChangeIconDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Nothing may escape into the shell's message loop.
    try {
        return HandleMessage(dialog, message, wParam, lParam);
    } catch (...) {
        return FALSE;
    }
}

} // namespace

void UpdateHeadline(ChangeIconDialog& record, HWND dialog)
{
    char text[TextCapacity + 160];
    FormatHeadline(record, text, sizeof text);
    SendDlgItemMessageA(dialog, IDC_HEADLINE, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void NotifyShell(ChangeIconDialog& record)
{
    NotifyShell(record.Kind(), record.Path());
}

ShellVersion GetShellVersion()
{
    ShellVersion version;
    HMODULE shell = LoadLibraryA("shell32.dll");
    if (shell == nullptr)
        return version;
    auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void (*)()>(GetProcAddress(shell, "DllGetVersion")));
    if (getVersion != nullptr) {
        DLLVERSIONINFO info{};
        info.cbSize = sizeof info;
        if (FAILED(getVersion(&info))) {
            version.Major = 4;
        } else {
            version.Major = info.dwMajorVersion;
            version.Minor = info.dwMinorVersion;
        }
    }
    FreeLibrary(shell);
    return version;
}

INT_PTR RunChangeIconDialog(HINSTANCE resources, ChangeIconDialog& record)
{
    record.Resources = resources;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    return DialogBoxParamA(resources, MAKEINTRESOURCEA(IDD_CHANGEICON), nullptr, ChangeIconDialogProc,
                           reinterpret_cast<LPARAM>(&record));
}

} // namespace orvane
