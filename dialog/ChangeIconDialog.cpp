#include "ChangeIconDialog.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>
#include <iterator>

#include "ColourMenu.h"
#include "DialogActions.h"
#include "DialogText.h"
#include "IconList.h"
#include "IconSources.h"
#include "Layout.h"
#include "ManyTargets.h"
#include "MadeIconFile.h"
#include "MadeSource.h"
#include "PictureIcon.h"
#include "RecentList.h"
#include "Scaling.h"
#include "SourceBrowser.h"
#include "ShellNotify.h"
#include "resource.h"

namespace orvane {

namespace {

constexpr const wchar_t FeedbackLink[] = L"MailTo:orvane-feedback@brindlewick.example";
constexpr const wchar_t MakerWebPage[] = L"https://www.brindlewick.example/orvane/";

ChangeIconDialog* RecordOf(HWND dialog)
{
    return reinterpret_cast<ChangeIconDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// Several targets: the check box for types where any target is a file (unchecked at
// first, whatever the first file has), and OK whatever the first target is.
void ShowManyTargets(HWND dialog, ChangeIconDialog& record)
{
    const bool files = AnyFile(record.Targets);
    ShowWindow(GetDlgItem(dialog, IDC_ALLOFTYPE), files ? SW_SHOW : SW_HIDE);
    SendDlgItemMessageW(dialog, IDC_ALLOFTYPE, BM_SETCHECK, BST_UNCHECKED, 0);
    record.Target.SetAllOfType(false);
    EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
}

BOOL OnInitDialog(HWND dialog, ChangeIconDialog& record)
{
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&record));
    record.Target = OpenTarget(record.TargetPath);
    AddFolderControls(dialog, IsForMany(record) ? OnlyFolders(record.Targets) : record.Target.Kind() == TargetKind::Folder);
    // Before the dialog is placed: moved onto a monitor of another scaling, it rescales.
    BeginScaling(record, dialog);
    InitLayout(record, dialog);

    SendMessageW(dialog, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadIconW(record.Resources, MAKEINTRESOURCEW(IDI_ORVANE))));
    // The caption shows the small image, drawn for 16 pixels rather than scaled down.
    SendMessageW(dialog, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(LoadImageW(record.Resources, MAKEINTRESOURCEW(IDI_ORVANE), IMAGE_ICON,
                                                     GetSystemMetrics(SM_CXSMICON),
                                                     GetSystemMetrics(SM_CYSMICON), LR_SHARED)));

    const std::optional<IconLocation> current = record.Target.Current;

    const bool canTakeIcon = CanTakeIcon(record);
    if (record.Target.PathKind() != TargetKind::File) {
        ShowWindow(GetDlgItem(dialog, IDC_ALLOFTYPE), SW_HIDE);
    } else if (!canTakeIcon) {
        // Neither a single-file nor a type icon can be stored for it: nothing to choose.
        ShowWindow(GetDlgItem(dialog, IDC_ALLOFTYPE), SW_HIDE);
        EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
    } else if (record.Target.AllOfType()) {
        SendDlgItemMessageW(dialog, IDC_ALLOFTYPE, BM_SETCHECK, BST_CHECKED, 0);
    }
    if (IsForMany(record))
        ShowManyTargets(dialog, record);
    UpdateHeadline(record, dialog);

    if (IsForMany(record) ? !AnyRestores(record.Targets) : !current || !canTakeIcon || !record.Target.HasBackup())
        ShowWindow(GetDlgItem(dialog, IDC_RESTORE), SW_HIDE);

    HWND combo = GetDlgItem(dialog, IDC_SOURCES);
    LoadRecentList(combo);
    ShowFolderIconResolved(record);
    const wchar_t* shown = record.Target.CurrentIconPath();
    // A folder's made icon is its own: it is not offered to other targets as a source.
    if (shown != nullptr && shown[0] != L'\0' &&
        FillIconList(dialog, shown, IconListPosition(shown, record.Target.CurrentIndex())) &&
        !IsMadeIconName(std::wcsrchr(shown, L'\\') ? std::wcsrchr(shown, L'\\') + 1 : shown))
        AddRecentEntry(combo, shown);
    record.ShownSource = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    UpdateKeepCopy(dialog, record);

    // A file dropped from Explorer becomes the source, as the "..." button would make it.
    DragAcceptFiles(dialog, TRUE);
    // The focus shows from the start, though the menu was chosen with the mouse: once the
    // dialog has set up its cues for the input that opened it.
    PostMessageW(dialog, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);

    const ShellVersion version = GetShellVersion();
    wchar_t text[64];
    std::swprintf(text, std::size(text), L"Shellversion %lu.%lu", version.Major, version.Minor);
    SetDlgItemTextW(dialog, IDC_SHELLVERSION, text);
    return TRUE;
}

void OnSourceChosen(HWND dialog, ChangeIconDialog& record)
{
    HWND combo = GetDlgItem(dialog, IDC_SOURCES);
    wchar_t entry[TextCapacity];
    if (!SelectedRecentEntry(combo, entry))
        return;
    if (TellIfUnreadable(dialog, entry)) {
        SendMessageW(combo, CB_SETCURSEL, record.ShownSource, 0);
        return;
    }
    // A source without icons must not become the current one: the list would go on
    // showing the previous file's icons, and OK would apply one of their indexes to it.
    if (IsPictureFile(entry) ? ShowPicture(dialog, record, entry)
                             : FillIconList(dialog, entry, -1) && record.Target.SetCurrentIconPath(entry)) {
        if (!IsPictureFile(entry))
            ForgetMadeIcon(record);
        UpdateKeepCopy(dialog, record);
        record.ShownSource = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
        return;
    }
    SendMessageW(combo, CB_SETCURSEL, record.ShownSource, 0);
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
        if (!CancelRunningBatch(record))
            EndDialog(dialog, IDCANCEL);
        break;
    case IDC_RESTORE:
        OnRestore(dialog, record);
        break;
    case IDC_BROWSE:
        BrowseForIconFile(record, dialog);
        break;
    case IDC_ALLOFTYPE:
        if (!IsForMany(record))
            record.Target.SetAllOfType((SendDlgItemMessageW(dialog, IDC_ALLOFTYPE, BM_GETSTATE, 0, 0) & BST_CHECKED) != 0);
        UpdateHeadline(record, dialog);
        break;
    case IDM_SENDFEEDBACK:
    case IDM_VISITWEBPAGE:
        // The shell opens each link with whatever handles its scheme.
        ShellExecuteW(dialog, nullptr, id == IDM_SENDFEEDBACK ? FeedbackLink : MakerWebPage, nullptr, nullptr,
                      SW_SHOW);
        break;
    case IDM_TIDY:
        OnTidy(dialog);
        break;
    case IDM_EXPORT:
        OnExportSettings(dialog);
        break;
    case IDM_IMPORT:
        OnImportSettings(dialog);
        break;
    case IDM_REMOVEALL:
        OnRemoveAll(dialog);
        break;
    case IDC_COLOUR:
        if (IsWindowVisible(GetDlgItem(dialog, IDC_COLOUR)))
            OfferFolderColours(dialog);
        break;
    default:
        if (IsWindowVisible(GetDlgItem(dialog, IDC_COLOUR)))
            OnColourCommand(dialog, record, id);
        break;
    }
}

INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT listResult = 0;
    if (HandleIconListMessage(dialog, message, wParam, lParam, &listResult)) {
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, listResult);
        return TRUE;
    }
    if (message == WM_INITDIALOG) {
        auto* record = reinterpret_cast<ChangeIconDialog*>(lParam);
        if (record == nullptr) {
            EndDialog(dialog, -1);
            return TRUE;
        }
        return OnInitDialog(dialog, *record);
    }
    ChangeIconDialog* record = RecordOf(dialog);
    if (message == WM_GETMINMAXINFO) {
        LimitTrackSize(reinterpret_cast<MINMAXINFO*>(lParam), record != nullptr ? record->Dpi : WindowDpi(dialog));
        return FALSE;
    }
    if (record == nullptr)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        OnCommand(dialog, *record, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_DROPFILES:
        if (record->BatchRunning)
            DragFinish(reinterpret_cast<HDROP>(wParam));
        else
            UseDroppedFile(*record, dialog, reinterpret_cast<HDROP>(wParam));
        return TRUE;
    case WM_DPICHANGED:
        RescaleDialog(*record, dialog, HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return TRUE;
    case WM_SIZE:
        SuspendIconListDrawing(dialog);
        ResizeControls(*record, dialog, LOWORD(lParam), HIWORD(lParam));
        ResumeIconListDrawing(dialog);
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
    wchar_t text[TextCapacity + 160];
    if (IsForMany(record))
        FormatManyHeadline(record, SendDlgItemMessageW(dialog, IDC_ALLOFTYPE, BM_GETCHECK, 0, 0) == BST_CHECKED, text,
                           std::size(text));
    else
        FormatHeadline(record, text, std::size(text));
    SendDlgItemMessageW(dialog, IDC_HEADLINE, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void NotifyShell(ChangeIconDialog& record)
{
    NotifyChange(record.Target);
}

INT_PTR RunChangeIconDialog(HINSTANCE resources, ChangeIconDialog& record)
{
    record.Resources = resources;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // Owned by the window that invoked it, as a dialog Explorer opens is: that window
    // waits while it is open, and it never goes behind that window.
    HWND owner = record.Owner != nullptr && IsWindow(record.Owner) ? GetAncestor(record.Owner, GA_ROOT) : nullptr;
    record.Owner = owner;
    const INT_PTR result = DialogBoxParamW(resources, MAKEINTRESOURCEW(IDD_CHANGEICON), owner, ChangeIconDialogProc,
                                           reinterpret_cast<LPARAM>(&record));
    ForgetMadeIcon(record);
    EndScaling(record);
    return result;
}

} // namespace orvane
