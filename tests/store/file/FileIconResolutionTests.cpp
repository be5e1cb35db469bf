// The icon handler's answer as the store works it out, without COM: each rule's row with
// the rule reported. The class's previous icon handler is a plain function that answers
// for one class identifier and records what it was asked.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "FileIconResolution.h"
#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "OwnIdentity.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"
#include "UnicodeNames.h"

using namespace orvane;
using test::LocationText;
using test::OtherClsid;
using test::OwnClsid;

namespace {

constexpr wchar_t AnsweringClsid[] = L"{5C0F7E1B-3D2A-4E8B-9F61-2B7A4C9D8E01}";
constexpr wchar_t DecliningClsid[] = L"{0D0D0D0D-1111-2222-3333-444444444444}";

struct PreviousCalls {
    int Count = 0;
    std::wstring ClsidText;
    std::wstring FilePath;
};
PreviousCalls previousCalls;

// Answers "C:\previous\<file name>.ico",42 for AnsweringClsid, nothing for any other.
std::optional<IconLocation> FakePrevious(const wchar_t* clsidText, const wchar_t* filePath)
{
    ++previousCalls.Count;
    previousCalls.ClsidText = clsidText;
    previousCalls.FilePath = filePath;
    if (previousCalls.ClsidText != AnsweringClsid)
        return std::nullopt;
    const std::wstring name = previousCalls.FilePath.substr(previousCalls.FilePath.rfind(L'\\') + 1);
    IconLocation location;
    location.SetIconPath((L"C:\\previous\\" + name + L".ico").c_str());
    location.SetIndex(42);
    return location;
}

const wchar_t* RuleName(FileIconRule rule)
{
    switch (rule) {
    case FileIconRule::NotAFile: return L"NotAFile";
    case FileIconRule::TableEntry: return L"TableEntry";
    case FileIconRule::HandlerIconInfo: return L"HandlerIconInfo";
    case FileIconRule::PreviousHandler: return L"PreviousHandler";
    case FileIconRule::DefaultIconBackup: return L"DefaultIconBackup";
    case FileIconRule::DefaultIcon: return L"DefaultIcon";
    case FileIconRule::FileItself: return L"FileItself";
    }
    return L"?";
}

// "rule path,index", the path "<file>" where the answer is the file itself.
std::wstring AnswerText(const FileIconAnswer& answer, const std::wstring& file)
{
    const std::wstring path = answer.IconPath == file ? L"<file>" : answer.IconPath;
    return std::wstring(RuleName(answer.Rule)) + L" " + path + L"," + std::to_wstring(answer.Index);
}

class FileIconResolutionTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, ProductKey));
        previousCalls = {};
    }

    void Write(const std::wstring& subkey, const wchar_t* name, const wchar_t* text)
    {
        if (text != nullptr) {
            ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, type_.Key(subkey.c_str()), name, text));
        }
    }
    std::wstring File(const std::wstring& stem = L"a") { return dir_.MakeFile(stem + ext_); }
    void WriteTableEntry(const std::wstring& file, const std::wstring& data)
    {
        ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, FileIconsKey, file.c_str(), data));
    }

    test::TempDir dir_;
    test::ScratchType type_{false};
    const std::wstring& ext_ = type_.Extension;
    const std::wstring& class_ = type_.Class;
    test::KeyGuard product_{HKEY_LOCAL_MACHINE, test::ProductRoot};
};

struct Row {
    const char* Name;
    const wchar_t* TableEntry;    // "path,index" (the class is added); null: none
    const wchar_t* DefaultIcon;   // null: no DefaultIcon key
    const wchar_t* Handler;       // shellex\IconHandler; null: none
    const wchar_t* HandlerIcon;   // "HandlerIconInfo"; null: none
    const wchar_t* IconBackup;    // DefaultIconBAK; null: no key
    const wchar_t* HandlerBackup; // shellex\IconHandlerBAK; null: none
    const wchar_t* Expected;      // AnswerText
    int PreviousAsked;         // how often the previous handler was asked
};

const Row Rows[] = {
    {"table entry", L"C:\\icons\\set.icl,7", L"shell32.dll,4", nullptr, nullptr, nullptr, nullptr,
     L"TableEntry C:\\icons\\set.icl,7", 0},
    {"table entry naming the file itself", L"%1,3", L"shell32.dll,4", nullptr, nullptr, nullptr, nullptr,
     L"TableEntry <file>,3", 0},
    {"table entry without index", L"C:\\icons\\a.ico", L"shell32.dll,4", nullptr, nullptr, nullptr, nullptr,
     L"TableEntry C:\\icons\\a.ico,0", 0},
    {"table entry before everything of the class", L"C:\\icons\\set.icl,7", L"%1", OwnClsid, L"C:\\h.ico,6",
     L"C:\\b.ico,2", AnsweringClsid, L"TableEntry C:\\icons\\set.icl,7", 0},
    {"table entry with an index beyond 32 bits is none", L"C:\\icons\\set.icl,99999999999999999", L"shell32.dll,4",
     nullptr, nullptr, nullptr, nullptr, L"DefaultIcon shell32.dll,4", 0},
    {"table entry without a path", L",5", L"shell32.dll,4", nullptr, nullptr, nullptr, nullptr,
     L"DefaultIcon shell32.dll,4", 0},
    {"plain DefaultIcon", nullptr, L"shell32.dll,4", nullptr, nullptr, nullptr, nullptr, L"DefaultIcon shell32.dll,4", 0},
    {"DefaultIcon with more fields", nullptr, L"shell32.dll,4,extra", nullptr, nullptr, nullptr, nullptr,
     L"DefaultIcon shell32.dll,4", 0},
    {"DefaultIcon without index", nullptr, L"C:\\icons\\a.ico", nullptr, nullptr, nullptr, nullptr,
     L"DefaultIcon C:\\icons\\a.ico,0", 0},
    {"DefaultIcon with a negative index", nullptr, L"C:\\icons\\a.ico,-12", nullptr, nullptr, nullptr, nullptr,
     L"DefaultIcon C:\\icons\\a.ico,-12", 0},
    {"DefaultIcon %1 of its own accord", nullptr, L"%1", nullptr, nullptr, L"C:\\b.ico,2", nullptr,
     L"DefaultIcon <file>,0", 0},
    {"quoted %1 with an index", nullptr, L"\"%1\",2", nullptr, nullptr, nullptr, nullptr, L"DefaultIcon <file>,2", 0},
    {"empty DefaultIcon", nullptr, L"", nullptr, nullptr, nullptr, nullptr, L"FileItself <file>,0", 0},
    {"no DefaultIcon", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, L"FileItself <file>,0", 0},
    {"installed, type icon chosen since", nullptr, L"%1", OwnClsid, L"C:\\h.ico,6", L"C:\\b.ico,2", AnsweringClsid,
     L"HandlerIconInfo C:\\h.ico,6", 0},
    {"installed, HandlerIconInfo without a path", nullptr, L"%1", OwnClsid, L",6", L"C:\\b.ico,2", nullptr,
     L"DefaultIconBackup C:\\b.ico,2", 0},
    {"installed, previous handler answers", nullptr, L"%1", OwnClsid, nullptr, L"C:\\b.ico,2", AnsweringClsid,
     L"PreviousHandler C:\\previous\\a<ext>.ico,42", 1},
    {"installed, previous handler declines", nullptr, L"%1", OwnClsid, nullptr, L"C:\\b.ico,2", DecliningClsid,
     L"DefaultIconBackup C:\\b.ico,2", 1},
    {"installed, handler backup too short to name one", nullptr, L"%1", OwnClsid, nullptr, L"C:\\b.ico,2", L"x",
     L"DefaultIconBackup C:\\b.ico,2", 0},
    {"installed, DefaultIconBAK only", nullptr, L"%1", OwnClsid, nullptr, L"C:\\b.ico,2", nullptr,
     L"DefaultIconBackup C:\\b.ico,2", 0},
    {"installed, DefaultIconBAK without index", nullptr, L"%1", OwnClsid, nullptr, L"C:\\b.ico", nullptr,
     L"DefaultIconBackup C:\\b.ico,0", 0},
    {"installed, no icon before installing", nullptr, L"%1", OwnClsid, nullptr, L"", nullptr, L"DefaultIcon <file>,0", 0},
    {"installed, no backups at all", nullptr, L"%1", OwnClsid, nullptr, nullptr, nullptr, L"DefaultIcon <file>,0", 0},
    {"another handler: backups not used", nullptr, L"%1", OtherClsid, L"C:\\h.ico,6", L"C:\\b.ico,2", nullptr,
     L"DefaultIcon <file>,0", 0},
    {"own identifier in lower case is another handler", nullptr, L"%1", test::OwnClsidInLowerCase.Text,
     L"C:\\h.ico,6", L"C:\\b.ico,2", nullptr, L"DefaultIcon <file>,0", 0},
    {"previous handler asked also while not installed", nullptr, L"shell32.dll,4", nullptr, nullptr, nullptr,
     AnsweringClsid, L"PreviousHandler C:\\previous\\a<ext>.ico,42", 1},
};

std::wstring WithExtension(std::wstring text, const std::wstring& extension)
{
    const std::size_t at = text.find(L"<ext>");
    if (at != std::wstring::npos)
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
        Write(L"DefaultIcon", nullptr, row.DefaultIcon);
        Write(L"DefaultIcon", HandlerIconValue, row.HandlerIcon);
        Write(L"shellex\\IconHandler", nullptr, row.Handler);
        Write(L"shellex\\IconHandlerBAK", nullptr, row.HandlerBackup);
        Write(L"DefaultIconBAK", nullptr, row.IconBackup);
        const std::wstring file = File();
        if (row.TableEntry != nullptr)
            WriteTableEntry(file, std::wstring(row.TableEntry) + L"," + class_);

        previousCalls = {};
        EXPECT_EQ(WithExtension(row.Expected, ext_), AnswerText(ResolveFileIcon(file.c_str(), &FakePrevious), file));
        EXPECT_EQ(row.PreviousAsked, previousCalls.Count);
        if (row.PreviousAsked != 0) {
            EXPECT_EQ(row.HandlerBackup, previousCalls.ClsidText);
            EXPECT_EQ(file, previousCalls.FilePath);
        }
    }
}

// A table value that is not a string is no entry: its bytes read as text would be the
// path the handler answers ("\x01" for the number 1).
// Hostile table values: those that are not text, or not text that fits a record, are no
// entries, and the type answers; a string without its terminator is read up to its end.
// Each file is asked twice, the second time answered from what the first request kept.
TEST_F(FileIconResolutionTest, TableValuesThatAreNotTextAreNoEntries)
{
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, class_));
    Write(L"DefaultIcon", nullptr, L"shell32.dll,4");
    const DWORD number = 1;
    const BYTE binary[] = {'x', 0, ',', 0, '3', 0, ',', 0, 'k', 0};
    const std::wstring oversized = L"C:\\i.ico,1," + std::wstring(600, L'k');
    const std::wstring unterminated(260, L'u'); // 520 bytes
    const std::wstring shortUnterminated = L"C:\\s.dll,5," + class_;
    // The terminator's low byte only.
    const std::wstring odd = L"C:\\o.ico,2," + class_;
    const std::wstring hugeIndex = L"C:\\i.ico,99999999999999999," + class_;
    const std::wstring longPath = std::wstring(300, L'p') + L",1," + class_;
    struct Case {
        const char* Name;
        DWORD Type;
        const void* Data;
        DWORD Size;
        bool CountsForType;
        const wchar_t* Expected;
    };
    const Case cases[] = {
        {"dword", REG_DWORD, &number, sizeof number, false, L"DefaultIcon shell32.dll,4"},
        {"binary", REG_BINARY, binary, sizeof binary, false, L"DefaultIcon shell32.dll,4"},
        {"none", REG_NONE, binary, sizeof binary, false, L"DefaultIcon shell32.dll,4"},
        {"over 520 bytes", REG_SZ, oversized.c_str(), static_cast<DWORD>((oversized.size() + 1) * sizeof(wchar_t)),
         false, L"DefaultIcon shell32.dll,4"},
        {"520 bytes without a terminator", REG_SZ, unterminated.data(),
         static_cast<DWORD>(unterminated.size() * sizeof(wchar_t)), false, L"DefaultIcon shell32.dll,4"},
        {"short, without a terminator", REG_SZ, shortUnterminated.data(),
         static_cast<DWORD>(shortUnterminated.size() * sizeof(wchar_t)), true, L"TableEntry C:\\s.dll,5"},
        {"an odd number of bytes", REG_SZ, odd.c_str(), static_cast<DWORD>(odd.size() * sizeof(wchar_t) + 1), true,
         L"TableEntry C:\\o.ico,2"},
        {"an index beyond 32 bits", REG_SZ, hugeIndex.c_str(),
         static_cast<DWORD>((hugeIndex.size() + 1) * sizeof(wchar_t)), false, L"DefaultIcon shell32.dll,4"},
        {"an icon path over 259 characters", REG_SZ, longPath.c_str(),
         static_cast<DWORD>((longPath.size() + 1) * sizeof(wchar_t)), false, L"DefaultIcon shell32.dll,4"},
        {"empty", REG_SZ, L"", sizeof(wchar_t), false, L"DefaultIcon shell32.dll,4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::wstring file = File();
        ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, FileIconsKey, file.c_str(), c.Type, c.Data, c.Size));
        EXPECT_EQ(c.Expected, AnswerText(ResolveFileIcon(file.c_str(), nullptr), file));
        EXPECT_EQ(c.Expected, AnswerText(ResolveFileIcon(file.c_str(), nullptr), file)) << "kept";
        // The store's own reading of the entry agrees: an icon path where the entry answers.
        const auto entry = ReadFileIcon(file.c_str());
        EXPECT_EQ(std::wstring(c.Expected).rfind(L"TableEntry", 0) == 0, entry && entry->IconPath[0] != L'\0');
        EXPECT_EQ(c.CountsForType ? 1 : 0, CountFileIconsOfType(class_.c_str(), Scope::AllUsers));
    }
}

// Without a way to ask the previous handler, its rule is passed over.
TEST_F(FileIconResolutionTest, WithoutAPreviousHandlerCallTheNextRuleAnswers)
{
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, class_));
    Write(L"DefaultIcon", nullptr, L"%1");
    Write(L"shellex\\IconHandler", nullptr, OwnClsid);
    Write(L"shellex\\IconHandlerBAK", nullptr, AnsweringClsid);
    Write(L"DefaultIconBAK", nullptr, L"C:\\b.ico,2");
    const std::wstring file = File();
    EXPECT_EQ(L"DefaultIconBackup C:\\b.ico,2", AnswerText(ResolveFileIcon(file.c_str(), nullptr), file));
    EXPECT_EQ(L"PreviousHandler C:\\previous\\a" + ext_ + L".ico,42",
              AnswerText(ResolveFileIcon(file.c_str(), &FakePrevious), file));
}

// Only an existing file is answered; anything else is no request of the handler's.
TEST_F(FileIconResolutionTest, OnlyFilesAreAnswered)
{
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, class_));
    Write(L"DefaultIcon", nullptr, L"shell32.dll,4");
    const std::wstring folder = dir_.MakeFolder(L"sub" + ext_);
    const std::wstring missing = dir_.Path() + L"\\missing" + ext_;
    const std::wstring tooLong = dir_.Path() + L"\\" + std::wstring(300, L'n') + ext_;
    for (const std::wstring& path : {folder, std::wstring(L"C:\\"), missing, tooLong, std::wstring()}) {
        SCOPED_TRACE(test::Utf8(path));
        WriteTableEntry(path.empty() ? L"x" : path, L"C:\\icons\\set.icl,7," + class_);
        const FileIconAnswer answer = ResolveFileIcon(path.c_str(), &FakePrevious);
        EXPECT_EQ(FileIconRule::NotAFile, answer.Rule);
        EXPECT_STREQ(L"", answer.IconPath);
    }
    EXPECT_EQ(FileIconRule::NotAFile, ResolveFileIcon(nullptr, &FakePrevious).Rule);
    EXPECT_EQ(0, previousCalls.Count);
}

// A file whose name gives no class is its own icon, unless the table has an entry for it.
TEST_F(FileIconResolutionTest, FilesWithoutAClassToName)
{
    const std::wstring bare = dir_.MakeFile(L"noextension");
    const std::wstring dotted = dir_.MakeFile(L"dotted.");
    const std::wstring unknown = dir_.MakeFile(L"a.orvnoclass");
    for (const std::wstring& file : {bare, dotted, unknown}) {
        SCOPED_TRACE(test::Utf8(file));
        EXPECT_EQ(L"FileItself <file>,0", AnswerText(ResolveFileIcon(file.c_str(), &FakePrevious), file));
    }
    WriteTableEntry(bare, L"C:\\icons\\bare.ico,3,noclass");
    EXPECT_EQ(L"TableEntry C:\\icons\\bare.ico,3", AnswerText(ResolveFileIcon(bare.c_str(), &FakePrevious), bare));
}

// The handler's backups and DefaultIcon are those of the class at the end of a CurVer
// chain, where installing keeps them.
TEST_F(FileIconResolutionTest, InstalledClassReachedThroughCurVer)
{
    const std::wstring versioned = class_ + L".2";
    test::KeyGuard versionedGuard(HKEY_CLASSES_ROOT, versioned);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, class_));
    Write(L"CurVer", nullptr, versioned.c_str());
    Write(L"shellex\\IconHandlerBAK", nullptr, DecliningClsid);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, versioned + L"\\DefaultIcon", nullptr, L"%1"));
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, versioned + L"\\shellex\\IconHandler", nullptr, OwnClsid));
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, versioned + L"\\shellex\\IconHandlerBAK", nullptr, AnsweringClsid));
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, versioned + L"\\DefaultIconBAK", nullptr, L"C:\\v.ico,3"));
    const std::wstring file = File();
    EXPECT_EQ(L"PreviousHandler C:\\previous\\a" + ext_ + L".ico,42",
              AnswerText(ResolveFileIcon(file.c_str(), &FakePrevious), file));
    EXPECT_EQ(AnsweringClsid, previousCalls.ClsidText);
    EXPECT_EQ(L"DefaultIconBackup C:\\v.ico,3", AnswerText(ResolveFileIcon(file.c_str(), nullptr), file));
}

// The longest class name whose "<class>\DefaultIcon" path still fits into 259 characters:
// "<class>\DefaultIconBAK" does not fit into a key path of that length, so the backup is
// read below the opened class key.
TEST_F(FileIconResolutionTest, BackupOfTheLongestClassNameWithADefaultIconPath)
{
    std::wstring name = test::UniqueName(L"");
    name += std::wstring(259 - std::wcslen(L"\\DefaultIcon") - name.size(), L'c');
    test::KeyGuard guard(HKEY_CLASSES_ROOT, name);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, name));
    HKEY classKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &classKey, nullptr));
    ASSERT_TRUE(test::WriteString(classKey, L"DefaultIcon", nullptr, L"%1"));
    ASSERT_TRUE(test::WriteString(classKey, L"shellex\\IconHandler", nullptr, OwnClsid));
    ASSERT_TRUE(test::WriteString(classKey, L"DefaultIconBAK", nullptr, L"C:\\l.ico,5"));
    RegCloseKey(classKey);
    const std::wstring file = File();
    EXPECT_EQ(L"DefaultIconBackup C:\\l.ico,5", AnswerText(ResolveFileIcon(file.c_str(), &FakePrevious), file));
}

// What is kept between requests hides no change: a change of the table or the class shows
// in the next answer.
TEST_F(FileIconResolutionTest, EveryRequestReadsTheRegistryAgain)
{
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, class_));
    Write(L"DefaultIcon", nullptr, L"shell32.dll,4");
    const std::wstring file = File();
    EXPECT_EQ(L"DefaultIcon shell32.dll,4", AnswerText(ResolveFileIcon(file.c_str(), nullptr), file));
    WriteTableEntry(file, L"C:\\icons\\new.ico,8," + class_);
    EXPECT_EQ(L"TableEntry C:\\icons\\new.ico,8", AnswerText(ResolveFileIcon(file.c_str(), nullptr), file));
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey));
    Write(L"DefaultIcon", nullptr, L"C:\\icons\\type.ico,2");
    EXPECT_EQ(L"DefaultIcon C:\\icons\\type.ico,2", AnswerText(ResolveFileIcon(file.c_str(), nullptr), file));
}

// What the registry said is kept between requests, yet a write of any of the data the
// answer is made of shows in the very next request, and so does taking it back (the keys
// the write made deleted again). This user's table does not exist before its row writes it.
TEST_F(FileIconResolutionTest, AWriteShowsInTheNextRequest)
{
    enum class Base { Plain, Installed };
    enum class Where { TableEntry, ClassKey, ExtensionKey, UserChoice };
    struct WriteRow {
        const char* Name;
        Base Class;
        Scope In;
        Where Place;
        const wchar_t* Subkey;    // below the class key
        const wchar_t* ValueName; // null: the default value
        const wchar_t* Text;      // null: the name of another class
        const wchar_t* Before;
        const wchar_t* After;
    };
    const WriteRow rows[] = {
        {"all users' table entry", Base::Plain, Scope::AllUsers, Where::TableEntry, nullptr, nullptr,
         L"C:\\icons\\t.ico,5", L"DefaultIcon shell32.dll,4", L"TableEntry C:\\icons\\t.ico,5"},
        {"this user's table entry", Base::Plain, Scope::ThisUser, Where::TableEntry, nullptr, nullptr,
         L"C:\\icons\\t.ico,5", L"DefaultIcon shell32.dll,4", L"TableEntry C:\\icons\\t.ico,5"},
        {"this user's table entry of an installed class", Base::Installed, Scope::ThisUser, Where::TableEntry, nullptr,
         nullptr, L"%1,3", L"DefaultIconBackup C:\\b.ico,2", L"TableEntry <file>,3"},
        {"all users' DefaultIcon", Base::Plain, Scope::AllUsers, Where::ClassKey, L"DefaultIcon", nullptr,
         L"C:\\icons\\type.ico,3", L"DefaultIcon shell32.dll,4", L"DefaultIcon C:\\icons\\type.ico,3"},
        {"this user's DefaultIcon", Base::Plain, Scope::ThisUser, Where::ClassKey, L"DefaultIcon", nullptr,
         L"C:\\icons\\type.ico,3", L"DefaultIcon shell32.dll,4", L"DefaultIcon C:\\icons\\type.ico,3"},
        {"HandlerIconInfo", Base::Installed, Scope::AllUsers, Where::ClassKey, L"DefaultIcon", HandlerIconValue,
         L"C:\\icons\\h.ico,6", L"DefaultIconBackup C:\\b.ico,2", L"HandlerIconInfo C:\\icons\\h.ico,6"},
        {"shellex\\IconHandler", Base::Installed, Scope::AllUsers, Where::ClassKey, L"shellex\\IconHandler", nullptr,
         OtherClsid, L"DefaultIconBackup C:\\b.ico,2", L"DefaultIcon <file>,0"},
        {"this user's shellex\\IconHandler", Base::Installed, Scope::ThisUser, Where::ClassKey, L"shellex\\IconHandler",
         nullptr, OtherClsid, L"DefaultIconBackup C:\\b.ico,2", L"DefaultIcon <file>,0"},
        {"shellex\\IconHandlerBAK", Base::Installed, Scope::AllUsers, Where::ClassKey, L"shellex\\IconHandlerBAK",
         nullptr, AnsweringClsid, L"DefaultIconBackup C:\\b.ico,2", L"PreviousHandler C:\\previous\\a<ext>.ico,42"},
        {"DefaultIconBAK", Base::Installed, Scope::AllUsers, Where::ClassKey, L"DefaultIconBAK", nullptr,
         L"C:\\icons\\c.ico,4", L"DefaultIconBackup C:\\b.ico,2", L"DefaultIconBackup C:\\icons\\c.ico,4"},
        {"this user's DefaultIconBAK", Base::Installed, Scope::ThisUser, Where::ClassKey, L"DefaultIconBAK", nullptr,
         L"C:\\icons\\c.ico,4", L"DefaultIconBackup C:\\b.ico,2", L"DefaultIconBackup C:\\icons\\c.ico,4"},
        {"the extension's class", Base::Plain, Scope::AllUsers, Where::ExtensionKey, nullptr, nullptr, nullptr,
         L"DefaultIcon shell32.dll,4", L"DefaultIcon C:\\icons\\other.ico,9"},
        {"this user's extension's class", Base::Plain, Scope::ThisUser, Where::ExtensionKey, nullptr, nullptr, nullptr,
         L"DefaultIcon shell32.dll,4", L"DefaultIcon C:\\icons\\other.ico,9"},
        {"this user's choice of class", Base::Plain, Scope::ThisUser, Where::UserChoice, nullptr, L"ProgId", nullptr,
         L"DefaultIcon shell32.dll,4", L"DefaultIcon C:\\icons\\other.ico,9"},
    };
    const std::wstring userClasses = L"Software\\Classes\\";
    const std::wstring choice = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\" + ext_;
    const std::wstring otherClass = class_ + L"other";
    test::KeyGuard otherGuard(HKEY_CLASSES_ROOT, otherClass);
    test::KeyGuard userProduct(HKEY_CURRENT_USER, test::ProductRoot);
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, otherClass + L"\\DefaultIcon", nullptr, L"C:\\icons\\other.ico,9"));
    const std::wstring file = File();
    const auto ask = [&] {
        return AnswerText(ResolveFileIcon(file.c_str(), &FakePrevious), file);
    };
    for (const WriteRow& row : rows) {
        SCOPED_TRACE(row.Name);
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            ASSERT_TRUE(test::DeleteKeyTree(root, test::ProductRoot));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, class_));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CURRENT_USER, userClasses + class_));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CURRENT_USER, userClasses + ext_));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CURRENT_USER, choice));
        ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, class_));
        if (row.Class == Base::Plain) {
            Write(L"DefaultIcon", nullptr, L"shell32.dll,4");
        } else {
            Write(L"DefaultIcon", nullptr, L"%1");
            Write(L"shellex\\IconHandler", nullptr, OwnClsid);
            Write(L"DefaultIconBAK", nullptr, L"C:\\b.ico,2");
        }
        const bool user = row.In == Scope::ThisUser;
        const HKEY classRoot = user ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
        const std::wstring classPath = user ? userClasses + class_ : class_;
        const std::wstring text = row.Text != nullptr ? row.Text : otherClass.c_str();

        EXPECT_EQ(WithExtension(row.Before, ext_), ask());
        {
            HKEY root = classRoot;
            std::wstring guarded;
            std::wstring key;
            std::wstring data = text;
            switch (row.Place) {
            case Where::TableEntry:
                root = ProductKeyRoot(row.In);
                guarded = test::ProductRoot;
                key = FileIconsKey;
                data += L"," + class_;
                break;
            case Where::ClassKey:
                guarded = classPath;
                key = classPath + L"\\" + row.Subkey;
                break;
            case Where::ExtensionKey:
                guarded = user ? userClasses + ext_ : ext_;
                key = guarded;
                break;
            case Where::UserChoice:
                guarded = choice;
                key = choice + L"\\UserChoice";
                break;
            }
            test::KeyGuard undo(root, guarded);
            const wchar_t* name = row.Place == Where::TableEntry ? file.c_str() : row.ValueName;
            ASSERT_TRUE(test::WriteString(root, key, name, data));
            EXPECT_EQ(WithExtension(row.After, ext_), ask());
        }
        EXPECT_EQ(WithExtension(row.Before, ext_), ask());
    }
}

// An entry added, changed and removed shows in the very next request, in either table,
// with a few entries or thousands of other files' in it, and while another thread writes
// other files' entries all along; a file asked before and not changed keeps its answer.
TEST_F(FileIconResolutionTest, ATableChangeShowsInTheNextRequest)
{
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, class_));
    Write(L"DefaultIcon", nullptr, L"shell32.dll,4");
    test::KeyGuard userProduct(HKEY_CURRENT_USER, test::ProductRoot);
    struct ChangeRow {
        const char* Name;
        Scope In;
        int Others;       // other files' entries in the table beforehand
        bool OtherWriter; // a thread writes other files' entries meanwhile
    };
    const ChangeRow rows[] = {
        {"all users' table", Scope::AllUsers, 0, false},
        {"this user's table", Scope::ThisUser, 0, false},
        {"all users' table of 5,000 entries", Scope::AllUsers, 5000, false},
        {"this user's table of 5,000 entries", Scope::ThisUser, 5000, false},
        {"all users' table of 5,000 entries while another thread writes", Scope::AllUsers, 5000, true},
        {"this user's table while another thread writes", Scope::ThisUser, 0, true},
    };
    const std::wstring file = File();
    const std::wstring sibling = File(L"b");
    const std::wstring plain = L"DefaultIcon shell32.dll,4";
    const auto ask = [](const std::wstring& path) { return AnswerText(ResolveFileIcon(path.c_str(), nullptr), path); };
    for (const ChangeRow& row : rows) {
        SCOPED_TRACE(row.Name);
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            ASSERT_TRUE(test::DeleteKeyTree(root, test::ProductRoot));
        const HKEY root = ProductKeyRoot(row.In);
        HKEY table = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, FileIconsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &table,
                                                 nullptr));
        const std::wstring otherData = L"C:\\icons\\other.ico,1," + class_;
        bool filled = true;
        for (int i = 0; i < row.Others && filled; ++i) {
            const std::wstring name = dir_.Path() + L"\\other" + std::to_wstring(i) + ext_;
            filled = RegSetValueExW(table, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(otherData.c_str()),
                                    static_cast<DWORD>((otherData.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
        }
        ASSERT_TRUE(filled);
        EXPECT_EQ(plain, ask(file));
        EXPECT_EQ(plain, ask(sibling));

        std::atomic<bool> stop{false};
        std::atomic<int> written{0};
        std::thread writer;
        if (row.OtherWriter) {
            writer = std::thread([&] {
                for (int i = 0; !stop; ++i) {
                    const std::wstring name = dir_.Path() + L"\\written" + std::to_wstring(i % 500) + ext_;
                    if (RegSetValueExW(table, name.c_str(), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(otherData.c_str()),
                                       static_cast<DWORD>((otherData.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS)
                        ++written;
                }
            });
        }
        const int rounds = row.OtherWriter ? 20 : 2;
        for (int round = 0; round < rounds; ++round) {
            const std::wstring added = L"C:\\icons\\t.ico," + std::to_wstring(round) + L"," + class_;
            ASSERT_TRUE(test::WriteString(root, FileIconsKey, file.c_str(), added));
            EXPECT_EQ(L"TableEntry C:\\icons\\t.ico," + std::to_wstring(round), ask(file)) << "added";
            EXPECT_EQ(plain, ask(sibling));
            const std::wstring changed = L"C:\\icons\\u.ico," + std::to_wstring(round + 100) + L"," + class_;
            ASSERT_TRUE(test::WriteString(root, FileIconsKey, file.c_str(), changed));
            EXPECT_EQ(L"TableEntry C:\\icons\\u.ico," + std::to_wstring(round + 100), ask(file)) << "changed";
            ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueW(table, file.c_str()));
            EXPECT_EQ(plain, ask(file)) << "removed";
            EXPECT_EQ(plain, ask(sibling));
        }
        stop = true;
        if (writer.joinable())
            writer.join();
        RegCloseKey(table);
        EXPECT_EQ(row.OtherWriter, written > 0);
    }
}

// The resolution looks a file's entry up in a copy of each table, made in one walk of the
// table's values: the copy finds for every name what the registry finds, also for names in
// another case or in characters of no code page, and for values that are no entry.
TEST_F(FileIconResolutionTest, TableCopyFindsWhatTheRegistryFinds)
{
    const std::wstring folder = L"C:\\Files\\";
    std::wstring mixed = folder + L"MixedCase.txt";
    std::wstring upper = mixed;
    CharUpperW(upper.data());
    const std::wstring longest = folder + std::wstring(259 - folder.size(), L'n');
    const std::wstring tooLong = longest + L"n";
    const wchar_t unterminated[8] = {L'C', L':', L'\\', L'x', L'.', L'i', L'c', L'o'};
    std::vector<wchar_t> fullUnterminated(260, L'u');
    std::vector<wchar_t> fitsUnterminated(259, L'u');
    const char odd[7] = {'C', 0, ':', 0, '\\', 0, 'x'};
    const DWORD number = 7;
    struct Value {
        std::wstring Name;
        DWORD Type;
        const void* Data;
        DWORD Size;
    };
    const std::wstring plain = L"C:\\icons\\set.icl,7," + class_;
    const std::wstring huge = std::wstring(600, L'h') + L",1," + class_;
    const std::wstring expandable = L"%SystemRoot%\\a.ico,2," + class_;
    const std::vector<Value> values = {
        {folder + L"plain.txt", REG_SZ, plain.c_str(), static_cast<DWORD>((plain.size() + 1) * sizeof(wchar_t))},
        {upper, REG_SZ, plain.c_str(), static_cast<DWORD>((plain.size() + 1) * sizeof(wchar_t))},
        {longest, REG_SZ, plain.c_str(), static_cast<DWORD>((plain.size() + 1) * sizeof(wchar_t))},
        {tooLong, REG_SZ, plain.c_str(), static_cast<DWORD>((plain.size() + 1) * sizeof(wchar_t))},
        {folder + L"huge.txt", REG_SZ, huge.c_str(), static_cast<DWORD>((huge.size() + 1) * sizeof(wchar_t))},
        {folder + L"unterminated.txt", REG_SZ, unterminated, sizeof unterminated},
        {folder + L"full.txt", REG_SZ, fullUnterminated.data(), 260 * sizeof(wchar_t)},
        {folder + L"fits.txt", REG_SZ, fitsUnterminated.data(), 259 * sizeof(wchar_t)},
        {folder + L"odd.txt", REG_SZ, odd, sizeof odd},
        {folder + L"number.txt", REG_DWORD, &number, sizeof number},
        {folder + L"empty.txt", REG_SZ, L"", sizeof(wchar_t)},
        {folder + L"expandable.txt", REG_EXPAND_SZ, expandable.c_str(),
         static_cast<DWORD>((expandable.size() + 1) * sizeof(wchar_t))},
    };
    std::vector<std::wstring> names = {mixed, folder + L"missing.txt", folder + L"PLAIN.TXT"};
    for (const Value& value : values) {
        ASSERT_TRUE(test::WriteValue(HKEY_LOCAL_MACHINE, FileIconsKey, value.Name.c_str(), value.Type, value.Data,
                                     value.Size));
        names.push_back(value.Name);
    }
    for (const auto& unicode : test::UnicodeNames()) {
        const std::wstring name = folder + unicode.Text + L".txt";
        const std::wstring data = L"C:\\icons\\" + unicode.Text + L".ico,3," + class_;
        ASSERT_TRUE(test::WriteString(HKEY_LOCAL_MACHINE, FileIconsKey, name.c_str(), data));
        names.push_back(name);
        std::wstring other = name;
        CharUpperW(other.data());
        names.push_back(other);
    }
    FileIconTableCopy copy;
    ASSERT_TRUE(copy.Read(Scope::AllUsers));
    for (const std::wstring& name : names) {
        SCOPED_TRACE(test::Utf8(name));
        EXPECT_EQ(LocationText(ReadFileIcon(name.c_str(), Scope::AllUsers)), LocationText(copy.Find(name.c_str())));
    }
    // Both find the entries that are there, and nothing for a name no file can have.
    EXPECT_NE(L"<none>", LocationText(copy.Find(mixed.c_str())));
    EXPECT_NE(L"<none>", LocationText(copy.Find(longest.c_str())));
    EXPECT_EQ(L"<none>", LocationText(copy.Find(tooLong.c_str())));
    // A table that does not exist is read, with no entries.
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey));
    ASSERT_TRUE(copy.Read(Scope::AllUsers));
    EXPECT_EQ(0u, copy.Size());
}

// Files whose names the ANSI code page cannot hold, and one whose path is exactly 259
// UTF-16 units long: "%1" names the whole path, and the table entry named by the exact
// path answers.
TEST_F(FileIconResolutionTest, NamesTheCodePageCannotHold)
{
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, class_));
    Write(L"DefaultIcon", nullptr, L"%1");
    std::vector<std::wstring> files;
    for (const auto& name : test::UnicodeNames())
        files.push_back(File(name.Text));
    const std::wstring longest = test::PathOfLength(dir_.Path(), 259, ext_);
    ASSERT_EQ(259u, longest.size());
    ASSERT_EQ(longest, dir_.MakeFile(longest.substr(dir_.Path().size() + 1)));
    files.push_back(longest);
    for (const std::wstring& file : files) {
        SCOPED_TRACE(test::Utf8(file));
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str()));
        EXPECT_EQ(L"DefaultIcon <file>,0", AnswerText(ResolveFileIcon(file.c_str(), nullptr), file));
    }
    // Every entry is written before any is read: names that the ANSI code page turned
    // into the same "?" would all find the last one.
    const auto icon = [](std::size_t i) { return L"C:\\icons\\\u5199" + std::to_wstring(i) + L".ico," + std::to_wstring(i); };
    for (std::size_t i = 0; i < files.size(); ++i)
        WriteTableEntry(files[i], icon(i) + L"," + class_);
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(test::Utf8(files[i]));
        EXPECT_EQ(L"TableEntry " + icon(i), AnswerText(ResolveFileIcon(files[i].c_str(), nullptr), files[i]));
    }
    // The previous handler is handed the whole path.
    Write(L"shellex\\IconHandlerBAK", nullptr, AnsweringClsid);
    ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey));
    const FileIconAnswer previous = ResolveFileIcon(longest.c_str(), &FakePrevious);
    EXPECT_EQ(FileIconRule::PreviousHandler, previous.Rule);
    EXPECT_EQ(longest, previousCalls.FilePath);
}

// The table as earlier builds wrote it, through the 8-bit calls: the value named by a
// path with a character of the ANSI code page is found by the file's wide path.
TEST_F(FileIconResolutionTest, TableEntriesWrittenByTheEightBitCallsAnswer)
{
    ASSERT_TRUE(test::WriteString(HKEY_CLASSES_ROOT, ext_, nullptr, class_));
    Write(L"DefaultIcon", nullptr, L"shell32.dll,4");
    const std::wstring file = File(L"Ic\u00F4ne");
    char narrowFile[MAX_PATH] = {};
    BOOL lost = FALSE;
    ASSERT_LT(0, WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, file.c_str(), -1, narrowFile,
                                     static_cast<int>(std::size(narrowFile)), nullptr, &lost));
    ASSERT_FALSE(lost) << "the temporary folder's path is not one of the ANSI code page";
    const std::string data = "C:\\Ic\xF4nes\\a.ico,5," + test::Utf8(class_);
    HKEY table = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, FileIconsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                             &table, nullptr));
    const LONG status = RegSetValueExA(table, narrowFile, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                       static_cast<DWORD>(data.size() + 1));
    RegCloseKey(table);
    ASSERT_EQ(ERROR_SUCCESS, status);
    EXPECT_EQ(L"TableEntry C:\\Ic\u00F4nes\\a.ico,5", AnswerText(ResolveFileIcon(file.c_str(), nullptr), file));
}

} // namespace
