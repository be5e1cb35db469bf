#include "Scaling.h"

#include <algorithm>

#include "IconList.h"

namespace orvane {

namespace {

// DIALOG_DPI_CHANGE_BEHAVIORS' DDC_DISABLE_ALL.
constexpr int DialogRescalesNothing = 1;

template <typename Function> Function User32Call(const char* name)
{
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 == nullptr ? nullptr
                             : reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(user32, name)));
}

UINT ScreenDpi()
{
    HDC screen = GetDC(nullptr);
    if (screen == nullptr)
        return DefaultDpi;
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : DefaultDpi;
}

// The font the dialog's controls take at the new DPI: the dialog's own (made for the DPI
// it opened at), its height scaled.
HFONT ScaledFont(HWND dialog, UINT from, UINT to)
{
    auto font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    LOGFONTW face{};
    if (font == nullptr || GetObjectW(font, sizeof face, &face) != sizeof face)
        return nullptr;
    face.lfHeight = MulDiv(face.lfHeight, static_cast<int>(to), static_cast<int>(from));
    face.lfWidth = MulDiv(face.lfWidth, static_cast<int>(to), static_cast<int>(from));
    return CreateFontIndirectW(&face);
}

int Scale(LONG value, UINT from, UINT to) { return MulDiv(value, static_cast<int>(to), static_cast<int>(from)); }

} // namespace

UINT WindowDpi(HWND window)
{
    using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
    static const auto getDpi = User32Call<GetDpiForWindowCall>("GetDpiForWindow");
    const UINT dpi = getDpi != nullptr && window != nullptr ? getDpi(window) : 0;
    return dpi != 0 ? dpi : ScreenDpi();
}

int MetricForDpi(int index, UINT dpi)
{
    using GetSystemMetricsForDpiCall = int(WINAPI*)(int, UINT);
    static const auto metricForDpi = User32Call<GetSystemMetricsForDpiCall>("GetSystemMetricsForDpi");
    if (metricForDpi != nullptr)
        return metricForDpi(index, dpi);
    return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(ScreenDpi()));
}

int LargeIconSize(UINT dpi)
{
    const int size = MetricForDpi(SM_CXICON, dpi);
    return size > 0 ? size : ScaleFrom96(32, dpi);
}

int ScaleFrom96(int length, UINT dpi) { return MulDiv(length, static_cast<int>(dpi), static_cast<int>(DefaultDpi)); }

void BeginScaling(ChangeIconDialog& record, HWND dialog)
{
    record.Dpi = WindowDpi(dialog);
    record.OpeningDpi = record.Dpi;
    using SetBehaviorCall = BOOL(WINAPI*)(HWND, int, int);
    static const auto setBehavior = User32Call<SetBehaviorCall>("SetDialogDpiChangeBehavior");
    if (setBehavior != nullptr)
        setBehavior(dialog, DialogRescalesNothing, DialogRescalesNothing);
    SetIconListImageSize(dialog, LargeIconSize(record.Dpi));
}

void RescaleDialog(ChangeIconDialog& record, HWND dialog, UINT dpi, const RECT* suggested)
{
    const UINT from = record.Dpi;
    if (dpi == 0 || from == 0 || dpi == from) {
        if (suggested != nullptr)
            SetWindowPos(dialog, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return;
    }

    // The controls first, at their places scaled, in the font scaled; the anchors then
    // work from the client size scaled the same way.
    HFONT font = dpi == record.OpeningDpi ? nullptr : ScaledFont(dialog, record.OpeningDpi, dpi);
    const auto controlFont = font != nullptr ? font : reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    SuspendIconListDrawing(dialog);
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r{};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        MoveWindow(child, Scale(r.left, from, dpi), Scale(r.top, from, dpi), Scale(r.right - r.left, from, dpi),
                   Scale(r.bottom - r.top, from, dpi), FALSE);
        if (controlFont != nullptr)
            SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(controlFont), FALSE);
    }
    // The font of the scaling before goes once no control uses it; back at the DPI it
    // opened at, the controls have the dialog's own font again.
    if (record.ScaledFont != nullptr)
        DeleteObject(record.ScaledFont);
    record.ScaledFont = font;
    record.LastClientWidth = Scale(record.LastClientWidth, from, dpi);
    record.LastClientHeight = Scale(record.LastClientHeight, from, dpi);
    record.Dpi = dpi;
    SetIconListImageSize(dialog, LargeIconSize(dpi));
    ResumeIconListDrawing(dialog);

    RECT placed{};
    if (suggested != nullptr) {
        placed = *suggested;
    } else {
        RECT window{};
        GetWindowRect(dialog, &window);
        const LONG cx = (window.left + window.right) / 2, cy = (window.top + window.bottom) / 2;
        const LONG width = Scale(window.right - window.left, from, dpi);
        const LONG height = Scale(window.bottom - window.top, from, dpi);
        placed = {cx - width / 2, cy - height / 2, cx - width / 2 + width, cy - height / 2 + height};
    }
    SetWindowPos(dialog, nullptr, placed.left, placed.top, placed.right - placed.left, placed.bottom - placed.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    // A window whose size did not change gets no WM_SIZE: the anchors still fit the
    // controls to the client it has.
    RECT client{};
    if (GetClientRect(dialog, &client) &&
        (client.right != record.LastClientWidth || client.bottom != record.LastClientHeight))
        SendMessageW(dialog, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    InvalidateRect(dialog, nullptr, TRUE);
}

void EndScaling(ChangeIconDialog& record)
{
    if (record.ScaledFont != nullptr)
        DeleteObject(record.ScaledFont);
    record.ScaledFont = nullptr;
}

} // namespace orvane
