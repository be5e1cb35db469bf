#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <iterator>
#include <string>
#include <string_view>

#include "IconLocation.h"
#include "PathText.h"
#include "Registry.h"
#include "TestSupport.h"

using namespace orvane;

namespace {

struct ParseCase {
    const wchar_t* Text;
    const wchar_t* IconPath;
    std::int32_t Index;
    const wchar_t* TypeKey;
};

const ParseCase ShortFormCases[] = {
    {L"C:\\icons\\a.ico,3", L"C:\\icons\\a.ico", 3, L""},
    {L"C:\\icons\\a.ico", L"C:\\icons\\a.ico", NoIndex, L""},
    {L"C:\\icons\\a.ico,", L"C:\\icons\\a.ico", NoIndex, L""},
    {L"C:\\icons\\a.ico,,x", L"C:\\icons\\a.ico", 0, L""},
    {L"%SystemRoot%\\system32\\shell32.dll,-3", L"%SystemRoot%\\system32\\shell32.dll", -3, L""},
    {L"a.dll,4294967197", L"a.dll", NoIndex, L""},
    {L"a.dll,3,txtfile", L"a.dll", 3, L""},
    {L",5", L"", 5, L""},
    {L"\"%1\"", L"\"%1\"", NoIndex, L""},
    {L"a.dll,3,abc", L"a.dll", 3, L""},
    {L"a.dll,  +12x", L"a.dll", 12, L""},
    {L"a.dll,4294967293", L"a.dll", -3, L""},
    {L"a.dll,4294967295", L"a.dll", -1, L""},
    {L"a.dll,-2147483648", L"a.dll", INT32_MIN, L""},
    {L"", L"", NoIndex, L""},
};

const ParseCase LongFormCases[] = {
    {L"a.dll,3,txtfile", L"a.dll", 3, L"txtfile"},
    {L"a.dll,3", L"a.dll", 3, L""},
    {L"a.dll,,txtfile", L"a.dll", NoIndex, L""},
    {L"a.dll", L"a.dll", NoIndex, L""},
    {L"a.dll,3,x,y", L"a.dll", 3, L"x,y"},
    {L"a.dll, 7,k", L"a.dll", 7, L"k"},
    {L"a.dll,4294967197,k", L"a.dll", NoIndex, L"k"},
    {L"a.dll,-3,k", L"a.dll", -3, L"k"},
    {L"a.dll,3,", L"a.dll", 3, L""},
};

void ExpectParsed(const ParseCase& c, bool withTypeKey)
{
    SCOPED_TRACE(c.Text);
    const auto location = ParseIconLocation(c.Text, withTypeKey);
    ASSERT_TRUE(location.has_value());
    EXPECT_STREQ(c.IconPath, location->IconPath);
    EXPECT_EQ(c.Index, location->Index);
    EXPECT_STREQ(c.TypeKey, location->TypeKey);
    EXPECT_STREQ(L"", location->TargetName);
}

} // namespace

TEST(ParseIconLocation, ShortFormTable)
{
    for (const auto& c : ShortFormCases)
        ExpectParsed(c, false);
}

TEST(ParseIconLocation, LongFormTable)
{
    for (const auto& c : LongFormCases)
        ExpectParsed(c, true);
}

TEST(ParseIconLocation, NoTextIsNone)
{
    EXPECT_FALSE(ParseIconLocation(nullptr, false));
    EXPECT_FALSE(ParseIconLocation(nullptr, true));
}

// A number beyond 32 bits is no index: taken modulo 2^32 it would name another icon
// (99999999999999999 would be 1569325055).
TEST(ParseIconLocation, IndexesBeyond32BitsAreNone)
{
    for (const wchar_t* text : {L"a.dll,4294967296", L"a.dll,99999999999999999", L"a.dll,-4294967296",
                                L"a.dll,00000000000000000000004294967296"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(ParseIconLocation(text, false));
        EXPECT_FALSE(ParseIconLocation((std::wstring(text) + L",k").c_str(), true));
    }
    EXPECT_TRUE(ParseIconLocation(L"a.dll,00000000000000000000004294967295", false));
}

// The whole-text reading that Desktop.ini's IconResource and the command line share: a
// text is a number only as a whole, and a number beyond the 32-bit range is told apart
// from text that is none.
TEST(ParseWholeIndex, SignDigitsAndNothingElse)
{
    struct Case {
        const wchar_t* Text;
        WholeIndex Reads;
        std::int32_t Index;
    };
    const Case cases[] = {
        {L"5", WholeIndex::Number, 5},
        {L"+5", WholeIndex::Number, 5},
        {L"-112", WholeIndex::Number, -112},
        {L"-0", WholeIndex::Number, 0},
        {L"0002147483647", WholeIndex::Number, INT32_MAX},
        {L"-2147483648", WholeIndex::Number, INT32_MIN},
        {L"2147483648", WholeIndex::OutOfRange, 0},
        {L"-2147483649", WholeIndex::OutOfRange, 0},
        {L"4294967293", WholeIndex::OutOfRange, 0},
        {L"99999999999999999999999", WholeIndex::OutOfRange, 0},
        {L"", WholeIndex::NotANumber, 0},
        {L"-", WholeIndex::NotANumber, 0},
        {L"+-5", WholeIndex::NotANumber, 0},
        {L" 5", WholeIndex::NotANumber, 0},
        {L"5 ", WholeIndex::NotANumber, 0},
        {L"5x", WholeIndex::NotANumber, 0},
        {L"0x10", WholeIndex::NotANumber, 0},
        {L"99999999999999999999999x", WholeIndex::NotANumber, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        std::int32_t index = 77;
        EXPECT_EQ(c.Reads, ParseWholeIndex(c.Text, &index));
        EXPECT_EQ(c.Reads == WholeIndex::Number ? c.Index : 77, index);
    }
    // A view that ends before the text does: digits beyond it are not read.
    std::int32_t index = 0;
    EXPECT_EQ(WholeIndex::Number, ParseWholeIndex(std::wstring_view(L"12345", 2), &index));
    EXPECT_EQ(12, index);
}

TEST(ParseIconLocation, ComponentsLongerThanAFieldAreRefusedNotCut)
{
    const std::wstring fits(259, L'p');
    const std::wstring tooLong(260, L'p');
    EXPECT_TRUE(ParseIconLocation((fits + L",1").c_str(), false));
    EXPECT_FALSE(ParseIconLocation((tooLong + L",1").c_str(), false));
    EXPECT_FALSE(ParseIconLocation(tooLong.c_str(), true));
    EXPECT_TRUE(ParseIconLocation((L"a,1," + fits).c_str(), true));
    EXPECT_FALSE(ParseIconLocation((L"a,1," + tooLong).c_str(), true));
    // A long index component is read from a bounded copy and never spills into the type key.
    const auto spaced = ParseIconLocation((L"a," + std::wstring(300, L' ') + L"5,k").c_str(), true);
    ASSERT_TRUE(spaced);
    EXPECT_STREQ(L"k", spaced->TypeKey);
}

TEST(IconLocation, EmptyRecordAndSetters)
{
    IconLocation location;
    EXPECT_STREQ(L"", location.IconPath);
    EXPECT_EQ(0, location.Index);
    EXPECT_TRUE(location.SetIconPath(L"C:\\a.ico"));
    EXPECT_FALSE(location.SetIconPath(std::wstring(260, L'x').c_str()));
    EXPECT_STREQ(L"C:\\a.ico", location.IconPath);
    EXPECT_TRUE(location.SetIconPath(nullptr));
    EXPECT_STREQ(L"", location.IconPath);
    const IconLocation parts(L"p.dll", L".txt", 4);
    EXPECT_STREQ(L"p.dll", parts.IconPath);
    EXPECT_STREQ(L".txt", parts.TargetName);
    EXPECT_STREQ(L"", parts.TypeKey);
    EXPECT_EQ(4, parts.Index);
}

TEST(FormatIconLocation, WritingExamplesAndRoundTrips)
{
    struct Case {
        std::int32_t Index;
        const wchar_t* TypeKey;
        bool WithTypeKey;
        const wchar_t* Expected;
        // FormatPathIndex's text for the same path and index; null: not asked.
        const wchar_t* PathIndex;
    };
    const Case cases[] = {
        {3, L"", false, L"C:\\i.ico,3", L"C:\\i.ico,3"},
        {0, L"", false, L"C:\\i.ico,0", L"C:\\i.ico,0"},
        // A location without an index is written as such values are, the path alone; the
        // form that always has an index writes the number.
        {NoIndex, L"", false, L"C:\\i.ico", L"C:\\i.ico,-99"},
        // Resource ids as Windows writes them; earlier builds wrote 4294967293, which
        // still reads as -3.
        {-3, L"", false, L"C:\\i.ico,-3", L"C:\\i.ico,-3"},
        {-112, L"", false, L"C:\\i.ico,-112", L"C:\\i.ico,-112"},
        {INT32_MIN, L"", false, L"C:\\i.ico,-2147483648", L"C:\\i.ico,-2147483648"},
        {INT32_MAX, L"", false, L"C:\\i.ico,2147483647", L"C:\\i.ico,2147483647"},
        {3, L"txtfile", true, L"C:\\i.ico,3,txtfile", nullptr},
        {3, L"", true, L"C:\\i.ico,3,", nullptr},
        {-1, L"k", true, L"C:\\i.ico,-1,k", nullptr},
        // The long form keeps the index field that separates the class.
        {NoIndex, L"k", true, L"C:\\i.ico,-99,k", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Expected);
        IconLocation location(L"C:\\i.ico", L"", c.Index);
        location.SetTypeKey(c.TypeKey);
        wchar_t text[TextCapacity];
        ASSERT_TRUE(FormatIconLocation(location, c.WithTypeKey, text, std::size(text)));
        EXPECT_STREQ(c.Expected, text);
        const auto back = ParseIconLocation(text, c.WithTypeKey);
        ASSERT_TRUE(back);
        EXPECT_STREQ(location.IconPath, back->IconPath);
        EXPECT_EQ(c.Index, back->Index);
        if (c.WithTypeKey) {
            EXPECT_STREQ(c.TypeKey, back->TypeKey);
        }
        if (c.PathIndex != nullptr) {
            wchar_t pathIndex[PathIndexCapacity];
            ASSERT_TRUE(FormatPathIndex(location.IconPath, c.Index, pathIndex, std::size(pathIndex)));
            EXPECT_STREQ(c.PathIndex, pathIndex);
            const auto read = ParseIconLocation(pathIndex, false);
            ASSERT_TRUE(read);
            EXPECT_EQ(c.Index, read->Index);
        }
    }
}

TEST(FormatIconLocation, TextOverTheLimitIsRefused)
{
    IconLocation location(std::wstring(248, L'p').c_str(), L"", -1999999999); // ",-1999999999" makes 260
    wchar_t text[TextCapacity] = L"untouched";
    EXPECT_FALSE(FormatIconLocation(location, false, text, std::size(text)));
    EXPECT_STREQ(L"", text);
    std::wcscpy(text, L"untouched");
    EXPECT_FALSE(FormatPathIndex(location.IconPath, location.Index, text, std::size(text)));
    EXPECT_STREQ(L"", text);
    EXPECT_FALSE(FormatPathIndex(nullptr, 1, text, std::size(text)));
    location.SetIndex(1);
    EXPECT_TRUE(FormatIconLocation(location, false, text, std::size(text)));
    EXPECT_TRUE(FormatPathIndex(location.IconPath, location.Index, text, std::size(text)));
    EXPECT_EQ(250u, std::wcslen(text));
    // The longest path a field holds and the longest index fit the capacity named for them.
    wchar_t longest[PathIndexCapacity];
    EXPECT_TRUE(FormatPathIndex(std::wstring(259, L'p').c_str(), INT32_MIN, longest, std::size(longest)));
    EXPECT_EQ(PathIndexCapacity - 1, std::wcslen(longest));
}
