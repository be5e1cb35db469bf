// The dialog's sizing frame: where it opens, how its controls follow a resize, how small
// it may get, and the window rectangle it records.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <string>

#include "DrivenDialog.h"
#include "DialogFixture.h"
#include "Layout.h"
#include "resource.h"

namespace orvane {
namespace {

using test::DialogDriver;

// Where a control sits in the dialog, and so which of its sides follow the frame: the
// top band (headline, source box and its labels) keeps its height, the icon list takes
// whatever room the frame gives, and the bottom band (check box, Restore, the version,
// the two buttons) moves with the bottom edge; what sits at the right moves with it.
enum class Place { TopLeft, AcrossTheTop, TopRight, Middle, BottomLeft, BottomRight };

struct Follow {
    int Id;
    Place Where;
};

const Follow Table[] = {
    {IDC_HEADLINE, Place::AcrossTheTop}, {IDC_SOURCELABEL, Place::TopLeft},  {IDC_SOURCES, Place::AcrossTheTop},
    {IDC_BROWSE, Place::TopRight},       {IDC_LISTLABEL, Place::TopLeft},    {IDC_ICONLIST, Place::Middle},
    {IDC_ALLOFTYPE, Place::BottomLeft},  {IDC_SHELLVERSION, Place::BottomLeft}, {IDC_RESTORE, Place::BottomLeft},
    {IDCANCEL, Place::BottomRight},      {IDOK, Place::BottomRight},       {IDC_COLOUR, Place::BottomRight},
    {IDC_KEEPCOPY, Place::BottomLeft},   {IDC_SUBFOLDERS, Place::BottomLeft},
};

// How far each side of a control in that place moves when the client grows by dx, dy.
RECT Moves(Place where, int dx, int dy)
{
    const bool top = where == Place::TopLeft || where == Place::AcrossTheTop || where == Place::TopRight;
    const bool right = where == Place::TopRight || where == Place::BottomRight;
    const bool wide = where == Place::AcrossTheTop || where == Place::Middle;
    return {right ? dx : 0, top || where == Place::Middle ? 0 : dy, right || wide ? dx : 0, top ? 0 : dy};
}

std::map<int, RECT> Rects(const DialogDriver& d)
{
    std::map<int, RECT> rects;
    for (const Follow& f : Table)
        rects[f.Id] = d.ControlRect(f.Id);
    return rects;
}

// Sizes the window as a drag of its frame does (the minimum tracking size applies).
void Resize(const DialogDriver& d, int dx, int dy)
{
    RECT r{};
    GetWindowRect(d.Dialog(), &r);
    SetWindowPos(d.Dialog(), nullptr, 0, 0, r.right - r.left + dx, r.bottom - r.top + dy,
                 SWP_NOMOVE | SWP_NOZORDER);
    SendMessageW(d.Dialog(), WM_NULL, 0, 0);
}

void ExpectMoved(const std::map<int, RECT>& before, const std::map<int, RECT>& after, int dx, int dy)
{
    for (const Follow& f : Table) {
        SCOPED_TRACE("control " + std::to_string(f.Id));
        const RECT& b = before.at(f.Id);
        const RECT& a = after.at(f.Id);
        const RECT m = Moves(f.Where, dx, dy);
        EXPECT_EQ(a.left, b.left + m.left);
        EXPECT_EQ(a.top, b.top + m.top);
        EXPECT_EQ(a.right, b.right + m.right);
        EXPECT_EQ(a.bottom, b.bottom + m.bottom);
    }
}

class LayoutTest : public test::DialogTest {
protected:
    // The window size the template gives, for the dialog's style, menu and font.
    static SIZE TemplateSize(HWND dialog)
    {
        RECT r{0, 0, 192, 198};
        MapDialogRect(dialog, &r);
        AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)), TRUE,
                           static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)));
        return {r.right - r.left, r.bottom - r.top};
    }
    static void ExpectCentredAtTemplateSize(HWND dialog)
    {
        RECT r{};
        GetWindowRect(dialog, &r);
        const SIZE size = TemplateSize(dialog);
        EXPECT_EQ(r.right - r.left, size.cx);
        EXPECT_EQ(r.bottom - r.top, size.cy);
        // On the work area of the monitor under the pointer (Xvfb gives one).
        RECT work{};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        EXPECT_EQ(r.left, work.left + (work.right - work.left - size.cx) / 2);
        EXPECT_EQ(r.top, work.top + (work.bottom - work.top - size.cy) / 2);
    }
};

SIZE ClientSize(const DialogDriver& d)
{
    RECT client{};
    GetClientRect(d.Dialog(), &client);
    return {client.right, client.bottom};
}

TEST_F(LayoutTest, ControlsFollowAResizeAsTheirAnchorsSayAndComeBack)
{
    const std::wstring folder = dir_.MakeFolder(L"Layout");
    ChangeIconDialog record;
    SetTarget(record, folder);
    test::RunDriven(record, [&](DialogDriver& d) {
        std::map<int, RECT> start = Rects(d);
        SIZE startClient = ClientSize(d);
        // A notification at the size the dialog already has moves nothing.
        SendMessageW(d.Dialog(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(startClient.cx, startClient.cy));
        ExpectMoved(start, Rects(d), 0, 0);

        // The template's size in MS Sans Serif 8 can be narrower (296 pixels) than the
        // minimum tracking width: the frame then snaps to 300 at the first resize, and the
        // controls follow the client size it really got.
        Resize(d, 0, 0);
        const SIZE snapped = ClientSize(d);
        ExpectMoved(start, Rects(d), snapped.cx - startClient.cx, snapped.cy - startClient.cy);
        start = Rects(d);
        startClient = snapped;

        Resize(d, 40, 30);
        const SIZE grown = ClientSize(d);
        EXPECT_EQ(grown.cx - startClient.cx, 40);
        EXPECT_EQ(grown.cy - startClient.cy, 30);
        ExpectMoved(start, Rects(d), 40, 30);
        Resize(d, -40, -30);
        ExpectMoved(start, Rects(d), 0, 0);

        // Successive drags add up.
        Resize(d, 25, 5);
        Resize(d, 15, 25);
        ExpectMoved(start, Rects(d), 40, 30);
        Resize(d, -40, -30);
        ExpectMoved(start, Rects(d), 0, 0);
        d.Command(IDCANCEL);
    });
}

BOOL CALLBACK CollectChild(HWND window, LPARAM param)
{
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

// Every control the dialog has is one the layout moves, and each lies in the band its
// place names: the top band above the icon list, the bottom band below it. So a control
// added to the template, or moved to another band, without its anchor fails here.
TEST_F(LayoutTest, EveryControlOfTheDialogFollowsTheFrameFromItsBand)
{
    const std::wstring folder = dir_.MakeFolder(L"Bands");
    ChangeIconDialog record;
    SetTarget(record, folder);
    test::RunDriven(record, [&](DialogDriver& d) {
        std::vector<HWND> children;
        EnumChildWindows(d.Dialog(), CollectChild, reinterpret_cast<LPARAM>(&children));
        // Without the windows the controls make of their own (the combo box's list).
        std::vector<HWND> direct;
        for (HWND child : children)
            if (GetParent(child) == d.Dialog())
                direct.push_back(child);
        std::vector<HWND> moved(std::begin(record.Controls), std::end(record.Controls));
        std::sort(direct.begin(), direct.end());
        std::sort(moved.begin(), moved.end());
        EXPECT_EQ(direct, moved) << "the controls the layout moves are the dialog's controls";
        EXPECT_EQ(direct.size(), std::size(Table));

        const RECT list = d.ControlRect(IDC_ICONLIST);
        for (const Follow& f : Table) {
            SCOPED_TRACE("control " + std::to_string(f.Id));
            ASSERT_NE(d.Item(f.Id), nullptr);
            const RECT r = d.ControlRect(f.Id);
            if (f.Where == Place::Middle)
                continue;
            if (Moves(f.Where, 0, 1).top == 0)
                EXPECT_LE(r.bottom, list.top);
            else
                EXPECT_GE(r.top, list.bottom);
        }

        // Grown and shrunk back, every control is where it was, to the pixel.
        Resize(d, 0, 0);
        const std::map<int, RECT> start = Rects(d);
        Resize(d, 60, 45);
        EXPECT_NE(Rects(d).at(IDC_ICONLIST).right, start.at(IDC_ICONLIST).right);
        Resize(d, -60, -45);
        for (const Follow& f : Table) {
            SCOPED_TRACE("control " + std::to_string(f.Id));
            EXPECT_TRUE(EqualRect(&Rects(d).at(f.Id), &start.at(f.Id)));
        }
        d.Command(IDCANCEL);
    });
}

// The frame stops at 300 by 360 pixels, and what the user sees there is still the whole
// dialog: every control inside the client area, none shrunk away or over another.
TEST_F(LayoutTest, MinimumTrackingSizeIs300By360)
{
    const std::wstring folder = dir_.MakeFolder(L"Small");
    ChangeIconDialog record;
    SetTarget(record, folder);
    test::RunDriven(record, [&](DialogDriver& d) {
        MINMAXINFO info{};
        info.ptMaxSize = {1111, 2222};
        info.ptMaxPosition = {3, 4};
        info.ptMinTrackSize = {10, 10};
        info.ptMaxTrackSize = {5555, 6666};
        SendMessageW(d.Dialog(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
        EXPECT_EQ(info.ptMinTrackSize.x, 300);
        EXPECT_EQ(info.ptMinTrackSize.y, 360);
        EXPECT_EQ(info.ptMaxSize.x, 1111);
        EXPECT_EQ(info.ptMaxSize.y, 2222);
        EXPECT_EQ(info.ptMaxPosition.x, 3);
        EXPECT_EQ(info.ptMaxTrackSize.y, 6666);

        SetWindowPos(d.Dialog(), nullptr, 0, 0, info.ptMinTrackSize.x, info.ptMinTrackSize.y,
                     SWP_NOMOVE | SWP_NOZORDER);
        SendMessageW(d.Dialog(), WM_NULL, 0, 0);
        RECT client{};
        GetClientRect(d.Dialog(), &client);
        const std::map<int, RECT> rects = Rects(d);
        for (const Follow& f : Table) {
            SCOPED_TRACE("control " + std::to_string(f.Id));
            const RECT& r = rects.at(f.Id);
            EXPECT_LT(r.left, r.right);
            EXPECT_LT(r.top, r.bottom);
            EXPECT_GE(r.left, 0);
            EXPECT_GE(r.top, 0);
            EXPECT_LE(r.right, client.right);
            EXPECT_LE(r.bottom, client.bottom);
            for (const Follow& other : Table) {
                RECT both{};
                // The check box for a type's files and the one for a folder's copy share
                // a place: a folder shows only the second.
                if (other.Id != f.Id && IsWindowVisible(d.Item(f.Id)) && IsWindowVisible(d.Item(other.Id))) {
                    EXPECT_FALSE(IntersectRect(&both, &r, &rects.at(other.Id))) << "over control " << other.Id;
                }
            }
        }
        d.Command(IDCANCEL);
    });
}

// Without a record the dialog opens centred at its template size; closed with OK it
// records its rectangle (260 characters), and opens there again at that size when that is
// still wholly on the monitor, else centred at that size. Cancel records nothing.
TEST_F(LayoutTest, OpensWhereAndAtTheSizeItWasLastClosedWithOk)
{
    const std::wstring folder = dir_.MakeFolder(L"Where");
    const std::wstring shell32 = test::Shell32Path();
    StoreSources({shell32}, 0);
    {
        ChangeIconDialog record;
        RunOn(record, folder, [&](DialogDriver& d) {
            ExpectCentredAtTemplateSize(d.Dialog());
            d.Command(IDCANCEL);
        });
    }
    struct Case {
        int Left, Top, Width, Height;
        const wchar_t* Text;
        bool SamePlace;
    } cases[] = {{100, 50, 420, 500, L"100,50,420,500", true}, {-30, 20, 450, 480, L"-30,20,450,480", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(test::Utf8(c.Text));
        ChangeIconDialog record;
        const test::DialogRun run = RunOn(record, folder, [&](DialogDriver& d) {
            SetWindowPos(d.Dialog(), nullptr, c.Left, c.Top, c.Width, c.Height, SWP_NOZORDER);
            d.Command(IDOK);
        });
        EXPECT_EQ(run.Result, IDOK);
        std::vector<BYTE> data;
        DWORD type = 0;
        ASSERT_TRUE(test::ReadRaw(HKEY_CURRENT_USER, test::UserProductKey, L"DlgSize", &data, &type));
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        // 260 characters of UTF-16: the text and zeros after it.
        ASSERT_EQ(data.size(), 520u);
        wchar_t stored[260];
        std::memcpy(stored, data.data(), sizeof stored);
        ASSERT_EQ(stored[259], L'\0');
        EXPECT_STREQ(stored, c.Text);

        // Reopened, resized, cancelled: where it was, at its size; the record stays.
        ChangeIconDialog again;
        RunOn(again, folder, [&](DialogDriver& d) {
            RECT r{};
            GetWindowRect(d.Dialog(), &r);
            EXPECT_EQ(r.right - r.left, c.Width);
            EXPECT_EQ(r.bottom - r.top, c.Height);
            if (c.SamePlace) {
                EXPECT_EQ(r.left, c.Left);
                EXPECT_EQ(r.top, c.Top);
            }
            RECT work{};
            SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
            EXPECT_TRUE(r.left >= work.left && r.top >= work.top && r.right <= work.right && r.bottom <= work.bottom);
            SetWindowPos(d.Dialog(), nullptr, 5, 5, 600, 600, SWP_NOZORDER);
            d.Command(IDCANCEL);
        });
        EXPECT_EQ(test::ValueText(HKEY_CURRENT_USER, test::UserProductKey, L"DlgSize"), c.Text);
    }
}

// A hostile or impossible record is ignored: the dialog opens centred at its template size.
TEST_F(LayoutTest, AHostileRecordIsIgnored)
{
    const std::wstring folder = dir_.MakeFolder(L"Hostile");
    const std::wstring nines(259, L'9');
    const struct {
        const char* Label;
        DWORD Type;
        std::wstring Text;
    } table[] = {
        {"text", REG_SZ, L"somewhere"},
        {"negative size", REG_SZ, L"10,10,-400,-400"},
        {"huge size", REG_SZ, L"0,0,99999999,99999999"},
        {"259 digits", REG_SZ, nines},
        {"not text", REG_BINARY, L"100,50,420,500"},
        {"130 characters of an earlier build, read", REG_SZ, L"100,50,420,500"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Label);
        std::wstring data = row.Text;
        data.resize(std::max<std::size_t>(data.size() + 1, 130), L'\0');
        ASSERT_TRUE(test::WriteValue(HKEY_CURRENT_USER, test::UserProductKey, L"DlgSize", row.Type, data.data(),
                                     static_cast<DWORD>(data.size() * sizeof(wchar_t))));
        const bool earlier = std::string(row.Label).rfind("130", 0) == 0;
        ChangeIconDialog record;
        RunOn(record, folder, [&](DialogDriver& d) {
            if (!earlier) {
                ExpectCentredAtTemplateSize(d.Dialog());
            } else {
                RECT r{};
                GetWindowRect(d.Dialog(), &r);
                const RECT expected{100, 50, 520, 550};
                EXPECT_TRUE(EqualRect(&r, &expected));
            }
            d.Command(IDCANCEL);
        });
    }
}

} // namespace
} // namespace orvane
