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

TEST(WriteIconLocationValue, StoresRegSzWithTerminatorCounted)
{
    const std::wstring path = L"Software\\" + test::UniqueName(L"Orvane");
    test::KeyGuard guard(HKEY_CURRENT_USER, path);
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, path.c_str()));

    IconLocation location(L"C:\\i.ico", L"", NoIndex);
    location.SetTypeKey(L"txtfile");
    EXPECT_EQ(ERROR_SUCCESS, WriteIconLocationValue(key.get(), location, L"long", true));
    EXPECT_EQ(ERROR_SUCCESS, WriteIconLocationValue(key.get(), location, nullptr, false));

    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key.get(), L"long", nullptr, &type, nullptr, &size));
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(sizeof L"C:\\i.ico,-99,txtfile", size);
    std::wstring text;
    ASSERT_TRUE(test::ReadValue(HKEY_CURRENT_USER, path, L"", &text));
    EXPECT_EQ(L"C:\\i.ico", text);

    IconLocation tooLong(std::wstring(255, L'p').c_str(), L"", 12345);
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteIconLocationValue(key.get(), tooLong, L"big", false));
    EXPECT_FALSE(test::ReadValue(HKEY_CURRENT_USER, path, L"big", &text));
}

TEST(ReadTextValue, HostileData)
{
    const std::wstring path = L"Software\\" + test::UniqueName(L"Orvane");
    test::KeyGuard guard(HKEY_CURRENT_USER, path);
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, path.c_str()));

    const std::wstring big(600, L'b');
    const std::wstring exact(260, L'e'); // 520 bytes and no terminator: cannot fit with one
    const std::wstring full(259, L'f');  // with its terminator 520 bytes, the most that is read
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    const DWORD number = 0x00000061; // "a" and its terminator in memory
    const BYTE binary[] = {'x', 0, 0, 0, 'y', 0}; // "x", a zero, "y"
    const wchar_t expand[] = L"%SystemRoot%\\x.dll,2";
    test::WriteValue(HKEY_CURRENT_USER, path, L"big", REG_SZ, big.c_str(), DWORD((big.size() + 1) * sizeof(wchar_t)));
    test::WriteValue(HKEY_CURRENT_USER, path, L"exact", REG_SZ, exact.data(), DWORD(exact.size() * sizeof(wchar_t)));
    test::WriteValue(HKEY_CURRENT_USER, path, L"full", REG_SZ, full.c_str(), DWORD((full.size() + 1) * sizeof(wchar_t)));
    test::WriteValue(HKEY_CURRENT_USER, path, L"unterminated", REG_SZ, unterminated, sizeof unterminated);
    test::WriteValue(HKEY_CURRENT_USER, path, L"expand", REG_EXPAND_SZ, expand, sizeof expand);
    test::WriteValue(HKEY_CURRENT_USER, path, L"dword", REG_DWORD, &number, sizeof number);
    test::WriteValue(HKEY_CURRENT_USER, path, L"binary", REG_BINARY, binary, sizeof binary);
    test::WriteValue(HKEY_CURRENT_USER, path, L"empty", REG_SZ, L"", 0);
    // A name and a text that the ANSI code page cannot hold, a surrogate pair among them.
    const wchar_t unicode[] = L"C:\\\U0001F4C1 \u5199\u771F\\a.ico,3";
    test::WriteValue(HKEY_CURRENT_USER, path, L"\u041F\u0440\u043E", REG_SZ, unicode, sizeof unicode);
    // Values as the 8-bit call stores them, as earlier builds of this extension wrote
    // them: the registry keeps UTF-16, each character of the ANSI code page converted, so
    // that 260 of them are 522 bytes and over the limit.
    const char narrow[] = "C:\\Ic\xF4nes\\a.ico,3";
    const std::string narrowOver(260, 'n');
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), "narrow", 0, REG_SZ, reinterpret_cast<const BYTE*>(narrow),
                                            sizeof narrow));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), "narrowOver", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(narrowOver.c_str()),
                                            DWORD(narrowOver.size() + 1)));

    struct Case {
        const wchar_t* Name;
        std::size_t Limit;
        bool Found;
        const wchar_t* Text;
    };
    const Case cases[] = {
        {L"big", 520, false, nullptr},
        {L"exact", 520, false, nullptr},
        {L"full", 520, true, full.c_str()},
        {L"full", 260, true, full.c_str()},
        {L"full", 259, false, nullptr},
        {L"unterminated", 520, true, L"abc"},
        {L"unterminated", 3, false, nullptr},
        {L"unterminated", 4, true, L"abc"},
        {L"expand", 520, true, L"%SystemRoot%\\x.dll,2"},
        {L"dword", 520, true, L"a"},
        {L"binary", 520, true, L"x"},
        {L"empty", 520, true, L""},
        {L"missing", 520, false, nullptr},
        {L"\u041F\u0440\u043E", 520, true, unicode},
        {L"narrow", 520, true, L"C:\\Ic\u00F4nes\\a.ico,3"},
        {L"narrowOver", 520, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        wchar_t out[RegistryTextLimit];
        std::fill(std::begin(out), std::end(out), L'#');
        out[std::size(out) - 1] = L'\0';
        const bool found = ReadTextValue(key.get(), c.Name, out, c.Limit);
        EXPECT_EQ(c.Found, found);
        if (c.Found) {
            EXPECT_STREQ(c.Text, out);
        } else {
            EXPECT_EQ(L'#', out[0]) << "a failed read leaves the buffer untouched";
        }
    }
}

TEST(SplitFileName, LikeThePlatformSplitter)
{
    struct Case {
        const wchar_t* Path;
        const wchar_t* Name;
        const wchar_t* Extension;
    };
    const Case cases[] = {
        {L"C:\\notes\\a.txt", L"a", L".txt"},
        {L"C:\\notes\\archive.tar.gz", L"archive.tar", L".gz"},
        {L"C:\\dir.d\\README", L"README", L""},
        {L"C:/x/y.Z", L"y", L".Z"},
        {L"D:\\", L"", L""},
        {L"D:Data", L"Data", L""},
        {L"C:\\Data\\Sub", L"Sub", L""},
        {L".hidden", L"", L".hidden"},
        {L"C:\\x\\trailing.", L"trailing", L"."},
    };
    for (const auto& c : cases) {
        const auto parts = SplitFileName(c.Path);
        EXPECT_EQ(c.Name, parts.Name) << c.Path;
        EXPECT_EQ(c.Extension, parts.Extension) << c.Path;
    }
}
