// The icon-handler role, asked as Explorer asks it (Wine's shell does not load icon
// handlers itself): CoCreateInstance, IPersistFile::Load with the file's path,
// IExtractIconA::GetIconLocation. The per-file table and the class data are written
// straight into the registry as an installation leaves them.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>

#include "OwnIdentity.h"
#include "ServerTestSupport.h"

namespace orvane::test {
namespace {

using IconHandler = IconHandlerTest;

TEST_F(IconHandler, TableEntryIsTheAnswer)
{
    RegisterClass("shell32.dll,4");
    const std::string file = File();
    WriteTableEntry(file, "C:\\icons\\set.icl,7," + className_);
    ExpectAnswer(AskIconHandler(file), "C:\\icons\\set.icl", 7);
}

TEST_F(IconHandler, TableEntryNamingTheFileItself)
{
    RegisterClass("shell32.dll,4");
    const std::string file = File();
    WriteTableEntry(file, "%1,3," + className_);
    ExpectAnswer(AskIconHandler(file), file, 3);
}

TEST_F(IconHandler, TableEntryWithoutIndexGivesIndexZero)
{
    RegisterClass("shell32.dll,4");
    const std::string file = File();
    WriteTableEntry(file, "C:\\icons\\a.ico");
    ExpectAnswer(AskIconHandler(file), "C:\\icons\\a.ico", 0);
}

// The table's value names compare without regard to case, as the registry does.
TEST_F(IconHandler, TableEntryIsFoundWhateverTheCase)
{
    RegisterClass("shell32.dll,4");
    const std::string file = File("MixedCase");
    std::string upper = file;
    CharUpperA(upper.data());
    WriteTableEntry(upper, "C:\\icons\\set.icl,9," + className_);
    ExpectAnswer(AskIconHandler(file), "C:\\icons\\set.icl", 9);
}

TEST_F(IconHandler, ClassDefaultIconTable)
{
    struct Row {
        const char* DefaultIcon; // null: no DefaultIcon key
        const char* File;        // null: the file itself
        int Index;
    };
    const Row table[] = {
        {"shell32.dll,4", "shell32.dll", 4},
        {"shell32.dll,4,extra", "shell32.dll", 4},
        {"C:\\icons\\a.ico", "C:\\icons\\a.ico", 0},
        {"C:\\icons\\a.ico,-12", "C:\\icons\\a.ico", -12},
        {"%1", nullptr, 0},
        {"\"%1\",2", nullptr, 2},
        {"", nullptr, 0},
        {nullptr, nullptr, 0},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.DefaultIcon != nullptr ? row.DefaultIcon : "(no DefaultIcon)");
        DeleteKeyTree(HKEY_CLASSES_ROOT, className_);
        RegisterClass(row.DefaultIcon);
        const std::string file = File();
        ExpectAnswer(AskIconHandler(file), row.File != nullptr ? row.File : file, row.Index);
    }
}

TEST_F(IconHandler, FileOfNoClassIsItsOwnIcon)
{
    const std::string file = File();
    ExpectAnswer(AskIconHandler(file), file, 0);
    const std::string bare = dir_.MakeFile("noextension");
    ExpectAnswer(AskIconHandler(bare), bare, 0);
}

// A class whose DefaultIcon names itself through CurVer is followed to the current version.
TEST_F(IconHandler, ClassIconThroughCurVer)
{
    const std::string current = className_ + ".2";
    KeyGuard currentGuard(HKEY_CLASSES_ROOT, current);
    RegisterClass(nullptr);
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + "\\CurVer", "", current));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, current + "\\DefaultIcon", "", "C:\\icons\\v2.ico,5"));
    ExpectAnswer(AskIconHandler(File()), "C:\\icons\\v2.ico", 5);
}

TEST_F(IconHandler, HostileRegistryDataFallsBackToTheFile)
{
    RegisterClass(nullptr);
    const std::string file = File();
    const std::string huge(600, 'h');
    // Oversized, unterminated and binary values are not locations.
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + "\\DefaultIcon", "", huge + ",3"));
    WriteTableEntry(file, huge + ",1," + className_);
    ExpectAnswer(AskIconHandler(file), file, 0);

    const char unterminated[8] = {'C', ':', '\\', 'x', '.', 'i', 'c', 'o'};
    ASSERT_TRUE(WriteValue(HKEY_CLASSES_ROOT, className_ + "\\DefaultIcon", "", REG_SZ, unterminated, sizeof unterminated));
    const IconAnswer answer = AskIconHandler(file);
    EXPECT_EQ(S_OK, answer.Result);
    EXPECT_LT(answer.File.size(), static_cast<std::size_t>(MAX_PATH));

    const DWORD number = 7;
    ASSERT_TRUE(WriteValue(HKEY_LOCAL_MACHINE, FileIconsKeyPath, file.c_str(), REG_DWORD, &number, sizeof number));
    EXPECT_EQ(S_OK, AskIconHandler(file).Result);
}

TEST_F(IconHandler, OnlyFilesAreAnswered)
{
    RegisterClass("shell32.dll,4");
    const std::string folder = dir_.MakeFolder("sub" + extension_);
    const std::string missing = dir_.Path() + "\\missing" + extension_;
    for (const std::string& path : {folder, std::string("C:\\"), missing, std::string()}) {
        SCOPED_TRACE(path);
        WriteTableEntry(path.empty() ? "x" : path, "C:\\icons\\set.icl,7," + className_);
        ComPtr<IPersistFile> persist;
        ASSERT_EQ(S_OK, CreateExtension(IID_IPersistFile, &persist));
        EXPECT_EQ(S_OK, persist->Load(Wide(path).c_str(), STGM_READ));
        ComPtr<IExtractIconA> extract;
        ASSERT_EQ(S_OK, persist->QueryInterface(IID_IExtractIconA, &extract));
        char buffer[MAX_PATH];
        std::memset(buffer, 0x5A, sizeof buffer);
        int index = 1234;
        UINT flags = 0x77;
        EXPECT_EQ(S_FALSE, extract->GetIconLocation(0, buffer, MAX_PATH, &index, &flags));
        EXPECT_EQ(0x5A, static_cast<unsigned char>(buffer[0]));
        EXPECT_EQ(1234, index);
        EXPECT_EQ(0x77u, flags);
    }
}

TEST_F(IconHandler, NoLoadNoAnswer)
{
    ComPtr<IExtractIconA> extract;
    ASSERT_EQ(S_OK, CreateExtension(IID_IExtractIconA, &extract));
    char buffer[MAX_PATH] = "untouched";
    int index = 5;
    EXPECT_EQ(S_FALSE, extract->GetIconLocation(0, buffer, MAX_PATH, &index, nullptr));
    EXPECT_STREQ("untouched", buffer);
    EXPECT_EQ(5, index);
}

// Request flags make no difference, and the shell's preset output flags stay.
TEST_F(IconHandler, RequestFlagsChangeNothingAndOutputFlagsStay)
{
    RegisterClass("shell32.dll,4");
    const std::string file = File();
    for (UINT flags : {0u, UINT(GIL_OPENICON), UINT(GIL_FORSHELL), UINT(GIL_ASYNC), UINT(GIL_DEFAULTICON),
                       UINT(GIL_OPENICON | GIL_FORSHELL | GIL_CHECKSHIELD)}) {
        ComPtr<IPersistFile> persist;
        ComPtr<IExtractIconA> extract;
        ASSERT_NO_FATAL_FAILURE(LoadIconHandler(file, persist, extract));
        char buffer[MAX_PATH] = {};
        int index = -1;
        UINT outFlags = 0xA5A5;
        EXPECT_EQ(S_OK, extract->GetIconLocation(flags, buffer, MAX_PATH, &index, &outFlags));
        EXPECT_STREQ("shell32.dll", buffer);
        EXPECT_EQ(4, index);
        EXPECT_EQ(0xA5A5u, outFlags);
    }
}

// Nothing is cached: a change of the table or the class shows in the next answer, also
// on the same object.
TEST_F(IconHandler, EveryRequestReadsTheRegistryAgain)
{
    RegisterClass("shell32.dll,4");
    const std::string file = File();
    ComPtr<IPersistFile> persist;
    ComPtr<IExtractIconA> extract;
    ASSERT_NO_FATAL_FAILURE(LoadIconHandler(file, persist, extract));
    auto ask = [&](std::string* path) {
        char buffer[MAX_PATH] = {};
        int index = -1;
        EXPECT_EQ(S_OK, extract->GetIconLocation(0, buffer, MAX_PATH, &index, nullptr));
        *path = buffer;
        return index;
    };
    std::string path;
    EXPECT_EQ(4, ask(&path));
    EXPECT_EQ("shell32.dll", path);
    WriteTableEntry(file, "C:\\icons\\new.ico,8," + className_);
    EXPECT_EQ(8, ask(&path));
    EXPECT_EQ("C:\\icons\\new.ico", path);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKeyPath);
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + "\\DefaultIcon", "", "C:\\icons\\type.ico,2"));
    EXPECT_EQ(2, ask(&path));
    EXPECT_EQ("C:\\icons\\type.ico", path);
}

// While this extension is the class's icon handler, DefaultIcon says "%1"; the other files
// of the type keep the type's icon: the one chosen since ("HandlerIconInfo"), else the one
// from before installing (DefaultIconBAK).
TEST_F(IconHandler, SiblingsOfAnInstalledClassKeepTheTypeIcon)
{
    InstallHandler("shell32.dll,4");
    const std::string file = File("a");
    const std::string sibling = File("b");
    WriteTableEntry(file, "C:\\icons\\set.icl,7," + className_);
    ExpectAnswer(AskIconHandler(file), "C:\\icons\\set.icl", 7);
    ExpectAnswer(AskIconHandler(sibling), "shell32.dll", 4);

    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + "\\DefaultIcon", "HandlerIconInfo", "C:\\icons\\type.ico,6"));
    ExpectAnswer(AskIconHandler(sibling), "C:\\icons\\type.ico", 6);
    ExpectAnswer(AskIconHandler(file), "C:\\icons\\set.icl", 7);
}

TEST_F(IconHandler, InstalledClassWhoseIconWasTheFileItself)
{
    for (const char* before : {"%1", ""}) {
        SCOPED_TRACE(before);
        InstallHandler(before);
        const std::string sibling = File("b");
        ExpectAnswer(AskIconHandler(sibling), sibling, 0);
    }
}

// The backups count only while this extension is the handler: a class whose handler is
// someone else's (or whose DefaultIcon is "%1" of its own accord) is answered as it says.
TEST_F(IconHandler, BackupsOfAnotherHandlerAreNotUsed)
{
    InstallHandler("shell32.dll,4");
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + "\\DefaultIcon", "HandlerIconInfo", "C:\\icons\\type.ico,6"));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + "\\shellex\\IconHandler", "",
                            (std::string(test::OwnClsidInLowerCase.Text) + "x").c_str()));
    const std::string sibling = File("b");
    ExpectAnswer(AskIconHandler(sibling), sibling, 0);
}

TEST_F(IconHandler, ExtractLeavesTheExtractionToTheShell)
{
    ComPtr<IExtractIconA> extract;
    ASSERT_EQ(S_OK, CreateExtension(IID_IExtractIconA, &extract));
    HICON large = reinterpret_cast<HICON>(0x1111);
    HICON small = reinterpret_cast<HICON>(0x2222);
    EXPECT_EQ(S_FALSE, extract->Extract("shell32.dll", 4, &large, &small, MAKELONG(32, 16)));
    EXPECT_EQ(reinterpret_cast<HICON>(0x1111), large);
    EXPECT_EQ(reinterpret_cast<HICON>(0x2222), small);
    EXPECT_EQ(S_FALSE, extract->Extract(nullptr, 0, nullptr, nullptr, 0));
}

TEST_F(IconHandler, PersistFileOperations)
{
    ComPtr<IPersistFile> persist;
    ASSERT_EQ(S_OK, CreateExtension(IID_IPersistFile, &persist));
    CLSID id = CLSID_NULL;
    std::memset(&id, 0xAB, sizeof id);
    EXPECT_EQ(E_FAIL, persist->GetClassID(&id));
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&id);
    for (std::size_t i = 0; i < sizeof id; ++i)
        EXPECT_EQ(0xAB, bytes[i]);
    EXPECT_EQ(S_FALSE, persist->IsDirty());
    EXPECT_EQ(E_FAIL, persist->Save(L"C:\\a.txt", TRUE));
    EXPECT_EQ(E_FAIL, persist->Save(nullptr, FALSE));
    EXPECT_EQ(E_FAIL, persist->SaveCompleted(L"C:\\a.txt"));
    LPOLESTR current = reinterpret_cast<LPOLESTR>(0x5555);
    EXPECT_EQ(E_FAIL, persist->GetCurFile(&current));
    EXPECT_EQ(reinterpret_cast<LPOLESTR>(0x5555), current);
    EXPECT_EQ(S_OK, persist->Load(L"C:\\a.txt", STGM_READ));
    EXPECT_EQ(S_OK, persist->Load(L"C:\\a.txt", STGM_READWRITE | STGM_SHARE_EXCLUSIVE));
    EXPECT_EQ(E_INVALIDARG, persist->Load(nullptr, STGM_READ));
    EXPECT_EQ(E_FAIL, persist->GetClassID(nullptr));
}

TEST_F(IconHandler, NullOutputsAreRefused)
{
    RegisterClass("shell32.dll,4");
    const std::string file = File();
    ComPtr<IPersistFile> persist;
    ComPtr<IExtractIconA> extract;
    ASSERT_NO_FATAL_FAILURE(LoadIconHandler(file, persist, extract));
    char buffer[MAX_PATH] = "untouched";
    int index = 77;
    EXPECT_EQ(E_INVALIDARG, extract->GetIconLocation(0, nullptr, MAX_PATH, &index, nullptr));
    EXPECT_EQ(E_INVALIDARG, extract->GetIconLocation(0, buffer, 0, &index, nullptr));
    EXPECT_EQ(E_POINTER, extract->GetIconLocation(0, buffer, MAX_PATH, nullptr, nullptr));
    EXPECT_STREQ("untouched", buffer);
    EXPECT_EQ(77, index);
}

// The answer is copied whole or not at all: a path cut to fit would name another file.
TEST_F(IconHandler, AnswerThatDoesNotFitIsNotCut)
{
    RegisterClass("shell32.dll,4");
    const std::string file = File();
    ComPtr<IPersistFile> persist;
    ComPtr<IExtractIconA> extract;
    ASSERT_NO_FATAL_FAILURE(LoadIconHandler(file, persist, extract));
    const UINT length = sizeof "shell32.dll" - 1;
    for (UINT cchMax : {1u, length - 1, length}) {
        SCOPED_TRACE(cchMax);
        char buffer[64];
        std::memset(buffer, 0x5A, sizeof buffer);
        int index = 77;
        EXPECT_EQ(S_FALSE, extract->GetIconLocation(0, buffer, cchMax, &index, nullptr));
        for (unsigned char c : buffer)
            ASSERT_EQ(0x5A, c);
        EXPECT_EQ(77, index);
    }
    char buffer[64];
    std::memset(buffer, 0x5A, sizeof buffer);
    int index = 77;
    EXPECT_EQ(S_OK, extract->GetIconLocation(0, buffer, length + 1, &index, nullptr));
    EXPECT_STREQ("shell32.dll", buffer);
    EXPECT_EQ(0x5A, static_cast<unsigned char>(buffer[length + 1]));
    EXPECT_EQ(4, index);
}

// A path longer than 259 characters is not cut into the path of another file: here the
// first 259 characters name an existing file with a table entry of its own.
TEST_F(IconHandler, LoadWithAPathTooLongAnswersNothing)
{
    RegisterClass("shell32.dll,4");
    const std::size_t stemLength = 259 - dir_.Path().size() - 1 - extension_.size();
    const std::string file = File(std::string(stemLength, 'n').c_str());
    ASSERT_EQ(259u, file.size());
    WriteTableEntry(file, "C:\\icons\\set.icl,7," + className_);
    // The longest path that fits is answered.
    ExpectAnswer(AskIconHandler(file), "C:\\icons\\set.icl", 7);
    for (const std::string& longer : {file + "x", file + std::string(200, 'y')}) {
        const IconAnswer answer = AskIconHandler(longer);
        EXPECT_EQ(S_FALSE, answer.Result);
        EXPECT_EQ("", answer.File);
    }
}

// A UTF-16 path whose characters the ANSI code page lacks would turn, through a best-fit
// conversion, into the name of another file.
TEST_F(IconHandler, LoadWithCharactersTheCodePageLacksAnswersNothing)
{
    RegisterClass("shell32.dll,4");
    const std::string plain = File("a");
    WriteTableEntry(plain, "C:\\icons\\set.icl,7," + className_);
    const std::wstring lookalike = Wide(dir_.Path()) + L"\\\u0101" + Wide(extension_);
    char bestFit[MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, lookalike.c_str(), -1, bestFit, sizeof bestFit, nullptr, nullptr);
    if (plain != bestFit)
        GTEST_SKIP() << "this code page does not map the character to a plain letter";

    ComPtr<IPersistFile> persist;
    ASSERT_EQ(S_OK, CreateExtension(IID_IPersistFile, &persist));
    EXPECT_EQ(S_OK, persist->Load(lookalike.c_str(), STGM_READ));
    ComPtr<IExtractIconA> extract;
    ASSERT_EQ(S_OK, persist->QueryInterface(IID_IExtractIconA, &extract));
    char buffer[MAX_PATH] = {};
    int index = -1;
    EXPECT_EQ(S_FALSE, extract->GetIconLocation(0, buffer, MAX_PATH, &index, nullptr));
    EXPECT_STREQ("", buffer);
}

// Load replaces the path of an earlier Load, also with one that it cannot keep.
TEST_F(IconHandler, LoadAgainReplacesThePath)
{
    RegisterClass("shell32.dll,4");
    const std::string a = File("a");
    const std::string b = File("b");
    WriteTableEntry(a, "C:\\icons\\a.ico,1," + className_);
    WriteTableEntry(b, "C:\\icons\\b.ico,2," + className_);
    ComPtr<IPersistFile> persist;
    ASSERT_EQ(S_OK, CreateExtension(IID_IPersistFile, &persist));
    ComPtr<IExtractIconA> extract;
    ASSERT_EQ(S_OK, persist->QueryInterface(IID_IExtractIconA, &extract));
    char buffer[MAX_PATH];
    int index;
    ASSERT_EQ(S_OK, persist->Load(Wide(a).c_str(), STGM_READ));
    EXPECT_EQ(S_OK, extract->GetIconLocation(0, buffer, MAX_PATH, &index, nullptr));
    EXPECT_STREQ("C:\\icons\\a.ico", buffer);
    ASSERT_EQ(S_OK, persist->Load(Wide(b).c_str(), STGM_READ));
    EXPECT_EQ(S_OK, extract->GetIconLocation(0, buffer, MAX_PATH, &index, nullptr));
    EXPECT_STREQ("C:\\icons\\b.ico", buffer);
    ASSERT_EQ(S_OK, persist->Load(Wide(a + std::string(300, 'z')).c_str(), STGM_READ));
    EXPECT_EQ(S_FALSE, extract->GetIconLocation(0, buffer, MAX_PATH, &index, nullptr));
}

// What the shell itself reports for a file of the class agrees with the handler's answer
// for a file without an entry: both read the type's DefaultIcon.
TEST_F(IconHandler, ShellReportsTheSameTypeIcon)
{
    RegisterClass("shell32.dll,4");
    const std::string file = File();
    SHFILEINFOA info = {};
    ASSERT_NE(0u, SHGetFileInfoA(file.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION));
    const IconAnswer answer = AskIconHandler(file);
    EXPECT_EQ(S_OK, answer.Result);
    EXPECT_EQ(info.iIcon, answer.Index);
    EXPECT_NE(nullptr, std::strstr(info.szDisplayName, "shell32.dll")) << info.szDisplayName;
}

} // namespace
} // namespace orvane::test
