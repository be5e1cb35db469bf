// Icon sources as Windows writes them: the "path,index" text of IconResource, paths with
// environment references, and icon groups named by resource id, against the test library
// whose groups have the ids 100, 101, 105 and 112, and Wine's own shell32.dll.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <climits>
#include <cstring>
#include <string>

#include "IconIdLibrary.h"
#include "IconResources.h"
#include "ScopedVariable.h"
#include "TestSupport.h"

using namespace orvane;

namespace {

std::string Variable(const char* name)
{
    char value[TextCapacity] = {};
    GetEnvironmentVariableA(name, value, sizeof value);
    return value;
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

} // namespace

TEST(ParseIconResource, TheLastCommaAndAWholeNumber)
{
    const std::string longest(259, 'p');
    struct Case {
        std::string Text;
        bool Parses;
        std::string IconPath;
        std::int32_t Index;
    } cases[] = {
        {"C:\\a.dll,3", true, "C:\\a.dll", 3},
        {"%SystemRoot%\\system32\\imageres.dll,-112", true, "%SystemRoot%\\system32\\imageres.dll", -112},
        // Windows splits at the last comma: a comma in a folder name stays in the path.
        {"C:\\odd,name\\a.dll,4", true, "C:\\odd,name\\a.dll", 4},
        {"C:\\a.dll,1,2", true, "C:\\a.dll,1", 2},
        {"C:\\a.dll,+7", true, "C:\\a.dll", 7},
        {"C:\\a.dll,0", true, "C:\\a.dll", 0},
        {"C:\\a.dll,-2147483648", true, "C:\\a.dll", INT32_MIN},
        {"C:\\a.dll,2147483647", true, "C:\\a.dll", INT32_MAX},
        {longest + ",5", true, longest, 5},
        {"C:\\a.dll", false, "", 0},
        {",3", false, "", 0},
        {"C:\\a.dll,", false, "", 0},
        {"C:\\a.dll,-", false, "", 0},
        {"C:\\a.dll,3x", false, "", 0},
        {"C:\\a.dll, 3", false, "", 0},
        {"C:\\a.dll,3 ", false, "", 0},
        {"C:\\a.dll,0x10", false, "", 0},
        {"C:\\a.dll,2147483648", false, "", 0},
        {"C:\\a.dll,-2147483649", false, "", 0},
        {"C:\\a.dll,99999999999999999999", false, "", 0},
        {longest + "p,5", false, "", 0},
        {"", false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        const auto parsed = ParseIconResource(c.Text.c_str());
        ASSERT_EQ(c.Parses, parsed.has_value());
        if (parsed) {
            EXPECT_EQ(c.IconPath, parsed->IconPath);
            EXPECT_EQ(c.Index, parsed->Index);
            EXPECT_STREQ("", parsed->Owner);
            EXPECT_STREQ("", parsed->TypeKey);
        }
    }
    EXPECT_FALSE(ParseIconResource(nullptr));
}

TEST(ExpandIconPath, ReferencesOfTheEnvironmentAndNothingCut)
{
    test::ScopedVariable icons("ORVANE_TEST_ICONS", "C:\\icons");
    const std::string systemRoot = Variable("SystemRoot");
    ASSERT_FALSE(systemRoot.empty());
    // Expanded, "%ORVANE_TEST_FITS%\x.dll" has 259 characters, "%ORVANE_TEST_OVER%\x.dll" 260.
    const std::string fits(253, 'f');
    const std::string over(254, 'o');
    test::ScopedVariable longFits("ORVANE_TEST_FITS", fits);
    test::ScopedVariable longOver("ORVANE_TEST_OVER", over);
    struct Case {
        std::string Path;
        bool Expands;
        std::string Expected;
    } cases[] = {
        {"%ORVANE_TEST_ICONS%\\a.dll", true, "C:\\icons\\a.dll"},
        {"%SystemRoot%\\system32\\imageres.dll", true, systemRoot + "\\system32\\imageres.dll"},
        {"%systemroot%\\x.dll", true, systemRoot + "\\x.dll"},
        {"C:\\plain\\a.dll", true, "C:\\plain\\a.dll"},
        {"", true, ""},
        // An undefined reference and a lone percent sign stay as they are, as Windows leaves them.
        {"%ORVANE_TEST_UNDEFINED%\\a.dll", true, "%ORVANE_TEST_UNDEFINED%\\a.dll"},
        {"C:\\100%\\a.dll", true, "C:\\100%\\a.dll"},
        {"%ORVANE_TEST_FITS%\\x.dll", true, fits + "\\x.dll"},
        {"%ORVANE_TEST_OVER%\\x.dll", false, ""},
        {std::string(259, 'q'), true, std::string(259, 'q')},
        {std::string(260, 'q'), false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Path);
        char out[TextCapacity];
        std::memset(out, 'x', sizeof out);
        EXPECT_EQ(c.Expands, ExpandIconPath(c.Path.c_str(), out));
        EXPECT_EQ(c.Expected, out);
    }
    char out[TextCapacity];
    EXPECT_FALSE(ExpandIconPath(nullptr, out));
    EXPECT_STREQ("", out);
}

TEST(FindIconOfResourceId, PositionsOfTheLibrarysGroupsAsTheExtractionCountsThem)
{
    const std::string library = test::IconIdLibraryPath();
    ASSERT_EQ(4u, ExtractIconExA(library.c_str(), -1, nullptr, nullptr, 0)) << library;
    std::vector<std::vector<COLORREF>> seen;
    for (int position = 0; position < 4; ++position) {
        const unsigned id = test::IconIdLibraryIds[position];
        SCOPED_TRACE(id);
        EXPECT_EQ(position, FindIconOfResourceId(library.c_str(), id));
        // The platform's own lookup by id (a negative index) gives the icon at that position.
        const auto byId = test::ExtractedPixels(library, -static_cast<int>(id));
        ASSERT_FALSE(byId.empty());
        EXPECT_EQ(byId, test::ExtractedPixels(library, position));
        for (const auto& other : seen)
            EXPECT_NE(other, byId);
        seen.push_back(byId);
    }
    // 65636 is 100 in its low 16 bits, which is no reason to find group 100.
    for (unsigned id : {0u, 1u, 99u, 102u, 111u, 113u, 999u, 65535u, 65636u, 4294967295u}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(-1, FindIconOfResourceId(library.c_str(), id));
    }
}

TEST(FindIconOfResourceId, ThroughAnEnvironmentReference)
{
    const std::string library = test::IconIdLibraryPath();
    test::ScopedVariable folder("ORVANE_TEST_LIBRARY", FolderOf(library));
    EXPECT_EQ(3, FindIconOfResourceId("%ORVANE_TEST_LIBRARY%\\orvane_icon_ids.dll", 112));
    EXPECT_EQ(0, FindIconOfResourceId("%ORVANE_TEST_LIBRARY%\\orvane_icon_ids.dll", 100));
    // Taken literally the path names nothing.
    EXPECT_EQ(-1, FindIconOfResourceId("%ORVANE_TEST_NOT_SET%\\orvane_icon_ids.dll", 112));
}

TEST(FindIconOfResourceId, SourcesWithoutResourcesOfTheirOwn)
{
    test::TempDir dir;
    const std::string ico = test::WriteIconFile(dir.Path() + "\\three.ico", 3);
    const std::string text = dir.MakeFile("notes.dll", "not a library");
    for (const std::string& path : {ico, text, dir.Path() + "\\missing.dll", dir.Path(), std::string("")}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(-1, FindIconOfResourceId(path.c_str(), 1));
        EXPECT_EQ(-1, FindIconOfResourceId(path.c_str(), 100));
    }
    EXPECT_EQ(-1, FindIconOfResourceId(nullptr, 100));
}

TEST(FindIconOfResourceId, WineShell32AgreesWithItsOwnExtraction)
{
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, sizeof system);
    const std::string shell32 = std::string(system) + "\\shell32.dll";
    int found = 0;
    // Id 1 cannot be asked for: ExtractIconEx takes the index -1 for "how many icons".
    for (unsigned id = 2; id <= 300; ++id) {
        const int position = FindIconOfResourceId(shell32.c_str(), id);
        const auto byId = test::ExtractedPixels(shell32, -static_cast<int>(id));
        // Exactly the ids the platform finds are found.
        EXPECT_EQ(byId.empty(), position < 0) << id;
        if (position < 0)
            continue;
        ++found;
        EXPECT_EQ(byId, test::ExtractedPixels(shell32, position)) << id;
    }
    EXPECT_GT(found, 20);
}

TEST(IconListPosition, PositionsAreKeptAndIdsLookedUp)
{
    const std::string library = test::IconIdLibraryPath();
    struct Case {
        std::int32_t Index;
        int Position;
    } cases[] = {{0, 0}, {3, 3}, {7, 7}, {-100, 0}, {-105, 2}, {-112, 3}, {-999, -1},
                 {-1, -1}, {NoIndex, -1}, {INT32_MIN, -1}, {-65636, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Index);
        EXPECT_EQ(c.Position, IconListPosition(library.c_str(), c.Index));
    }
}
