// The icon handler's answer as the store works it out, without COM: each rule's row with
// the rule reported. The class's previous icon handler is a plain function that answers
// for one class identifier and records what it was asked.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "FileIconResolution.h"
#include "FileTypeIcons.h"
#include "OwnIdentity.h"
#include "Registry.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"

using namespace orvane;
using test::OtherClsid;
using test::OwnClsid;

namespace {

constexpr char AnsweringClsid[] = "{5C0F7E1B-3D2A-4E8B-9F61-2B7A4C9D8E01}";
constexpr char DecliningClsid[] = "{0D0D0D0D-1111-2222-3333-444444444444}";

struct PreviousCalls {
    int Count = 0;
    std::string ClsidText;
    std::string FilePath;
};
PreviousCalls previousCalls;

// Answers "C:\previous\<file name>.ico",42 for AnsweringClsid, nothing for any other.
std::optional<IconLocation> FakePrevious(const char* clsidText, const char* filePath)
{
    ++previousCalls.Count;
    previousCalls.ClsidText = clsidText;
    previousCalls.FilePath = filePath;
    if (previousCalls.ClsidText != AnsweringClsid)
        return std::nullopt;
    const std::string name = previousCalls.FilePath.substr(previousCalls.FilePath.rfind('\\') + 1);
    IconLocation location;
    location.SetIconPath(("C:\\previous\\" + name + ".ico").c_str());
    location.SetIndex(42);
    return location;
}

const char* RuleName(FileIconRule rule)
{
    switch (rule) {
    case FileIconRule::NotAFile: return "NotAFile";
    case FileIconRule::TableEntry: return "TableEntry";
    case FileIconRule::HandlerIconInfo: return "HandlerIconInfo";
    case FileIconRule::PreviousHandler: return "PreviousHandler";
    case FileIconRule::DefaultIconBackup: return "DefaultIconBackup";
    case FileIconRule::DefaultIcon: return "DefaultIcon";
    case FileIconRule::FileItself: return "FileItself";
    }
    return "?";
}

// "rule path,index", the path "<file>" where the answer is the file itself.
std::string AnswerText(const FileIconAnswer& answer, const std::string& file)
{
    const std::string path = answer.IconPath == file ? "<file>" : answer.IconPath;
    return std::string(RuleName(answer.Rule)) + " " + path + "," + std::to_string(answer.Index);
}

class FileIconResolutionTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, ProductKey));
        previousCalls = {};
    }

    void Write(const std::string& subkey, const char* name, const char* text)
    {
        if (text != nullptr) {
            ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, type_.Key(subkey.c_str()), name, text));
        }
    }
    std::string File(const std::string& stem = "a") { return dir_.MakeFile(stem + ext_); }
    void WriteTableEntry(const std::string& file, const std::string& data)
    {
        ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, FileIconsKey, file.c_str(), data));
    }

    test::TempDir dir_;
    test::ScratchType type_{false};
    const std::string& ext_ = type_.Extension;
    const std::string& class_ = type_.Class;
    test::KeyGuard product_{HKEY_LOCAL_MACHINE, test::ProductRoot};
};

struct Row {
    const char* Name;
    const char* TableEntry;    // "path,index" (the class is added); null: none
    const char* DefaultIcon;   // null: no DefaultIcon key
    const char* Handler;       // shellex\IconHandler; null: none
    const char* HandlerIcon;   // "HandlerIconInfo"; null: none
    const char* IconBackup;    // DefaultIconBAK; null: no key
    const char* HandlerBackup; // shellex\IconHandlerBAK; null: none
    const char* Expected;      // AnswerText
    int PreviousAsked;         // how often the previous handler was asked
};

const Row Rows[] = {
    {"table entry", "C:\\icons\\set.icl,7", "shell32.dll,4", nullptr, nullptr, nullptr, nullptr,
     "TableEntry C:\\icons\\set.icl,7", 0},
    {"table entry naming the file itself", "%1,3", "shell32.dll,4", nullptr, nullptr, nullptr, nullptr,
     "TableEntry <file>,3", 0},
    {"table entry without index", "C:\\icons\\a.ico", "shell32.dll,4", nullptr, nullptr, nullptr, nullptr,
     "TableEntry C:\\icons\\a.ico,0", 0},
    {"table entry before everything of the class", "C:\\icons\\set.icl,7", "%1", OwnClsid, "C:\\h.ico,6",
     "C:\\b.ico,2", AnsweringClsid, "TableEntry C:\\icons\\set.icl,7", 0},
    {"table entry without a path", ",5", "shell32.dll,4", nullptr, nullptr, nullptr, nullptr,
     "DefaultIcon shell32.dll,4", 0},
    {"plain DefaultIcon", nullptr, "shell32.dll,4", nullptr, nullptr, nullptr, nullptr, "DefaultIcon shell32.dll,4", 0},
    {"DefaultIcon with more fields", nullptr, "shell32.dll,4,extra", nullptr, nullptr, nullptr, nullptr,
     "DefaultIcon shell32.dll,4", 0},
    {"DefaultIcon without index", nullptr, "C:\\icons\\a.ico", nullptr, nullptr, nullptr, nullptr,
     "DefaultIcon C:\\icons\\a.ico,0", 0},
    {"DefaultIcon with a negative index", nullptr, "C:\\icons\\a.ico,-12", nullptr, nullptr, nullptr, nullptr,
     "DefaultIcon C:\\icons\\a.ico,-12", 0},
    {"DefaultIcon %1 of its own accord", nullptr, "%1", nullptr, nullptr, "C:\\b.ico,2", nullptr,
     "DefaultIcon <file>,0", 0},
    {"quoted %1 with an index", nullptr, "\"%1\",2", nullptr, nullptr, nullptr, nullptr, "DefaultIcon <file>,2", 0},
    {"empty DefaultIcon", nullptr, "", nullptr, nullptr, nullptr, nullptr, "FileItself <file>,0", 0},
    {"no DefaultIcon", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "FileItself <file>,0", 0},
    {"installed, type icon chosen since", nullptr, "%1", OwnClsid, "C:\\h.ico,6", "C:\\b.ico,2", AnsweringClsid,
     "HandlerIconInfo C:\\h.ico,6", 0},
    {"installed, HandlerIconInfo without a path", nullptr, "%1", OwnClsid, ",6", "C:\\b.ico,2", nullptr,
     "DefaultIconBackup C:\\b.ico,2", 0},
    {"installed, previous handler answers", nullptr, "%1", OwnClsid, nullptr, "C:\\b.ico,2", AnsweringClsid,
     "PreviousHandler C:\\previous\\a<ext>.ico,42", 1},
    {"installed, previous handler declines", nullptr, "%1", OwnClsid, nullptr, "C:\\b.ico,2", DecliningClsid,
     "DefaultIconBackup C:\\b.ico,2", 1},
    {"installed, handler backup too short to name one", nullptr, "%1", OwnClsid, nullptr, "C:\\b.ico,2", "x",
     "DefaultIconBackup C:\\b.ico,2", 0},
    {"installed, DefaultIconBAK only", nullptr, "%1", OwnClsid, nullptr, "C:\\b.ico,2", nullptr,
     "DefaultIconBackup C:\\b.ico,2", 0},
    {"installed, DefaultIconBAK without index", nullptr, "%1", OwnClsid, nullptr, "C:\\b.ico", nullptr,
     "DefaultIconBackup C:\\b.ico,0", 0},
    {"installed, no icon before installing", nullptr, "%1", OwnClsid, nullptr, "", nullptr, "DefaultIcon <file>,0", 0},
    {"installed, no backups at all", nullptr, "%1", OwnClsid, nullptr, nullptr, nullptr, "DefaultIcon <file>,0", 0},
    {"another handler: backups not used", nullptr, "%1", OtherClsid, "C:\\h.ico,6", "C:\\b.ico,2", nullptr,
     "DefaultIcon <file>,0", 0},
    {"own identifier in lower case is another handler", nullptr, "%1", test::OwnClsidInLowerCase.Text,
     "C:\\h.ico,6", "C:\\b.ico,2", nullptr, "DefaultIcon <file>,0", 0},
    {"previous handler asked also while not installed", nullptr, "shell32.dll,4", nullptr, nullptr, nullptr,
     AnsweringClsid, "PreviousHandler C:\\previous\\a<ext>.ico,42", 1},
};

std::string WithExtension(std::string text, const std::string& extension)
{
    const std::size_t at = text.find("<ext>");
    if (at != std::string::npos)
        text.replace(at, 5, extension);
    return text;
}

TEST_F(FileIconResolutionTest, AnswerTable)
{
    for (const Row& row : Rows) {
        SCOPED_TRACE(row.Name);
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, class_));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey));
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, class_));
        Write("DefaultIcon", nullptr, row.DefaultIcon);
        Write("DefaultIcon", HandlerIconValue, row.HandlerIcon);
        Write("shellex\\IconHandler", nullptr, row.Handler);
        Write("shellex\\IconHandlerBAK", nullptr, row.HandlerBackup);
        Write("DefaultIconBAK", nullptr, row.IconBackup);
        const std::string file = File();
        if (row.TableEntry != nullptr)
            WriteTableEntry(file, std::string(row.TableEntry) + "," + class_);

        previousCalls = {};
        EXPECT_EQ(WithExtension(row.Expected, ext_), AnswerText(ResolveFileIcon(file.c_str(), &FakePrevious), file));
        EXPECT_EQ(row.PreviousAsked, previousCalls.Count);
        if (row.PreviousAsked != 0) {
            EXPECT_EQ(row.HandlerBackup, previousCalls.ClsidText);
            EXPECT_EQ(file, previousCalls.FilePath);
        }
    }
}

// Without a way to ask the previous handler, its rule is passed over.
TEST_F(FileIconResolutionTest, WithoutAPreviousHandlerCallTheNextRuleAnswers)
{
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, class_));
    Write("DefaultIcon", nullptr, "%1");
    Write("shellex\\IconHandler", nullptr, OwnClsid);
    Write("shellex\\IconHandlerBAK", nullptr, AnsweringClsid);
    Write("DefaultIconBAK", nullptr, "C:\\b.ico,2");
    const std::string file = File();
    EXPECT_EQ("DefaultIconBackup C:\\b.ico,2", AnswerText(ResolveFileIcon(file.c_str(), nullptr), file));
    EXPECT_EQ("PreviousHandler C:\\previous\\a" + ext_ + ".ico,42",
              AnswerText(ResolveFileIcon(file.c_str(), &FakePrevious), file));
}

// Only an existing file is answered; anything else is no request of the handler's.
TEST_F(FileIconResolutionTest, OnlyFilesAreAnswered)
{
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, class_));
    Write("DefaultIcon", nullptr, "shell32.dll,4");
    const std::string folder = dir_.MakeFolder("sub" + ext_);
    const std::string missing = dir_.Path() + "\\missing" + ext_;
    const std::string tooLong = dir_.Path() + "\\" + std::string(300, 'n') + ext_;
    for (const std::string& path : {folder, std::string("C:\\"), missing, tooLong, std::string()}) {
        SCOPED_TRACE(path);
        WriteTableEntry(path.empty() ? "x" : path, "C:\\icons\\set.icl,7," + class_);
        const FileIconAnswer answer = ResolveFileIcon(path.c_str(), &FakePrevious);
        EXPECT_EQ(FileIconRule::NotAFile, answer.Rule);
        EXPECT_STREQ("", answer.IconPath);
    }
    EXPECT_EQ(FileIconRule::NotAFile, ResolveFileIcon(nullptr, &FakePrevious).Rule);
    EXPECT_EQ(0, previousCalls.Count);
}

// A file whose name gives no class is its own icon, unless the table has an entry for it.
TEST_F(FileIconResolutionTest, FilesWithoutAClassToName)
{
    const std::string bare = dir_.MakeFile("noextension");
    const std::string dotted = dir_.MakeFile("dotted.");
    const std::string unknown = dir_.MakeFile("a.orvnoclass");
    for (const std::string& file : {bare, dotted, unknown}) {
        SCOPED_TRACE(file);
        EXPECT_EQ("FileItself <file>,0", AnswerText(ResolveFileIcon(file.c_str(), &FakePrevious), file));
    }
    WriteTableEntry(bare, "C:\\icons\\bare.ico,3,noclass");
    EXPECT_EQ("TableEntry C:\\icons\\bare.ico,3", AnswerText(ResolveFileIcon(bare.c_str(), &FakePrevious), bare));
}

// The handler's backups and DefaultIcon are those of the class at the end of a CurVer
// chain, where installing keeps them.
TEST_F(FileIconResolutionTest, InstalledClassReachedThroughCurVer)
{
    const std::string versioned = class_ + ".2";
    test::KeyGuard versionedGuard(HKEY_CLASSES_ROOT, versioned);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, class_));
    Write("CurVer", nullptr, versioned.c_str());
    Write("shellex\\IconHandlerBAK", nullptr, DecliningClsid);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, versioned + "\\DefaultIcon", nullptr, "%1"));
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, versioned + "\\shellex\\IconHandler", nullptr, OwnClsid));
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, versioned + "\\shellex\\IconHandlerBAK", nullptr, AnsweringClsid));
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, versioned + "\\DefaultIconBAK", nullptr, "C:\\v.ico,3"));
    const std::string file = File();
    EXPECT_EQ("PreviousHandler C:\\previous\\a" + ext_ + ".ico,42",
              AnswerText(ResolveFileIcon(file.c_str(), &FakePrevious), file));
    EXPECT_EQ(AnsweringClsid, previousCalls.ClsidText);
    EXPECT_EQ("DefaultIconBackup C:\\v.ico,3", AnswerText(ResolveFileIcon(file.c_str(), nullptr), file));
}

// The longest class name whose "<class>\DefaultIcon" path still fits into 259 characters:
// "<class>\DefaultIconBAK" does not, and the 8-bit registry calls refuse it as one path.
// The backup is read below the opened class key.
TEST_F(FileIconResolutionTest, BackupOfTheLongestClassNameWithADefaultIconPath)
{
    std::string name = test::UniqueName("");
    name += std::string(259 - std::strlen("\\DefaultIcon") - name.size(), 'c');
    test::KeyGuard guard(HKEY_CLASSES_ROOT, name);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, name));
    HKEY classKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &classKey, nullptr));
    ASSERT_TRUE(test::WriteString(classKey, "DefaultIcon", nullptr, "%1"));
    ASSERT_TRUE(test::WriteString(classKey, "shellex\\IconHandler", nullptr, OwnClsid));
    ASSERT_TRUE(test::WriteString(classKey, "DefaultIconBAK", nullptr, "C:\\l.ico,5"));
    RegCloseKey(classKey);
    const std::string file = File();
    EXPECT_EQ("DefaultIconBackup C:\\l.ico,5", AnswerText(ResolveFileIcon(file.c_str(), &FakePrevious), file));
}

// Nothing is cached: a change of the table or the class shows in the next answer.
TEST_F(FileIconResolutionTest, EveryRequestReadsTheRegistryAgain)
{
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, class_));
    Write("DefaultIcon", nullptr, "shell32.dll,4");
    const std::string file = File();
    EXPECT_EQ("DefaultIcon shell32.dll,4", AnswerText(ResolveFileIcon(file.c_str(), nullptr), file));
    WriteTableEntry(file, "C:\\icons\\new.ico,8," + class_);
    EXPECT_EQ("TableEntry C:\\icons\\new.ico,8", AnswerText(ResolveFileIcon(file.c_str(), nullptr), file));
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey));
    Write("DefaultIcon", nullptr, "C:\\icons\\type.ico,2");
    EXPECT_EQ("DefaultIcon C:\\icons\\type.ico,2", AnswerText(ResolveFileIcon(file.c_str(), nullptr), file));
}

} // namespace
