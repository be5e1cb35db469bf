#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "IconLocation.h"
#include "PathText.h"
#include "Registry.h"
#include "TestSupport.h"

using namespace orvane;

namespace {

struct ParseCase {
    const char* Text;
    const char* IconPath;
    std::int32_t Index;
    const char* TypeKey;
};

const ParseCase ShortFormCases[] = {
    {"C:\\icons\\a.ico,3", "C:\\icons\\a.ico", 3, ""},
    {"C:\\icons\\a.ico", "C:\\icons\\a.ico", NoIndex, ""},
    {"C:\\icons\\a.ico,", "C:\\icons\\a.ico", NoIndex, ""},
    {"C:\\icons\\a.ico,,x", "C:\\icons\\a.ico", 0, ""},
    {"%SystemRoot%\\system32\\shell32.dll,-3", "%SystemRoot%\\system32\\shell32.dll", -3, ""},
    {"a.dll,4294967197", "a.dll", NoIndex, ""},
    {"a.dll,3,txtfile", "a.dll", 3, ""},
    {",5", "", 5, ""},
    {"\"%1\"", "\"%1\"", NoIndex, ""},
    {"a.dll,3,abc", "a.dll", 3, ""},
    {"a.dll,  +12x", "a.dll", 12, ""},
    {"a.dll,4294967293", "a.dll", -3, ""},
    {"a.dll,4294967296", "a.dll", 0, ""},  // wraps modulo 2^32
    {"", "", NoIndex, ""},
};

const ParseCase LongFormCases[] = {
    {"a.dll,3,txtfile", "a.dll", 3, "txtfile"},
    {"a.dll,3", "a.dll", 3, ""},
    {"a.dll,,txtfile", "a.dll", NoIndex, ""},
    {"a.dll", "a.dll", NoIndex, ""},
    {"a.dll,3,x,y", "a.dll", 3, "x,y"},
    {"a.dll, 7,k", "a.dll", 7, "k"},
    {"a.dll,4294967197,k", "a.dll", NoIndex, "k"},
    {"a.dll,-3,k", "a.dll", -3, "k"},
    {"a.dll,3,", "a.dll", 3, ""},
};

void ExpectParsed(const ParseCase& c, bool withTypeKey)
{
    SCOPED_TRACE(c.Text);
    const auto location = ParseIconLocation(c.Text, withTypeKey);
    ASSERT_TRUE(location.has_value());
    EXPECT_STREQ(c.IconPath, location->IconPath);
    EXPECT_EQ(c.Index, location->Index);
    EXPECT_STREQ(c.TypeKey, location->TypeKey);
    EXPECT_STREQ("", location->Owner);
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

TEST(ParseIconLocation, ComponentsLongerThanAFieldAreRefusedNotCut)
{
    const std::string fits(259, 'p');
    const std::string tooLong(260, 'p');
    EXPECT_TRUE(ParseIconLocation((fits + ",1").c_str(), false));
    EXPECT_FALSE(ParseIconLocation((tooLong + ",1").c_str(), false));
    EXPECT_FALSE(ParseIconLocation(tooLong.c_str(), true));
    EXPECT_TRUE(ParseIconLocation(("a,1," + fits).c_str(), true));
    EXPECT_FALSE(ParseIconLocation(("a,1," + tooLong).c_str(), true));
    // A long index component is read from a bounded copy and never spills into the type key.
    const auto spaced = ParseIconLocation(("a," + std::string(300, ' ') + "5,k").c_str(), true);
    ASSERT_TRUE(spaced);
    EXPECT_STREQ("k", spaced->TypeKey);
}

TEST(IconLocation, EmptyRecordAndSetters)
{
    IconLocation location;
    EXPECT_STREQ("", location.IconPath);
    EXPECT_EQ(0, location.Index);
    EXPECT_TRUE(location.SetIconPath("C:\\a.ico"));
    EXPECT_FALSE(location.SetIconPath(std::string(260, 'x').c_str()));
    EXPECT_STREQ("C:\\a.ico", location.IconPath);
    EXPECT_TRUE(location.SetIconPath(nullptr));
    EXPECT_STREQ("", location.IconPath);
    const IconLocation parts("p.dll", ".txt", 4);
    EXPECT_STREQ("p.dll", parts.IconPath);
    EXPECT_STREQ(".txt", parts.Owner);
    EXPECT_STREQ("", parts.TypeKey);
    EXPECT_EQ(4, parts.Index);
}

TEST(FormatIconLocation, WritingExamplesAndRoundTrips)
{
    struct Case {
        std::int32_t Index;
        const char* TypeKey;
        bool WithTypeKey;
        const char* Expected;
    };
    const Case cases[] = {
        {3, "", false, "C:\\i.ico,3"},
        {NoIndex, "", false, "C:\\i.ico,4294967197"},
        {-3, "", false, "C:\\i.ico,4294967293"},
        {3, "txtfile", true, "C:\\i.ico,3,txtfile"},
        {3, "", true, "C:\\i.ico,3,"},
        {-1, "k", true, "C:\\i.ico,4294967295,k"},
    };
    for (const auto& c : cases) {
        IconLocation location("C:\\i.ico", "", c.Index);
        location.SetTypeKey(c.TypeKey);
        char text[TextCapacity];
        ASSERT_TRUE(FormatIconLocation(location, c.WithTypeKey, text, sizeof text));
        EXPECT_STREQ(c.Expected, text);
        const auto back = ParseIconLocation(text, c.WithTypeKey);
        ASSERT_TRUE(back);
        EXPECT_STREQ(location.IconPath, back->IconPath);
        EXPECT_EQ(c.Index, back->Index);
        if (c.WithTypeKey) {
            EXPECT_STREQ(c.TypeKey, back->TypeKey);
        }
    }
}

TEST(FormatIconLocation, TextOverTheLimitIsRefused)
{
    IconLocation location(std::string(250, 'p').c_str(), "", -1); // ",4294967295" makes 261
    char text[TextCapacity] = "untouched";
    EXPECT_FALSE(FormatIconLocation(location, false, text, sizeof text));
    EXPECT_STREQ("", text);
    location.SetIndex(1);
    EXPECT_TRUE(FormatIconLocation(location, false, text, sizeof text));
}

TEST(WriteIconLocationValue, StoresRegSzWithTerminatorCounted)
{
    const std::string path = "Software\\" + test::UniqueName("Orvane");
    test::KeyGuard guard(HKEY_CURRENT_USER, path);
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, path.c_str()));

    IconLocation location("C:\\i.ico", "", NoIndex);
    location.SetTypeKey("txtfile");
    EXPECT_EQ(ERROR_SUCCESS, WriteIconLocationValue(key.get(), location, "long", true));
    EXPECT_EQ(ERROR_SUCCESS, WriteIconLocationValue(key.get(), location, nullptr, false));

    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.get(), "long", nullptr, &type, nullptr, &size));
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(sizeof "C:\\i.ico,4294967197,txtfile", size);
    std::string text;
    ASSERT_TRUE(test::ReadValue(HKEY_CURRENT_USER, path, "", &text));
    EXPECT_EQ("C:\\i.ico,4294967197", text);

    IconLocation tooLong(std::string(255, 'p').c_str(), "", 12345);
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteIconLocationValue(key.get(), tooLong, "big", false));
    EXPECT_FALSE(test::ReadValue(HKEY_CURRENT_USER, path, "big", &text));
}

TEST(ReadTextValue, HostileData)
{
    const std::string path = "Software\\" + test::UniqueName("Orvane");
    test::KeyGuard guard(HKEY_CURRENT_USER, path);
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, path.c_str()));

    const std::string big(600, 'b');
    const std::string exact(520, 'e'); // 520 bytes and no terminator: cannot fit with one
    const char unterminated[] = {'a', 'b', 'c'};
    const DWORD number = 0x00636261; // "abc\0" in memory
    const BYTE binary[] = {'x', 0, 'y'};
    test::WriteValue(HKEY_CURRENT_USER, path, "big", REG_SZ, big.c_str(), DWORD(big.size() + 1));
    test::WriteValue(HKEY_CURRENT_USER, path, "exact", REG_SZ, exact.data(), DWORD(exact.size()));
    test::WriteValue(HKEY_CURRENT_USER, path, "unterminated", REG_SZ, unterminated, sizeof unterminated);
    test::WriteValue(HKEY_CURRENT_USER, path, "expand", REG_EXPAND_SZ, "%SystemRoot%\\x.dll,2", 21);
    test::WriteValue(HKEY_CURRENT_USER, path, "dword", REG_DWORD, &number, sizeof number);
    test::WriteValue(HKEY_CURRENT_USER, path, "binary", REG_BINARY, binary, sizeof binary);
    test::WriteValue(HKEY_CURRENT_USER, path, "empty", REG_SZ, "", 0);

    struct Case {
        const char* Name;
        std::size_t Limit;
        bool Found;
        const char* Text;
    };
    const Case cases[] = {
        {"big", 520, false, nullptr},
        {"exact", 520, false, nullptr},
        {"unterminated", 520, true, "abc"},
        {"unterminated", 3, false, nullptr},
        {"unterminated", 4, true, "abc"},
        {"expand", 520, true, "%SystemRoot%\\x.dll,2"},
        {"dword", 520, true, "abc"},
        {"binary", 520, true, "x"},
        {"empty", 520, true, ""},
        {"missing", 520, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        char out[RegistryTextLimit];
        std::memset(out, '#', sizeof out);
        out[sizeof out - 1] = '\0';
        const bool found = ReadTextValue(key.get(), c.Name, out, c.Limit);
        EXPECT_EQ(c.Found, found);
        if (c.Found) {
            EXPECT_STREQ(c.Text, out);
        } else {
            EXPECT_EQ('#', out[0]) << "a failed read leaves the buffer untouched";
        }
    }
}

TEST(SplitFileName, LikeThePlatformSplitter)
{
    struct Case {
        const char* Path;
        const char* Name;
        const char* Extension;
    };
    const Case cases[] = {
        {"C:\\notes\\a.txt", "a", ".txt"},
        {"C:\\notes\\archive.tar.gz", "archive.tar", ".gz"},
        {"C:\\dir.d\\README", "README", ""},
        {"C:/x/y.Z", "y", ".Z"},
        {"D:\\", "", ""},
        {"D:Data", "Data", ""},
        {"C:\\Data\\Sub", "Sub", ""},
        {".hidden", "", ".hidden"},
        {"C:\\x\\trailing.", "trailing", "."},
    };
    for (const auto& c : cases) {
        const auto parts = SplitFileName(c.Path);
        EXPECT_EQ(c.Name, parts.Name) << c.Path;
        EXPECT_EQ(c.Extension, parts.Extension) << c.Path;
    }
}
