// orvane.exe with names that the ANSI code page of a Western European Windows (1252)
// cannot hold: the arguments reach it as UTF-16, what it writes names the exact path, and
// what it prints shows every character, as UTF-8 in a redirected stream and as the text
// itself on a console.
#include <windows.h>

#include <gtest/gtest.h>

#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "IconIdLibrary.h"
#include "RunTool.h"
#include "TestSupport.h"
#include "UnicodeNames.h"

namespace orvane::test {
namespace {

constexpr wchar_t Vendor[] = L"Software\\Brindlewick Software";
constexpr wchar_t FileIcons[] = L"Software\\Brindlewick Software\\Orvane\\FileIcons";
constexpr wchar_t DriveIcons[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";
constexpr wchar_t DriveC[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons\\C\\DefaultIcon";

// Whether code page 1252 holds every character of the text (no best-fit replacements).
bool FitsCodePage1252(const std::wstring& text)
{
    BOOL usedDefault = FALSE;
    WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                        &usedDefault);
    return usedDefault == FALSE;
}

std::wstring IniText(const std::wstring& folder, const wchar_t* key)
{
    wchar_t text[MAX_PATH] = {};
    GetPrivateProfileStringW(L".ShellClassInfo", key, L"", text, static_cast<DWORD>(std::size(text)),
                             (folder + L"\\desktop.ini").c_str());
    return text;
}

class UnicodeCliTest : public testing::Test {
protected:
    UnicodeCliTest() { DeleteKeyTree(HKEY_LOCAL_MACHINE, Vendor); }

    void SetUp() override
    {
        // What these tests are about happens only where the ANSI code page lacks the
        // characters; the test prefix is made with code page 1252 (see the README).
        ASSERT_EQ(1252u, GetACP()) << "these tests need a prefix whose ANSI code page is 1252";
        type_.SetDefaultIcon(L"shell32.dll,1");
        // Windows gives the Folder class an icon; a folder's first change backs it up.
        ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, L"Folder\\DefaultIcon", nullptr, L"shell32.dll,3"));
    }

    // The test library of icons, copied to a path under a name of the given ones.
    std::wstring SourceNamed(const std::wstring& name)
    {
        const std::wstring source = dir_.MakeFolder(name + L" icons") + L"\\" + name + L".dll";
        EXPECT_TRUE(CopyFileW(IconIdLibraryPath().c_str(), source.c_str(), FALSE)) << Utf8(source);
        return source;
    }

    static std::optional<std::wstring> FileEntry(const std::wstring& file)
    {
        std::wstring text;
        if (!ReadValue(HKEY_LOCAL_MACHINE, FileIcons, file.c_str(), &text))
            return std::nullopt;
        return text;
    }

    KeyGuard vendorMachine_{HKEY_LOCAL_MACHINE, Vendor};
    KeyGuard vendorUser_{HKEY_CURRENT_USER, Vendor};
    KeyGuard drives_{HKEY_LOCAL_MACHINE, DriveIcons};
    KeyGuard folderClass_{HKEY_CLASSES_ROOT, L"Folder"};
    ScratchType type_;
    TempDir dir_;
};

TEST_F(UnicodeCliTest, TheNamesCannotBeWrittenInCodePage1252)
{
    for (const UnicodeName& name : UnicodeNames())
        EXPECT_FALSE(FitsCodePage1252(name.Text)) << name.Label;
    EXPECT_TRUE(FitsCodePage1252(L"caf\u00E9 Notes"));
}

// A folder and a file of each name get an icon whose source lies under such a name too;
// the folder's Desktop.ini, the file's table entry, show (redirected and on a console) and
// restore all keep the names exactly.
TEST_F(UnicodeCliTest, FoldersAndFilesWithAnyNameSetShowRestore)
{
    for (const UnicodeName& name : UnicodeNames()) {
        SCOPED_TRACE(name.Label);
        const std::wstring folder = dir_.MakeFolder(name.Text);
        const std::wstring file = dir_.MakeFile(name.Text + type_.Extension);
        const std::wstring source = SourceNamed(name.Text);
        const std::wstring icon = source + L",2";

        ToolRun run = RunTool({L"set", icon, folder, file});
        ASSERT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(L"", run.Err);
        EXPECT_EQ(folder + L": Folder icon set to " + icon + L"\n" + file + L": File icon set to " + icon + L"\n",
                  run.Out);
        EXPECT_EQ(source, IniText(folder, L"IconFile"));
        EXPECT_EQ(L"2", IniText(folder, L"IconIndex"));
        // The profile functions write such text only into a UTF-16 file.
        EXPECT_EQ("\xFF\xFE", ReadFileText(folder + L"\\desktop.ini").substr(0, 2));
        EXPECT_EQ(icon + L"," + type_.Class, FileEntry(file).value_or(L"(none)"));

        const std::wstring shown = folder + L"\n  kind:   Folder\n  icon:   " + icon +
                                   L"\n  scope:  for all users\n  backup: yes\n" + file + L"\n  kind:   File\n  class:  " +
                                   type_.Class + L"\n  icon:   " + icon + L"\n  scope:  for all users\n  backup: yes\n";
        run = RunTool({L"show", folder, file});
        EXPECT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(shown, run.Out);
        run = RunToolOnConsole({L"show", folder, file});
        EXPECT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(shown, run.Out);
        EXPECT_EQ(L"", run.Err);

        run = RunTool({L"restore", folder, file});
        EXPECT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(folder + L": Folder icon restored\n" + file + L": File icon restored\n", run.Out);
        // The folder had no Desktop.ini before: it has none again.
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder + L"\\desktop.ini").c_str()));
        EXPECT_FALSE(FileEntry(file));
    }
    EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type_.Key(L"DefaultIcon")));
}

TEST_F(UnicodeCliTest, ATypeAndADriveTakeASourceWithAnyName)
{
    for (const UnicodeName& name : UnicodeNames()) {
        SCOPED_TRACE(name.Label);
        const std::wstring file = dir_.MakeFile(name.Text + type_.Extension);
        const std::wstring icon = SourceNamed(name.Text) + L",1";

        ToolRun run = RunTool({L"set", L"--all-of-type", icon, file, L"C:\\"});
        ASSERT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(file + L": Type icon set to " + icon + L"\nC:\\: Drive icon set to " + icon + L"\n", run.Out);
        EXPECT_EQ(icon, ValueText(HKEY_CLASSES_ROOT, type_.Key(L"DefaultIcon")));
        EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type_.Key(L"DefaultIcon"), L"BAKIconInfo"));
        // Not asked of the shell: Wine's shell reads a type's DefaultIcon through the ANSI
        // code page ("\u014D" comes back as "o"), which Windows does not.
        EXPECT_EQ(icon, ValueText(HKEY_LOCAL_MACHINE, DriveC));

        run = RunTool({L"show", L"--all-of-type", file, L"C:\\"});
        EXPECT_EQ(file + L"\n  kind:   Type\n  class:  " + type_.Class + L"\n  icon:   " + icon +
                      L"\n  scope:  for all users\n  backup: yes\nC:\\\n  kind:   Drive\n  icon:   " + icon +
                      L"\n  scope:  for all users\n  backup: yes\n",
                  run.Out);

        run = RunTool({L"restore", L"--all-of-type", file, L"C:\\"});
        EXPECT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type_.Key(L"DefaultIcon")));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, DriveC));
    }
}

// 259 UTF-16 units is the longest path that fits, a surrogate pair among them; one more
// is refused whole, with nothing written.
TEST_F(UnicodeCliTest, APathOf259UnitsIsTheLongestThatFits)
{
    const std::wstring longest = PathOfLength(dir_.Path(), 259, type_.Extension);
    ASSERT_EQ(259u, longest.size());
    const std::wstring file = dir_.MakeFile(longest.substr(dir_.Path().size() + 1));
    ASSERT_EQ(longest, file);
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str()));
    const std::wstring icon = IconIdLibraryPath() + L",3";

    ToolRun run = RunTool({L"set", icon, file});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(file + L": File icon set to " + icon + L"\n", run.Out);
    EXPECT_EQ(icon + L"," + type_.Class, FileEntry(file).value_or(L"(none)"));
    const std::wstring shown = file + L"\n  kind:   File\n  class:  " + type_.Class + L"\n  icon:   " + icon +
                               L"\n  scope:  for all users\n  backup: yes\n";
    EXPECT_EQ(shown, RunTool({L"show", file}).Out);
    EXPECT_EQ(shown, RunToolOnConsole({L"show", file}).Out);

    const std::wstring tooLong = PathOfLength(dir_.Path(), 260, type_.Extension);
    ASSERT_EQ(260u, tooLong.size());
    run = RunTool({L"set", icon, tooLong});
    EXPECT_EQ(1u, run.ExitCode);
    EXPECT_EQ(L"orvane: " + tooLong + L": a path or icon source is too long (at most 259 characters)\n", run.Err);
    EXPECT_FALSE(FileEntry(tooLong));

    run = RunTool({L"restore", file});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_FALSE(FileEntry(file));
    EXPECT_EQ(L"shell32.dll,1", ValueText(HKEY_CLASSES_ROOT, type_.Key(L"DefaultIcon")));
}

// A message names the path as it was given, on standard error as on standard output.
TEST_F(UnicodeCliTest, MessagesNameThePathWithEveryCharacter)
{
    for (const UnicodeName& name : UnicodeNames()) {
        SCOPED_TRACE(name.Label);
        const std::wstring missing = dir_.Path() + L"\\" + name.Text + type_.Extension;
        const std::wstring message = L"orvane: " + missing + L": no such file, folder or drive\n";
        ToolRun run = RunTool({L"set", IconIdLibraryPath(), missing});
        EXPECT_EQ(1u, run.ExitCode);
        EXPECT_EQ(message, run.Err);
        EXPECT_EQ(L"", run.Out);
        run = RunToolOnConsole({L"show", missing});
        EXPECT_EQ(1u, run.ExitCode);
        EXPECT_EQ(message, run.Err);
        EXPECT_EQ(L"", run.Out);
        EXPECT_FALSE(FileEntry(missing));
    }
}

} // namespace
} // namespace orvane::test
