// Where the dialog opens and at what size, for arrangements of monitors Wine under Xvfb
// cannot give (it has one): the choice is one function fed with monitor rectangles.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Placement.h"

namespace orvane {
namespace {

bool Inside(const RECT& inner, const RECT& outer)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

std::string Show(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// A 1920 x 1080 monitor with a taskbar at its bottom, and to its right a 2560 x 1440 one
// placed higher, with a taskbar at its left.
const std::vector<MonitorArea> TwoMonitors{
    {{0, 0, 1920, 1080}, {0, 0, 1920, 1040}},
    {{1920, -200, 4480, 1240}, {1980, -200, 4480, 1240}},
};
constexpr SIZE Template{300, 360};

TEST(PlaceDialog, OverTheOwnersMonitorWhollyInsideItsWorkArea)
{
    struct Row {
        const char* Label;
        RECT Owner;
        int Monitor;
    };
    const Row table[] = {
        {"first, top left corner", {-50, -40, 400, 300}, 0},
        {"first, bottom right corner", {1700, 900, 2000, 1200}, 0},
        {"first, left edge", {-300, 400, 200, 700}, 0},
        {"second, top edge", {3000, -400, 3600, 100}, 1},
        {"second, right edge", {4300, 500, 4700, 900}, 1},
        {"second, bottom left corner, over the taskbar", {1930, 1100, 2300, 1400}, 1},
        {"mostly on the second, partly on the first", {1800, 300, 2600, 700}, 1},
        {"on no monitor, nearest the first", {-3000, 200, -2500, 600}, 0},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.Label);
        const RECT placed = PlaceDialog(Template, std::nullopt, row.Owner, POINT{10, 10}, TwoMonitors);
        const RECT& work = TwoMonitors[static_cast<std::size_t>(row.Monitor)].Work;
        EXPECT_TRUE(Inside(placed, work)) << Show(placed);
        EXPECT_EQ(placed.right - placed.left, Template.cx);
        EXPECT_EQ(placed.bottom - placed.top, Template.cy);
        // Centred on that work area.
        EXPECT_EQ(placed.left + placed.right, work.left + work.right - (work.right - work.left - Template.cx) % 2);
    }
}

TEST(PlaceDialog, WithoutAnOwnerUnderThePointerAtTheRecordedSize)
{
    struct Row {
        const char* Label;
        POINT Pointer;
        std::optional<RECT> Recorded;
        RECT Expected;
    };
    const Row table[] = {
        {"pointer on the first", {100, 100}, std::nullopt, {810, 340, 1110, 700}},
        {"pointer on the second", {4000, 0}, std::nullopt, {3080, 340, 3380, 700}},
        {"pointer off every monitor, nearest the second", {9000, 9000}, std::nullopt, {3080, 340, 3380, 700}},
        {"recorded where it still fits", {100, 100}, RECT{100, 50, 500, 550}, {100, 50, 500, 550}},
        {"recorded partly off the work area: centred", {100, 100}, RECT{-30, 20, 320, 400}, {785, 330, 1135, 710}},
        {"recorded smaller than the template", {100, 100}, RECT{100, 50, 200, 100}, {100, 50, 400, 410}},
        {"recorded larger than the work area", {100, 100}, RECT{0, 0, 5000, 3000}, {0, 0, 1920, 1040}},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.Label);
        const RECT placed = PlaceDialog(Template, row.Recorded, std::nullopt, row.Pointer, TwoMonitors);
        EXPECT_TRUE(EqualRect(&placed, &row.Expected)) << Show(placed) << " instead of " << Show(row.Expected);
    }
}

TEST(ParseDialogRect, TheRecordedTextOrNothing)
{
    struct Row {
        std::wstring Text;
        bool Parses;
        RECT Expected;
    };
    const Row table[] = {
        {L"100,50,320,400", true, {100, 50, 420, 450}},
        {std::wstring(L"-30,20,350,380") + std::wstring(245, L'\0'), true, {-30, 20, 320, 400}},
        {L"text", false, {}},
        {L"", false, {}},
        {L"1,2,3", false, {}},
        {L"1,2,-3,4", false, {}},
        {L"1,2,0,4", false, {}},
        {L"1,2,3,4,5", false, {}},
        {L"1,2,3,4 ", false, {}},
        {L"1,2,1234567,4", false, {}},
        {std::wstring(259, L'9'), false, {}},
        {L"1,2,3," + std::wstring(255, L'7'), false, {}},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(std::string(row.Text.begin(), row.Text.begin() + std::min<std::size_t>(row.Text.size(), 20)));
        const std::optional<RECT> parsed = ParseDialogRect(row.Text.data(), row.Text.size());
        ASSERT_EQ(parsed.has_value(), row.Parses);
        if (parsed) {
            EXPECT_TRUE(EqualRect(&*parsed, &row.Expected)) << Show(*parsed);
        }
    }
    EXPECT_FALSE(ParseDialogRect(nullptr, 10));
}

} // namespace
} // namespace orvane
