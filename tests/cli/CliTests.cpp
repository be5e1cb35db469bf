// orvane.exe run as a child process under Wine: its command line, what it refuses, and
// what it changes, checked in the registry, in Desktop.ini and through what the shell
// itself reports (SHGetFileInfoA) afterwards.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ExtensionIdentity.h"
#include "RunTool.h"
#include "TestSupport.h"

namespace orvane::test {
namespace {

constexpr char Vendor[] = "Software\\Brindlewick Software";
constexpr char FileIcons[] = "Software\\Brindlewick Software\\Orvane\\FileIcons";
constexpr char DriveIcons[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";
constexpr auto& Clsid = ExtensionClsidText;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::optional<std::string> Value(HKEY root, const std::string& path, const char* name = nullptr)
{
    std::string text;
    if (!ReadValue(root, path, name, &text))
        return std::nullopt;
    return text;
}

// What the platform's shell reports as the icon location of a file.
std::string ShellIcon(const std::string& path)
{
    SHFILEINFOA info = {};
    if (SHGetFileInfoA(path.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION) == 0)
        return "";
    info.szDisplayName[MAX_PATH - 1] = '\0';
    return std::string(info.szDisplayName) + "," + std::to_string(info.iIcon);
}

// For a folder Wine's shell reports the Desktop.ini icon index but not its file (the
// text it returns is not filled in), so only the index is compared.
int ShellFolderIndex(const std::string& folder)
{
    SHFILEINFOA info = {};
    if (SHGetFileInfoA(folder.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION) == 0)
        return -1000;
    return info.iIcon;
}

std::string IniText(const std::string& folder, const char* key)
{
    char text[MAX_PATH] = {};
    GetPrivateProfileStringA(".ShellClassInfo", key, "", text, sizeof text, (folder + "\\desktop.ini").c_str());
    return text;
}

// Every key the tool may touch is guarded: the product's keys, the shell's drive icons,
// the "Folder" class, and a file type of its own (extension and class) per test.
class CliTest : public testing::Test {
protected:
    CliTest()
        : ext_(UniqueName(".")), cls_(ext_.substr(1) + "file"), extGuard_(HKEY_CLASSES_ROOT, ext_),
          clsGuard_(HKEY_CLASSES_ROOT, cls_), icons_(WriteIconFile(dir_.Path() + "\\icons.ico", 4)),
          library_(SystemLibrary())
    {
        // The prefix may hold Orvane's own tables from using it (scripts/run.sh installs
        // it there); each test starts without them, and the guards put them back.
        DeleteKeyTree(HKEY_LOCAL_MACHINE, Vendor);
    }

    // An icon library with many icons: the system's shell32.dll, by its full path.
    static std::string SystemLibrary()
    {
        char system[MAX_PATH] = {};
        GetSystemDirectoryA(system, sizeof system);
        return std::string(system) + "\\shell32.dll";
    }

    // Registers the test's type as the shell knows it: extension -> class -> DefaultIcon.
    void RegisterType(const std::string& defaultIcon)
    {
        ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, cls_));
        ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, cls_ + "\\DefaultIcon", nullptr, defaultIcon));
    }
    // Icon `index` of the library; icons_ is one icon (of four image sizes).
    std::string Icon(int index) const { return library_ + "," + std::to_string(index); }
    int LibraryCount() const { return static_cast<int>(ExtractIconExA(library_.c_str(), -1, nullptr, nullptr, 0)); }
    std::string DefaultIcon(const char* name = nullptr) const
    {
        return Value(HKEY_CLASSES_ROOT, cls_ + "\\DefaultIcon", name).value_or("(missing)");
    }
    std::optional<std::string> FileEntry(const std::string& file) const
    {
        return Value(HKEY_LOCAL_MACHINE, FileIcons, file.c_str());
    }

    KeyGuard vendorMachine_{HKEY_LOCAL_MACHINE, Vendor};
    KeyGuard vendorUser_{HKEY_CURRENT_USER, Vendor};
    KeyGuard drives_{HKEY_LOCAL_MACHINE, DriveIcons};
    KeyGuard folderClass_{HKEY_CLASSES_ROOT, "Folder"};
    std::string ext_;
    std::string cls_;
    KeyGuard extGuard_;
    KeyGuard clsGuard_;
    TempDir dir_;
    std::string icons_;
    std::string library_;
};

TEST_F(CliTest, HelpPrintsUsageAndSucceeds)
{
    for (const char* help : {"--help", "-h", "/?"}) {
        const ToolRun run = RunTool({help});
        EXPECT_EQ(0u, run.ExitCode) << help;
        EXPECT_TRUE(Contains(run.Out, "orvane set SOURCE[,INDEX] PATH... [--all-of-type]")) << run.Out;
        EXPECT_TRUE(Contains(run.Out, "orvane remove-all")) << run.Out;
        EXPECT_EQ("", run.Err);
    }
}

TEST_F(CliTest, CommandLinesNotUnderstoodExitWithTwoAndUsageOnStandardError)
{
    const std::string folder = dir_.MakeFolder("f");
    const std::vector<std::vector<std::string>> lines = {
        {},
        {"bogus"},
        {"SET", icons_, folder},
        {"show"},
        {"restore", "--all-of-type"},
        {"set"},
        {"set", icons_},
        {"show", "--frobnicate", folder},
        {"remove-all", folder},
    };
    for (const auto& line : lines) {
        const ToolRun run = RunTool(line);
        std::string shown;
        for (const auto& arg : line)
            shown += arg + " ";
        EXPECT_EQ(2u, run.ExitCode) << shown;
        EXPECT_TRUE(Contains(run.Err, "Usage:")) << shown << run.Err;
        EXPECT_EQ("", run.Out) << shown;
    }
    EXPECT_EQ("", IniText(folder, "IconFile"));
}

// Each bad input gets a message on standard error, exit code 1, and nothing written for
// its target: no per-file entry, no class, no Desktop.ini.
TEST_F(CliTest, BadInputsAreRefusedWithAMessageAndWriteNothing)
{
    const std::string file = dir_.MakeFile("a" + ext_);
    const std::string folder = dir_.MakeFolder("folder");
    const std::string text = dir_.MakeFile("notes.txt", "no icons in here");
    const std::string empty = dir_.MakeFile("empty.ico", "");
    const std::string broken = dir_.MakeFile("broken.ico", std::string("\0\0\1\0\5\0", 6));
    const std::string noExtension = dir_.MakeFile("README");
    const std::string dotOnly = dir_.MakeFile("trailing.");
    const std::string longPath = dir_.Path() + "\\" + std::string(280, 'x') + ext_;
    const std::string longSource = dir_.Path() + "\\" + std::string(270, 'y') + ".ico";

    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"missing target", {"set", Icon(1), dir_.Path() + "\\missing" + ext_}, "no such file"},
        {"missing folder", {"set", Icon(1), dir_.Path() + "\\gone\\"}, "no such file"},
        {"source that is text", {"set", text, file}, "holds no icons"},
        {"empty source", {"set", empty, file}, "holds no icons"},
        {"icon file that claims icons it lacks", {"set", broken + ",0", folder}, "icon 0 cannot be read"},
        {"resource id the library lacks", {"set", Icon(-31999), folder}, "icon -31999 cannot be read"},
        {"missing source", {"set", dir_.Path() + "\\none.ico,0", file}, "not found"},
        {"index one past an icon file", {"set", icons_ + ",1", file}, "holds 1 icons; index 1 is beyond them"},
        {"index one past a library", {"set", Icon(LibraryCount()), folder},
         "index " + std::to_string(LibraryCount()) + " is beyond them"},
        {"index far beyond", {"set", Icon(100000), folder}, "index 100000 is beyond them"},
        {"index beyond 32 bits", {"set", icons_ + ",4294967296", file}, "out of range"},
        {"file without extension", {"set", Icon(1), noExtension}, "has no extension"},
        {"file name ending in a dot", {"set", Icon(1), dotOnly}, "has no extension"},
        {"type of a file without extension", {"set", Icon(1), noExtension, "--all-of-type"}, "has no extension"},
        {"target path too long", {"set", Icon(1), longPath}, "too long"},
        {"source path too long", {"set", longSource + ",0", file}, "too long"},
        {"restore of a missing target", {"restore", dir_.Path() + "\\missing" + ext_}, "no such file"},
        {"show of a missing target", {"show", dir_.Path() + "\\missing"}, "no such file"},
    };
    for (const Case& c : cases) {
        const ToolRun run = RunTool(c.args);
        EXPECT_EQ(1u, run.ExitCode) << c.what << "\n" << run.Out << run.Err;
        EXPECT_TRUE(Contains(run.Err, c.message)) << c.what << ": " << run.Err;
        EXPECT_TRUE(Contains(run.Err, "orvane: ")) << c.what;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, FileIcons)) << c.what;
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ext_)) << c.what;
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, cls_)) << c.what;
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "READMEfile")) << c.what;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "\\desktop.ini").c_str())) << c.what;
    }
}

TEST_F(CliTest, TheLastIconOfASourceAndNegativeResourceIdsAreAccepted)
{
    const std::string folder = dir_.MakeFolder("folder");
    const int last = LibraryCount() - 1;
    ASSERT_GT(last, 0);
    ToolRun run = RunTool({"set", Icon(last), folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(library_, IniText(folder, "IconFile"));
    EXPECT_EQ(std::to_string(last), IniText(folder, "IconIndex"));

    run = RunTool({"set", icons_, folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(icons_, IniText(folder, "IconFile"));
    EXPECT_EQ("0", IniText(folder, "IconIndex"));

    run = RunTool({"set", "shell32.dll,-16", folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ("-16", IniText(folder, "IconIndex"));
    // A source found along the search path is stored with its full path.
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    EXPECT_EQ(0, lstrcmpiA((std::string(system) + "\\shell32.dll").c_str(), IniText(folder, "IconFile").c_str()));
}

TEST_F(CliTest, ACommaInTheSourcePathIsNotTakenForAnIndex)
{
    const std::string source = WriteIconFile(dir_.MakeFolder("a,1") + "\\x,2.ico", 2);
    const std::string folder = dir_.MakeFolder("folder");
    ToolRun run = RunTool({"set", source, folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(source, IniText(folder, "IconFile"));
    EXPECT_EQ("0", IniText(folder, "IconIndex"));

    // Only the last comma, followed by a whole number, splits off the index.
    run = RunTool({"set", source + ",1", folder});
    EXPECT_EQ(1u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Err, "icon source " + source + " holds 1 icons; index 1 is beyond")) << run.Err;
    run = RunTool({"set", source + ",0", folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(source, IniText(folder, "IconFile"));
}

// Explorer hands over full paths with long names and no trailing "\\"; relative and
// other spellings are stored under that same name, where the icon handler and restore
// find them.
TEST_F(CliTest, PathsAreStoredAsExplorerNamesThem)
{
    RegisterType("shell32.dll,1");
    const std::string folder = dir_.MakeFolder("Long Folder Name");
    const std::string file = dir_.MakeFile("Long Folder Name\\report file" + ext_);

    ToolRun run = RunTool({"set", Icon(1), "Long Folder Name\\", "Long Folder Name\\report file" + ext_}, dir_.Path());
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, folder + ": Folder icon set to")) << run.Out;
    EXPECT_EQ(Icon(1) + "," + cls_, FileEntry(file).value_or("(none)"));

    char shortName[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameA(folder.c_str(), shortName, sizeof shortName));
    run = RunTool({"set", Icon(2), std::string(shortName) + "\\"});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(Icon(1), Value(HKEY_LOCAL_MACHINE, "Software\\Brindlewick Software\\Orvane\\FolderBAKIcons",
                             folder.c_str()).value_or("(none)"));
    run = RunTool({"restore", "report file" + ext_}, folder);
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_FALSE(FileEntry(file));
    EXPECT_EQ("shell32.dll,1", DefaultIcon());
}

TEST_F(CliTest, OneBadTargetAmongSeveralFailsAloneAndTheOthersProceed)
{
    RegisterType("shell32.dll,1");
    const std::string folder = dir_.MakeFolder("folder");
    const std::string file = dir_.MakeFile("a" + ext_);
    const std::string missing = dir_.Path() + "\\missing" + ext_;
    const std::string noExtension = dir_.MakeFile("README");

    const ToolRun run = RunTool({"set", Icon(2), folder, missing, file, noExtension});
    EXPECT_EQ(1u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Err, missing + ": no such file")) << run.Err;
    EXPECT_TRUE(Contains(run.Err, noExtension + ": has no extension")) << run.Err;
    EXPECT_TRUE(Contains(run.Out, folder + ": Folder icon set to " + Icon(2))) << run.Out;
    EXPECT_TRUE(Contains(run.Out, file + ": File icon set to " + Icon(2))) << run.Out;

    EXPECT_EQ(2, ShellFolderIndex(folder));
    EXPECT_EQ(Icon(2) + "," + cls_, FileEntry(file).value_or("(none)"));
    EXPECT_FALSE(FileEntry(missing));
    EXPECT_FALSE(FileEntry(noExtension));
}

TEST_F(CliTest, FolderSetShowRestoreAsTheShellSeesIt)
{
    const std::string folder = dir_.MakeFolder("My Folder");
    // A folder with no icon of its own and no Folder class icon: nothing to go back to.
    test::DeleteKeyTree(HKEY_CLASSES_ROOT, "Folder\\DefaultIcon");
    ToolRun run = RunTool({"set", Icon(1), folder});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(1, ShellFolderIndex(folder));
    run = RunTool({"show", folder});
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_EQ(folder + "\n  kind:   Folder\n  icon:   " + Icon(1) + "\n  backup: no\n", run.Out);

    // The second change keeps the first icon as the backup, and restore returns to it.
    run = RunTool({"set", Icon(3), folder});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(3, ShellFolderIndex(folder));
    run = RunTool({"show", folder});
    EXPECT_EQ(folder + "\n  kind:   Folder\n  icon:   " + Icon(3) + "\n  backup: yes\n", run.Out);

    run = RunTool({"restore", folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, folder + ": Folder icon restored")) << run.Out;
    EXPECT_EQ(1, ShellFolderIndex(folder));
    EXPECT_EQ(library_, IniText(folder, "IconFile"));
    EXPECT_EQ("1", IniText(folder, "IconIndex"));

    run = RunTool({"restore", folder});
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Out, "nothing to restore")) << run.Out;
    EXPECT_EQ(1, ShellFolderIndex(folder));
}

TEST_F(CliTest, FolderRestoreReturnsToTheFolderClassIconAsOnWindows)
{
    // Windows gives the Folder class an icon; the first change backs it up.
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, "Folder\\DefaultIcon", nullptr, "shell32.dll,3"));
    const std::string folder = dir_.MakeFolder("plain");
    ToolRun run = RunTool({"set", Icon(2), folder});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(2, ShellFolderIndex(folder));
    run = RunTool({"show", folder});
    EXPECT_TRUE(Contains(run.Out, "backup: yes")) << run.Out;

    run = RunTool({"restore", folder});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ("shell32.dll", IniText(folder, "IconFile"));
    EXPECT_EQ("3", IniText(folder, "IconIndex"));
    EXPECT_EQ(3, ShellFolderIndex(folder));
}

TEST_F(CliTest, SingleFileSetShowRestore)
{
    RegisterType("shell32.dll,1");
    const std::string file = dir_.MakeFile("report" + ext_);
    const std::string sibling = dir_.MakeFile("other" + ext_);

    ToolRun run = RunTool({"show", file});
    EXPECT_EQ(file + "\n  kind:   File\n  class:  " + cls_ + "\n  icon:   shell32.dll,1\n  backup: no\n", run.Out);

    run = RunTool({"set", Icon(2), file});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(Icon(2) + "," + cls_, FileEntry(file).value_or("(none)"));
    // The class now asks this extension for each file's icon.
    EXPECT_EQ("%1", DefaultIcon());
    EXPECT_EQ(Clsid, Value(HKEY_CLASSES_ROOT, cls_ + "\\shellex\\IconHandler").value_or(""));
    EXPECT_FALSE(FileEntry(sibling));

    run = RunTool({"show", file});
    EXPECT_EQ(file + "\n  kind:   File\n  class:  " + cls_ + "\n  icon:   " + Icon(2) + "\n  backup: yes\n", run.Out);

    run = RunTool({"restore", file});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, file + ": File icon restored")) << run.Out;
    EXPECT_FALSE(FileEntry(file));
    EXPECT_EQ("shell32.dll,1", DefaultIcon());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, cls_ + "\\shellex\\IconHandler"));
    EXPECT_EQ("shell32.dll,1", ShellIcon(file));

    run = RunTool({"restore", file});
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Out, "nothing to restore")) << run.Out;
}

TEST_F(CliTest, SingleFileRestoreRefusesWhenAnotherHandlerTookTheClassOver)
{
    RegisterType("shell32.dll,1");
    const std::string file = dir_.MakeFile("report" + ext_);
    ASSERT_EQ(0u, RunTool({"set", Icon(2), file}).ExitCode);
    const char other[] = "{00000000-1111-2222-3333-444444444444}";
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, cls_ + "\\shellex\\IconHandler", nullptr, other));

    const ToolRun run = RunTool({"restore", file});
    EXPECT_EQ(1u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Err, "no longer Orvane")) << run.Err;
    EXPECT_TRUE(FileEntry(file));
    EXPECT_EQ(other, Value(HKEY_CLASSES_ROOT, cls_ + "\\shellex\\IconHandler").value_or(""));
}

TEST_F(CliTest, AllFilesOfATypeSetShowRestoreAsTheShellSeesIt)
{
    RegisterType("shell32.dll,1");
    const std::string file = dir_.MakeFile("report" + ext_);
    const std::string sibling = dir_.MakeFile("other" + ext_);
    EXPECT_EQ("shell32.dll,1", ShellIcon(sibling));

    ToolRun run = RunTool({"set", "--all-of-type", Icon(3), file});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, file + ": Type icon set to " + Icon(3))) << run.Out;
    EXPECT_EQ(Icon(3), DefaultIcon());
    EXPECT_EQ("shell32.dll,1", DefaultIcon("BAKIconInfo"));
    EXPECT_FALSE(FileEntry(file));
    EXPECT_EQ(Icon(3), ShellIcon(sibling));

    run = RunTool({"show", "--all-of-type", file});
    EXPECT_EQ(file + "\n  kind:   Type\n  class:  " + cls_ + "\n  icon:   " + Icon(3) + "\n  backup: yes\n", run.Out);

    // A second change keeps the first backup.
    ASSERT_EQ(0u, RunTool({"set", Icon(0), file, "--all-of-type"}).ExitCode);
    EXPECT_EQ("shell32.dll,1", DefaultIcon("BAKIconInfo"));

    run = RunTool({"restore", "--all-of-type", sibling});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ("shell32.dll,1", DefaultIcon());
    EXPECT_EQ("(missing)", DefaultIcon("BAKIconInfo"));
    EXPECT_EQ("shell32.dll,1", ShellIcon(file));

    run = RunTool({"restore", "--all-of-type", file});
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Out, "nothing to restore")) << run.Out;
}

TEST_F(CliTest, ATypeWithoutAnyIconGetsItsClassAndIcon)
{
    const std::string file = dir_.MakeFile("new" + ext_);
    const ToolRun run = RunTool({"set", Icon(1), file, "--all-of-type"});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(cls_, Value(HKEY_CLASSES_ROOT, ext_).value_or(""));
    EXPECT_EQ(Icon(1), DefaultIcon());
    EXPECT_EQ(Icon(1), ShellIcon(file));
}

TEST_F(CliTest, HostileTypeDataIsShownAsNoIconAndReplacedCleanly)
{
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, cls_));
    const std::string unterminated(1000, 'A');
    ASSERT_TRUE(WriteValue(HKEY_CLASSES_ROOT, cls_ + "\\DefaultIcon", nullptr, REG_BINARY, unterminated.data(),
                           static_cast<DWORD>(unterminated.size())));
    const std::string file = dir_.MakeFile("odd" + ext_);

    ToolRun run = RunTool({"show", file, "--all-of-type"});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(file + "\n  kind:   Type\n  icon:   (none)\n  backup: no\n", run.Out);

    run = RunTool({"set", "--all-of-type", Icon(4), file});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(Icon(4), DefaultIcon());
    EXPECT_EQ(Icon(4), ShellIcon(file));
}

TEST_F(CliTest, ACurVerCycleEndsAndTheTypeStillGetsItsIcon)
{
    const std::string second = cls_ + "2";
    KeyGuard secondGuard(HKEY_CLASSES_ROOT, second);
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, cls_));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, cls_ + "\\CurVer", nullptr, second));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, second + "\\CurVer", nullptr, cls_));
    const std::string file = dir_.MakeFile("loop" + ext_);

    ToolRun run = RunTool({"show", file});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, "icon:   (none)")) << run.Out;

    run = RunTool({"set", "--all-of-type", Icon(6), file});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    run = RunTool({"show", "--all-of-type", file});
    EXPECT_TRUE(Contains(run.Out, "icon:   " + Icon(6))) << run.Out;
}

TEST_F(CliTest, AFileWithTheLongestPathGetsItsOwnIcon)
{
    RegisterType("shell32.dll,1");
    std::string name = "n";
    const std::size_t used = dir_.Path().size() + 1 + ext_.size();
    ASSERT_LT(used, 259u);
    name.append(259 - used - 1, 'x');
    const std::string file = dir_.MakeFile(name + ext_);
    ASSERT_EQ(259u, file.size());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(file.c_str()));

    ToolRun run = RunTool({"set", Icon(2), file});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ(Icon(2) + "," + cls_, FileEntry(file).value_or("(none)"));
    run = RunTool({"restore", file});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_FALSE(FileEntry(file));
    EXPECT_EQ("shell32.dll,1", DefaultIcon());
}

TEST_F(CliTest, DriveSetShowRestore)
{
    const std::string drive = "C:\\";
    ToolRun run = RunTool({"set", Icon(2), drive});
    ASSERT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_TRUE(Contains(run.Out, "C:\\: Drive icon set to " + Icon(2))) << run.Out;
    EXPECT_EQ(Icon(2), Value(HKEY_LOCAL_MACHINE, std::string(DriveIcons) + "\\C\\DefaultIcon").value_or(""));

    run = RunTool({"show", drive});
    EXPECT_EQ("C:\\\n  kind:   Drive\n  icon:   " + Icon(2) + "\n  backup: yes\n", run.Out);

    run = RunTool({"restore", drive});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(DriveIcons) + "\\C\\DefaultIcon"));
    run = RunTool({"show", drive});
    EXPECT_TRUE(Contains(run.Out, "backup: no")) << run.Out;
    run = RunTool({"restore", drive});
    EXPECT_EQ(0u, run.ExitCode);
    EXPECT_TRUE(Contains(run.Out, "nothing to restore")) << run.Out;
}

TEST_F(CliTest, ARefusedTypeWriteReportsAccessDeniedAndChangesNothing)
{
    RegisterType("shell32.dll,1");
    const std::string file = dir_.MakeFile("locked" + ext_);
    {
        ReadOnlyKey locked(HKEY_CLASSES_ROOT, cls_ + "\\DefaultIcon");
        ASSERT_TRUE(locked.Applied());
        const ToolRun run = RunTool({"set", "--all-of-type", Icon(1), file});
        EXPECT_EQ(1u, run.ExitCode);
        EXPECT_TRUE(Contains(run.Err, file + ": access denied")) << run.Err;
        EXPECT_TRUE(Contains(run.Err, "administrator")) << run.Err;
        EXPECT_FALSE(Contains(run.Out, "icon set")) << run.Out;
    }
    EXPECT_EQ("shell32.dll,1", DefaultIcon());
    EXPECT_EQ("(missing)", DefaultIcon("BAKIconInfo"));
}

TEST_F(CliTest, ARefusedPerFileTableReportsAccessDeniedAndInstallsNoHandler)
{
    RegisterType("shell32.dll,1");
    const std::string file = dir_.MakeFile("locked" + ext_);
    ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, FileIcons, "placeholder", "x"));
    {
        ReadOnlyKey locked(HKEY_LOCAL_MACHINE, FileIcons);
        ASSERT_TRUE(locked.Applied());
        const ToolRun run = RunTool({"set", Icon(1), file});
        EXPECT_EQ(1u, run.ExitCode);
        EXPECT_TRUE(Contains(run.Err, file + ": access denied")) << run.Err;
    }
    EXPECT_FALSE(FileEntry(file));
    EXPECT_EQ("shell32.dll,1", DefaultIcon());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, cls_ + "\\shellex\\IconHandler"));
}

// Guards every class of the prefix on which Orvane is installed as icon handler (as
// remove-all restores them all, not only the test's own).
std::vector<std::unique_ptr<KeyGuard>> GuardHandlerClasses()
{
    std::vector<std::unique_ptr<KeyGuard>> guards;
    for (DWORD i = 0;; ++i) {
        char name[MAX_PATH];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(HKEY_CLASSES_ROOT, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (name[0] != '.')
            continue;
        const std::optional<std::string> cls = Value(HKEY_CLASSES_ROOT, name);
        if (cls && !cls->empty() &&
            (KeyExists(HKEY_CLASSES_ROOT, *cls + "\\DefaultIconBAK") ||
             KeyExists(HKEY_CLASSES_ROOT, *cls + "\\shellex\\IconHandlerBAK") ||
             Value(HKEY_CLASSES_ROOT, *cls + "\\shellex\\IconHandler").value_or("") == Clsid))
            guards.push_back(std::make_unique<KeyGuard>(HKEY_CLASSES_ROOT, *cls));
    }
    return guards;
}

TEST_F(CliTest, RemoveAllRestoresEveryClassAndDeletesTheTables)
{
    const auto otherClasses = GuardHandlerClasses();
    RegisterType("shell32.dll,1");
    const std::string ext2 = UniqueName(".");
    const std::string cls2 = ext2.substr(1) + "file";
    KeyGuard extGuard2(HKEY_CLASSES_ROOT, ext2);
    KeyGuard clsGuard2(HKEY_CLASSES_ROOT, cls2);
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, ext2, nullptr, cls2));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, cls2 + "\\DefaultIcon", nullptr, "shell32.dll,7"));
    const std::string a = dir_.MakeFile("a" + ext_);
    const std::string b = dir_.MakeFile("b" + ext2);
    const std::string folder = dir_.MakeFolder("folder");
    ASSERT_EQ(0u, RunTool({"set", Icon(1), a, b}).ExitCode);
    ASSERT_EQ(0u, RunTool({"set", Icon(1), folder}).ExitCode);
    ASSERT_EQ(0u, RunTool({"set", Icon(2), folder}).ExitCode);
    ASSERT_EQ("%1", DefaultIcon());

    ToolRun run = RunTool({"remove-all"});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ("shell32.dll,1", DefaultIcon());
    EXPECT_EQ("shell32.dll,7", Value(HKEY_CLASSES_ROOT, cls2 + "\\DefaultIcon").value_or(""));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, cls_ + "\\shellex\\IconHandler"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, cls2 + "\\shellex\\IconHandler"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, FileIcons));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Brindlewick Software\\Orvane\\FolderBAKIcons"));
    EXPECT_EQ("shell32.dll,1", ShellIcon(a));
    // The folder keeps its icon; only its backup is gone.
    EXPECT_EQ(2, ShellFolderIndex(folder));

    run = RunTool({"remove-all"});
    EXPECT_EQ(0u, run.ExitCode) << run.Err;
    EXPECT_EQ("shell32.dll,1", DefaultIcon());
}

} // namespace
} // namespace orvane::test
