#include "ColourMenu.h"

#include <commdlg.h>

#include <cwctype>
#include <string>
#include <vector>

#include "FolderColour.h"
#include "MadeSource.h"
#include "resource.h"

namespace orvane {

namespace {

COLORREF ColourRef(FolderColour colour) { return RGB(colour.Red, colour.Green, colour.Blue); }

// "teal" as a menu shows it: "&Teal".
std::wstring MenuText(const wchar_t* name)
{
    std::wstring text = L"&";
    text += name;
    if (text.size() > 1)
        text[1] = static_cast<wchar_t>(std::towupper(text[1]));
    return text;
}

// A square of the colour, at the size of a menu's check mark, framed in grey.
HBITMAP Swatch(HDC screen, COLORREF colour)
{
    const int size = GetSystemMetrics(SM_CYMENUCHECK);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
    HDC dc = CreateCompatibleDC(screen);
    if (bitmap == nullptr || dc == nullptr) {
        if (dc != nullptr)
            DeleteDC(dc);
        return bitmap;
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    HBRUSH frame = CreateSolidBrush(RGB(128, 128, 128));
    HBRUSH fill = CreateSolidBrush(colour);
    RECT r{0, 0, size, size};
    FillRect(dc, &r, frame);
    InflateRect(&r, -1, -1);
    FillRect(dc, &r, fill);
    DeleteObject(fill);
    DeleteObject(frame);
    SelectObject(dc, old);
    DeleteDC(dc);
    return bitmap;
}

// Any colour, through the platform's colour dialog; the custom colours stay for the
// dialog's next use in this process.
bool ChooseAnyColour(HWND dialog, FolderColour* chosen)
{
    static COLORREF custom[16] = {};
    static COLORREF last = RGB(30, 136, 229);
    CHOOSECOLORW choice{};
    choice.lStructSize = sizeof choice;
    choice.hwndOwner = dialog;
    choice.rgbResult = last;
    choice.lpCustColors = custom;
    choice.Flags = CC_RGBINIT | CC_FULLOPEN;
    if (!ChooseColorW(&choice))
        return false;
    last = choice.rgbResult;
    *chosen = {GetRValue(last), GetGValue(last), GetBValue(last)};
    return true;
}

} // namespace

void OfferFolderColours(HWND dialog)
{
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr)
        return;
    const std::vector<NamedColour>& palette = FolderPalette();
    std::vector<HBITMAP> swatches;
    HDC screen = GetDC(nullptr);
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const UINT id = IDM_COLOUR_FIRST + static_cast<UINT>(i);
        AppendMenuW(menu, MF_STRING, id, MenuText(palette[i].Name).c_str());
        HBITMAP swatch = Swatch(screen, ColourRef(palette[i].Colour));
        if (swatch != nullptr) {
            swatches.push_back(swatch);
            MENUITEMINFOW item{};
            item.cbSize = sizeof item;
            item.fMask = MIIM_BITMAP;
            item.hbmpItem = swatch;
            SetMenuItemInfoW(menu, id, FALSE, &item);
        }
    }
    ReleaseDC(nullptr, screen);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_COLOUR_OTHER, L"&Other colour...");
    RECT button{};
    GetWindowRect(GetDlgItem(dialog, IDC_COLOUR), &button);
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, button.left, button.bottom, 0, dialog, nullptr);
    DestroyMenu(menu);
    for (HBITMAP swatch : swatches)
        DeleteObject(swatch);
}

bool OnColourCommand(HWND dialog, ChangeIconDialog& record, WORD id)
{
    const std::vector<NamedColour>& palette = FolderPalette();
    if (id >= IDM_COLOUR_FIRST && id < IDM_COLOUR_FIRST + palette.size()) {
        ShowColour(dialog, record, palette[id - IDM_COLOUR_FIRST].Colour);
        return true;
    }
    if (id != IDM_COLOUR_OTHER)
        return false;
    FolderColour colour;
    if (ChooseAnyColour(dialog, &colour))
        ShowColour(dialog, record, colour);
    return true;
}

} // namespace orvane
