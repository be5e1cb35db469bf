// orvane.exe run as a child process under Wine: its command line, what it refuses, and
// what it changes, checked in the registry, in Desktop.ini and through what the shell
// itself reports (SHGetFileInfoW) afterwards.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ErrorText.h"
#include "ExtensionIdentity.h"
#include "RegistryNames.h"
#include "RunTool.h"
#include "ScopedVariable.h"
#include "TestSupport.h"
#include "UnwritableFolder.h"

namespace orvane::test {
namespace {

constexpr wchar_t Vendor[] = L"Software\\Brindlewick Software";
constexpr wchar_t FileIcons[] = L"Software\\Brindlewick Software\\Orvane\\FileIcons";
constexpr wchar_t FolderBackupKey[] = L"Software\\Brindlewick Software\\Orvane\\FolderBAKIcons";
constexpr wchar_t DriveIcons[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";
const std::wstring Clsid = ExtensionClsidText;

std::optional<std::wstring> Value(HKEY root, const std::wstring& path, const wchar_t* name = nullptr)
{
    std::wstring text;
    if (!ReadValue(root, path, name, &text))
        return std::nullopt;
    return text;
}

// What the platform's shell reports as the icon location of a file.
std::wstring ShellIcon(const std::wstring& path)
{
    SHFILEINFOW info = {};
    if (SHGetFileInfoW(path.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION) == 0)
        return L"";
    info.szDisplayName[std::size(info.szDisplayName) - 1] = L'\0';
    return std::wstring(info.szDisplayName) + L"," + std::to_wstring(info.iIcon);
}

// For a folder Wine's shell reports the Desktop.ini icon index but not its file (the
// text it returns is not filled in), so only the index is compared.
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

// An icon file's bytes as a crafted one has them: a header claiming `count` images and one
// directory entry (the image's size and offset), followed by 40 bytes of image.
std::string CraftedIconFile(unsigned count, unsigned imageSize, unsigned imageOffset)
{
    auto put = [](std::string& out, unsigned value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    std::string out;
    put(out, 0, 2);
    put(out, 1, 2);
    put(out, count, 2);
    out += std::string("\x10\x10\0\0", 4);
    put(out, 1, 2);
    put(out, 32, 2);
    put(out, imageSize, 4);
    put(out, imageOffset, 4);
    out += std::string(40, '\0');
    return out;
}

// Every key the tool may touch is guarded: the product's keys, the shell's drive icons,
// the "Folder" class, and a file type of its own (extension and class) per test.
class CliTest : public testing::Test {
protected:
    CliTest()
        : ext_(UniqueName(L".")), cls_(ext_.substr(1) + L"file"), extGuard_(HKEY_CLASSES_ROOT, ext_),
          clsGuard_(HKEY_CLASSES_ROOT, cls_), icons_(WriteIconFile(dir_.Path() + L"\\icons.ico", 4)),
          library_(SystemLibrary())
    {
        // The prefix may hold Orvane's own tables from using it (scripts/run.sh installs
        // it there); each test starts without them, and the guards put them back.
        DeleteKeyTree(HKEY_LOCAL_MACHINE, Vendor);
    }

    // An icon library with many icons: the system's shell32.dll, by its full path.
    static std::wstring SystemLibrary()
    {
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, static_cast<UINT>(std::size(system)));
        return std::wstring(system) + L"\\shell32.dll";
    }

    // Registers the test's type as the shell knows it: extension -> class -> DefaultIcon.
    void RegisterType(const std::wstring& defaultIcon)
    {
        ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, cls_));
        ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, cls_ + L"\\DefaultIcon", nullptr, defaultIcon));
    }
    // Icon `index` of the library; icons_ is one icon (of four image sizes).
    std::wstring Icon(int index) const { return library_ + L"," + std::to_wstring(index); }
    int LibraryCount() const { return static_cast<int>(ExtractIconExW(library_.c_str(), -1, nullptr, nullptr, 0)); }
    std::wstring DefaultIcon(const wchar_t* name = nullptr) const
    {
        return Value(HKEY_CLASSES_ROOT, cls_ + L"\\DefaultIcon", name).value_or(L"(missing)");
    }
    std::optional<std::wstring> FileEntry(const std::wstring& file) const
    {
        return Value(HKEY_LOCAL_MACHINE, FileIcons, file.c_str());
    }

    KeyGuard vendorMachine_{HKEY_LOCAL_MACHINE, Vendor};
    KeyGuard vendorUser_{HKEY_CURRENT_USER, Vendor};
    KeyGuard drives_{HKEY_LOCAL_MACHINE, DriveIcons};
    KeyGuard folderClass_{HKEY_CLASSES_ROOT, L"Folder"};
    std::wstring ext_;
    std::wstring cls_;
    KeyGuard extGuard_;
    KeyGuard clsGuard_;
    TempDir dir_;
    std::wstring icons_;
    std::wstring library_;
};

TEST_F(CliTest, HelpPrintsUsageAndSucceeds)
{
    for (const wchar_t* help : {L"--help", L"-h", L"/?"}) {
        const ToolRun run = RunTool({help});
        EXPECT_EQ(0u, run.ExitCode) << help;
        EXPECT_TRUE(Contains(run.Out, L"orvane set SOURCE[,INDEX] PATH... [--all-of-type]")) << run.Out;
        EXPECT_TRUE(Contains(run.Out, L"orvane remove-all")) << run.Out;
        EXPECT_EQ(L"", run.Err);
    }
}

TEST_F(CliTest, CommandLinesNotUnderstoodExitWithTwoAndUsageOnStandardError)
{
    const std::wstring folder = dir_.MakeFolder(L"f");
    const std::vector<std::vector<std::wstring>> lines = {
        {},
        {L"bogus"},
        {L"SET", icons_, folder},
        {L"show"},
        {L"restore", L"--all-of-type"},
        {L"set"},
        {L"set", icons_},
        {L"show", L"--frobnicate", folder},
        {L"remove-all", folder},
        {L"show", L"--recurse", folder},
        {L"restore", L"--recurse"},
        {L"set", icons_, folder, L"--recurse", L"--trust-desktop-ini"},
        {L"set", L"--colour", L"teal", folder, L"--recurse", L"--trust-desktop-ini"},
        {L"set", icons_, folder, L"--recurse", L"--copy", L"--trust-desktop-ini"},
    };
    for (const auto& line : lines) {
        const ToolRun run = RunTool(line);
        std::wstring shown;
        for (const auto& arg : line)
            shown += arg + L" ";
        EXPECT_EQ(2u, run.ExitCode) << shown;
        EXPECT_TRUE(Contains(run.Err, L"Usage:")) << shown << run.Err;
        EXPECT_EQ(L"", run.Out) << shown;
    }
    EXPECT_EQ(L"", IniText(folder, L"IconFile"));
}

// Each bad input gets a message on standard error, exit code 1, and nothing written for
// its target: no per-file entry, no class, no Desktop.ini.
TEST_F(CliTest, BadInputsAreRefusedWithAMessageAndWriteNothing)
{
    const std::wstring file = dir_.MakeFile(L"a" + ext_);
    const std::wstring folder = dir_.MakeFolder(L"folder");
    const std::wstring text = dir_.MakeFile(L"notes.txt", "no icons in here");
    const std::wstring empty = dir_.MakeFile(L"empty.ico", "");
    const std::wstring broken = dir_.MakeFile(L"broken.ico", std::string("\0\0\1\0\5\0", 6));
    // Icon files whose directory does not fit the file; the platform's parser trusts it.
    const std::wstring manyImages = dir_.MakeFile(L"many.ico", CraftedIconFile(65535, 1, 22));
    const std::wstring farOffset = dir_.MakeFile(L"far.ico", CraftedIconFile(1, 1, 0x7FFFFFFF));
    const std::wstring sizeWraps = dir_.MakeFile(L"wraps.ico", CraftedIconFile(1, 0xFFFFFFF0u, 22));
    const std::wstring noImages = dir_.MakeFile(L"no-images.ico", CraftedIconFile(0, 1, 22));
    // Read as an icon file by its content, whatever its name.
    const std::wstring disguised = dir_.MakeFile(L"disguised.dll", CraftedIconFile(65535, 1, 22));
    const std::wstring noExtension = dir_.MakeFile(L"README");
    const std::wstring dotOnly = dir_.MakeFile(L"trailing.");
    const std::wstring longPath = dir_.Path() + L"\\" + std::wstring(280, L'x') + ext_;
    const std::wstring longSource = dir_.Path() + L"\\" + std::wstring(270, L'y') + L".ico";
    // Sources that another program holds open, sharing them with nobody: they exist and
    // hold icons (or a picture), and cannot be read.
    const std::wstring lockedIcon = WriteIconFile(dir_.Path() + L"\\locked.ico", 2);
    const std::wstring lockedPicture = dir_.MakeFile(L"locked.png", "\x89PNG\r\n\x1a\n");
    struct Held {
        HANDLE Handle;
        ~Held() { CloseHandle(Handle); }
    } heldIcon{CreateFileW(lockedIcon.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)},
        heldPicture{CreateFileW(lockedPicture.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
    ASSERT_NE(INVALID_HANDLE_VALUE, heldIcon.Handle);
    ASSERT_NE(INVALID_HANDLE_VALUE, heldPicture.Handle);
    const std::wstring sharingViolation = L" cannot be read: " + SystemErrorText(ERROR_SHARING_VIOLATION);

    struct Case {
        const char* what;
        std::vector<std::wstring> args;
        std::wstring message;
    };
    const std::vector<Case> cases = {
        {"missing target", {L"set", Icon(1), dir_.Path() + L"\\missing" + ext_}, L"no such file"},
        {"missing folder", {L"set", Icon(1), dir_.Path() + L"\\gone\\"}, L"no such file"},
        {"empty target", {L"set", Icon(1), L""}, L"no such file"},
        {"restore of an empty path", {L"restore", L""}, L"no such file"},
        {"source that is text", {L"set", text, file}, L"holds no icons"},
        {"empty source", {L"set", empty, file}, L"holds no icons"},
        {"icon file held open", {L"set", lockedIcon, file}, L"icon source " + lockedIcon + sharingViolation},
        {"icon file held open, copied", {L"set", lockedIcon, folder, L"--copy"},
         L"icon source " + lockedIcon + sharingViolation},
        {"picture held open", {L"set", lockedPicture, folder}, L"icon source " + lockedPicture + sharingViolation},
        {"icon file held open, for a tree", {L"set", lockedIcon + L",1", L"--recurse", folder},
         L"icon source " + lockedIcon + sharingViolation},
        {"icon file that claims icons it lacks", {L"set", broken + L",0", folder}, L"is a damaged icon file"},
        {"icon file claiming 65,535 images", {L"set", manyImages, folder}, L"is a damaged icon file"},
        {"icon file with an image at 0x7FFFFFFF", {L"set", farOffset, file}, L"is a damaged icon file"},
        {"icon file whose image size wraps", {L"set", sizeWraps + L",0", folder}, L"is a damaged icon file"},
        {"icon file without images", {L"set", noImages, file, L"--all-of-type"}, L"is a damaged icon file"},
        {"icon file by its content", {L"set", disguised, folder}, L"is a damaged icon file"},
        {"resource id of an icon file", {L"set", icons_ + L",-2147483647", folder}, L"has no resource ids"},
        {"resource id 1 of an icon file", {L"set", icons_ + L",-1", file}, L"has no resource ids"},
        {"resource id the library lacks", {L"set", Icon(-31999), folder}, L"icon -31999 cannot be read"},
        {"missing source", {L"set", dir_.Path() + L"\\none.ico,0", file}, L"not found"},
        {"index one past an icon file", {L"set", icons_ + L",1", file}, L"holds 1 icons; index 1 is beyond them"},
        {"index one past a library", {L"set", Icon(LibraryCount()), folder},
         L"index " + std::to_wstring(LibraryCount()) + L" is beyond them"},
        {"index far beyond", {L"set", Icon(100000), folder}, L"index 100000 is beyond them"},
        {"index beyond 32 bits", {L"set", icons_ + L",4294967296", file}, L"out of range"},
        {"file without extension", {L"set", Icon(1), noExtension}, L"has no extension"},
        {"file name ending in a dot", {L"set", Icon(1), dotOnly}, L"has no extension"},
        {"type of a file without extension", {L"set", Icon(1), noExtension, L"--all-of-type"}, L"has no extension"},
        {"target path too long", {L"set", Icon(1), longPath}, L"too long"},
        {"source path too long", {L"set", longSource + L",0", file}, L"too long"},
        {"restore of a missing target", {L"restore", dir_.Path() + L"\\missing" + ext_}, L"no such file"},
        {"show of a missing target", {L"show", dir_.Path() + L"\\missing"}, L"no such file"},
        {"missing tree", {L"set", Icon(1), dir_.Path() + L"\\missing", L"--recurse"}, L"no such file"},
        {"restore of a missing tree", {L"restore", L"--recurse", dir_.Path() + L"\\missing"}, L"no such file"},
        {"tree path too long", {L"set", Icon(1), L"--recurse", longPath}, L"too long"},
    };
    for (const Case& c : cases) {
        const ToolRun run = RunTool(c.args);
        EXPECT_EQ(1u, run.ExitCode) << c.what << "\n" << run.Out << run.Err;
        EXPECT_TRUE(Contains(run.Err, c.message)) << c.what << ": " << run.Err;
        EXPECT_TRUE(Contains(run.Err, L"orvane: ")) << c.what;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, FileIcons)) << c.what;
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ext_)) << c.what;
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, cls_)) << c.what;
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"READMEfile")) << c.what;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder + L"\\desktop.ini").c_str())) << c.what;
    }
}

TEST_F(CliTest, TheLastIconOfASourceAndNegativeResourceIdsAreAccepted)
{
    const std::wstring folder = dir_.MakeFolder(L"folder");
    const int last = LibraryCount() - 1;
    ASSERT_GT(last, 0);
    ToolRun run = RunTool({L"set", Icon(last), folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(library_, IniText(folder, L"IconFile"));
    EXPECT_EQ(std::to_wstring(last), IniText(folder, L"IconIndex"));

    run = RunTool({L"set", icons_, folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(icons_, IniText(folder, L"IconFile"));
    EXPECT_EQ(L"0", IniText(folder, L"IconIndex"));

    run = RunTool({L"set", L"shell32.dll,-16", folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(L"-16", IniText(folder, L"IconIndex"));
    // A source found along the search path is stored with its full path.
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, static_cast<UINT>(std::size(system)));
    EXPECT_EQ(0, lstrcmpiW((std::wstring(system) + L"\\shell32.dll").c_str(), IniText(folder, L"IconFile").c_str()));
}

// A source named without a folder is found where the system finds modules, whatever
// the search path holds; one that is nowhere is reported as not found.
TEST_F(CliTest, ASourceByNameIsFoundWithAnySearchPath)
{
    const std::wstring folder = dir_.MakeFolder(L"folder");
    for (const wchar_t* path : {L"", L";", L"C:\\nowhere"}) {
        SCOPED_TRACE(Utf8(path));
        ScopedVariable searchPath(L"PATH", path);
        ToolRun run = RunTool({L"set", L"shell32.dll,3", folder});
        EXPECT_EQ(0u, run.ExitCode) << run.Err;
        EXPECT_EQ(0, lstrcmpiW(SystemLibrary().c_str(), IniText(folder, L"IconFile").c_str()));
        EXPECT_EQ(L"3", IniText(folder, L"IconIndex"));
        run = RunTool({L"set", L"orvane-none.dll,3", folder});
        EXPECT_EQ(1u, run.ExitCode);
        EXPECT_TRUE(Contains(run.Err, L"icon source not found: orvane-none.dll")) << run.Err;
    }
}

TEST_F(CliTest, ACommaInTheSourcePathIsNotTakenForAnIndex)
{
    const std::wstring source = WriteIconFile(dir_.MakeFolder(L"a,1") + L"\\x,2.ico", 2);
    const std::wstring folder = dir_.MakeFolder(L"folder");
    ToolRun run = RunTool({L"set", source, folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(source, IniText(folder, L"IconFile"));
    EXPECT_EQ(L"0", IniText(folder, L"IconIndex"));

    // Only the last comma, followed by a whole number, splits off the index.
    run = RunTool({L"set", source + L",1", folder});
    EXPECT_EQ(1u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Err, L"icon source " + source + L" holds 1 icons; index 1 is beyond")) << run.Err;
    run = RunTool({L"set", source + L",0", folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(source, IniText(folder, L"IconFile"));
}

// Explorer hands over full paths with long names and no trailing "\\"; relative and
// other spellings are stored under that same name, where the icon handler and restore
// find them.
TEST_F(CliTest, PathsAreStoredAsExplorerNamesThem)
{
    RegisterType(L"shell32.dll,1");
    const std::wstring folder = dir_.MakeFolder(L"Long Folder Name");
    const std::wstring file = dir_.MakeFile(L"Long Folder Name\\report file" + ext_);

    ToolRun run =
        RunTool({L"set", Icon(1), L"Long Folder Name\\", L"Long Folder Name\\report file" + ext_}, dir_.Path());
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, folder + L": Folder icon set to")) << run.Out;
    EXPECT_EQ(Icon(1) + L"," + cls_, FileEntry(file).value_or(L"(none)"));

    wchar_t shortName[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameW(folder.c_str(), shortName, static_cast<DWORD>(std::size(shortName))));
    run = RunTool({L"set", Icon(2), std::wstring(shortName) + L"\\"});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    // Named by another spelling, the folder keeps the backup of before its first change.
    EXPECT_TRUE(Contains(Value(HKEY_LOCAL_MACHINE, L"Software\\Brindlewick Software\\Orvane\\FolderBAKStates",
                               folder.c_str()).value_or(L"(none)"),
                         L"File=none"));
    run = RunTool({L"restore", L"report file" + ext_}, folder);
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_FALSE(FileEntry(file));
    EXPECT_EQ(L"shell32.dll,1", DefaultIcon());

    // Device paths ("\\?\", "\\.\") name the same items: stored under the plain path,
    // where the icon handler is asked for them and a plain restore finds them.
    run = RunTool({L"set", Icon(3), L"\\\\?\\" + file, L"\\\\.\\" + folder, L"\\\\?\\C:"});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, file + L": File icon set to")) << run.Out;
    EXPECT_TRUE(Contains(run.Out, L"\nC:\\: Drive icon set to")) << run.Out;
    EXPECT_EQ(Icon(3) + L"," + cls_, FileEntry(file).value_or(L"(none)"));
    EXPECT_FALSE(FileEntry(L"\\\\?\\" + file));
    EXPECT_EQ(L"3", IniText(folder, L"IconIndex"));
    EXPECT_EQ(Icon(3), Value(HKEY_LOCAL_MACHINE, std::wstring(DriveIcons) + L"\\C\\DefaultIcon").value_or(L""));
    run = RunTool({L"show", L"\\\\.\\" + file});
    EXPECT_TRUE(Contains(run.Out, file + L"\n  kind:   File\n")) << run.Out;
    EXPECT_TRUE(Contains(run.Out, L"backup: yes")) << run.Out;
    run = RunTool({L"restore", file, L"C:\\", L"\\\\?\\" + folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_FALSE(FileEntry(file));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(DriveIcons) + L"\\C\\DefaultIcon"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder + L"\\Desktop.ini").c_str()));
    EXPECT_EQ(L"shell32.dll,1", DefaultIcon());
}

TEST_F(CliTest, OneBadTargetAmongSeveralFailsAloneAndTheOthersProceed)
{
    RegisterType(L"shell32.dll,1");
    const std::wstring folder = dir_.MakeFolder(L"folder");
    const std::wstring file = dir_.MakeFile(L"a" + ext_);
    const std::wstring missing = dir_.Path() + L"\\missing" + ext_;
    const std::wstring noExtension = dir_.MakeFile(L"README");

    const ToolRun run = RunTool({L"set", Icon(2), folder, missing, file, noExtension});
    EXPECT_EQ(1u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Err, missing + L": no such file")) << run.Err;
    EXPECT_TRUE(Contains(run.Err, noExtension + L": has no extension")) << run.Err;
    EXPECT_TRUE(Contains(run.Out, folder + L": Folder icon set to " + Icon(2))) << run.Out;
    EXPECT_TRUE(Contains(run.Out, file + L": File icon set to " + Icon(2))) << run.Out;

    EXPECT_EQ(2, ShellFolderIndex(folder));
    EXPECT_EQ(Icon(2) + L"," + cls_, FileEntry(file).value_or(L"(none)"));
    EXPECT_FALSE(FileEntry(missing));
    EXPECT_FALSE(FileEntry(noExtension));
}

TEST_F(CliTest, FolderSetShowRestoreAsTheShellSeesIt)
{
    const std::wstring folder = dir_.MakeFolder(L"My Folder");
    // A folder with no icon of its own and no Folder class icon: it is backed up as having
    // none, and restoring takes away everything the changes wrote.
    test::DeleteKeyTree(HKEY_CLASSES_ROOT, L"Folder\\DefaultIcon");
    const int before = ShellFolderIndex(folder);
    ToolRun run = RunTool({L"set", Icon(1), folder});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(1, ShellFolderIndex(folder));
    run = RunTool({L"show", folder});
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_EQ(folder + L"\n  kind:   Folder\n  icon:   " + Icon(1) + L"\n  scope:  for all users\n  backup: yes\n",
              run.Out);

    // The second change keeps the backup of before the first, and restore returns to it.
    run = RunTool({L"set", Icon(3), folder});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(3, ShellFolderIndex(folder));
    run = RunTool({L"show", folder});
    EXPECT_EQ(folder + L"\n  kind:   Folder\n  icon:   " + Icon(3) + L"\n  scope:  for all users\n  backup: yes\n",
              run.Out);

    run = RunTool({L"restore", folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, folder + L": Folder icon restored")) << run.Out;
    EXPECT_EQ(before, ShellFolderIndex(folder));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder + L"\\Desktop.ini").c_str()));

    run = RunTool({L"restore", folder});
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Out, L"nothing to restore")) << run.Out;
    EXPECT_EQ(before, ShellFolderIndex(folder));
}

TEST_F(CliTest, FolderRestoreReturnsToTheFolderClassIconAsOnWindows)
{
    // Windows gives the Folder class an icon; the first change backs it up.
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, L"Folder\\DefaultIcon", nullptr, L"shell32.dll,3"));
    const std::wstring folder = dir_.MakeFolder(L"plain");
    ToolRun run = RunTool({L"set", Icon(2), folder});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(2, ShellFolderIndex(folder));
    run = RunTool({L"show", folder});
    EXPECT_TRUE(Contains(run.Out, L"backup: yes")) << run.Out;

    // Restoring leaves the folder as it was, without Desktop.ini: it shows the class's
    // icon again rather than that icon written into the folder.
    run = RunTool({L"restore", folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder + L"\\Desktop.ini").c_str()));
    EXPECT_EQ(L"", IniText(folder, L"IconFile"));
}

// A folder whose Desktop.ini cannot take the change (a folder of that name, or a file held
// open by a program that shares it with nobody), or that refuses every write itself, is
// reported with what refused and the system's reason, alone and under --recurse (where no
// scope is to blame, so no --for-me is advised); the change writes nothing: the folder
// never changed has no backup afterwards.
TEST_F(CliTest, FolderChangesThatCannotBeWrittenSayWhyAndLeaveNoBackup)
{
    enum class State { DesktopIniIsFolder, DesktopIniHeldOpen, FolderUnwritable };
    const struct {
        const wchar_t* Name;
        State Made;
        std::wstring Reason;
    } cases[] = {
        {L"asFolder", State::DesktopIniIsFolder, L"holds a folder named Desktop.ini"},
        {L"heldOpen", State::DesktopIniHeldOpen,
         L"its Desktop.ini refused the write: " + SystemErrorText(ERROR_SHARING_VIOLATION)},
        {L"unwritable", State::FolderUnwritable,
         L"the folder refused the write: " + SystemErrorText(ERROR_ACCESS_DENIED)},
    };
    for (const auto& c : cases) {
        for (const bool recurse : {false, true}) {
            SCOPED_TRACE(Utf8(std::wstring(c.Name) + (recurse ? L" --recurse" : L"")));
            const std::wstring name = std::wstring(c.Name) + (recurse ? L"Tree" : L"");
            const std::wstring folder = dir_.MakeFolder(name);
            const std::wstring desktopIni = folder + L"\\Desktop.ini";
            HANDLE holder = INVALID_HANDLE_VALUE;
            std::optional<UnwritableFolder> unwritable;
            switch (c.Made) {
            case State::DesktopIniIsFolder:
                dir_.MakeFolder(name + L"\\Desktop.ini");
                break;
            case State::DesktopIniHeldOpen:
                dir_.MakeFile(name + L"\\Desktop.ini", "[.ShellClassInfo]\r\nIconFile=C:\\a.ico\r\nIconIndex=1\r\n");
                holder = CreateFileW(desktopIni.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
                ASSERT_NE(INVALID_HANDLE_VALUE, holder);
                break;
            case State::FolderUnwritable:
                unwritable.emplace(folder);
                break;
            }
            if (unwritable && !unwritable->Refuses()) {
                std::cout << "[ skipped  ] this host cannot make a folder refuse writes (" << Utf8(c.Name) << ")\n";
                continue;
            }
            const DWORD attributes = GetFileAttributesW(folder.c_str());
            std::vector<std::wstring> args = {L"set", Icon(2), folder};
            if (recurse)
                args.push_back(L"--recurse");
            ToolRun run = RunTool(args);
            if (holder != INVALID_HANDLE_VALUE)
                CloseHandle(holder);
            unwritable.reset();
            EXPECT_EQ(1u, run.ExitCode);
            EXPECT_TRUE(Contains(run.Err, folder + L": ")) << run.Err;
            EXPECT_TRUE(Contains(run.Err, c.Reason)) << run.Err;
            EXPECT_FALSE(Contains(run.Err, L"administrator")) << run.Err;
            EXPECT_FALSE(Contains(run.Err, L"--for-me")) << run.Err;
            EXPECT_FALSE(Contains(run.Err, L"HKEY_")) << run.Err;
            EXPECT_EQ(attributes, GetFileAttributesW(folder.c_str()));
            EXPECT_FALSE(Value(HKEY_LOCAL_MACHINE, FolderBackupKey, folder.c_str()));
            EXPECT_FALSE(Value(HKEY_CURRENT_USER, FolderBackupKey, folder.c_str()));
            run = RunTool({L"show", folder});
            EXPECT_TRUE(Contains(run.Out, L"backup: no")) << run.Out;
        }
    }
}

// 259 characters fit every path: an icon source of that length is set on a folder and
// read back whole, and an IconResource of that length already in the folder is backed
// up and restored as it stood.
TEST_F(CliTest, FolderIconsOfTheLongestPathsAreTakenWhole)
{
    std::wstring source = dir_.Path() + L"\\" + std::wstring(120, L'a');
    ASSERT_TRUE(CreateDirectoryW(source.c_str(), nullptr));
    source += L"\\" + std::wstring(259 - source.size() - 5, L'b') + L".ico";
    ASSERT_EQ(259u, source.size());
    WriteIconFile(source);
    const std::wstring folder = dir_.MakeFolder(L"longest");
    ToolRun run = RunTool({L"set", source + L",0", folder});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(folder + L": Folder icon set to " + source + L",0\n", run.Out);
    EXPECT_EQ(source, IniText(folder, L"IconFile"));
    run = RunTool({L"show", folder});
    EXPECT_TRUE(Contains(run.Out, L"  icon:   " + source + L",0\n")) << run.Out;

    const std::wstring resource = dir_.MakeFolder(L"resource");
    const std::string content = "[.ShellClassInfo]\r\nIconResource=" + std::string(259, 'r') + ",1\r\n";
    const std::wstring desktopIni = dir_.MakeFile(L"resource\\Desktop.ini", content);
    run = RunTool({L"set", Icon(2), resource});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(2, ShellFolderIndex(resource));
    run = RunTool({L"show", resource});
    EXPECT_TRUE(Contains(run.Out, L"backup: yes")) << run.Out;
    run = RunTool({L"restore", resource});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(content == ReadFileText(desktopIni));
}

TEST_F(CliTest, SingleFileSetShowRestore)
{
    RegisterType(L"shell32.dll,1");
    const std::wstring file = dir_.MakeFile(L"report" + ext_);
    const std::wstring sibling = dir_.MakeFile(L"other" + ext_);

    ToolRun run = RunTool({L"show", file});
    EXPECT_EQ(file + L"\n  kind:   File\n  class:  " + cls_ + L"\n  icon:   shell32.dll,1\n  scope:  (not set)\n  backup: no\n",
              run.Out);

    run = RunTool({L"set", Icon(2), file});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(Icon(2) + L"," + cls_, FileEntry(file).value_or(L"(none)"));
    // The class now asks this extension for each file's icon.
    EXPECT_EQ(L"%1", DefaultIcon());
    EXPECT_EQ(Clsid, Value(HKEY_CLASSES_ROOT, cls_ + L"\\shellex\\IconHandler").value_or(L""));
    EXPECT_FALSE(FileEntry(sibling));

    run = RunTool({L"show", file});
    EXPECT_EQ(file + L"\n  kind:   File\n  class:  " + cls_ + L"\n  icon:   " + Icon(2) +
                  L"\n  scope:  for all users\n  backup: yes\n",
              run.Out);
    // The other file of the type shows the type's icon, which is no setting of its own.
    run = RunTool({L"show", sibling});
    EXPECT_EQ(sibling + L"\n  kind:   File\n  class:  " + cls_ + L"\n  icon:   shell32.dll,1\n  scope:  (not set)\n  backup: no\n",
              run.Out);

    run = RunTool({L"restore", file});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, file + L": File icon restored")) << run.Out;
    EXPECT_FALSE(FileEntry(file));
    EXPECT_EQ(L"shell32.dll,1", DefaultIcon());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, cls_ + L"\\shellex\\IconHandler"));
    EXPECT_EQ(L"shell32.dll,1", ShellIcon(file));

    run = RunTool({L"restore", file});
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Out, L"nothing to restore")) << run.Out;
}

TEST_F(CliTest, SingleFileRestoreRefusesWhenAnotherHandlerTookTheClassOver)
{
    RegisterType(L"shell32.dll,1");
    const std::wstring file = dir_.MakeFile(L"report" + ext_);
    ASSERT_EQ(0u, RunTool({L"set", Icon(2), file}).ExitCode);
    const wchar_t other[] = L"{00000000-1111-2222-3333-444444444444}";
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, cls_ + L"\\shellex\\IconHandler", nullptr, other));

    const ToolRun run = RunTool({L"restore", file});
    EXPECT_EQ(1u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Err, L"no longer Orvane")) << run.Err;
    EXPECT_TRUE(FileEntry(file));
    EXPECT_EQ(other, Value(HKEY_CLASSES_ROOT, cls_ + L"\\shellex\\IconHandler").value_or(L""));

    // The type's "%1" is answered by that program's handler now, not by Orvane.
    const ToolRun shown = RunTool({L"show", dir_.MakeFile(L"other" + ext_)});
    EXPECT_EQ(0u, shown.ExitCode) << shown.Err;
    EXPECT_FALSE(Contains(shown.Out, L"Orvane")) << shown.Out;
    EXPECT_TRUE(Contains(shown.Out, L"icon:   %1 (each file's icon, answered by another program's icon handler " +
                                        std::wstring(other) + L")\n"))
        << shown.Out;
    EXPECT_TRUE(Contains(shown.Out, L"scope:  (not set)")) << shown.Out;
}

TEST_F(CliTest, AllFilesOfATypeSetShowRestoreAsTheShellSeesIt)
{
    RegisterType(L"shell32.dll,1");
    const std::wstring file = dir_.MakeFile(L"report" + ext_);
    const std::wstring sibling = dir_.MakeFile(L"other" + ext_);
    EXPECT_EQ(L"shell32.dll,1", ShellIcon(sibling));

    ToolRun run = RunTool({L"set", L"--all-of-type", Icon(3), file});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, file + L": Type icon set to " + Icon(3))) << run.Out;
    EXPECT_EQ(Icon(3), DefaultIcon());
    EXPECT_EQ(L"shell32.dll,1", DefaultIcon(L"BAKIconInfo"));
    EXPECT_FALSE(FileEntry(file));
    EXPECT_EQ(Icon(3), ShellIcon(sibling));

    run = RunTool({L"show", L"--all-of-type", file});
    EXPECT_EQ(file + L"\n  kind:   Type\n  class:  " + cls_ + L"\n  icon:   " + Icon(3) +
                  L"\n  scope:  for all users\n  backup: yes\n",
              run.Out);

    // A second change keeps the first backup.
    ASSERT_EQ(0u, RunTool({L"set", Icon(0), file, L"--all-of-type"}).ExitCode);
    EXPECT_EQ(L"shell32.dll,1", DefaultIcon(L"BAKIconInfo"));

    run = RunTool({L"restore", L"--all-of-type", sibling});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(L"shell32.dll,1", DefaultIcon());
    EXPECT_EQ(L"(missing)", DefaultIcon(L"BAKIconInfo"));
    EXPECT_EQ(L"shell32.dll,1", ShellIcon(file));

    run = RunTool({L"restore", L"--all-of-type", file});
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Out, L"nothing to restore")) << run.Out;
}

TEST_F(CliTest, ATypeWithoutAnyIconGetsItsClassAndIcon)
{
    const std::wstring file = dir_.MakeFile(L"new" + ext_);
    const ToolRun run = RunTool({L"set", Icon(1), file, L"--all-of-type"});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(cls_, Value(HKEY_CLASSES_ROOT, ext_).value_or(L""));
    EXPECT_EQ(Icon(1), DefaultIcon());
    EXPECT_EQ(Icon(1), ShellIcon(file));
}

TEST_F(CliTest, HostileTypeDataIsShownAsNoIconAndReplacedCleanly)
{
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, cls_));
    const std::string unterminated(1000, 'A');
    ASSERT_TRUE(WriteValue(HKEY_CLASSES_ROOT, cls_ + L"\\DefaultIcon", nullptr, REG_BINARY, unterminated.data(),
                           static_cast<DWORD>(unterminated.size())));
    const std::wstring file = dir_.MakeFile(L"odd" + ext_);

    ToolRun run = RunTool({L"show", file, L"--all-of-type"});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(file + L"\n  kind:   Type\n  icon:   (none)\n  scope:  (not set)\n  backup: no\n", run.Out);

    run = RunTool({L"set", L"--all-of-type", Icon(4), file});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(Icon(4), DefaultIcon());
    EXPECT_EQ(Icon(4), ShellIcon(file));
}

// A file without an extension has no type whose icon it could show or take.
TEST_F(CliTest, AFileWithoutAnExtensionIsShownWithNoIconSet)
{
    const std::wstring file = dir_.MakeFile(L"README");
    const ToolRun run = RunTool({L"show", file});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(file + L"\n  kind:   File (no extension)\n  icon:   (none)\n  scope:  (not set)\n  backup: no\n", run.Out);
    EXPECT_EQ(L"", run.Err);
}

TEST_F(CliTest, ACurVerCycleEndsAndTheTypeStillGetsItsIcon)
{
    const std::wstring second = cls_ + L"2";
    KeyGuard secondGuard(HKEY_CLASSES_ROOT, second);
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, cls_));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, cls_ + L"\\CurVer", nullptr, second));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, second + L"\\CurVer", nullptr, cls_));
    const std::wstring file = dir_.MakeFile(L"loop" + ext_);

    ToolRun run = RunTool({L"show", file});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, L"icon:   (none)")) << run.Out;

    run = RunTool({L"set", L"--all-of-type", Icon(6), file});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    run = RunTool({L"show", L"--all-of-type", file});
    EXPECT_TRUE(Contains(run.Out, L"icon:   " + Icon(6))) << run.Out;
}

TEST_F(CliTest, AFileWithTheLongestPathGetsItsOwnIcon)
{
    RegisterType(L"shell32.dll,1");
    std::wstring name = L"n";
    const std::size_t used = dir_.Path().size() + 1 + ext_.size();
    ASSERT_LT(used, 259u);
    name.append(259 - used - 1, L'x');
    const std::wstring file = dir_.MakeFile(name + ext_);
    ASSERT_EQ(259u, file.size());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str()));

    ToolRun run = RunTool({L"set", Icon(2), file});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(Icon(2) + L"," + cls_, FileEntry(file).value_or(L"(none)"));
    run = RunTool({L"restore", file});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_FALSE(FileEntry(file));
    EXPECT_EQ(L"shell32.dll,1", DefaultIcon());
}

TEST_F(CliTest, DriveSetShowRestore)
{
    const std::wstring drive = L"C:\\";
    ToolRun run = RunTool({L"set", Icon(2), drive});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, L"C:\\: Drive icon set to " + Icon(2))) << run.Out;
    EXPECT_EQ(Icon(2), Value(HKEY_LOCAL_MACHINE, std::wstring(DriveIcons) + L"\\C\\DefaultIcon").value_or(L""));

    run = RunTool({L"show", drive});
    EXPECT_EQ(L"C:\\\n  kind:   Drive\n  icon:   " + Icon(2) + L"\n  scope:  for all users\n  backup: yes\n", run.Out);

    run = RunTool({L"restore", drive});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(DriveIcons) + L"\\C\\DefaultIcon"));
    run = RunTool({L"show", drive});
    EXPECT_TRUE(Contains(run.Out, L"backup: no")) << run.Out;
    run = RunTool({L"restore", drive});
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Out, L"nothing to restore")) << run.Out;

    // Another program's icon for the drive: restore and remove-all leave it alone, a
    // change backs it up, and restoring that change puts it back exactly.
    const std::wstring entry = std::wstring(DriveIcons) + L"\\C\\DefaultIcon";
    ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, entry, nullptr, L"shell32.dll,8"));
    const std::wstring foreign = DumpKey(HKEY_LOCAL_MACHINE, std::wstring(DriveIcons) + L"\\C");
    run = RunTool({L"show", drive});
    EXPECT_EQ(L"C:\\\n  kind:   Drive\n  icon:   shell32.dll,8\n  scope:  for all users\n  backup: no\n", run.Out);
    run = RunTool({L"restore", drive});
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Out, L"nothing to restore")) << run.Out;
    EXPECT_EQ(0u, RunTool({L"remove-all"}).ExitCode);
    EXPECT_EQ(foreign, DumpKey(HKEY_LOCAL_MACHINE, std::wstring(DriveIcons) + L"\\C"));

    run = RunTool({L"set", Icon(5), drive});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(Icon(5), Value(HKEY_LOCAL_MACHINE, entry).value_or(L""));
    EXPECT_EQ(L"shell32.dll,8", Value(HKEY_LOCAL_MACHINE, entry, L"BAKIconInfo").value_or(L""));
    EXPECT_TRUE(Contains(RunTool({L"show", drive}).Out, L"backup: yes"));
    EXPECT_EQ(0u, RunTool({L"remove-all"}).ExitCode);
    EXPECT_EQ(Icon(5), Value(HKEY_LOCAL_MACHINE, entry).value_or(L""));
    run = RunTool({L"restore", drive});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, L"C:\\: Drive icon restored")) << run.Out;
    EXPECT_EQ(foreign, DumpKey(HKEY_LOCAL_MACHINE, std::wstring(DriveIcons) + L"\\C"));
}

TEST_F(CliTest, ARefusedTypeWriteReportsAccessDeniedAndChangesNothing)
{
    RegisterType(L"shell32.dll,1");
    const std::wstring file = dir_.MakeFile(L"locked" + ext_);
    {
        ReadOnlyKey locked(HKEY_CLASSES_ROOT, cls_ + L"\\DefaultIcon");
        ASSERT_TRUE(locked.Applied());
        const ToolRun run = RunTool({L"set", L"--all-of-type", Icon(1), file});
        EXPECT_EQ(1u, run.ExitCode);
        EXPECT_TRUE(Contains(run.Err, file + L": access denied")) << run.Err;
        // All users' places accepted the change at their top, so this user's were never
        // the way out: the key that refused is named, not rights the user lacks.
        EXPECT_TRUE(Contains(run.Err, L"all users' settings")) << run.Err;
        EXPECT_FALSE(Contains(run.Err, L"administrator")) << run.Err;
        EXPECT_FALSE(Contains(run.Out, L"icon set")) << run.Out;
    }
    EXPECT_EQ(L"shell32.dll,1", DefaultIcon());
    EXPECT_EQ(L"(missing)", DefaultIcon(L"BAKIconInfo"));
}

TEST_F(CliTest, ARefusedPerFileTableReportsAccessDeniedAndInstallsNoHandler)
{
    RegisterType(L"shell32.dll,1");
    const std::wstring file = dir_.MakeFile(L"locked" + ext_);
    ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, FileIcons, L"placeholder", L"x"));
    {
        ReadOnlyKey locked(HKEY_LOCAL_MACHINE, FileIcons);
        ASSERT_TRUE(locked.Applied());
        const ToolRun run = RunTool({L"set", Icon(1), file});
        EXPECT_EQ(1u, run.ExitCode);
        EXPECT_TRUE(Contains(run.Err, file + L": access denied")) << run.Err;
    }
    EXPECT_FALSE(FileEntry(file));
    EXPECT_EQ(L"shell32.dll,1", DefaultIcon());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, cls_ + L"\\shellex\\IconHandler"));
}

// Guards every class of the prefix on which Orvane is installed as icon handler (as
// remove-all restores them all, not only the test's own).
std::vector<std::unique_ptr<KeyGuard>> GuardHandlerClasses()
{
    std::vector<std::unique_ptr<KeyGuard>> guards;
    for (DWORD i = 0;; ++i) {
        wchar_t name[MAX_PATH];
        DWORD size = static_cast<DWORD>(std::size(name));
        if (RegEnumKeyExW(HKEY_CLASSES_ROOT, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (name[0] != L'.')
            continue;
        const std::optional<std::wstring> cls = Value(HKEY_CLASSES_ROOT, name);
        if (cls && !cls->empty() &&
            (KeyExists(HKEY_CLASSES_ROOT, *cls + L"\\DefaultIconBAK") ||
             KeyExists(HKEY_CLASSES_ROOT, *cls + L"\\shellex\\IconHandlerBAK") ||
             Value(HKEY_CLASSES_ROOT, *cls + L"\\shellex\\IconHandler").value_or(L"") == Clsid))
            guards.push_back(std::make_unique<KeyGuard>(HKEY_CLASSES_ROOT, *cls));
    }
    return guards;
}

TEST_F(CliTest, RemoveAllRestoresEveryClassAndDeletesTheTables)
{
    const auto otherClasses = GuardHandlerClasses();
    RegisterType(L"shell32.dll,1");
    const std::wstring ext2 = UniqueName(L".");
    const std::wstring cls2 = ext2.substr(1) + L"file";
    KeyGuard extGuard2(HKEY_CLASSES_ROOT, ext2);
    KeyGuard clsGuard2(HKEY_CLASSES_ROOT, cls2);
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, ext2, nullptr, cls2));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, cls2 + L"\\DefaultIcon", nullptr, L"shell32.dll,7"));
    const std::wstring a = dir_.MakeFile(L"a" + ext_);
    const std::wstring b = dir_.MakeFile(L"b" + ext2);
    const std::wstring folder = dir_.MakeFolder(L"folder");
    for (const std::vector<std::wstring>& args : {std::vector<std::wstring>{L"set", Icon(1), a, b},
                                                   {L"set", Icon(1), folder}, {L"set", Icon(2), folder}}) {
        const ToolRun set = RunTool(args);
        ASSERT_EQ(0u, set.ExitCode) << test::Utf8(set.Out + set.Err);
    }
    ASSERT_EQ(L"%1", DefaultIcon());

    ToolRun run = RunTool({L"remove-all"});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(L"shell32.dll,1", DefaultIcon());
    EXPECT_EQ(L"shell32.dll,7", Value(HKEY_CLASSES_ROOT, cls2 + L"\\DefaultIcon").value_or(L""));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, cls_ + L"\\shellex\\IconHandler"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, cls2 + L"\\shellex\\IconHandler"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, FileIcons));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Brindlewick Software\\Orvane\\FolderBAKIcons"));
    EXPECT_EQ(L"shell32.dll,1", ShellIcon(a));
    // The folder keeps its icon; only its backup is gone.
    EXPECT_EQ(2, ShellFolderIndex(folder));

    run = RunTool({L"remove-all"});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(L"shell32.dll,1", DefaultIcon());
}

} // namespace
} // namespace orvane::test
