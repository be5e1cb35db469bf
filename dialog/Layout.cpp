#include "Layout.h"

#include "Placement.h"
#include "Scaling.h"
#include "resource.h"

namespace orvane {

const ControlAnchor DialogAnchors[DialogControlCount] = {
    {IDC_SOURCES, StretchWidth},
    {IDC_BROWSE, FollowRight},
    {IDC_ICONLIST, StretchWidth | StretchHeight},
    {IDOK, FollowRight | FollowBottom},
    {IDCANCEL, FollowRight | FollowBottom},
    {IDC_HEADLINE, StretchWidth},
    {IDC_LISTLABEL, 0},
    {IDC_SOURCELABEL, 0},
    {IDC_ALLOFTYPE, FollowBottom},
    {IDC_RESTORE, FollowBottom},
    {IDC_SHELLVERSION, FollowBottom},
    {IDC_COLOUR, FollowRight | FollowBottom},
    {IDC_KEEPCOPY, FollowBottom},
    {IDC_SUBFOLDERS, FollowBottom},
};

namespace {

// A control added to the template, at a place given in dialog units, in the dialog's
// font, after `previous` in the tab order.
HWND AddControl(HWND dialog, int id, const wchar_t* text, DWORD style, RECT place, HWND previous)
{
    MapDialogRect(dialog, &place);
    HWND control = CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_TABSTOP | style, place.left, place.top,
                                   place.right - place.left, place.bottom - place.top, dialog,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    if (control == nullptr)
        return nullptr;
    SendMessageW(control, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
    SetWindowPos(control, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return control;
}

} // namespace

void AddFolderControls(HWND dialog, bool shown)
{
    const DWORD visible = shown ? WS_VISIBLE : 0;
    // Where the check box for all files of a type is, which a folder never shows; and
    // the button in the bottom band's free corner, above OK.
    HWND keepCopy = AddControl(dialog, IDC_KEEPCOPY, L"&Keep a copy with the folder", BS_AUTOCHECKBOX | visible,
                               {7, 162, 122, 172}, GetDlgItem(dialog, IDC_ALLOFTYPE));
    HWND colour =
        AddControl(dialog, IDC_COLOUR, L"Co&lour...", BS_PUSHBUTTON | visible, {133, 160, 185, 174}, keepCopy);
    // Left of the shell's version, above the copy's check box.
    AddControl(dialog, IDC_SUBFOLDERS, L"Also all &subfolders", BS_AUTOCHECKBOX | visible, {7, 150, 100, 160},
               colour);
}

void InitLayout(ChangeIconDialog& record, HWND dialog)
{
    for (int i = 0; i < DialogControlCount; ++i) {
        record.Controls[i] = GetDlgItem(dialog, DialogAnchors[i].Id);
        if (record.Controls[i] != nullptr)
            SetWindowLongPtrW(record.Controls[i], GWLP_USERDATA, static_cast<LONG_PTR>(DialogAnchors[i].Flags));
    }

    // The dialog's first size notification comes while the window is being created,
    // before the record is attached, so the layout starts from the client size the
    // template gave; sizing the window below then moves the controls with it.
    RECT client{};
    if (GetClientRect(dialog, &client)) {
        record.LastClientWidth = client.right;
        record.LastClientHeight = client.bottom;
    }
    RECT window{};
    GetWindowRect(dialog, &window);
    const SIZE minimum{window.right - window.left, window.bottom - window.top};
    std::optional<RECT> owner;
    RECT ownerRect{};
    HWND invoker = record.Owner != nullptr ? record.Owner : record.OtherProcessInvoker;
    if (invoker != nullptr && GetWindowRect(invoker, &ownerRect))
        owner = ownerRect;
    POINT pointer{};
    GetCursorPos(&pointer);
    const RECT placed = PlaceDialog(minimum, LoadDialogRect(), owner, pointer, Monitors());
    // At the template's own size the window is only moved: sizing it would bring in the
    // minimum tracking size, which the template may be below.
    const bool templateSize = placed.right - placed.left == minimum.cx && placed.bottom - placed.top == minimum.cy;
    SetWindowPos(dialog, HWND_TOP, placed.left, placed.top, placed.right - placed.left, placed.bottom - placed.top,
                 templateSize ? SWP_NOSIZE : 0);
}

void ResizeControls(ChangeIconDialog& record, HWND dialog, int width, int height)
{
    if (record.LastClientWidth == 0) {
        record.LastClientWidth = width;
        record.LastClientHeight = height;
        return;
    }
    const int dx = width - record.LastClientWidth;
    const int dy = height - record.LastClientHeight;

    for (HWND control : record.Controls) {
        if (control == nullptr)
            continue;
        const unsigned flags = static_cast<unsigned>(GetWindowLongPtrW(control, GWLP_USERDATA)) & 0xFFFFu;
        RECT r{};
        GetWindowRect(control, &r);
        POINT topLeft{r.left, r.top};
        POINT bottomRight{r.right, r.bottom};
        ScreenToClient(dialog, &topLeft);
        ScreenToClient(dialog, &bottomRight);

        if (flags & StretchWidth) {
            bottomRight.x += dx;
        } else if (flags & FollowRight) {
            topLeft.x += dx;
            bottomRight.x += dx;
        }
        if (flags & StretchHeight) {
            bottomRight.y += dy;
        } else if (flags & FollowBottom) {
            topLeft.y += dy;
            bottomRight.y += dy;
        }
        MoveWindow(control, topLeft.x, topLeft.y, bottomRight.x - topLeft.x, bottomRight.y - topLeft.y, TRUE);
        InvalidateRect(control, nullptr, TRUE);
    }
    InvalidateRect(dialog, nullptr, TRUE);
    UpdateWindow(dialog);

    record.LastClientWidth = width;
    record.LastClientHeight = height;
}

void LimitTrackSize(MINMAXINFO* info, UINT dpi)
{
    if (info == nullptr)
        return;
    info->ptMinTrackSize.x = ScaleFrom96(MinTrackWidth, dpi);
    info->ptMinTrackSize.y = ScaleFrom96(MinTrackHeight, dpi);
}

} // namespace orvane
