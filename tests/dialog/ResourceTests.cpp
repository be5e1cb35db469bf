// The module's resources as the dialog manager reads them: the extended dialog template
// 101 parsed from the program's own resources, the menu 103 and the icon group 104.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DrivenDialog.h"
#include "resource.h"

namespace {

struct TemplateItem {
    DWORD ExStyle;
    DWORD Style;
    short X, Y, Cx, Cy;
    DWORD Id;
    std::string Class;
    std::string Text;
};

struct Template {
    DWORD ExStyle = 0;
    DWORD Style = 0;
    short X = 0, Y = 0, Cx = 0, Cy = 0;
    int Menu = 0;
    std::string Caption;
    WORD PointSize = 0;
    WORD Weight = 0;
    BYTE Italic = 0;
    BYTE CharSet = 0;
    std::string Face;
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
    std::string NameOrOrdinal(int* ordinal = nullptr)
    {
        WORD first = Get<WORD>();
        if (first == 0xFFFF) {
            const WORD value = Get<WORD>();
            if (ordinal)
                *ordinal = value;
            static const char* const classes[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};
            return value >= 0x80 && value <= 0x85 ? classes[value - 0x80] : "#" + std::to_string(value);
        }
        std::string text;
        while (first != 0 && pos_ <= size_) {
            text += static_cast<char>(first);
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

std::string Upper(std::string text)
{
    CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

Template LoadTemplate()
{
    Template t;
    HRSRC found = FindResourceA(orvane::test::OwnResources(), MAKEINTRESOURCEA(IDD_CHANGEICON), MAKEINTRESOURCEA(5));
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
    EXPECT_EQ(r.NameOrOrdinal(), ""); // the standard dialog class
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
    EXPECT_EQ(t.Caption, "Orvane");
    EXPECT_EQ(t.PointSize, 8);
    EXPECT_EQ(t.Weight, 0);
    EXPECT_EQ(t.Italic, 0);
    EXPECT_EQ(t.CharSet, 1);
    EXPECT_EQ(t.Face, "MS Sans Serif");
}

TEST(DialogTemplate, ControlsInTabOrderWithTheirStylesAndRectangles)
{
    const DWORD child = WS_CHILD | WS_VISIBLE;
    const TemplateItem expected[] = {
        {WS_EX_CLIENTEDGE, child | WS_BORDER | WS_TABSTOP | LVS_ICON | LVS_AUTOARRANGE | LVS_SHOWSELALWAYS, 7, 69,
         178, 77, IDC_ICONLIST, "SysListView32", "List1"},
        {0, child | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 7, 44, 163, 62, IDC_SOURCES, "COMBOBOX", ""},
        {0, child | BS_PUSHBUTTON | WS_TABSTOP, 173, 44, 12, 12, IDC_BROWSE, "BUTTON", "..."},
        {0, child | BS_AUTOCHECKBOX | WS_TABSTOP, 7, 162, 115, 10, IDC_ALLOFTYPE, "BUTTON",
         "&Use icon for all files of that type"},
        {0, child | BS_DEFPUSHBUTTON | WS_TABSTOP, 133, 177, 52, 14, IDOK, "BUTTON", "OK"},
        {0, child | BS_PUSHBUTTON | WS_TABSTOP, 74, 177, 52, 14, IDCANCEL, "BUTTON", "Cancel"},
        {0, child | BS_PUSHBUTTON | WS_TABSTOP, 7, 177, 52, 14, IDC_RESTORE, "BUTTON", "&Restore"},
        {0, child | SS_LEFT | WS_GROUP, 7, 7, 178, 22, IDC_HEADLINE, "STATIC", "Static"},
        {0, child | SS_LEFT | WS_GROUP, 7, 60, 82, 8, IDC_LISTLABEL, "STATIC", "&Choose Icon from list below"},
        {0, child | SS_LEFT | WS_GROUP, 7, 33, 57, 8, IDC_SOURCELABEL, "STATIC", "Ch&oose Iconlibrary"},
        {0, child | SS_LEFT | WS_GROUP, 107, 151, 78, 8, IDC_SHELLVERSION, "STATIC", ""},
    };
    const Template t = LoadTemplate();
    ASSERT_EQ(t.Items.size(), std::size(expected));
    for (size_t i = 0; i < t.Items.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(expected[i].Id));
        const TemplateItem& got = t.Items[i];
        EXPECT_EQ(got.Id, expected[i].Id);
        // Window class names are case-insensitive; windres stores them in capitals.
        EXPECT_EQ(Upper(got.Class), Upper(expected[i].Class));
        EXPECT_EQ(got.Text, expected[i].Text);
        EXPECT_EQ(got.Style, expected[i].Style) << std::hex << got.Style;
        EXPECT_EQ(got.ExStyle, expected[i].ExStyle);
        EXPECT_EQ(got.X, expected[i].X);
        EXPECT_EQ(got.Y, expected[i].Y);
        EXPECT_EQ(got.Cx, expected[i].Cx);
        EXPECT_EQ(got.Cy, expected[i].Cy);
    }
}

TEST(DialogMenu, OnePopupWithItsFourItems)
{
    HMENU menu = LoadMenuA(orvane::test::OwnResources(), MAKEINTRESOURCEA(IDR_CHANGEICON_MENU));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 1);
    char text[128] = {};
    GetMenuStringA(menu, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&Orvane");
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);

    struct Item {
        UINT Id;
        const char* Text; // null: a separator
    };
    const Item expected[] = {
        {IDM_SENDFEEDBACK, "&Send Feedback"},
        {IDM_VISITWEBPAGE, "&Visit Tollmark Webpage"},
        {0, nullptr},
        {IDM_REMOVEALL, "&Remove Orvane from Registry "},
    };
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(std::size(expected)));
    for (int i = 0; i < GetMenuItemCount(popup); ++i) {
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        char itemText[128] = {};
        info.dwTypeData = itemText;
        info.cch = sizeof itemText;
        ASSERT_TRUE(GetMenuItemInfoA(popup, i, TRUE, &info));
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
    HRSRC found = FindResourceA(orvane::test::OwnResources(), MAKEINTRESOURCEA(IDI_ORVANE), MAKEINTRESOURCEA(14));
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
            LoadImageA(orvane::test::OwnResources(), MAKEINTRESOURCEA(IDI_ORVANE), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap{};
        ASSERT_NE(info.hbmColor, nullptr);
        GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        EXPECT_EQ(bitmap.bmHeight, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

} // namespace
