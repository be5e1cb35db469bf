// Icon sources as Windows writes them: the "path,index" text of IconResource, paths with
// environment references, and icon groups named by resource id, against the test library
// whose groups have the ids 100, 101, 105 and 112, and Wine's own shell32.dll.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <string>

#include "IconIdLibrary.h"
#include "IconFileCheck.h"
#include "IconLocation.h"
#include "IconSources.h"
#include "ScopedVariable.h"
#include "TestSupport.h"
#include "UnicodeNames.h"

using namespace orvane;

namespace {

std::wstring Variable(const wchar_t* name)
{
    wchar_t value[TextCapacity] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, static_cast<DWORD>(std::size(value)));
    return length < std::size(value) ? value : L"";
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

} // namespace

TEST(ParseIconResource, TheLastCommaAndAWholeNumber)
{
    const std::wstring longest(259, L'p');
    // 259 UTF-16 units that end in a surrogate pair.
    const std::wstring wideLongest = std::wstring(257, L'\u0436') + L"\U0001F4C1";
    const std::wstring cyrillicFolder = L"C:\\\u041F\u0440\u043E\u0435\u043A\u0442\u044B\\\U0001F4C1.dll";
    struct Case {
        std::wstring Text;
        bool Parses;
        std::wstring IconPath;
        std::int32_t Index;
    } cases[] = {
        {L"C:\\a.dll,3", true, L"C:\\a.dll", 3},
        {L"%SystemRoot%\\system32\\imageres.dll,-112", true, L"%SystemRoot%\\system32\\imageres.dll", -112},
        // Windows splits at the last comma: a comma in a folder name stays in the path.
        {L"C:\\odd,name\\a.dll,4", true, L"C:\\odd,name\\a.dll", 4},
        {L"C:\\a.dll,1,2", true, L"C:\\a.dll,1", 2},
        {L"C:\\a.dll,+7", true, L"C:\\a.dll", 7},
        {L"C:\\a.dll,0", true, L"C:\\a.dll", 0},
        {L"C:\\a.dll,-2147483648", true, L"C:\\a.dll", INT32_MIN},
        {L"C:\\a.dll,2147483647", true, L"C:\\a.dll", INT32_MAX},
        {longest + L",5", true, longest, 5},
        // Paths that the ANSI code page cannot hold are counted in UTF-16 units.
        {cyrillicFolder + L",-112", true, cyrillicFolder, -112},
        {L"C:\\\u05E9\u05DC\u05D5\u05DD,\u0645.dll,7", true, L"C:\\\u05E9\u05DC\u05D5\u05DD,\u0645.dll", 7},
        {wideLongest + L",5", true, wideLongest, 5},
        {wideLongest + L"\U0001F4C1,5", false, L"", 0},
        {L"C:\\a.dll,\uFF13", false, L"", 0},
        {L"C:\\a.dll", false, L"", 0},
        {L",3", false, L"", 0},
        {L"C:\\a.dll,", false, L"", 0},
        {L"C:\\a.dll,-", false, L"", 0},
        {L"C:\\a.dll,3x", false, L"", 0},
        {L"C:\\a.dll, 3", false, L"", 0},
        {L"C:\\a.dll,3 ", false, L"", 0},
        {L"C:\\a.dll,0x10", false, L"", 0},
        {L"C:\\a.dll,2147483648", false, L"", 0},
        {L"C:\\a.dll,-2147483649", false, L"", 0},
        {L"C:\\a.dll,99999999999999999999", false, L"", 0},
        {longest + L"p,5", false, L"", 0},
        {L"", false, L"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        const auto parsed = ParseIconResource(c.Text.c_str());
        ASSERT_EQ(c.Parses, parsed.has_value());
        if (parsed) {
            EXPECT_EQ(c.IconPath, parsed->IconPath);
            EXPECT_EQ(c.Index, parsed->Index);
            EXPECT_STREQ(L"", parsed->TargetName);
            EXPECT_STREQ(L"", parsed->TypeKey);
        }
    }
    EXPECT_FALSE(ParseIconResource(nullptr));
}

TEST(ExpandIconPath, ReferencesOfTheEnvironmentAndNothingCut)
{
    test::ScopedVariable icons(L"ORVANE_TEST_ICONS", L"C:\\icons");
    const std::wstring systemRoot = Variable(L"SystemRoot");
    ASSERT_FALSE(systemRoot.empty());
    // Expanded, "%ORVANE_TEST_FITS%\x.dll" has 259 characters, "%ORVANE_TEST_OVER%\x.dll" 260.
    const std::wstring fits(253, L'f');
    const std::wstring over(254, L'o');
    test::ScopedVariable longFits(L"ORVANE_TEST_FITS", fits);
    test::ScopedVariable longOver(L"ORVANE_TEST_OVER", over);
    // The same in UTF-16 units, a surrogate pair last: 253 and 254 units.
    const std::wstring wideFits = std::wstring(251, L'\u0436') + L"\U0001F4C1";
    const std::wstring wideOver = std::wstring(252, L'\u0436') + L"\U0001F4C1";
    test::ScopedVariable wideFitsVariable(L"ORVANE_TEST_WIDE_FITS", wideFits);
    test::ScopedVariable wideOverVariable(L"ORVANE_TEST_WIDE_OVER", wideOver);
    test::ScopedVariable wide(L"ORVANE_TEST_WIDE", L"C:\\\u5199\u771F \U0001F4C1");
    struct Case {
        std::wstring Path;
        bool Expands;
        std::wstring Expected;
    } cases[] = {
        {L"%ORVANE_TEST_ICONS%\\a.dll", true, L"C:\\icons\\a.dll"},
        {L"%SystemRoot%\\system32\\imageres.dll", true, systemRoot + L"\\system32\\imageres.dll"},
        {L"%systemroot%\\x.dll", true, systemRoot + L"\\x.dll"},
        {L"C:\\plain\\a.dll", true, L"C:\\plain\\a.dll"},
        {L"", true, L""},
        // An undefined reference and a lone percent sign stay as they are, as Windows leaves them.
        {L"%ORVANE_TEST_UNDEFINED%\\a.dll", true, L"%ORVANE_TEST_UNDEFINED%\\a.dll"},
        {L"C:\\100%\\a.dll", true, L"C:\\100%\\a.dll"},
        {L"%ORVANE_TEST_FITS%\\x.dll", true, fits + L"\\x.dll"},
        {L"%ORVANE_TEST_OVER%\\x.dll", false, L""},
        {L"%ORVANE_TEST_WIDE%\\\u0645.dll", true, L"C:\\\u5199\u771F \U0001F4C1\\\u0645.dll"},
        {L"%ORVANE_TEST_WIDE_FITS%\\x.dll", true, wideFits + L"\\x.dll"},
        {L"%ORVANE_TEST_WIDE_OVER%\\x.dll", false, L""},
        {std::wstring(259, L'q'), true, std::wstring(259, L'q')},
        {std::wstring(260, L'q'), false, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Path);
        wchar_t out[TextCapacity];
        std::fill(std::begin(out), std::end(out), L'x');
        EXPECT_EQ(c.Expands, ExpandIconPath(c.Path.c_str(), out));
        EXPECT_EQ(c.Expected, out);
    }
    wchar_t out[TextCapacity];
    EXPECT_FALSE(ExpandIconPath(nullptr, out));
    EXPECT_STREQ(L"", out);
}

TEST(FindIconOfResourceId, PositionsOfTheLibrarysGroupsAsTheExtractionCountsThem)
{
    const std::wstring library = test::IconIdLibraryPath();
    ASSERT_EQ(4u, ExtractIconExW(library.c_str(), -1, nullptr, nullptr, 0)) << library;
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
    const std::wstring library = test::IconIdLibraryPath();
    test::ScopedVariable folder(L"ORVANE_TEST_LIBRARY", FolderOf(library));
    EXPECT_EQ(3, FindIconOfResourceId(L"%ORVANE_TEST_LIBRARY%\\orvane_icon_ids.dll", 112));
    EXPECT_EQ(0, FindIconOfResourceId(L"%ORVANE_TEST_LIBRARY%\\orvane_icon_ids.dll", 100));
    // Taken literally the path names nothing.
    EXPECT_EQ(-1, FindIconOfResourceId(L"%ORVANE_TEST_NOT_SET%\\orvane_icon_ids.dll", 112));
}

TEST(FindIconOfResourceId, SourcesWithoutResourcesOfTheirOwn)
{
    test::TempDir dir;
    const std::wstring ico = test::WriteIconFile(dir.Path() + L"\\three.ico", 3);
    const std::wstring text = dir.MakeFile(L"notes.dll", "not a library");
    for (const std::wstring& path : {ico, text, dir.Path() + L"\\missing.dll", dir.Path(), std::wstring(L"")}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(-1, FindIconOfResourceId(path.c_str(), 1));
        EXPECT_EQ(-1, FindIconOfResourceId(path.c_str(), 100));
    }
    EXPECT_EQ(-1, FindIconOfResourceId(nullptr, 100));
}

TEST(FindIconOfResourceId, UnderPathsTheCodePageCannotHold)
{
    const std::wstring library = test::IconIdLibraryPath();
    test::TempDir dir;
    std::vector<std::wstring> copies;
    for (const auto& name : test::UnicodeNames())
        copies.push_back(dir.MakeFolder(name.Text) + L"\\" + name.Text + L".dll");
    // A path of exactly 259 units, the longest that the platform takes.
    const std::wstring longest = test::PathOfLength(dir.Path(), 259, L".dll");
    ASSERT_EQ(259u, longest.size());
    const std::wstring relative = longest.substr(dir.Path().size() + 1);
    dir.MakeFolder(relative.substr(0, relative.rfind(L'\\')));
    copies.push_back(longest);
    for (const std::wstring& copy : copies) {
        SCOPED_TRACE(test::Utf8(copy));
        ASSERT_TRUE(CopyFileW(library.c_str(), copy.c_str(), FALSE)) << GetLastError();
        // The platform reads the copy as the library itself.
        ASSERT_EQ(test::ExtractedPixels(library, 2), test::ExtractedPixels(copy, 2));
        for (int position = 0; position < 4; ++position) {
            const unsigned id = test::IconIdLibraryIds[position];
            EXPECT_EQ(position, FindIconOfResourceId(copy.c_str(), id)) << id;
            EXPECT_EQ(position, IconListPosition(copy.c_str(), -static_cast<std::int32_t>(id))) << id;
        }
        EXPECT_EQ(-1, FindIconOfResourceId(copy.c_str(), 102));
    }
}

TEST(FindIconOfResourceId, WineShell32AgreesWithItsOwnExtraction)
{
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, static_cast<UINT>(std::size(system)));
    const std::wstring shell32 = std::wstring(system) + L"\\shell32.dll";
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
    const std::wstring library = test::IconIdLibraryPath();
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

namespace {

// An icon file's bytes: a header (reserved, type, claimed count) and one directory entry
// per given image (its size and offset), followed by `tail`.
struct CraftedImage {
    std::uint32_t Size;
    std::uint32_t Offset;
};

std::string CraftIconFile(std::uint16_t reserved, std::uint16_t type, std::uint16_t count,
                          std::initializer_list<CraftedImage> images, std::size_t tail)
{
    std::string out;
    auto put = [&out](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    put(reserved, 2);
    put(type, 2);
    put(count, 2);
    for (const CraftedImage& image : images) {
        put(0x1010, 2);
        put(0, 2);
        put(1, 2);
        put(32, 2);
        put(image.Size, 4);
        put(image.Offset, 4);
    }
    out.append(tail, '\0');
    return out;
}

} // namespace

// Icon files whose directory does not fit the file, each refused by the check on its
// bytes and, as a real file, before the platform's parser reads it (counting its icons
// gives none, and does not crash the process); sound ones pass and count.
TEST(IconFileCheck, DirectoriesThatDoNotFitTheFileAreRefused)
{
    test::TempDir dir;
    struct Case {
        const char* Name;
        std::string Bytes;
        const wchar_t* FileName;
        IconFileState State;
    };
    // One entry takes 6 + 16 = 22 bytes of header and directory; two take 38.
    const Case cases[] = {
        {"sound", CraftIconFile(0, 1, 1, {{40, 22}}, 40), L"sound.ico", IconFileState::IconFile},
        {"two images, the second last in the file", CraftIconFile(0, 1, 2, {{40, 38}, {10, 78}}, 50),
         L"two.ico", IconFileState::IconFile},
        {"cursor file", CraftIconFile(0, 2, 1, {{40, 22}}, 40), L"pointer.cur", IconFileState::IconFile},
        {"65,535 images claimed", CraftIconFile(0, 1, 65535, {{40, 22}}, 40), L"many.ico", IconFileState::Damaged},
        {"image at 0x7FFFFFFF", CraftIconFile(0, 1, 1, {{40, 0x7FFFFFFF}}, 40), L"far.ico", IconFileState::Damaged},
        {"offset and size wrap past 2^32", CraftIconFile(0, 1, 1, {{0xFFFFFFF0u, 0x20}}, 40), L"wraps.ico",
         IconFileState::Damaged},
        {"image one byte past the end", CraftIconFile(0, 1, 1, {{41, 22}}, 40), L"past.ico", IconFileState::Damaged},
        {"image inside the directory", CraftIconFile(0, 1, 1, {{40, 6}}, 40), L"inside.ico", IconFileState::Damaged},
        {"empty image", CraftIconFile(0, 1, 1, {{0, 22}}, 40), L"empty-image.ico", IconFileState::Damaged},
        {"zero images", CraftIconFile(0, 1, 0, {}, 40), L"none.ico", IconFileState::Damaged},
        {"truncated directory", CraftIconFile(0, 1, 2, {{40, 38}}, 0), L"cut.ico", IconFileState::Damaged},
        {"header only", CraftIconFile(0, 1, 1, {}, 0), L"header.ico", IconFileState::Damaged},
        {"shorter than a header", std::string("\0\0\1\0", 4), L"short.ico", IconFileState::Damaged},
        {"reserved field set", CraftIconFile(1, 1, 1, {{40, 22}}, 40), L"reserved.ico", IconFileState::Damaged},
        {"type of neither", CraftIconFile(0, 3, 1, {{40, 22}}, 40), L"type3.ico", IconFileState::Damaged},
        // The platform reads by content: a damaged icon file by any name is refused, and
        // what is no icon file by another name is left to the platform.
        {"damaged, named as a library", CraftIconFile(0, 1, 65535, {{40, 22}}, 40), L"many.dll",
         IconFileState::Damaged},
        {"type of neither, named as a library", CraftIconFile(0, 3, 1, {{40, 22}}, 40), L"type3.dll",
         IconFileState::NotIconFile},
        {"a module's header", std::string("MZ\1\0\xFF\xFF", 6) + std::string(40, '\0'), L"module.dll",
         IconFileState::NotIconFile},
        {"empty file", std::string(), L"empty.ico", IconFileState::NotIconFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto* bytes = reinterpret_cast<const unsigned char*>(c.Bytes.data());
        if (c.State != IconFileState::NotIconFile && c.Bytes.size() >= 4 && c.Bytes[2] != 3) {
            EXPECT_TRUE(ReadsAsIconFile(bytes, c.Bytes.size()));
            EXPECT_EQ(c.State == IconFileState::IconFile, IconDirectoryFits(bytes, c.Bytes.size(), c.Bytes.size()));
        }
        const std::wstring file = dir.MakeFile(c.FileName, c.Bytes);
        EXPECT_EQ(c.State, CheckIconFile(file.c_str()));
        if (c.State == IconFileState::Damaged) {
            EXPECT_EQ(0u, CountIcons(file.c_str()));
        }
    }
    // A real icon file, as the tests' own writer makes them, is sound and counts.
    const std::wstring real = test::WriteIconFile(dir.Path() + L"\\real.ico", 3);
    EXPECT_EQ(IconFileState::IconFile, CheckIconFile(real.c_str()));
    EXPECT_EQ(1u, CountIcons(real.c_str()));
    EXPECT_EQ(IconFileState::NotIconFile, CheckIconFile((dir.Path() + L"\\missing.ico").c_str()));
    EXPECT_EQ(IconFileState::NotIconFile, CheckIconFile(test::Shell32Path().c_str()));
}
