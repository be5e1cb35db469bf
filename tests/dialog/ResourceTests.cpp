// The module's resources as the dialog manager reads them: the extended dialog template
// 101 parsed from the program's own resources and its controls as they come on screen,
// the menu 103 and the icon group 104.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "DialogFixture.h"
#include "DrivenDialog.h"
#include "resource.h"

namespace {

struct TemplateItem {
    DWORD ExStyle;
    DWORD Style;
    short X, Y, Cx, Cy;
    DWORD Id;
    std::wstring Class;
    std::wstring Text;
};

struct Template {
    DWORD ExStyle = 0;
    DWORD Style = 0;
    short X = 0, Y = 0, Cx = 0, Cy = 0;
    int Menu = 0;
    std::wstring Caption;
    WORD PointSize = 0;
    WORD Weight = 0;
    BYTE Italic = 0;
    BYTE CharSet = 0;
    std::wstring Face;
    std::vector<TemplateItem> Items;
};

class Reader {
public:
    Reader(const BYTE* data, DWORD size) : data_(data), size_(size) {}
    template <typename T> T Get()
    {
        T value{};
        if (pos_ + sizeof(T) <= size_)
            std::memcpy(&value, data_ + pos_, sizeof(T));
        pos_ += sizeof(T);
        return value;
    }
    // A string or an ordinal: ordinals of the predefined classes come back by name.
    std::wstring NameOrOrdinal(int* ordinal = nullptr)
    {
        WORD first = Get<WORD>();
        if (first == 0xFFFF) {
            const WORD value = Get<WORD>();
            if (ordinal)
                *ordinal = value;
            static const wchar_t* const classes[] = {L"BUTTON",  L"EDIT",      L"STATIC",
                                                     L"LISTBOX", L"SCROLLBAR", L"COMBOBOX"};
            return value >= 0x80 && value <= 0x85 ? classes[value - 0x80] : L"#" + std::to_wstring(value);
        }
        std::wstring text;
        while (first != 0 && pos_ <= size_) {
            text += static_cast<wchar_t>(first);
            first = Get<WORD>();
        }
        return text;
    }
    void AlignDword() { pos_ = (pos_ + 3) & ~static_cast<DWORD>(3); }
    bool Ok() const { return pos_ <= size_; }

private:
    const BYTE* data_;
    DWORD size_;
    DWORD pos_ = 0;
};

Template LoadTemplate()
{
    Template t;
    HRSRC found = FindResourceW(orvane::test::OwnResources(), MAKEINTRESOURCEW(IDD_CHANGEICON), MAKEINTRESOURCEW(5));
    if (found == nullptr)
        return t;
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(orvane::test::OwnResources(), found)));
    Reader r(data, SizeofResource(orvane::test::OwnResources(), found));
    EXPECT_EQ(r.Get<WORD>(), 1);      // dlgVer
    EXPECT_EQ(r.Get<WORD>(), 0xFFFF); // signature of the extended form
    r.Get<DWORD>();                   // helpID
    t.ExStyle = r.Get<DWORD>();
    t.Style = r.Get<DWORD>();
    const WORD count = r.Get<WORD>();
    t.X = r.Get<short>();
    t.Y = r.Get<short>();
    t.Cx = r.Get<short>();
    t.Cy = r.Get<short>();
    r.NameOrOrdinal(&t.Menu);
    EXPECT_EQ(r.NameOrOrdinal(), L""); // the standard dialog class
    t.Caption = r.NameOrOrdinal();
    if (t.Style & DS_SETFONT) {
        t.PointSize = r.Get<WORD>();
        t.Weight = r.Get<WORD>();
        t.Italic = r.Get<BYTE>();
        t.CharSet = r.Get<BYTE>();
        t.Face = r.NameOrOrdinal();
    }
    for (WORD i = 0; i < count && r.Ok(); ++i) {
        r.AlignDword();
        TemplateItem item;
        r.Get<DWORD>(); // helpID
        item.ExStyle = r.Get<DWORD>();
        item.Style = r.Get<DWORD>();
        item.X = r.Get<short>();
        item.Y = r.Get<short>();
        item.Cx = r.Get<short>();
        item.Cy = r.Get<short>();
        item.Id = r.Get<DWORD>();
        item.Class = r.NameOrOrdinal();
        item.Text = r.NameOrOrdinal();
        const WORD extra = r.Get<WORD>();
        for (WORD b = 0; b < extra; ++b)
            r.Get<BYTE>();
        t.Items.push_back(item);
    }
    EXPECT_TRUE(r.Ok());
    return t;
}

TEST(DialogTemplate, HeaderIsTheExtendedTemplateOfTheDesign)
{
    const Template t = LoadTemplate();
    EXPECT_EQ(t.Style, 0x86CC0044u);
    EXPECT_EQ(t.Style & WS_VISIBLE, 0u);
    EXPECT_EQ(t.Style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
    EXPECT_EQ(t.ExStyle, 0u);
    EXPECT_EQ(t.X, 0);
    EXPECT_EQ(t.Y, 0);
    EXPECT_EQ(t.Cx, 192);
    EXPECT_EQ(t.Cy, 198);
    EXPECT_EQ(t.Menu, IDR_CHANGEICON_MENU);
    EXPECT_EQ(t.Caption, L"Orvane");
    EXPECT_EQ(t.PointSize, 8);
    EXPECT_EQ(t.Weight, 0);
    EXPECT_EQ(t.Italic, 0);
    EXPECT_EQ(t.CharSet, 1);
    EXPECT_EQ(t.Face, L"MS Sans Serif");
}

// The controls as the design states them, in the order the template lists them (which
// is the order of the dialog's windows and of its tab stops): id, window class, text,
// styles and rectangle in dialog units.
struct DesignControl {
    int Id;
    const wchar_t* Class;
    const wchar_t* Text;
    DWORD Style;
    DWORD ExStyle;
    RECT Units; // left, top, width, height
};

constexpr DWORD Child = WS_CHILD | WS_VISIBLE;
const DesignControl Design[] = {
    {IDC_ICONLIST, L"SysListView32", L"List1",
     Child | WS_BORDER | WS_TABSTOP | LVS_ICON | LVS_AUTOARRANGE | LVS_SHOWSELALWAYS | LVS_OWNERDATA, WS_EX_CLIENTEDGE,
     {7, 69, 178, 77}},
    {IDC_SOURCES, L"ComboBox", L"", Child | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0, {7, 44, 163, 62}},
    {IDC_BROWSE, L"Button", L"...", Child | BS_PUSHBUTTON | WS_TABSTOP, 0, {173, 44, 12, 12}},
    {IDC_ALLOFTYPE, L"Button", L"&Use icon for all files of that type", Child | BS_AUTOCHECKBOX | WS_TABSTOP, 0,
     {7, 162, 115, 10}},
    {IDOK, L"Button", L"OK", Child | BS_DEFPUSHBUTTON | WS_TABSTOP, 0, {133, 177, 52, 14}},
    {IDCANCEL, L"Button", L"Cancel", Child | BS_PUSHBUTTON | WS_TABSTOP, 0, {74, 177, 52, 14}},
    {IDC_RESTORE, L"Button", L"&Restore", Child | BS_PUSHBUTTON | WS_TABSTOP, 0, {7, 177, 52, 14}},
    {IDC_HEADLINE, L"Static", L"Static", Child | SS_LEFT | WS_GROUP, 0, {7, 7, 178, 22}},
    {IDC_LISTLABEL, L"Static", L"&Choose Icon from list below", Child | SS_LEFT | WS_GROUP, 0, {7, 60, 82, 8}},
    {IDC_SOURCELABEL, L"Static", L"Ch&oose Iconlibrary", Child | SS_LEFT | WS_GROUP, 0, {7, 33, 57, 8}},
    {IDC_SHELLVERSION, L"Static", L"", Child | SS_LEFT | WS_GROUP, 0, {107, 151, 78, 8}},
};

// What the platform makes of a control's template styles. A list view given a client
// edge draws that edge and drops WS_BORDER; a combo box hands WS_VSCROLL to its drop-down
// list (checked there); the dialog manager adds WS_EX_NOPARENTNOTIFY to every control.
DWORD StyleOnScreen(const DesignControl& c)
{
    DWORD style = c.Style;
    if (c.ExStyle & WS_EX_CLIENTEDGE)
        style &= ~static_cast<DWORD>(WS_BORDER);
    if (std::wcscmp(c.Class, L"ComboBox") == 0)
        style &= ~static_cast<DWORD>(WS_VSCROLL);
    return style;
}

// The rectangle the dialog manager gives the control: left, top, width and height each
// converted from dialog units on their own, so the right edge is not MapDialogRect of
// the design's right edge (the two roundings can differ by a pixel).
RECT Mapped(HWND dialog, RECT units)
{
    MapDialogRect(dialog, &units);
    return {units.left, units.top, units.left + units.right, units.top + units.bottom};
}

RECT RectInClient(HWND dialog, HWND control)
{
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[256] = {};
    GetWindowTextW(window, text, static_cast<int>(std::size(text)));
    return text;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

std::string Show(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// The height the platform gives a closed drop-down list in the dialog's font, whatever
// height it is asked for: a second one made beside the dialog's, given the font the way
// the dialog manager gives it.
int ClosedComboHeight(HWND dialog)
{
    HWND probe = CreateWindowExW(0, L"ComboBox", L"", WS_CHILD | CBS_DROPDOWNLIST | WS_VSCROLL, 0, 0, 100, 300,
                                 dialog, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (probe == nullptr)
        return -1;
    SendMessageW(probe, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
    RECT r{};
    GetWindowRect(probe, &r);
    DestroyWindow(probe);
    return r.bottom - r.top;
}

// The template made into windows by the dialog manager and shown, before the dialog's own
// procedure fills in the headline and the version and hides what a target cannot use:
// the only moment the template's own texts are on screen. The product's procedure moves
// no control at open (DialogOnScreen below compares the two).
TEST(DialogTemplate, ControlsOnScreenAsDesignedInTabOrder)
{
    orvane::test::BareDialog bare;
    HWND dialog = bare.Window();
    ASSERT_NE(dialog, nullptr);
    ShowWindow(dialog, SW_SHOWNA);
    RECT client{};
    GetClientRect(dialog, &client);

    // The dialog's windows are the design's controls, in its order, and nothing else.
    std::vector<int> ids;
    for (HWND w = GetWindow(dialog, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT))
        ids.push_back(GetDlgCtrlID(w));
    std::vector<int> designIds;
    for (const DesignControl& c : Design)
        designIds.push_back(c.Id);
    EXPECT_EQ(ids, designIds);

    const int closedCombo = ClosedComboHeight(dialog);
    for (const DesignControl& c : Design) {
        SCOPED_TRACE("control " + std::to_string(c.Id));
        HWND control = GetDlgItem(dialog, c.Id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(GetParent(control), dialog);
        // Class names are case-insensitive; the template may store them in capitals.
        EXPECT_EQ(lstrcmpiW(ClassOf(control).c_str(), c.Class), 0) << orvane::test::Utf8(ClassOf(control));
        EXPECT_EQ(WindowText(control), c.Text);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE)), StyleOnScreen(c))
            << std::hex << GetWindowLongW(control, GWL_STYLE);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(control, GWL_EXSTYLE)), c.ExStyle | WS_EX_NOPARENTNOTIFY)
            << std::hex << GetWindowLongW(control, GWL_EXSTYLE);
        EXPECT_TRUE(IsWindowVisible(control));
        EXPECT_TRUE(IsWindowEnabled(control));

        const RECT want = Mapped(dialog, c.Units);
        const RECT got = RectInClient(dialog, control);
        EXPECT_EQ(got.left, want.left) << Show(got);
        EXPECT_EQ(got.top, want.top) << Show(got);
        EXPECT_EQ(got.right, want.right) << Show(got);
        if (c.Id == IDC_SOURCES) {
            // Closed, the box is as high as its selection field: the design's height is
            // the room its list may take when dropped.
            EXPECT_EQ(got.bottom - got.top, closedCombo);
            EXPECT_LT(got.bottom, want.bottom);
        } else {
            EXPECT_EQ(got.bottom, want.bottom) << Show(got);
        }
        EXPECT_GE(got.left, 0);
        EXPECT_GE(got.top, 0);
        EXPECT_LE(got.right, client.right);
        EXPECT_LE(got.bottom, client.bottom);
    }

    // No two controls cover each other; the labels sit above what they name, touching at
    // most (the design has no label over another control).
    for (size_t i = 0; i < std::size(Design); ++i)
        for (size_t j = i + 1; j < std::size(Design); ++j) {
            const RECT a = RectInClient(dialog, GetDlgItem(dialog, Design[i].Id));
            const RECT b = RectInClient(dialog, GetDlgItem(dialog, Design[j].Id));
            RECT both{};
            EXPECT_FALSE(IntersectRect(&both, &a, &b))
                << Design[i].Id << " " << Show(a) << " and " << Design[j].Id << " " << Show(b);
        }

    // The list view's client edge: its client area lies inside the frame on every side.
    RECT listClient{};
    HWND list = GetDlgItem(dialog, IDC_ICONLIST);
    GetClientRect(list, &listClient);
    const RECT listWindow = RectInClient(dialog, list);
    const int edge = GetSystemMetrics(SM_CXEDGE);
    EXPECT_EQ(listClient.right, listWindow.right - listWindow.left - 2 * edge);
    EXPECT_EQ(listClient.bottom, listWindow.bottom - listWindow.top - 2 * edge);

    // Tab walks the design's tab stops from the first and comes round again; Shift+Tab
    // from the first goes to the last.
    std::vector<int> stops;
    for (const DesignControl& c : Design)
        if (c.Style & WS_TABSTOP)
            stops.push_back(c.Id);
    HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
    std::vector<int> walked;
    HWND at = first;
    for (size_t i = 0; i <= stops.size() && at != nullptr; ++i) {
        walked.push_back(GetDlgCtrlID(at));
        at = GetNextDlgTabItem(dialog, at, FALSE);
    }
    std::vector<int> round = stops;
    round.push_back(stops.front());
    EXPECT_EQ(walked, round);
    EXPECT_EQ(GetDlgCtrlID(GetNextDlgTabItem(dialog, first, TRUE)), stops.back());
    // The dialog opens with the focus on the first tab stop.
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), stops.front());

    // Enter presses OK; the check box changes its own state when clicked.
    EXPECT_EQ(SendMessageW(dialog, DM_GETDEFID, 0, 0), MAKELRESULT(IDOK, DC_HASDEFID));
    EXPECT_TRUE(SendDlgItemMessageW(dialog, IDOK, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON);
    SendDlgItemMessageW(dialog, IDC_ALLOFTYPE, BM_CLICK, 0, 0);
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_ALLOFTYPE, BM_GETCHECK, 0, 0), BST_CHECKED);
    SendDlgItemMessageW(dialog, IDC_ALLOFTYPE, BM_CLICK, 0, 0);
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_ALLOFTYPE, BM_GETCHECK, 0, 0), BST_UNCHECKED);

    // Dropped with more entries than fit, the source list opens under the closed box, as
    // wide as it, within the design's rectangle, and scrolls.
    HWND combo = GetDlgItem(dialog, IDC_SOURCES);
    for (int i = 0; i < 20; ++i)
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"entry"));
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetComboBoxInfo(combo, &info));
    SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
    const RECT box = RectInClient(dialog, combo);
    const RECT dropped = RectInClient(dialog, info.hwndList);
    const RECT room = Mapped(dialog, Design[1].Units);
    EXPECT_TRUE(IsWindowVisible(info.hwndList));
    EXPECT_EQ(dropped.top, box.bottom) << Show(dropped);
    EXPECT_EQ(dropped.left, box.left) << Show(dropped);
    EXPECT_EQ(dropped.right, box.right) << Show(dropped);
    EXPECT_LE(dropped.bottom, room.bottom) << Show(dropped);
    EXPECT_GT(dropped.bottom - dropped.top, 2 * static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0)));
    EXPECT_TRUE(GetWindowLongW(info.hwndList, GWL_STYLE) & WS_VSCROLL);
    SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
}

class DialogOnScreen : public orvane::test::DialogTest {};

// What the user gets at open: the dialog's procedure fills in texts and centres the
// window, and leaves every control where the template put it.
TEST_F(DialogOnScreen, OpensWithEveryControlWhereTheTemplatePutsIt)
{
    orvane::test::BareDialog bare;
    ASSERT_NE(bare.Window(), nullptr);
    const std::wstring folder = dir_.MakeFolder(L"Opened");
    orvane::ChangeIconDialog record;
    SetTarget(record, folder);
    orvane::test::RunDriven(record, [&](orvane::test::DialogDriver& d) {
        RECT opened{}, made{};
        GetClientRect(d.Dialog(), &opened);
        GetClientRect(bare.Window(), &made);
        EXPECT_TRUE(EqualRect(&opened, &made)) << Show(opened);
        for (const DesignControl& c : Design) {
            SCOPED_TRACE("control " + std::to_string(c.Id));
            const RECT got = d.ControlRect(c.Id);
            const RECT want = RectInClient(bare.Window(), bare.Item(c.Id));
            EXPECT_TRUE(EqualRect(&got, &want)) << Show(got) << " instead of " << Show(want);
        }
        d.Command(IDCANCEL);
    });
}

TEST(DialogMenu, OnePopupWithItsItems)
{
    HMENU menu = LoadMenuW(orvane::test::OwnResources(), MAKEINTRESOURCEW(IDR_CHANGEICON_MENU));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 1);
    wchar_t text[128] = {};
    GetMenuStringW(menu, 0, text, static_cast<int>(std::size(text)), MF_BYPOSITION);
    EXPECT_STREQ(text, L"&Orvane");
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);

    struct Item {
        UINT Id;
        const wchar_t* Text; // null: a separator
    };
    const Item expected[] = {
        {IDM_SENDFEEDBACK, L"&Send Feedback"},
        {IDM_VISITWEBPAGE, L"&Visit Tollmark Webpage"},
        {0, nullptr},
        {IDM_TIDY, L"&Tidy File Icons"},
        {IDM_EXPORT, L"&Export settings..."},
        {IDM_IMPORT, L"&Import settings..."},
        {IDM_REMOVEALL, L"&Remove Orvane from Registry "},
    };
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(std::size(expected)));
    for (int i = 0; i < GetMenuItemCount(popup); ++i) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        wchar_t itemText[128] = {};
        info.dwTypeData = itemText;
        info.cch = static_cast<UINT>(std::size(itemText));
        ASSERT_TRUE(GetMenuItemInfoW(popup, i, TRUE, &info));
        if (expected[i].Text == nullptr) {
            EXPECT_TRUE(info.fType & MFT_SEPARATOR) << "item " << i;
        } else {
            EXPECT_EQ(info.wID, expected[i].Id);
            EXPECT_STREQ(itemText, expected[i].Text);
        }
    }
    DestroyMenu(menu);
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE Width;
    BYTE Height;
    BYTE Colors;
    BYTE Reserved;
    WORD Planes;
    WORD BitCount;
    DWORD Bytes;
    WORD Id;
};
#pragma pack(pop)

TEST(ProgramIcon, GroupHoldsSixteenToTwoHundredFiftySixPixels)
{
    HRSRC found = FindResourceW(orvane::test::OwnResources(), MAKEINTRESOURCEW(IDI_ORVANE), MAKEINTRESOURCEW(14));
    ASSERT_NE(found, nullptr);
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(orvane::test::OwnResources(), found)));
    WORD count;
    std::memcpy(&count, data + 4, sizeof count);
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        GroupIconEntry entry;
        std::memcpy(&entry, data + 6 + i * sizeof entry, sizeof entry);
        sizes.push_back(entry.Width == 0 ? 256 : entry.Width);
        EXPECT_EQ(entry.Width, entry.Height);
        EXPECT_EQ(entry.BitCount, 32);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 256}));

    // Each size loads as an icon of exactly that size, with colour and mask.
    for (int size : {16, 32, 48, 256}) {
        HICON icon = static_cast<HICON>(
            LoadImageW(orvane::test::OwnResources(), MAKEINTRESOURCEW(IDI_ORVANE), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap{};
        ASSERT_NE(info.hbmColor, nullptr);
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        EXPECT_EQ(bitmap.bmHeight, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

} // namespace
