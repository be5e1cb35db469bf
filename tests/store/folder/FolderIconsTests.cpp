#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "FolderIcons.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"
#include "UnicodeNames.h"

using namespace orvane;
using test::LocationText;
using test::ProductRoot;
using test::FolderClassIconKey;
using test::FolderClassIconText;
using test::Contains;
using test::ReadFileText;
using test::DesktopIniText;

namespace {


// The Folder class's icon, set to a known text for the test and put back afterwards.
class KnownFolderClassIcon {
public:
    KnownFolderClassIcon() { test::WriteString(HKEY_CLASSES_ROOT, FolderClassIconKey, L"", FolderClassIconText); }

private:
    test::KeyGuard guard_{HKEY_CLASSES_ROOT, FolderClassIconKey};
};

void ExpectFolderClassIcon(const std::optional<IconLocation>& location, const std::wstring& folder)
{
    ASSERT_TRUE(location);
    EXPECT_STREQ(L"C:\\icons\\folder-class.ico", location->IconPath);
    EXPECT_EQ(7, location->Index);
    EXPECT_STREQ(L"Folder", location->TypeKey);
    EXPECT_EQ(folder, location->TargetName);
}

// A file's bytes in UTF-16 LE after a byte order mark, as Windows writes Desktop.ini
// for the folders it sets up.
std::string Utf16File(const std::wstring& text)
{
    std::string bytes = "\xFF\xFE";
    for (const wchar_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

// Writes a REG_SZ value through the 8-bit call, as earlier builds of this extension wrote
// their values: the registry stores it in UTF-16, converted from the ANSI code page.
bool WriteNarrow(HKEY root, const wchar_t* path, const char* name, const void* data, DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG status = RegSetValueExA(key, name, 0, REG_SZ, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// A path that code page 1252 cannot hold: CJK, a surrogate pair and Hebrew.
constexpr wchar_t WideIconPath[] = L"C:\\icons\\\u5199\u771F\\\U0001F4C1 \u05E9.ico";

// A file's bytes as one UTF-16 unit each, so that texts compare byte for byte.
std::wstring ByteUnits(const std::string& bytes)
{
    std::wstring units;
    for (const char byte : bytes)
        units.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    return units;
}

// A profile's text without its IconFile, IconIndex and IconResource lines, every other
// line kept as it stands with its line end.
std::wstring WithoutIconEntries(const std::wstring& text)
{
    std::wstring kept;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(L'\n', start);
        end = end == std::wstring::npos ? text.size() : end + 1;
        const std::wstring line = text.substr(start, end - start);
        bool icon = false;
        for (const wchar_t* entry : {L"IconFile=", L"IconIndex=", L"IconResource="})
            icon = icon || line.rfind(entry, 0) == 0;
        if (!icon)
            kept += line;
        start = end;
    }
    return kept;
}

std::wstring Entry(const std::wstring& desktopIni, const wchar_t* section, const wchar_t* name)
{
    wchar_t text[600] = {};
    GetPrivateProfileStringW(section, name, L"", text, static_cast<DWORD>(std::size(text)), desktopIni.c_str());
    return text;
}

int CountEntries(const std::wstring& folder)
{
    int count = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (std::wstring(data.cFileName) != L"." && std::wstring(data.cFileName) != L"..")
            ++count;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return count;
}

} // namespace

TEST(FormatDesktopIniPath, OneBackslashWhateverTheFolderEndsWith)
{
    wchar_t out[TextCapacity];
    ASSERT_TRUE(FormatDesktopIniPath(L"C:\\Data", out));
    EXPECT_STREQ(L"C:\\Data\\Desktop.ini", out);
    ASSERT_TRUE(FormatDesktopIniPath(L"C:\\Data\\", out));
    EXPECT_STREQ(L"C:\\Data\\Desktop.ini", out);
    ASSERT_TRUE(FormatDesktopIniPath(L"C:\\", out));
    EXPECT_STREQ(L"C:\\Desktop.ini", out);
    EXPECT_FALSE(FormatDesktopIniPath(L"", out));
    EXPECT_FALSE(FormatDesktopIniPath(nullptr, out));
}

TEST(FormatDesktopIniPath, RefusesWhatDoesNotFitInsteadOfCuttingIt)
{
    wchar_t out[TextCapacity];
    const std::wstring fits = L"C:\\" + std::wstring(244, L'f'); // 247 + "\Desktop.ini" = 259
    ASSERT_TRUE(FormatDesktopIniPath(fits.c_str(), out));
    EXPECT_EQ(259u, std::wstring(out).size());
    const std::wstring tooLong = fits + L"g";
    EXPECT_FALSE(FormatDesktopIniPath(tooLong.c_str(), out));
    EXPECT_STREQ(L"", out);
    // A trailing backslash takes no extra room.
    EXPECT_TRUE(FormatDesktopIniPath((fits + L"\\").c_str(), out));
}

TEST(FolderIcons, WriteAndReadThroughEitherSpellingOfTheFolder)
{
    test::TempDir dir;
    const std::wstring withSlash = dir.Path() + L"\\";
    IconLocation location(L"C:\\icons\\set.icl", withSlash.c_str(), 3);
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(location));

    const std::wstring desktopIni = dir.Path() + L"\\Desktop.ini";
    const std::wstring text = DesktopIniText(desktopIni);
    EXPECT_TRUE(Contains(text, L"[.ShellClassInfo]"));
    EXPECT_TRUE(Contains(text, L"IconFile=C:\\icons\\set.icl"));
    EXPECT_TRUE(Contains(text, L"IconIndex=3"));
    EXPECT_TRUE(Contains(text, L"IconResource=C:\\icons\\set.icl,3"));

    for (const std::wstring& folder : {dir.Path(), withSlash}) {
        const auto read = ReadFolderIcon(folder.c_str());
        ASSERT_TRUE(read) << folder;
        EXPECT_STREQ(L"C:\\icons\\set.icl", read->IconPath);
        EXPECT_EQ(3, read->Index);
        EXPECT_STREQ(L"", read->TypeKey);
        EXPECT_EQ(folder, read->TargetName);
    }

    const DWORD fileAttributes = GetFileAttributesW(desktopIni.c_str());
    const DWORD folderAttributes = GetFileAttributesW(dir.Path().c_str());
    EXPECT_TRUE(fileAttributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(fileAttributes & (FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(folderAttributes & FILE_ATTRIBUTE_SYSTEM);
    EXPECT_FALSE(folderAttributes & FILE_ATTRIBUTE_READONLY);
}

TEST(FolderIcons, NegativeIndexesAreWrittenSigned)
{
    KnownFolderClassIcon folderClass;
    test::TempDir dir;
    struct Case {
        std::int32_t Index;
        const wchar_t* Text;
    } cases[] = {{-3, L"-3"}, {INT32_MIN, L"-2147483648"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(test::Utf8(c.Text));
        ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(L"C:\\a.dll", dir.Path().c_str(), c.Index)));
        const std::wstring text = DesktopIniText(dir.Path() + L"\\Desktop.ini");
        EXPECT_TRUE(Contains(text, L"IconIndex=" + std::wstring(c.Text) + L"\r\n"));
        EXPECT_TRUE(Contains(text, L"IconResource=C:\\a.dll," + std::wstring(c.Text) + L"\r\n"));
        auto read = ReadFolderIcon(dir.Path().c_str());
        ASSERT_TRUE(read);
        EXPECT_EQ(c.Index, read->Index);
    }

    // -99 is the "no entry" default of the read, so it comes back as the Folder class.
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(L"C:\\a.dll", dir.Path().c_str(), NoIndex)));
    EXPECT_TRUE(Contains(DesktopIniText(dir.Path() + L"\\Desktop.ini"), L"IconIndex=-99"));
    EXPECT_TRUE(Contains(DesktopIniText(dir.Path() + L"\\Desktop.ini"), L"IconResource=C:\\a.dll,-99"));
    ExpectFolderClassIcon(ReadFolderIcon(dir.Path().c_str()), dir.Path());
}

TEST(FolderIcons, IndexWithoutFileAndFileWithoutIndex)
{
    KnownFolderClassIcon folderClass;
    test::TempDir dir;
    const std::wstring indexOnly = dir.MakeFolder(L"indexOnly");
    const std::wstring fileOnly = dir.MakeFolder(L"fileOnly");
    const std::wstring empty = dir.MakeFolder(L"empty");
    dir.MakeFile(L"indexOnly\\Desktop.ini", "[.ShellClassInfo]\r\nIconIndex=5\r\n");
    dir.MakeFile(L"fileOnly\\Desktop.ini", "[.ShellClassInfo]\r\nIconFile=C:\\x.ico\r\n");

    const auto read = ReadFolderIcon(indexOnly.c_str());
    ASSERT_TRUE(read);
    EXPECT_STREQ(L"", read->IconPath);
    EXPECT_EQ(5, read->Index);
    // Windows shows icon 0 of an IconFile without IconIndex; no index was written.
    EXPECT_EQ(L"C:\\x.ico,-99||" + fileOnly, LocationText(ReadFolderIcon(fileOnly.c_str())));
    ExpectFolderClassIcon(ReadFolderIcon(empty.c_str()), empty);
    const std::wstring missing = dir.Path() + L"\\missing";
    ExpectFolderClassIcon(ReadFolderIcon(missing.c_str()), missing);
}

TEST(FolderIcons, FolderClassWithoutIconReadsAsNone)
{
    test::KeyGuard guard(HKEY_CLASSES_ROOT, FolderClassIconKey);
    test::KeyGuard curVer(HKEY_CLASSES_ROOT, L"Folder\\CurVer");
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, FolderClassIconKey));
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, L"Folder\\CurVer"));
    test::TempDir dir;
    EXPECT_FALSE(ReadFolderIcon(dir.Path().c_str()));
}

TEST(FolderIcons, FolderClassIconReachedThroughCurVer)
{
    const std::wstring versioned = test::UniqueName(L"Folder");
    test::KeyGuard guard(HKEY_CLASSES_ROOT, FolderClassIconKey);
    test::KeyGuard curVer(HKEY_CLASSES_ROOT, L"Folder\\CurVer");
    test::KeyGuard versionedGuard(HKEY_CLASSES_ROOT, versioned);
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, FolderClassIconKey));
    test::WriteString(HKEY_CLASSES_ROOT, L"Folder\\CurVer", L"", versioned);
    test::WriteString(HKEY_CLASSES_ROOT, versioned + L"\\DefaultIcon", L"", L"C:\\v.ico,2");

    test::TempDir dir;
    EXPECT_EQ(L"C:\\v.ico,2|" + versioned + L"|" + dir.Path(), LocationText(ReadFolderIcon(dir.Path().c_str())));
}

TEST(FolderIcons, HiddenDesktopIniKeepsItsAttributesAndFolderGetsSystemOnEveryWrite)
{
    test::TempDir dir;
    const std::wstring desktopIni = dir.MakeFile(L"Desktop.ini", "[.ShellClassInfo]\r\nIconIndex=1\r\n");
    ASSERT_TRUE(SetFileAttributesW(desktopIni.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    const DWORD before = GetFileAttributesW(desktopIni.c_str());

    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(L"C:\\a.ico", dir.Path().c_str(), 1)));
    EXPECT_EQ(before, GetFileAttributesW(desktopIni.c_str()));
    EXPECT_TRUE(GetFileAttributesW(dir.Path().c_str()) & FILE_ATTRIBUTE_SYSTEM);

    // Someone takes the system attribute away; the next write puts it back.
    ASSERT_TRUE(SetFileAttributesW(dir.Path().c_str(), FILE_ATTRIBUTE_NORMAL));
    ASSERT_FALSE(GetFileAttributesW(dir.Path().c_str()) & FILE_ATTRIBUTE_SYSTEM);
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(L"C:\\b.ico", dir.Path().c_str(), 2)));
    EXPECT_TRUE(GetFileAttributesW(dir.Path().c_str()) & FILE_ATTRIBUTE_SYSTEM);
    const auto read = ReadFolderIcon(dir.Path().c_str());
    ASSERT_TRUE(read);
    EXPECT_STREQ(L"C:\\b.ico", read->IconPath);
    EXPECT_EQ(2, read->Index);
}

TEST(FolderIcons, OtherEntriesAndSectionsAreKept)
{
    test::TempDir dir;
    const std::wstring desktopIni = dir.MakeFile(L"Desktop.ini",
        "[.ShellClassInfo]\r\nInfoTip=Project files\r\nConfirmFileOp=0\r\n[ViewState]\r\nMode=4\r\n");
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(L"C:\\a.ico", dir.Path().c_str(), 4)));
    const std::wstring text = DesktopIniText(desktopIni);
    EXPECT_TRUE(Contains(text, L"InfoTip=Project files"));
    EXPECT_TRUE(Contains(text, L"ConfirmFileOp=0"));
    EXPECT_TRUE(Contains(text, L"[ViewState]"));
    EXPECT_TRUE(Contains(text, L"Mode=4"));
    EXPECT_TRUE(Contains(text, L"IconIndex=4"));
}

// An ANSI Desktop.ini with more than the icon in it (a localized name, a tooltip with
// characters of code page 1252, a view state): an icon path that the code page holds
// leaves it ANSI, byte for byte as it was but for the icon's entries; one that it cannot
// hold turns it into UTF-16 LE with every section and entry kept, the ANSI characters
// among them; and it stays UTF-16 from then on. Its attributes never change.
TEST(FolderIcons, AnsiDesktopIniStaysAnsiUntilAnIconNeedsUtf16)
{
    test::TempDir dir;
    const std::string original = "[.ShellClassInfo]\r\n"
                                 "LocalizedResourceName=@%SystemRoot%\\system32\\shell32.dll,-21790\r\n"
                                 "InfoTip=Caf\xE9 r\xE9sum\xE9s\r\n"
                                 "IconFile=C:\\old.ico\r\n"
                                 "IconIndex=1\r\n"
                                 "ConfirmFileOp=0\r\n"
                                 "[ViewState]\r\n"
                                 "Mode=\r\n"
                                 "Vid=\r\n"
                                 "FolderType=Documents\r\n";
    const std::wstring desktopIni = dir.MakeFile(L"Desktop.ini", original);
    ASSERT_TRUE(SetFileAttributesW(desktopIni.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    const DWORD attributes = GetFileAttributesW(desktopIni.c_str());
    const std::wstring originalText = DesktopIniText(desktopIni);
    ASSERT_TRUE(Contains(originalText, L"InfoTip=Caf\u00E9 r\u00E9sum\u00E9s\r\n"));

    for (const wchar_t* iconText : {L"C:\\icons\\a.ico", L"C:\\Ic\u00F4nes\\b.ico"}) {
        const std::wstring icon = iconText;
        SCOPED_TRACE(test::Utf8(icon));
        ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(icon.c_str(), dir.Path().c_str(), 4)));
        const std::string bytes = ReadFileText(desktopIni);
        EXPECT_EQ(WithoutIconEntries(ByteUnits(original)), WithoutIconEntries(ByteUnits(bytes)));
        EXPECT_EQ(icon, Entry(desktopIni, L".ShellClassInfo", L"IconFile"));
        EXPECT_EQ(icon + L",4", Entry(desktopIni, L".ShellClassInfo", L"IconResource"));
        EXPECT_EQ(attributes, GetFileAttributesW(desktopIni.c_str()));
    }
    // In the code page's own bytes.
    EXPECT_TRUE(Contains(ReadFileText(desktopIni), "IconFile=C:\\Ic\xF4nes\\b.ico\r\n"));

    for (const wchar_t* iconText : {WideIconPath, L"C:\\icons\\a.ico"}) {
        const std::wstring icon = iconText;
        SCOPED_TRACE(test::Utf8(icon));
        ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(icon.c_str(), dir.Path().c_str(), 5)));
        EXPECT_EQ("\xFF\xFE", ReadFileText(desktopIni).substr(0, 2));
        EXPECT_EQ(WithoutIconEntries(originalText), WithoutIconEntries(DesktopIniText(desktopIni)));
        EXPECT_EQ(icon, Entry(desktopIni, L".ShellClassInfo", L"IconFile"));
        EXPECT_EQ(L"5", Entry(desktopIni, L".ShellClassInfo", L"IconIndex"));
        EXPECT_EQ(icon + L",5", Entry(desktopIni, L".ShellClassInfo", L"IconResource"));
        EXPECT_EQ(L"Caf\u00E9 r\u00E9sum\u00E9s", Entry(desktopIni, L".ShellClassInfo", L"InfoTip"));
        EXPECT_EQ(L"Documents", Entry(desktopIni, L"ViewState", L"FolderType"));
        EXPECT_EQ(attributes, GetFileAttributesW(desktopIni.c_str()));
        EXPECT_EQ(icon + L",5||" + dir.Path(), LocationText(ReadFolderIcon(dir.Path().c_str())));
    }
}

TEST(FolderIcons, HostileDesktopIniEntries)
{
    test::TempDir dir;
    struct Case {
        const wchar_t* Name;
        std::string Content; // the file's bytes
        bool Found;
        std::wstring IconPath;
        std::int32_t Index;
    };
    const std::string fits(259, 'p');
    // The same limits in a file written in UTF-16 are counted in UTF-16 units; a
    // surrogate pair comes last.
    const std::wstring wideFits = std::wstring(257, L'\u0436') + L"\U0001F4C1";
    const std::wstring wideOver = std::wstring(258, L'\u0436') + L"\U0001F4C1";
    const std::wstring wideLongest = std::wstring(257, L'\u5199') + L"\U0001F4C1";
    const Case cases[] = {
        // A path longer than the 259-character read buffer would come back cut into another.
        {L"huge", "[.ShellClassInfo]\r\nIconFile=" + std::string(2000, 'h') + "\r\nIconIndex=1\r\n", false, L"", 0},
        {L"justOver", "[.ShellClassInfo]\r\nIconFile=" + std::string(260, 'j') + "\r\nIconIndex=1\r\n", false, L"", 0},
        {L"fits", "[.ShellClassInfo]\r\nIconFile=" + fits + "\r\nIconIndex=6\r\n", true, std::wstring(259, L'p'), 6},
        {L"justOverAlone", "[.ShellClassInfo]\r\nIconFile=" + std::string(260, 'j') + "\r\n", false, L"", 0},
        {L"fitsAlone", "[.ShellClassInfo]\r\nIconFile=" + fits + "\r\n", true, std::wstring(259, L'p'), NoIndex},
        // What Windows reads as icon 0: an IconFile without IconIndex, or with an empty
        // one, and an IconResource that is a path alone (where nothing else names an icon).
        {L"fileAlone", "[.ShellClassInfo]\r\nIconFile=C:\\a.ico\r\n", true, L"C:\\a.ico", NoIndex},
        {L"emptyIndex", "[.ShellClassInfo]\r\nIconFile=C:\\a.ico\r\nIconIndex=\r\n", true, L"C:\\a.ico", NoIndex},
        {L"resourceAlone", "[.ShellClassInfo]\r\nIconResource=C:\\r.dll\r\n", true, L"C:\\r.dll", NoIndex},
        {L"resourceAloneEmptyIndex", "[.ShellClassInfo]\r\nIconResource=C:\\r.dll\r\nIconIndex=\r\n", true, L"C:\\r.dll", NoIndex},
        {L"letters", "[.ShellClassInfo]\r\nIconFile=C:\\a.ico\r\nIconIndex=abc\r\n", true, L"C:\\a.ico", 0},
        {L"trailing", "[.ShellClassInfo]\r\nIconFile=C:\\a.ico\r\nIconIndex=12abc\r\n", true, L"C:\\a.ico", 12},
        {L"binary", std::string("[.ShellClassInfo]\r\nIconFile=C:\\a\x01\x7f.ico\r\nIconIndex=2\r\n"), true, L"C:\\a\x01\x7f.ico", 2},
        // IconResource, where it names a location, stands over IconFile/IconIndex as in Explorer.
        {L"resourceWins", "[.ShellClassInfo]\r\nIconFile=C:\\a.ico\r\nIconIndex=1\r\nIconResource=C:\\r.dll,-7\r\n", true, L"C:\\r.dll", -7},
        {L"resourceCut", "[.ShellClassInfo]\r\nIconResource=" + std::string(300, 'r') + ",1\r\nIconFile=C:\\a.ico\r\nIconIndex=2\r\n", true, L"C:\\a.ico", 2},
        {L"resourceNoIndex", "[.ShellClassInfo]\r\nIconResource=C:\\r.dll\r\nIconFile=C:\\a.ico\r\nIconIndex=3\r\n", true, L"C:\\a.ico", 3},
        {L"resourceLetters", "[.ShellClassInfo]\r\nIconResource=C:\\r.dll,4x\r\nIconFile=C:\\a.ico\r\nIconIndex=4\r\n", true, L"C:\\a.ico", 4},
        {L"resourceNinetyNine", "[.ShellClassInfo]\r\nIconResource=C:\\r.dll,-99\r\nIconFile=C:\\a.ico\r\nIconIndex=5\r\n", true, L"C:\\a.ico", 5},
        {L"resourceOtherSection", "[Other]\r\nIconResource=C:\\r.dll,6\r\n[.ShellClassInfo]\r\nIconFile=C:\\a.ico\r\nIconIndex=6\r\n", true, L"C:\\a.ico", 6},
        {L"resourceLongest", "[.ShellClassInfo]\r\nIconResource=" + std::string(259, 'l') + ",-2147483648\r\n", true, std::wstring(259, L'l'), INT32_MIN},
        // An ANSI file's characters are those of the ANSI code page.
        {L"ansi", "[.ShellClassInfo]\r\nIconFile=C:\\Ic\xF4nes\\a.ico\r\nIconIndex=7\r\n", true, L"C:\\Ic\u00F4nes\\a.ico", 7},
        // A UTF-16 file holds what the ANSI code page cannot.
        {L"wide", Utf16File(L"[.ShellClassInfo]\r\nIconFile=C:\\\u041F\u0440\\\U0001F4C1.ico\r\nIconIndex=8\r\n"), true, L"C:\\\u041F\u0440\\\U0001F4C1.ico", 8},
        {L"wideFits", Utf16File(L"[.ShellClassInfo]\r\nIconFile=" + wideFits + L"\r\nIconIndex=6\r\n"), true, wideFits, 6},
        {L"wideJustOver", Utf16File(L"[.ShellClassInfo]\r\nIconFile=" + wideOver + L"\r\nIconIndex=1\r\n"), false, L"", 0},
        {L"wideResourceLongest", Utf16File(L"[.ShellClassInfo]\r\nIconResource=" + wideLongest + L",-5\r\n"), true, wideLongest, -5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::wstring folder = dir.MakeFolder(c.Name);
        dir.MakeFile(std::wstring(c.Name) + L"\\Desktop.ini", c.Content);
        const auto read = ReadFolderIcon(folder.c_str());
        ASSERT_EQ(c.Found, read.has_value());
        if (read) {
            EXPECT_EQ(c.IconPath, read->IconPath);
            EXPECT_EQ(c.Index, read->Index);
        }
    }
}

TEST(FolderIcons, LongestIconPathIsWrittenAndReadWhole)
{
    test::TempDir dir;
    // The longest path any place holds: 259 characters, in all three entries.
    const std::wstring longest(259, L'p');
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(longest.c_str(), dir.Path().c_str(), -2147483647 - 1)));
    const std::wstring desktopIni = dir.Path() + L"\\Desktop.ini";
    EXPECT_EQ(longest, Entry(desktopIni, L".ShellClassInfo", L"IconFile"));
    EXPECT_EQ(longest + L",-2147483648", Entry(desktopIni, L".ShellClassInfo", L"IconResource"));
    EXPECT_EQ(longest + L",-2147483648||" + dir.Path(), LocationText(ReadFolderIcon(dir.Path().c_str())));
    // A field without its terminator is refused, not read beyond.
    IconLocation unterminated(L"", dir.Path().c_str(), 1);
    std::fill(std::begin(unterminated.IconPath), std::end(unterminated.IconPath), L'u');
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteFolderIcon(unterminated));
    EXPECT_EQ(longest, Entry(desktopIni, L".ShellClassInfo", L"IconFile"));
}

TEST(FolderIcons, LongFolderPathIsRefusedNotCut)
{
    KnownFolderClassIcon folderClass;
    test::TempDir dir;
    std::wstring folder = dir.Path() + L"\\";
    folder += std::wstring(248 - folder.size(), L'd'); // 248 + "\Desktop.ini" = 260
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, WriteFolderIcon(IconLocation(L"C:\\a.ico", folder.c_str(), 1)));
    EXPECT_EQ(0, CountEntries(dir.Path()));
    // Its profile file cannot be named, so nothing is known about its icon, not even
    // the Folder class's.
    EXPECT_FALSE(ReadFolderIcon(folder.c_str()));
}

TEST(FolderIcons, MissingFolderFailsAndIsNotCreated)
{
    test::TempDir dir;
    const std::wstring missing = dir.Path() + L"\\missing";
    const LONG status = WriteFolderIcon(IconLocation(L"C:\\a.ico", missing.c_str(), 1));
    EXPECT_NE(ERROR_SUCCESS, status);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(missing.c_str()));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, WriteFolderIcon(IconLocation(L"C:\\a.ico", L"", 1)));
}

// A profile file that cannot be written (here: held open without sharing by another
// program, or a folder of that name) is reported, and nothing else changes, whether the
// icon's path would keep the file ANSI or need it turned into UTF-16. The read-only
// attribute cannot stand in for it in this bench: Wine ignores it on folders, and the
// tests run as root, whom the file system lets write read-only files.
TEST(FolderIcons, UnwritableDesktopIniFailsAndChangesNothing)
{
    for (const wchar_t* icon : {L"C:\\new.ico", WideIconPath}) {
        SCOPED_TRACE(test::Utf8(icon));
        test::TempDir dir;
        const std::wstring locked = dir.MakeFolder(L"locked");
        const std::string content = "[.ShellClassInfo]\r\nIconFile=C:\\old.ico\r\nIconIndex=1\r\n";
        const std::wstring desktopIni = dir.MakeFile(L"locked\\Desktop.ini", content);
        HANDLE holder = CreateFileW(desktopIni.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, holder);
        const LONG status = WriteFolderIcon(IconLocation(icon, locked.c_str(), 2));
        CloseHandle(holder);
        EXPECT_NE(ERROR_SUCCESS, status);
        EXPECT_EQ(content, ReadFileText(desktopIni));
        EXPECT_FALSE(GetFileAttributesW(locked.c_str()) & FILE_ATTRIBUTE_SYSTEM);
        EXPECT_FALSE(GetFileAttributesW(desktopIni.c_str()) & FILE_ATTRIBUTE_HIDDEN);

        const std::wstring blocked = dir.MakeFolder(L"blocked");
        dir.MakeFolder(L"blocked\\Desktop.ini");
        EXPECT_NE(ERROR_SUCCESS, WriteFolderIcon(IconLocation(icon, blocked.c_str(), 2)));
        EXPECT_FALSE(GetFileAttributesW(blocked.c_str()) & FILE_ATTRIBUTE_SYSTEM);
    }
}

// The file is turned into UTF-16 through a handle that lets others read it meanwhile but
// not write it: a program that holds it open for reading (an indexer, the shell) does not
// stop the change, as it does not stop the profile functions; one that holds it open for
// writing, which could change it between the reading and the writing, does.
TEST(FolderIcons, DesktopIniHeldOpenForReadingIsStillTurnedIntoUtf16)
{
    test::TempDir dir;
    const std::string content = "[.ShellClassInfo]\r\nIconFile=C:\\old.ico\r\nIconIndex=1\r\nInfoTip=kept\r\n";
    const std::wstring desktopIni = dir.MakeFile(L"Desktop.ini", content);
    HANDLE reader = CreateFileW(desktopIni.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    const LONG read = WriteFolderIcon(IconLocation(WideIconPath, dir.Path().c_str(), 2));
    CloseHandle(reader);
    ASSERT_EQ(ERROR_SUCCESS, read);
    EXPECT_EQ("\xFF\xFE", ReadFileText(desktopIni).substr(0, 2));
    EXPECT_EQ(WideIconPath, Entry(desktopIni, L".ShellClassInfo", L"IconFile"));
    EXPECT_EQ(L"kept", Entry(desktopIni, L".ShellClassInfo", L"InfoTip"));

    const std::wstring other = dir.MakeFolder(L"written");
    const std::wstring otherDesktopIni = dir.MakeFile(L"written\\Desktop.ini", content);
    HANDLE writer = CreateFileW(otherDesktopIni.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    const LONG written = WriteFolderIcon(IconLocation(WideIconPath, other.c_str(), 2));
    CloseHandle(writer);
    EXPECT_NE(ERROR_SUCCESS, written);
    EXPECT_EQ(content, ReadFileText(otherDesktopIni));
}

// An ANSI file too large to be a folder's settings (over 1 MiB) is not read whole to be
// turned into UTF-16: an icon that needs UTF-16 is refused rather than written into it
// as "?", and the file stays as it was. One that the code page holds is written.
TEST(FolderIcons, DesktopIniTooLargeToTurnIntoUtf16RefusesTheIconThatNeedsIt)
{
    test::TempDir dir;
    std::string content = "[.ShellClassInfo]\r\nIconFile=C:\\old.ico\r\nIconIndex=1\r\n[Notes]\r\n";
    for (int line = 0; content.size() <= 1024 * 1024; ++line)
        content += "Note" + std::to_string(line) + "=" + std::string(100, 'n') + "\r\n";
    const std::wstring desktopIni = dir.MakeFile(L"Desktop.ini", content);
    EXPECT_EQ(ERROR_FILE_TOO_LARGE, WriteFolderIcon(IconLocation(WideIconPath, dir.Path().c_str(), 2)));
    EXPECT_TRUE(content == ReadFileText(desktopIni));
    EXPECT_FALSE(GetFileAttributesW(dir.Path().c_str()) & FILE_ATTRIBUTE_SYSTEM);

    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(L"C:\\new.ico", dir.Path().c_str(), 2)));
    EXPECT_EQ(L"C:\\new.ico", Entry(desktopIni, L".ShellClassInfo", L"IconFile"));
    EXPECT_NE("\xFF\xFE", ReadFileText(desktopIni).substr(0, 2));
}

TEST(FolderIcons, ShellReportsTheWrittenIcon)
{
    // Wine's shell reads Desktop.ini of a system folder and reports its index; it does
    // not hand back the IconFile text for folders, so the index is the witness here.
    test::TempDir icons;
    test::TempDir dir;
    const std::wstring library = test::WriteIconFile(icons.Path() + L"\\set.ico", 50);
    SHFILEINFOW before = {};
    ASSERT_NE(0u, SHGetFileInfoW(dir.Path().c_str(), 0, &before, sizeof before, SHGFI_ICONLOCATION));
    for (int index : {41, 17}) {
        ASSERT_NE(before.iIcon, index);
        ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(library.c_str(), dir.Path().c_str(), index)));
        SHFILEINFOW info = {};
        ASSERT_NE(0u, SHGetFileInfoW(dir.Path().c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION));
        EXPECT_EQ(index, info.iIcon);
    }
}

TEST(FolderIcons, NamesTheCodePageCannotHold)
{
    // Wine's shell reports the index of a system folder's Desktop.ini (see above).
    test::TempDir icons;
    test::TempDir dir;
    for (const auto& name : test::UnicodeNames()) {
        SCOPED_TRACE(name.Label);
        const std::wstring library = test::WriteIconFile(icons.MakeFolder(name.Text) + L"\\" + name.Text + L".ico", 30);
        const std::wstring folder = dir.MakeFolder(name.Text);
        const std::wstring desktopIni = folder + L"\\Desktop.ini";
        ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(library.c_str(), folder.c_str(), 23)));

        // Only UTF-16 holds these characters in the file.
        const std::string bytes = ReadFileText(desktopIni);
        EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
        wchar_t entry[TextCapacity] = {};
        GetPrivateProfileStringW(L".ShellClassInfo", L"IconFile", L"", entry, static_cast<DWORD>(std::size(entry)),
                                 desktopIni.c_str());
        EXPECT_EQ(library, entry);
        GetPrivateProfileStringW(L".ShellClassInfo", L"IconResource", L"", entry, static_cast<DWORD>(std::size(entry)),
                                 desktopIni.c_str());
        EXPECT_EQ(library + L",23", entry);
        EXPECT_EQ(library + L",23||" + folder, LocationText(ReadFolderIcon(folder.c_str())));
        EXPECT_TRUE(GetFileAttributesW(desktopIni.c_str()) & FILE_ATTRIBUTE_HIDDEN);
        EXPECT_TRUE(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_SYSTEM);
        SHFILEINFOW info = {};
        ASSERT_NE(0u, SHGetFileInfoW(folder.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION));
        EXPECT_EQ(23, info.iIcon);
    }
}

TEST(FolderBackups, ShortFormStoredPerFolderWithOwnerOnRead)
{
    test::KeyGuard guard(HKEY_LOCAL_MACHINE, ProductRoot);
    IconLocation location(L"C:\\icons\\a.ico", L"ignored", 3);
    location.SetTypeKey(L"Folder");
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderBackup(location, L"C:\\Data"));

    std::wstring text;
    DWORD type = 0;
    ASSERT_TRUE(test::ReadValue(HKEY_LOCAL_MACHINE, FolderBackupKey, L"C:\\Data", &text, &type));
    EXPECT_EQ(L"C:\\icons\\a.ico,3", text);
    EXPECT_EQ(DWORD(REG_SZ), type);

    EXPECT_EQ(L"C:\\icons\\a.ico,3||C:\\Data", LocationText(ReadFolderBackup(L"C:\\Data")));

    ASSERT_EQ(ERROR_SUCCESS, WriteFolderBackup(IconLocation(L"C:\\b.ico", L"", NoIndex), L"C:\\Data"));
    ASSERT_TRUE(test::ReadValue(HKEY_LOCAL_MACHINE, FolderBackupKey, L"C:\\Data", &text));
    EXPECT_EQ(L"C:\\b.ico", text);
    EXPECT_EQ(NoIndex, ReadFolderBackup(L"C:\\Data")->Index);
}

TEST(FolderBackups, TrailingBackslashIsAnotherFolderButCaseIsNot)
{
    test::KeyGuard guard(HKEY_LOCAL_MACHINE, ProductRoot);
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderBackup(IconLocation(L"C:\\a.ico", L"", 1), L"C:\\Data"));
    EXPECT_FALSE(ReadFolderBackup(L"C:\\Data\\"));
    const auto other = ReadFolderBackup(L"c:\\DATA");
    ASSERT_TRUE(other);
    EXPECT_STREQ(L"c:\\DATA", other->TargetName);

    ASSERT_EQ(ERROR_SUCCESS, WriteFolderBackup(IconLocation(L"C:\\b.ico", L"", 2), L"C:\\Data\\"));
    EXPECT_EQ(1, ReadFolderBackup(L"C:\\Data")->Index);
    EXPECT_EQ(2, ReadFolderBackup(L"C:\\Data\\")->Index);

    ASSERT_EQ(ERROR_SUCCESS, DeleteFolderBackup(L"C:\\DATA"));
    EXPECT_FALSE(ReadFolderBackup(L"C:\\Data"));
    EXPECT_TRUE(ReadFolderBackup(L"C:\\Data\\"));
}

TEST(FolderBackups, LongFormValueGivesItsTypeKey)
{
    test::KeyGuard guard(HKEY_LOCAL_MACHINE, ProductRoot);
    test::WriteString(HKEY_LOCAL_MACHINE, FolderBackupKey, L"C:\\Data", L"C:\\a.ico,4,Folder");
    const auto read = ReadFolderBackup(L"C:\\Data");
    ASSERT_TRUE(read);
    EXPECT_STREQ(L"C:\\a.ico", read->IconPath);
    EXPECT_EQ(4, read->Index);
    EXPECT_STREQ(L"Folder", read->TypeKey);
}

TEST(FolderBackups, DeletionKeepsTheKeyAndFindsNothingToDeleteFine)
{
    test::KeyGuard guard(HKEY_LOCAL_MACHINE, ProductRoot);
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, ProductRoot));
    EXPECT_EQ(ERROR_SUCCESS, DeleteFolderBackup(L"C:\\Data"));
    EXPECT_FALSE(ReadFolderBackup(L"C:\\Data"));

    ASSERT_EQ(ERROR_SUCCESS, WriteFolderBackup(IconLocation(L"C:\\a.ico", L"", 1), L"C:\\Data"));
    EXPECT_EQ(ERROR_SUCCESS, DeleteFolderBackup(L"C:\\Data"));
    EXPECT_EQ(ERROR_SUCCESS, DeleteFolderBackup(L"C:\\Data"));
    EXPECT_TRUE(test::KeyExists(HKEY_LOCAL_MACHINE, FolderBackupKey));
}

TEST(FolderBackups, HostileValues)
{
    test::KeyGuard guard(HKEY_LOCAL_MACHINE, ProductRoot);
    const std::wstring big(600, L'b');
    test::WriteString(HKEY_LOCAL_MACHINE, FolderBackupKey, L"big", big + L",1");
    const wchar_t unterminated[] = {L'C', L':', L'\\', L'u', L',', L'5'};
    test::WriteValue(HKEY_LOCAL_MACHINE, FolderBackupKey, L"unterminated", REG_SZ, unterminated, sizeof unterminated);
    test::WriteString(HKEY_LOCAL_MACHINE, FolderBackupKey, L"longPath", std::wstring(300, L'p') + L",1");

    EXPECT_FALSE(ReadFolderBackup(L"big"));
    EXPECT_FALSE(ReadFolderBackup(L"longPath"));
    // The same through the 8-bit call, as earlier builds wrote their values.
    const std::string narrowLong = std::string(300, 'p') + ",1";
    ASSERT_TRUE(WriteNarrow(HKEY_LOCAL_MACHINE, FolderBackupKey, "narrowLongPath", narrowLong.c_str(),
                            DWORD(narrowLong.size() + 1)));
    const char narrowUnterminated[] = {'C', ':', '\\', 'n', ',', '6'};
    ASSERT_TRUE(WriteNarrow(HKEY_LOCAL_MACHINE, FolderBackupKey, "narrowUnterminated", narrowUnterminated,
                            sizeof narrowUnterminated));

    EXPECT_FALSE(ReadFolderBackup(L"big"));
    EXPECT_FALSE(ReadFolderBackup(L"longPath"));
    EXPECT_FALSE(ReadFolderBackup(L"narrowLongPath"));
    const auto read = ReadFolderBackup(L"unterminated");
    ASSERT_TRUE(read);
    EXPECT_STREQ(L"C:\\u", read->IconPath);
    EXPECT_EQ(5, read->Index);
    const auto narrow = ReadFolderBackup(L"narrowUnterminated");
    ASSERT_TRUE(narrow);
    EXPECT_STREQ(L"C:\\n", narrow->IconPath);
    EXPECT_EQ(6, narrow->Index);
}

TEST(FolderBackups, WrittenByTheEightBitCallsAreReadAndDeleted)
{
    test::KeyGuard guard(HKEY_LOCAL_MACHINE, ProductRoot);
    // A folder and an icon path with characters of the ANSI code page, as earlier builds
    // wrote them.
    const char text[] = "C:\\Ic\xF4nes\\a.ico,4";
    ASSERT_TRUE(WriteNarrow(HKEY_LOCAL_MACHINE, FolderBackupKey, "C:\\Donn\xE9" "es", text, sizeof text));
    EXPECT_EQ(L"C:\\Ic\u00F4nes\\a.ico,4||C:\\Donn\u00E9es", LocationText(ReadFolderBackup(L"C:\\Donn\u00E9es")));
    ASSERT_EQ(ERROR_SUCCESS, DeleteFolderBackup(L"C:\\Donn\u00E9es"));
    EXPECT_FALSE(ReadFolderBackup(L"C:\\Donn\u00E9es"));
    EXPECT_EQ(L"<none>", test::ValueText(HKEY_LOCAL_MACHINE, FolderBackupKey, L"C:\\Donn\u00E9es"));
}

TEST(FolderBackups, FoldersTheCodePageCannotHoldHaveABackupEach)
{
    test::KeyGuard guard(HKEY_LOCAL_MACHINE, ProductRoot);
    const auto& names = test::UnicodeNames();
    for (const auto& name : names) {
        const std::wstring icon = L"C:\\icons\\" + name.Text + L".ico";
        ASSERT_EQ(ERROR_SUCCESS, WriteFolderBackup(IconLocation(icon.c_str(), L"", 3), (L"C:\\" + name.Text).c_str()))
            << name.Label;
    }
    // Read only after all are written: names that the ANSI code page turned into the same
    // "?" would all find the last one.
    for (const auto& name : names) {
        SCOPED_TRACE(name.Label);
        const std::wstring folder = L"C:\\" + name.Text;
        const std::wstring icon = L"C:\\icons\\" + name.Text + L".ico";
        EXPECT_EQ(icon + L",3", test::ValueText(HKEY_LOCAL_MACHINE, FolderBackupKey, folder.c_str()));
        EXPECT_EQ(icon + L",3||" + folder, LocationText(ReadFolderBackup(folder.c_str())));
    }
    for (const auto& name : names) {
        SCOPED_TRACE(name.Label);
        const std::wstring folder = L"C:\\" + name.Text;
        ASSERT_EQ(ERROR_SUCCESS, DeleteFolderBackup(folder.c_str()));
        EXPECT_FALSE(ReadFolderBackup(folder.c_str()));
    }
}

TEST(FolderBackups, NoFolderNameNeverAddressesTheDefaultValue)
{
    test::KeyGuard guard(HKEY_LOCAL_MACHINE, ProductRoot);
    test::WriteString(HKEY_LOCAL_MACHINE, FolderBackupKey, L"", L"C:\\default.ico,1");
    EXPECT_NE(ERROR_SUCCESS, WriteFolderBackup(IconLocation(L"C:\\a.ico", L"", 2), L""));
    EXPECT_FALSE(ReadFolderBackup(L""));
    EXPECT_FALSE(ReadFolderBackup(nullptr));
    EXPECT_NE(ERROR_SUCCESS, DeleteFolderBackup(L""));
    std::wstring text;
    ASSERT_TRUE(test::ReadValue(HKEY_LOCAL_MACHINE, FolderBackupKey, L"", &text));
    EXPECT_EQ(L"C:\\default.ico,1", text);
}
