// The Desktop.ini taken apart from its bytes, against the platform's own profile
// functions as the judge: what they read from a file is what the store reads from it, and
// what the store writes into it, they read back with every other entry as it was.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "DesktopIni.h"
#include "DesktopIniText.h"
#include "FolderIcons.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"

using namespace orvane;
using namespace orvane::desktop_ini;

namespace {

std::string Utf16Bytes(const std::wstring& text)
{
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return bytes;
}

// An entry as the profile functions read it: "(none)" where they give their default.
std::wstring ProfileEntry(const std::wstring& desktopIni, const wchar_t* section, const wchar_t* name)
{
    wchar_t text[4096];
    GetPrivateProfileStringW(section, name, L"(none)", text, static_cast<DWORD>(std::size(text)), desktopIni.c_str());
    return text;
}

// Every entry of every section as the profile functions list them, the icon's three
// entries of ".ShellClassInfo" left out.
std::wstring OtherEntries(const std::wstring& desktopIni)
{
    std::wstring all;
    wchar_t names[8192] = {};
    GetPrivateProfileSectionNamesW(names, static_cast<DWORD>(std::size(names)), desktopIni.c_str());
    for (const wchar_t* name = names; *name != L'\0'; name += wcslen(name) + 1) {
        wchar_t section[16384] = {};
        GetPrivateProfileSectionW(name, section, static_cast<DWORD>(std::size(section)), desktopIni.c_str());
        const bool ours = CompareStringOrdinal(name, -1, ShellClassInfo, -1, TRUE) == CSTR_EQUAL;
        for (const wchar_t* entry = section; *entry != L'\0'; entry += wcslen(entry) + 1) {
            bool icon = false;
            for (const wchar_t* own : EntryNames) {
                const int length = static_cast<int>(wcslen(own));
                icon = icon || (CompareStringOrdinal(entry, length, own, length, TRUE) == CSTR_EQUAL &&
                                (entry[length] == L'=' || entry[length] == L' ' || entry[length] == L'\0'));
            }
            if (!ours || !icon)
                all += L"[" + std::wstring(name) + L"] " + entry + L"\n";
        }
    }
    return all;
}

} // namespace

TEST(DesktopIniText, ReadsAndWritesAsTheProfileFunctionsDo)
{
    test::TempDir dir;
    const std::string cut(EntryCapacity - 1, 'c');
    const std::string fits(EntryCapacity - 2, 'f');
    struct Case {
        const char* Name;
        std::string Bytes;
        bool TakenApart; // false: left to the profile functions
    };
    const Case cases[] = {
        {"plain", "[.ShellClassInfo]\r\nIconFile=C:\\a.ico\r\nIconIndex=1\r\n", true},
        {"spaces", "  [.ShellClassInfo]  \r\n  IconFile =  C:\\a b.ico  \r\n\tIconIndex\t=\t2\r\n", true},
        {"case", "[.shellclassinfo]\r\niconfile=C:\\a.ico\r\nICONINDEX=3\r\nIconResource=C:\\r.dll,3\r\n", true},
        {"quotes", "[.ShellClassInfo]\r\nIconFile=\"C:\\a.ico\"\r\nIconIndex='4'\r\nIconResource=\"C:\\r.dll,5\r\n", true},
        {"oneQuote", "[.ShellClassInfo]\r\nIconFile=\"\r\nIconIndex=\"\"\r\n", true},
        {"empty values", "[.ShellClassInfo]\r\nIconFile=\r\nIconIndex=\r\nIconResource=\r\n", true},
        {"other sections", "[A]\r\nIconFile=x\r\n[.ShellClassInfo]\r\nInfoTip=t\r\n\r\n[B]\r\nIconIndex=9\r\n", true},
        {"no last line end", "[.ShellClassInfo]\r\nIconFile=C:\\a.ico", true},
        {"header last", "[ViewState]\r\nMode=4\r\n[.ShellClassInfo]", true},
        {"line feeds", "[.ShellClassInfo]\nIconFile=C:\\a.ico\nIconIndex=1\n[X]\ny=2\n", true},
        {"comments", "; a note\r\n[.ShellClassInfo]\r\n;IconFile=C:\\x.ico\r\nIconFile=C:\\y.ico\r\n", true},
        {"equals in text", "[.ShellClassInfo]\r\nIconFile=C:\\a=b.ico\r\nIconIndex==1\r\n", true},
        {"before any section", "IconFile=C:\\top.ico\r\n[.ShellClassInfo]\r\nIconIndex=1\r\n", true},
        {"no section", "[ViewState]\r\nMode=4\r\nVid=\r\n", true},
        {"empty", "", true},
        {"longest", "[.ShellClassInfo]\r\nIconFile=" + fits + "\r\nIconResource=" + cut + "\r\n", true},
        {"code page", "[.ShellClassInfo]\r\nInfoTip=Caf\xE9\r\nIconFile=C:\\Ic\xF4nes\\a.ico\r\nIconIndex=7\r\n", true},
        {"utf-16", Utf16Bytes(L"[.ShellClassInfo]\r\nIconFile=C:\\\u041F\\\U0001F4C1.ico\r\nIconIndex=8\r\n"), true},
        {"utf-16 empty", Utf16Bytes(L""), true},
        {"lone carriage return", "[.ShellClassInfo]\rIconFile=C:\\a.ico\r\n", false},
        {"nul", std::string("[.ShellClassInfo]\r\nIconFile=C:\\a\0.ico\r\n", 35), false},
        {"ctrl-z", "[.ShellClassInfo]\r\nIconFile=C:\\a.ico\x1A\r\n", false},
        {"utf-8 mark", "\xEF\xBB\xBF[.ShellClassInfo]\r\nIconFile=C:\\a.ico\r\n", false},
        {"utf-16 big-endian", "\xFE\xFF\0[\0.", false},
        {"odd utf-16", "\xFF\xFE[\0.\0S", false},
        {"header unclosed", "[.ShellClassInfo\r\nIconFile=C:\\a.ico\r\n", false},
        {"header and more", "[.ShellClassInfo] x\r\nIconFile=C:\\a.ico\r\n", false},
        {"section twice", "[.ShellClassInfo]\r\nIconFile=C:\\a.ico\r\n[.ShellClassInfo]\r\nIconIndex=1\r\n", false},
        {"entry twice", "[.ShellClassInfo]\r\nIconFile=C:\\a.ico\r\nICONFILE=C:\\b.ico\r\n", false},
        {"name alone", "[.ShellClassInfo]\r\nIconFile\r\nIconIndex=1\r\n", false},
    };
    // What a change writes, and what a restore writes where the icon had no entries.
    const IconLocation wideLocation(L"C:\\\u5199\\\U0001F4C1.ico", L"", -3);
    LocationTexts wide;
    ListedEntries wideIcon;
    ASSERT_TRUE(EntriesOfLocation(wideLocation, wide, wideIcon));
    const IconLocation narrowLocation(L"C:\\icons\\a.ico", L"", 12);
    LocationTexts narrow;
    ListedEntries narrowIcon;
    ASSERT_TRUE(EntriesOfLocation(narrowLocation, narrow, narrowIcon));
    ListedEntries resourceOut = narrowIcon;
    resourceOut.Texts[0] = nullptr;
    const ListedEntries* writes[] = {&narrowIcon, &wideIcon, &resourceOut, nullptr};

    int file = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        DesktopIniText text;
        ASSERT_EQ(c.TakenApart, ParseDesktopIniBytes(c.Bytes, text));
        const std::wstring desktopIni = dir.MakeFile(L"read" + std::to_wstring(file++) + L".ini", c.Bytes);
        if (!c.TakenApart)
            continue;
        const IconEntries entries = EntriesOfText(text);
        for (std::size_t n = 0; n < std::size(EntryNames); ++n) {
            SCOPED_TRACE(test::Utf8(EntryNames[n]));
            // The profile functions fill the buffer they are given with what fits.
            wchar_t profile[EntryCapacity];
            const DWORD length = GetPrivateProfileStringW(ShellClassInfo, EntryNames[n], L"(none)", profile,
                                                          EntryCapacity, desktopIni.c_str());
            const bool present = std::wstring(profile) != L"(none)";
            EXPECT_EQ(present, entries.Items[n].Present);
            EXPECT_EQ(present && length >= EntryCapacity - 1, entries.Items[n].Cut);
            if (present && !entries.Items[n].Cut)
                EXPECT_EQ(std::wstring(profile), entries.Items[n].Text);
        }

        const std::wstring others = OtherEntries(desktopIni);
        for (const ListedEntries* listed : writes) {
            const bool restoreToAnsi = listed == nullptr;
            const ListedEntries& written = restoreToAnsi ? narrowIcon : *listed;
            std::string bytes;
            bool unicode = false;
            ASSERT_TRUE(EditedDesktopIniBytes(text, written, restoreToAnsi, bytes, unicode));
            EXPECT_EQ(unicode, bytes.compare(0, 2, "\xFF\xFE") == 0);
            // A restore to ANSI of a UTF-16 file whose text the code page cannot all hold
            // keeps it UTF-16.
            const bool ascii = std::all_of(text.Text.begin(), text.Text.end(), [](wchar_t c) { return c < 0x80; });
            if (!restoreToAnsi || ascii)
                EXPECT_EQ(unicode, listed == &wideIcon || (text.Unicode && !restoreToAnsi));
            const std::wstring after = dir.MakeFile(L"write" + std::to_wstring(file++) + L".ini", bytes);
            for (std::size_t n = 0; n < std::size(EntryNames); ++n) {
                SCOPED_TRACE(test::Utf8(EntryNames[n]));
                EXPECT_EQ(written.Texts[n] != nullptr ? std::wstring(written.Texts[n]) : std::wstring(L"(none)"),
                          ProfileEntry(after, ShellClassInfo, EntryNames[n]));
            }
            EXPECT_EQ(others, OtherEntries(after));
            // Taken apart again, the written file reads the same.
            DesktopIniText again;
            ASSERT_TRUE(ParseDesktopIniBytes(bytes, again));
            EXPECT_EQ(written.Texts[1] != nullptr, EntriesOfText(again).File().Present);
        }
    }
}

// The whole change on a file of each form, whether the store takes it apart or leaves it
// to the profile functions: the icon reads back, the other entries stay.
TEST(DesktopIniText, EveryFormTakesTheIconAndKeepsTheRest)
{
    test::TempDir dir;
    const std::string forms[] = {
        "[.ShellClassInfo]\r\nInfoTip=t\r\nIconFile=C:\\old.ico\r\nIconIndex=1\r\n[ViewState]\r\nMode=4\r\n",
        "[.ShellClassInfo]\rInfoTip=t\r\n[ViewState]\r\nMode=4\r\n",
        "\xEF\xBB\xBF[.ShellClassInfo]\r\nInfoTip=t\r\n[ViewState]\r\nMode=4\r\n",
        "[.ShellClassInfo]\r\nInfoTip=t\r\nIconFile\r\n[ViewState]\r\nMode=4\r\n",
        "[ViewState]\r\nMode=4\r\n",
    };
    int n = 0;
    for (const std::string& form : forms) {
        SCOPED_TRACE(form);
        const std::wstring folder = dir.MakeFolder(L"f" + std::to_wstring(n++));
        const std::wstring desktopIni = folder + L"\\Desktop.ini";
        dir.MakeFile(folder.substr(dir.Path().size() + 1) + L"\\Desktop.ini", form);
        const std::wstring others = OtherEntries(desktopIni);
        ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(L"C:\\icons\\\u5199.ico", folder.c_str(), 6)));
        EXPECT_EQ(L"C:\\icons\\\u5199.ico", ProfileEntry(desktopIni, ShellClassInfo, IconFileEntry));
        EXPECT_EQ(L"6", ProfileEntry(desktopIni, ShellClassInfo, IconIndexEntry));
        EXPECT_EQ(L"C:\\icons\\\u5199.ico,6", ProfileEntry(desktopIni, ShellClassInfo, IconResourceEntry));
        EXPECT_EQ(others, OtherEntries(desktopIni));
        EXPECT_EQ(L"C:\\icons\\\u5199.ico,6||" + folder, test::LocationText(ReadFolderIcon(folder.c_str())));
    }
}
