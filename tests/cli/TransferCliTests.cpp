// orvane export and orvane import as an administrator and a person moving to another
// computer use them: settings exported from one tree of folders and imported into
// another with --map (a folder standing for another drive and another user's profile),
// for each scope, checked through what the shell and `show` report there, what restore
// puts back there, a second import that changes nothing, and hostile files that write
// nothing.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "RunTool.h"
#include "ScopedVariable.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"

namespace orvane::test {
namespace {

constexpr wchar_t Vendor[] = L"Software\\Brindlewick Software";
constexpr wchar_t DriveIcons[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";
constexpr wchar_t UserApplications[] = L"Software\\Classes\\Applications";

int ShellFolderIndex(const std::wstring& folder)
{
    SHFILEINFOW info = {};
    if (SHGetFileInfoW(folder.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION) == 0)
        return -1000;
    return info.iIcon;
}

std::wstring IniText(const std::wstring& folder, const wchar_t* key)
{
    wchar_t text[MAX_PATH] = {};
    GetPrivateProfileStringW(L".ShellClassInfo", key, L"", text, static_cast<DWORD>(std::size(text)),
                             (folder + L"\\desktop.ini").c_str());
    return text;
}

// The "icon:" line that `show` prints for a target.
std::wstring ShownIcon(const std::wstring& path, bool allOfType = false)
{
    std::vector<std::wstring> args = {L"show", path};
    if (allOfType)
        args.push_back(L"--all-of-type");
    const ToolRun run = RunTool(args);
    const std::size_t at = run.Out.find(L"icon:");
    return at == std::wstring::npos ? L"<none>" : run.Out.substr(at, run.Out.find(L'\n', at) - at);
}

// A path as a JSON string's content.
std::string Json(const std::wstring& path)
{
    std::string text;
    for (const char c : Utf8(path)) {
        if (c == '\\')
            text += '\\';
        text += c;
    }
    return text;
}

std::wstring Json16(const std::wstring& path) { return FromUtf8(Json(path)); }

class TransferCliTest : public testing::Test {
protected:
    TransferCliTest()
    {
        // Each test starts without Orvane's tables (the guards put back what was there).
        DeleteKeyTree(HKEY_LOCAL_MACHINE, Vendor);
        DeleteKeyTree(HKEY_CURRENT_USER, Vendor);
        type_.SetDefaultIcon(Shell32Path() + L",2");
    }

    std::wstring Icon(int index) const { return Shell32Path() + L"," + std::to_wstring(index); }

    // Everything an import may write, as text: both scopes' tables and backups, the
    // type's keys in both, both scopes' drive icons.
    std::wstring Registry() const
    {
        return DumpKey(HKEY_LOCAL_MACHINE, Vendor) + DumpKey(HKEY_CURRENT_USER, Vendor) + type_.Dump() +
               DumpKey(HKEY_CURRENT_USER, L"Software\\Classes\\" + type_.Class) + DumpKey(HKEY_LOCAL_MACHINE, DriveIcons) +
               DumpKey(HKEY_CURRENT_USER, UserApplications);
    }

    KeyGuard vendorMachine_{HKEY_LOCAL_MACHINE, Vendor};
    KeyGuard vendorUser_{HKEY_CURRENT_USER, Vendor};
    KeyGuard drives_{HKEY_LOCAL_MACHINE, DriveIcons};
    KeyGuard userApplications_{HKEY_CURRENT_USER, UserApplications};
    ScratchType type_;
    // This computer's tree, and the other computer's (another drive's, another profile's).
    TempDir here_;
    TempDir there_;
};

TEST_F(TransferCliTest, AnEmptySetupExportsAnEmptyValidFileThatImportsNothing)
{
    const std::wstring file = here_.Path() + L"\\settings.json";
    const ToolRun exported = RunTool({L"export", file});
    EXPECT_EQ(0u, exported.ExitCode) << exported.Err;
    EXPECT_TRUE(Contains(exported.Out, L"Exported 0 setting(s)")) << exported.Out;
    EXPECT_EQ("{\n  \"format\": \"orvane-settings\",\n  \"version\": 1,\n  \"settings\": []\n}\n", ReadFileText(file));
    const std::wstring before = Registry();
    const ToolRun imported = RunTool({L"import", file});
    EXPECT_EQ(0u, imported.ExitCode) << imported.Err;
    EXPECT_TRUE(Contains(imported.Out, L"Imported 0 of 0 setting(s)")) << imported.Out;
    EXPECT_EQ(before, Registry());
}

TEST_F(TransferCliTest, ImportCommandLinesNotUnderstoodExitWithTwo)
{
    const std::vector<std::vector<std::wstring>> lines = {
        {L"import"},
        {L"import", L"a.json", L"b.json"},
        {L"import", L"a.json", L"--map"},
        {L"import", L"a.json", L"--map", L"=D:\\x"},
        {L"import", L"a.json", L"--map", L"C:\\x"},
        {L"import", L"a.json", L"--for-me", L"--for-all"},
        {L"import", L"a.json", L"--with-sources"},
        {L"export"},
        {L"export", L"--with-sources"},
        {L"export", L"a.json", L"--dry-run"},
        {L"export", L"a.json", L"b.json"},
    };
    for (const auto& line : lines) {
        const ToolRun run = RunTool(line);
        EXPECT_EQ(2u, run.ExitCode) << line.size();
        EXPECT_TRUE(Contains(run.Err, L"Usage:")) << run.Err;
    }
}

class TransferScopeTest : public TransferCliTest, public testing::WithParamInterface<const wchar_t*> {};

// Exported here, imported there with --map: the other tree's folders and file show the
// same icons, the type and the drive (which both computers share in one prefix: restored
// here first, as the other computer has them) too; a second import changes nothing, and
// restore puts back what the other tree had before.
TEST_P(TransferScopeTest, ExportedSettingsImportIntoAnotherTreeAndRestoreThere)
{
    const std::wstring scope = GetParam();
    const bool forMe = scope == L"--for-me";
    const std::wstring from = here_.MakeFolder(L"Users\\ann");
    const std::wstring to = there_.MakeFolder(L"Users\\bob");
    for (TempDir* tree : {&here_, &there_}) {
        const std::wstring profile = tree == &here_ ? L"Users\\ann\\" : L"Users\\bob\\";
        tree->MakeFolder(profile + L"Photos");
        tree->MakeFolder(profile + L"Colour");
        tree->MakeFile(profile + L"doc" + type_.Extension);
    }
    // The other tree's folder has an icon of its own before the import: its original.
    WritePrivateProfileStringW(L".ShellClassInfo", L"IconResource", Icon(1).c_str(), (to + L"\\Photos\\desktop.ini").c_str());
    const std::wstring plain = here_.MakeFile(L"plain" + type_.Extension);
    // While a file of the type has an icon of its own, Orvane is the type's icon handler,
    // which Wine's shell does not load: `show` reads the type's icon as Explorer's handler
    // would answer for a file without one.
    const std::wstring typeBefore = ShownIcon(plain, true);
    const int photosBefore = ShellFolderIndex(to + L"\\Photos");
    const std::wstring driveBefore = ShownIcon(L"C:\\");

    const std::vector<std::vector<std::wstring>> sets = {
        {L"set", Icon(9), from + L"\\doc" + type_.Extension, L"--all-of-type", scope},
        {L"set", Icon(7), from + L"\\doc" + type_.Extension, scope},
        {L"set", Icon(5), from + L"\\Photos", scope},
        {L"set", L"--colour", L"teal", from + L"\\Colour", scope},
        {L"set", Icon(11), L"C:\\", scope},
    };
    for (const auto& set : sets) {
        const ToolRun run = RunTool(set);
        ASSERT_EQ(0u, run.ExitCode) << set[1] << run.Err;
    }
    const std::wstring file = here_.Path() + L"\\settings.json";
    const ToolRun exported = RunTool({L"export", file});
    ASSERT_EQ(0u, exported.ExitCode) << exported.Err;
    EXPECT_TRUE(Contains(exported.Out, L"Exported 5 setting(s)")) << exported.Out;
    EXPECT_TRUE(Contains(FromUtf8(ReadFileText(file)), forMe ? L"\"this-user\"" : L"\"all-users\""));
    // The tree lies in this user's profile (its temporary folder), which the file names by
    // the variable that each importing user's profile expands.
    wchar_t profile[MAX_PATH] = {};
    GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
    ASSERT_EQ(0u, Lower(from).find(Lower(profile)));
    EXPECT_TRUE(Contains(FromUtf8(ReadFileText(file)), L"\"path\": \"%USERPROFILE%" + Json16(from.substr(std::wcslen(profile))) +
                                                           L"\\\\Photos\""))
        << ReadFileText(file);
    const std::wstring fileIcon = ShownIcon(from + L"\\doc" + type_.Extension);
    const std::wstring colourIcon = ShownIcon(from + L"\\Colour");
    ASSERT_EQ(0u, RunTool({L"restore", from + L"\\doc" + type_.Extension, L"--all-of-type", scope}).ExitCode);
    ASSERT_EQ(0u, RunTool({L"restore", L"C:\\", scope}).ExitCode);
    ASSERT_EQ(typeBefore, ShownIcon(plain, true));

    const ToolRun dry = RunTool({L"import", file, L"--map", from + L"=" + to, scope, L"--dry-run"});
    EXPECT_EQ(0u, dry.ExitCode) << dry.Err;
    EXPECT_TRUE(Contains(dry.Out, L"Would import 5 of 5 setting(s): 5 to change, 0 unchanged")) << dry.Out;
    EXPECT_EQ(Icon(1), IniText(to + L"\\Photos", L"IconResource"));

    const ToolRun imported = RunTool({L"import", file, L"--map", from + L"=" + to, scope});
    ASSERT_EQ(0u, imported.ExitCode) << imported.Out << imported.Err;
    EXPECT_TRUE(Contains(imported.Out, L"Imported 5 of 5 setting(s): 5 changed, 0 unchanged")) << imported.Out;
    EXPECT_EQ(5, ShellFolderIndex(to + L"\\Photos"));
    EXPECT_TRUE(Contains(ShownIcon(plain, true), Icon(9))) << ShownIcon(plain, true);
    EXPECT_EQ(fileIcon, ShownIcon(to + L"\\doc" + type_.Extension));
    EXPECT_EQ(colourIcon, ShownIcon(to + L"\\Colour"));
    EXPECT_TRUE(Contains(ShownIcon(L"C:\\"), L"shell32.dll,11")) << ShownIcon(L"C:\\");
    const std::wstring made = IniText(to + L"\\Colour", L"IconFile");
    EXPECT_EQ(0u, made.find(L".orvane-")) << made;
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((to + L"\\Colour\\" + made).c_str()));
    // The other tree's folder backup is its own, in the scope named.
    const std::wstring backups = L"Software\\Brindlewick Software\\Orvane\\FolderBAKIcons";
    EXPECT_EQ(0u, ValueText(forMe ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, backups, (to + L"\\Photos").c_str()).find(Icon(1)));

    const std::wstring registry = Registry();
    const std::string desktopIni = ReadFileText(to + L"\\Photos\\desktop.ini");
    const ToolRun again = RunTool({L"import", file, L"--map", from + L"=" + to, scope});
    EXPECT_EQ(0u, again.ExitCode) << again.Err;
    EXPECT_TRUE(Contains(again.Out, L"0 changed, 5 unchanged")) << again.Out;
    EXPECT_EQ(registry, Registry());
    EXPECT_EQ(desktopIni, ReadFileText(to + L"\\Photos\\desktop.ini"));

    for (const std::vector<std::wstring>& restore : std::vector<std::vector<std::wstring>>{
             {L"restore", to + L"\\Photos", scope},
             {L"restore", to + L"\\Colour", scope},
             {L"restore", to + L"\\doc" + type_.Extension, scope},
             {L"restore", to + L"\\doc" + type_.Extension, L"--all-of-type", scope},
             {L"restore", L"C:\\", scope},
             // This tree's file keeps Orvane the type's icon handler until it goes too.
             {L"restore", from + L"\\doc" + type_.Extension, scope}}) {
        const ToolRun run = RunTool(restore);
        EXPECT_EQ(0u, run.ExitCode) << restore[1] << run.Err;
    }
    EXPECT_EQ(Icon(1), IniText(to + L"\\Photos", L"IconResource"));
    EXPECT_EQ(photosBefore, ShellFolderIndex(to + L"\\Photos"));
    EXPECT_EQ(L"", IniText(to + L"\\Colour", L"IconFile"));
    EXPECT_EQ(typeBefore, ShownIcon(plain, true));
    EXPECT_EQ(Shell32Path() + L",2", ShellIconLocation(plain));
    EXPECT_FALSE(ReadValue(forMe ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                           L"Software\\Brindlewick Software\\Orvane\\FileIcons", (to + L"\\doc" + type_.Extension).c_str(),
                           nullptr));
    EXPECT_EQ(driveBefore, ShownIcon(L"C:\\"));
}

INSTANTIATE_TEST_SUITE_P(BothScopes, TransferScopeTest, testing::Values(L"--for-me", L"--for-all"));

// Each hostile file is refused with its reason, and nothing of it is written: not the
// folder's Desktop.ini, not a table, not a class.
TEST_F(TransferCliTest, HostileFilesAreRefusedWithTheirReasonAndWriteNothing)
{
    const std::wstring folder = there_.MakeFolder(L"Target");
    there_.MakeFolder(L"Other");
    const std::wstring icons = WriteIconFile(there_.Path() + L"\\icons.ico");
    const std::string head = "{\"format\": \"orvane-settings\", \"version\": 1, \"settings\": [";
    auto folderSetting = [&](const std::wstring& path, const std::string& icon) {
        return head + "{\"kind\": \"folder\", \"scope\": \"this-user\", \"path\": \"" + Json(path) + "\", " + icon + "}]}";
    };
    const std::string source = "\"icon\": \"" + Json(icons) + "\", \"index\": 0";
    const std::string sound = folderSetting(folder, source);
    auto typeSetting = [&](const std::string& className) {
        return head + "{\"kind\": \"type\", \"scope\": \"this-user\", \"extension\": \"" + Utf8(type_.Extension) +
               "\", \"class\": \"" + className + "\", " + source + "}]}";
    };
    // A 16x16 image claimed far beyond the end of the bytes.
    const std::string farImage = "\"made\": \"AAABAAEAEBAAAAEAIAAIAAAA////fw==\"";
    struct Case {
        const char* Name;
        std::string Text;
        const wchar_t* Reason;
    };
    const Case cases[] = {
        {"truncated", sound.substr(0, sound.size() / 2), L"is not JSON text"},
        {"malformed", "{\"format\": 'orvane-settings'}", L"is not JSON text"},
        {"not utf-8", head + "{\"kind\": \"fo\xff\"}]}", L"not UTF-8"},
        {"unknown version", "{\"format\": \"orvane-settings\", \"version\": 9, \"settings\": []}", L"of version 9"},
        {"huge", sound + std::string(65 * 1024 * 1024, ' '), L"larger than 64 MiB"},
        {"dot dot", folderSetting(there_.Path() + L"\\Other\\..\\Target", source), L"\"..\""},
        {"unc", folderSetting(L"\\\\localhost\\c$\\x", source), L"UNC"},
        {"device", folderSetting(L"\\\\?\\" + folder, source), L"device path"},
        {"device name", folderSetting(folder + L"\\CON", source), L"names a device"},
        {"variable to a share", folderSetting(L"%ORVANE_TEST_SHARE%\\Target", source), L"UNC"},
        {"variable climbing", folderSetting(L"%ORVANE_TEST_SHARE%\\..\\Target", source), L"\"..\""},
        {"source dot dot", folderSetting(folder, "\"icon\": \"" + Json(there_.Path()) + "\\\\x\\\\..\\\\icons.ico\", \"index\": 0"),
         L"icon source holds"},
        {"unsound made icon", folderSetting(folder, farImage), L"not a sound icon file"},
        {"registry place", typeSetting("..\\\\..\\\\Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run"),
         L"outside a file type's class"},
        {"shell's key", typeSetting("CLSID"), L"shell's own keys"},
    };
    // A reference that the importing user's environment expands to a network path.
    const ScopedVariable share(L"ORVANE_TEST_SHARE", L"\\\\localhost\\c$");
    const std::wstring before = Registry();
    for (const Case& c : cases) {
        const std::wstring file = there_.MakeFile(L"hostile.json", c.Text);
        const ToolRun run = RunTool({L"import", file, L"--for-me"});
        EXPECT_EQ(1u, run.ExitCode) << c.Name;
        EXPECT_TRUE(Contains(run.Err, c.Reason)) << c.Name << ": " << Utf8(run.Err);
        EXPECT_TRUE(Contains(run.Err, L"refused")) << c.Name;
        EXPECT_EQ(before, Registry()) << c.Name;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder + L"\\desktop.ini").c_str())) << c.Name;
        DeleteFileW(file.c_str());
    }
    // The sound file beside them is imported: the table's refusals are the files' own.
    const ToolRun run = RunTool({L"import", there_.MakeFile(L"sound.json", sound), L"--for-me"});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(icons + L",0", IniText(folder, L"IconResource"));
}

// With --with-sources a source's icon goes inside the file, so that the other tree's
// folder gets it as a made icon of its own even where the source is not there; a source
// in the Windows folder, which every computer has, stays a path.
TEST_F(TransferCliTest, WithSourcesTheIconsGoInsideTheFile)
{
    const std::wstring from = here_.MakeFolder(L"From");
    const std::wstring to = there_.MakeFolder(L"To");
    for (const std::wstring& root : {from, to}) {
        CreateDirectoryW((root + L"\\Own").c_str(), nullptr);
        CreateDirectoryW((root + L"\\System").c_str(), nullptr);
    }
    const std::wstring icons = WriteIconFile(here_.Path() + L"\\own.ico", 3);
    ASSERT_EQ(0u, RunTool({L"set", icons, from + L"\\Own"}).ExitCode);
    ASSERT_EQ(0u, RunTool({L"set", Icon(4), from + L"\\System"}).ExitCode);
    const std::wstring file = here_.Path() + L"\\settings.json";
    const ToolRun exported = RunTool({L"export", file, L"--with-sources"});
    ASSERT_EQ(0u, exported.ExitCode) << exported.Err;
    const std::string text = ReadFileText(file);
    EXPECT_TRUE(Contains(text, "\"made\": ")) << text;
    EXPECT_TRUE(Contains(text, "shell32.dll\", \"index\": 4")) << text;
    EXPECT_FALSE(Contains(text, "own.ico")) << text;
    std::vector<std::uint8_t> source;
    {
        const std::string bytes = ReadFileText(icons);
        source.assign(bytes.begin(), bytes.end());
    }
    ASSERT_TRUE(DeleteFileW(icons.c_str()));
    const ToolRun imported = RunTool({L"import", file, L"--map", from + L"=" + to});
    EXPECT_EQ(0u, imported.ExitCode) << imported.Err;
    const std::wstring made = IniText(to + L"\\Own", L"IconFile");
    ASSERT_EQ(0u, made.find(L".orvane-")) << made;
    const std::string copy = ReadFileText(to + L"\\Own\\" + made);
    EXPECT_EQ(std::string(source.begin(), source.end()), copy);
    EXPECT_EQ(4, ShellFolderIndex(to + L"\\System"));
    for (const std::wstring& folder : {to + L"\\Own", to + L"\\System", from + L"\\Own", from + L"\\System"})
        EXPECT_EQ(0u, RunTool({L"restore", folder}).ExitCode) << Utf8(folder);
}

// A setting whose target or source is missing here is told and skipped; the rest is done
// and the exit code says that not everything was.
TEST_F(TransferCliTest, MissingTargetsAndSourcesAreSkippedAndTheRestImported)
{
    const std::wstring folder = there_.MakeFolder(L"Present");
    const std::wstring icons = WriteIconFile(there_.Path() + L"\\icons.ico");
    const std::string head = "{\"format\": \"orvane-settings\", \"version\": 1, \"settings\": [";
    auto setting = [](const std::wstring& path, const std::wstring& icon) {
        return "{\"kind\": \"folder\", \"scope\": \"all-users\", \"path\": \"" + Json(path) + "\", \"icon\": \"" +
               Json(icon) + "\", \"index\": 0}";
    };
    const std::wstring file = there_.MakeFile(
        L"settings.json", head + setting(there_.Path() + L"\\Gone", icons) + "," +
                              setting(folder, there_.Path() + L"\\missing.ico") + "," + setting(folder, icons) + "]}");
    const ToolRun run = RunTool({L"import", file});
    EXPECT_EQ(1u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Err, L"\\Gone: skipped: no such folder here")) << run.Err;
    EXPECT_TRUE(Contains(run.Err, L"missing.ico is missing here")) << run.Err;
    EXPECT_TRUE(Contains(run.Out, L"1 changed, 0 unchanged, 2 skipped")) << run.Out;
    EXPECT_EQ(icons + L",0", IniText(folder, L"IconResource"));
}

} // namespace
} // namespace orvane::test
