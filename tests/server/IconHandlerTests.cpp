// The icon-handler role, asked as Explorer asks it (Wine's shell does not load icon
// handlers itself): CoCreateInstance, IPersistFile::Load with the file's path,
// IExtractIconW::GetIconLocation, and IExtractIconA's for older callers. The per-file
// table and the class data are written straight into the registry as an installation
// leaves them.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

#include "IconIdLibrary.h"
#include "OwnIdentity.h"
#include "ServerTestSupport.h"
#include "UnicodeNames.h"

namespace orvane::test {
namespace {

using IconHandler = IconHandlerTest;

TEST_F(IconHandler, TableEntryIsTheAnswer)
{
    RegisterClass(L"shell32.dll,4");
    const std::wstring file = File();
    WriteTableEntry(file, L"C:\\icons\\set.icl,7," + className_);
    ExpectAnswer(AskIconHandler(file), L"C:\\icons\\set.icl", 7);
}

TEST_F(IconHandler, TableEntryNamingTheFileItself)
{
    RegisterClass(L"shell32.dll,4");
    const std::wstring file = File();
    WriteTableEntry(file, L"%1,3," + className_);
    ExpectAnswer(AskIconHandler(file), file, 3);
}

TEST_F(IconHandler, TableEntryWithoutIndexGivesIndexZero)
{
    RegisterClass(L"shell32.dll,4");
    const std::wstring file = File();
    WriteTableEntry(file, L"C:\\icons\\a.ico");
    ExpectAnswer(AskIconHandler(file), L"C:\\icons\\a.ico", 0);
}

// The table's value names compare without regard to case, as the registry does.
TEST_F(IconHandler, TableEntryIsFoundWhateverTheCase)
{
    RegisterClass(L"shell32.dll,4");
    const std::wstring file = File(L"MixedCase");
    std::wstring upper = file;
    CharUpperW(upper.data());
    WriteTableEntry(upper, L"C:\\icons\\set.icl,9," + className_);
    ExpectAnswer(AskIconHandler(file), L"C:\\icons\\set.icl", 9);
}

TEST_F(IconHandler, ClassDefaultIconTable)
{
    struct Row {
        const wchar_t* DefaultIcon; // null: no DefaultIcon key
        const wchar_t* File;        // null: the file itself
        int Index;
    };
    const Row table[] = {
        {L"shell32.dll,4", L"shell32.dll", 4},
        {L"shell32.dll,4,extra", L"shell32.dll", 4},
        {L"C:\\icons\\a.ico", L"C:\\icons\\a.ico", 0},
        {L"C:\\icons\\a.ico,-12", L"C:\\icons\\a.ico", -12},
        {L"%1", nullptr, 0},
        {L"\"%1\",2", nullptr, 2},
        {L"", nullptr, 0},
        {nullptr, nullptr, 0},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.DefaultIcon != nullptr ? Utf8(row.DefaultIcon) : "(no DefaultIcon)");
        DeleteKeyTree(HKEY_CLASSES_ROOT, className_);
        RegisterClass(row.DefaultIcon);
        const std::wstring file = File();
        ExpectAnswer(AskIconHandler(file), row.File != nullptr ? row.File : file, row.Index);
    }
}

TEST_F(IconHandler, FileOfNoClassIsItsOwnIcon)
{
    const std::wstring file = File();
    ExpectAnswer(AskIconHandler(file), file, 0);
    const std::wstring bare = dir_.MakeFile(L"noextension");
    ExpectAnswer(AskIconHandler(bare), bare, 0);
}

// A class whose DefaultIcon names itself through CurVer is followed to the current version.
TEST_F(IconHandler, ClassIconThroughCurVer)
{
    const std::wstring current = className_ + L".2";
    KeyGuard currentGuard(HKEY_CLASSES_ROOT, current);
    RegisterClass(nullptr);
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + L"\\CurVer", L"", current));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, current + L"\\DefaultIcon", L"", L"C:\\icons\\v2.ico,5"));
    ExpectAnswer(AskIconHandler(File()), L"C:\\icons\\v2.ico", 5);
}

TEST_F(IconHandler, HostileRegistryDataFallsBackToTheFile)
{
    RegisterClass(nullptr);
    const std::wstring file = File();
    const std::wstring huge(600, L'h');
    // Oversized, unterminated and binary values are not locations.
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + L"\\DefaultIcon", L"", huge + L",3"));
    WriteTableEntry(file, huge + L",1," + className_);
    ExpectAnswer(AskIconHandler(file), file, 0);

    const wchar_t unterminated[8] = {L'C', L':', L'\\', L'x', L'.', L'i', L'c', L'o'};
    ASSERT_TRUE(WriteValue(HKEY_CLASSES_ROOT, className_ + L"\\DefaultIcon", L"", REG_SZ, unterminated,
                           sizeof unterminated));
    const IconAnswer answer = AskIconHandler(file);
    EXPECT_EQ(S_OK, answer.Result);
    EXPECT_LT(answer.File.size(), static_cast<std::size_t>(MAX_PATH));
    // Text whose last UTF-16 unit is cut in half.
    const char odd[7] = {'C', 0, ':', 0, '\\', 0, 'x'};
    ASSERT_TRUE(WriteValue(HKEY_CLASSES_ROOT, className_ + L"\\DefaultIcon", L"", REG_SZ, odd, sizeof odd));
    const IconAnswer oddAnswer = AskIconHandler(file);
    EXPECT_EQ(S_OK, oddAnswer.Result);
    EXPECT_LT(oddAnswer.File.size(), static_cast<std::size_t>(MAX_PATH));

    const DWORD number = 7;
    ASSERT_TRUE(WriteValue(HKEY_LOCAL_MACHINE, FileIconsKeyPath, file.c_str(), REG_DWORD, &number, sizeof number));
    EXPECT_EQ(S_OK, AskIconHandler(file).Result);
}

// While this extension is the class's icon handler, DefaultIcon says "%1"; the other files
// of the type keep the type's icon: the one chosen since ("HandlerIconInfo"), else the one
// from before installing (DefaultIconBAK).
TEST_F(IconHandler, SiblingsOfAnInstalledClassKeepTheTypeIcon)
{
    InstallHandler(L"shell32.dll,4");
    const std::wstring file = File(L"a");
    const std::wstring sibling = File(L"b");
    WriteTableEntry(file, L"C:\\icons\\set.icl,7," + className_);
    ExpectAnswer(AskIconHandler(file), L"C:\\icons\\set.icl", 7);
    ExpectAnswer(AskIconHandler(sibling), L"shell32.dll", 4);

    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + L"\\DefaultIcon", L"HandlerIconInfo", L"C:\\icons\\type.ico,6"));
    ExpectAnswer(AskIconHandler(sibling), L"C:\\icons\\type.ico", 6);
    ExpectAnswer(AskIconHandler(file), L"C:\\icons\\set.icl", 7);
}

TEST_F(IconHandler, InstalledClassWhoseIconWasTheFileItself)
{
    for (const wchar_t* before : {L"%1", L""}) {
        SCOPED_TRACE(Utf8(before));
        InstallHandler(before);
        const std::wstring sibling = File(L"b");
        ExpectAnswer(AskIconHandler(sibling), sibling, 0);
    }
}

// The backups count only while this extension is the handler: a class whose handler is
// someone else's (or whose DefaultIcon is "%1" of its own accord) is answered as it says.
TEST_F(IconHandler, BackupsOfAnotherHandlerAreNotUsed)
{
    InstallHandler(L"shell32.dll,4");
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + L"\\DefaultIcon", L"HandlerIconInfo", L"C:\\icons\\type.ico,6"));
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + L"\\shellex\\IconHandler", L"",
                            std::wstring(test::OwnClsidInLowerCase.Text) + L"x"));
    const std::wstring sibling = File(L"b");
    ExpectAnswer(AskIconHandler(sibling), sibling, 0);
}

// Every answer writes exactly its own output flags, whatever the shell preset: the
// file's own entry, or the file as its own icon, is GIL_PERINSTANCE; the type's icon has
// none; a refusal has none. Without output flags the answer is the same.
TEST_F(IconHandler, OutputFlagsAreExactlyTheAnswersOwn)
{
    enum class Setup { TableEntry, TableEntryOfTheFileItself, ClassIcon, NoClass, InstalledSibling, HandlerIconInfo, Folder };
    struct Row {
        Setup Case;
        HRESULT Result;
        UINT Flags;
    };
    const Row table[] = {
        {Setup::TableEntry, S_OK, GIL_PERINSTANCE},
        {Setup::TableEntryOfTheFileItself, S_OK, GIL_PERINSTANCE},
        {Setup::ClassIcon, S_OK, 0},
        {Setup::NoClass, S_OK, GIL_PERINSTANCE},
        {Setup::InstalledSibling, S_OK, 0},
        {Setup::HandlerIconInfo, S_OK, 0},
        {Setup::Folder, S_FALSE, 0},
    };
    const UINT presets[] = {0u, UINT(GIL_NOTFILENAME), UINT(GIL_DONTCACHE), UINT(GIL_SIMULATEDOC), UINT(GIL_PERCLASS),
                            UINT(GIL_PERINSTANCE), UINT(GIL_SHIELD | GIL_FORCENOSHIELD), ~0u};
    for (const Row& row : table) {
        SCOPED_TRACE(static_cast<int>(row.Case));
        DeleteKeyTree(HKEY_CLASSES_ROOT, className_);
        DeleteKeyTree(HKEY_CLASSES_ROOT, extension_);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKeyPath);
        std::wstring path = File();
        switch (row.Case) {
        case Setup::TableEntry:
            RegisterClass(L"shell32.dll,4");
            WriteTableEntry(path, L"C:\\icons\\set.icl,7," + className_);
            break;
        case Setup::TableEntryOfTheFileItself:
            RegisterClass(L"shell32.dll,4");
            WriteTableEntry(path, L"%1,3," + className_);
            break;
        case Setup::ClassIcon: RegisterClass(L"shell32.dll,4"); break;
        case Setup::NoClass: break;
        case Setup::InstalledSibling: InstallHandler(L"shell32.dll,4"); break;
        case Setup::HandlerIconInfo:
            InstallHandler(L"shell32.dll,4");
            ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, className_ + L"\\DefaultIcon", L"HandlerIconInfo",
                                    L"C:\\icons\\type.ico,6"));
            break;
        case Setup::Folder:
            RegisterClass(L"shell32.dll,4");
            path = dir_.MakeFolder(L"sub" + extension_);
            break;
        }
        for (IconInterface through : {IconInterface::Wide, IconInterface::Ansi}) {
            const IconAnswer unflagged = AskIconHandler(path, 0, through, std::nullopt);
            EXPECT_EQ(row.Result, unflagged.Result);
            for (UINT preset : presets) {
                SCOPED_TRACE(preset);
                const IconAnswer answer = AskIconHandler(path, 0, through, preset);
                EXPECT_EQ(row.Result, answer.Result);
                EXPECT_EQ(row.Flags, answer.OutFlags);
                EXPECT_EQ(unflagged.File, answer.File);
                EXPECT_EQ(unflagged.Index, answer.Index);
            }
        }
    }
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

// A path longer than 259 characters is not cut into the path of another file: here the
// first 259 characters name an existing file with a table entry of its own.
TEST_F(IconHandler, LoadWithAPathTooLongAnswersNothing)
{
    RegisterClass(L"shell32.dll,4");
    const std::size_t stemLength = 259 - dir_.Path().size() - 1 - extension_.size();
    const std::wstring file = File(std::wstring(stemLength, L'n'));
    ASSERT_EQ(259u, file.size());
    WriteTableEntry(file, L"C:\\icons\\set.icl,7," + className_);
    // The longest path that fits is answered.
    ExpectAnswer(AskIconHandler(file), L"C:\\icons\\set.icl", 7);
    ExpectAnswer(AskIconHandler(file, 0, IconInterface::Ansi), L"C:\\icons\\set.icl", 7);
    for (const std::wstring& longer : {file + L"x", file + std::wstring(200, L'y')}) {
        for (IconInterface through : {IconInterface::Wide, IconInterface::Ansi}) {
            const IconAnswer answer = AskIconHandler(longer, 0, through);
            EXPECT_EQ(S_FALSE, answer.Result);
            EXPECT_EQ(L"", answer.File);
        }
    }
}

// The same for a path of exactly 259 UTF-16 units whose characters code page 1252 cannot
// hold, a surrogate pair among them: answered through the wide interface, never cut.
TEST_F(IconHandler, UnicodePathOfTheLongestLengthIsAnsweredWhole)
{
    RegisterClass(L"shell32.dll,4");
    const std::wstring file = PathOfLength(dir_.Path(), 259, extension_);
    ASSERT_EQ(259u, file.size());
    ASSERT_EQ(file, dir_.MakeFile(file.substr(dir_.Path().size() + 1)));
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str()));
    ExpectAnswer(AskIconHandler(file), L"shell32.dll", 4);
    WriteTableEntry(file, L"%1,5," + className_);
    ExpectAnswer(AskIconHandler(file), file, 5);
    // One character more is refused, a plain one or a surrogate pair.
    for (const std::wstring& longer : {file + L"x", file + L"\U0001F4C1"}) {
        const IconAnswer answer = AskIconHandler(longer);
        EXPECT_EQ(S_FALSE, answer.Result);
        EXPECT_EQ(L"", answer.File);
    }
}

// Files named in characters that code page 1252 lacks are answered through the wide
// interface with their own entry, and as their own icon with their whole path.
TEST_F(IconHandler, FilesOfAnyNameAreAnsweredThroughTheWideInterface)
{
    RegisterClass(L"shell32.dll,4");
    for (const UnicodeName& name : UnicodeNames()) {
        SCOPED_TRACE(name.Label);
        const std::wstring file = File(name.Text);
        const std::wstring sibling = File(name.Text + L" 2");
        ExpectAnswer(AskIconHandler(file), L"shell32.dll", 4);
        WriteTableEntry(file, L"C:\\icons\\set.icl,7," + className_);
        ExpectAnswer(AskIconHandler(file), L"C:\\icons\\set.icl", 7);
        ExpectAnswer(AskIconHandler(sibling), L"shell32.dll", 4);
        WriteTableEntry(file, L"%1,3," + className_);
        ExpectAnswer(AskIconHandler(file), file, 3);
        // An icon source named in such characters too.
        const std::wstring source = L"C:\\icons\\" + name.Text + L".icl";
        WriteTableEntry(file, source + L",2," + className_);
        ExpectAnswer(AskIconHandler(file), source, 2);
    }
}

// The 8-bit interface answers what the ANSI code page holds exactly: an entry in plain
// letters, also for a file whose own name it cannot hold; a location it cannot hold
// (the file itself, an icon source with such a name) is refused, the output untouched.
TEST_F(IconHandler, EightBitInterfaceAnswersOnlyWhatTheCodePageHolds)
{
    RegisterClass(nullptr);
    for (const UnicodeName& name : UnicodeNames()) {
        SCOPED_TRACE(name.Label);
        const std::wstring file = File(name.Text);
        if (FromAnsi(Ansi(file)) == file)
            continue; // this code page holds the name
        auto expectRefused = [&] {
            ComPtr<IPersistFile> persist;
            ComPtr<IExtractIconA> extract;
            ASSERT_NO_FATAL_FAILURE(LoadIconHandler(file, persist, extract));
            char buffer[MAX_PATH];
            std::memset(buffer, 0x5A, sizeof buffer);
            int index = 1234;
            UINT flags = 0x77;
            EXPECT_EQ(S_FALSE, extract->GetIconLocation(0, buffer, MAX_PATH, &index, &flags));
            for (unsigned char c : buffer)
                ASSERT_EQ(0x5A, c);
            EXPECT_EQ(1234, index);
            EXPECT_EQ(0u, flags);
        };
        // The file is its own icon.
        ExpectAnswer(AskIconHandler(file), file, 0);
        expectRefused();
        WriteTableEntry(file, L"C:\\icons\\" + name.Text + L".icl,2," + className_);
        expectRefused();
        WriteTableEntry(file, L"C:\\icons\\set.icl,7," + className_);
        ExpectAnswer(AskIconHandler(file, 0, IconInterface::Ansi), L"C:\\icons\\set.icl", 7);
    }
    // A name that the code page holds is answered in it.
    const std::wstring cafe = File(L"caf\u00E9");
    if (FromAnsi(Ansi(cafe)) == cafe)
        ExpectAnswer(AskIconHandler(cafe, 0, IconInterface::Ansi), cafe, 0);
}

// A UTF-16 path whose characters the ANSI code page lacks would turn, through a best-fit
// conversion, into the name of another file.
TEST_F(IconHandler, LoadWithCharactersTheCodePageLacksAnswersNothing)
{
    RegisterClass(L"shell32.dll,4");
    const std::wstring plain = File(L"a");
    WriteTableEntry(plain, L"C:\\icons\\set.icl,7," + className_);
    const std::wstring lookalike = dir_.Path() + L"\\\u0101" + extension_;
    char bestFit[MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, lookalike.c_str(), -1, bestFit, sizeof bestFit, nullptr, nullptr);
    if (Ansi(plain) != bestFit)
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
    ComPtr<IExtractIconW> wide;
    ASSERT_EQ(S_OK, persist->QueryInterface(IID_IExtractIconW, &wide));
    wchar_t wideBuffer[MAX_PATH] = {};
    EXPECT_EQ(S_FALSE, wide->GetIconLocation(0, wideBuffer, MAX_PATH, &index, nullptr));
    EXPECT_STREQ(L"", wideBuffer);

    // Once the lookalike exists it is answered as itself through either interface, never
    // as the plain file it resembles.
    ASSERT_EQ(lookalike, dir_.MakeFile(lookalike.substr(dir_.Path().size() + 1)));
    ExpectAnswer(AskIconHandler(lookalike), L"shell32.dll", 4);
    ExpectAnswer(AskIconHandler(lookalike, 0, IconInterface::Ansi), L"shell32.dll", 4);
    ExpectAnswer(AskIconHandler(plain, 0, IconInterface::Ansi), L"C:\\icons\\set.icl", 7);
}

// What the shell itself reports for a file of the class agrees with the handler's answer
// for a file without an entry: both read the type's DefaultIcon. So it does for files
// named in characters that code page 1252 lacks.
TEST_F(IconHandler, ShellReportsTheSameTypeIcon)
{
    RegisterClass(L"shell32.dll,4");
    std::vector<std::wstring> files{File()};
    for (const UnicodeName& name : UnicodeNames())
        files.push_back(File(name.Text));
    for (const std::wstring& file : files) {
        SCOPED_TRACE(Utf8(file));
        SHFILEINFOW info = {};
        ASSERT_NE(0u, SHGetFileInfoW(file.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION));
        const IconAnswer answer = AskIconHandler(file);
        EXPECT_EQ(S_OK, answer.Result);
        EXPECT_EQ(info.iIcon, answer.Index);
        EXPECT_NE(nullptr, std::wcsstr(info.szDisplayName, L"shell32.dll")) << Utf8(info.szDisplayName);
    }
}

// The tests below ask through each of the two interfaces.
template <class Interface>
struct Road;

template <>
struct Road<IExtractIconW> {
    using Char = wchar_t;
    static const IID& Iid() { return IID_IExtractIconW; }
    static std::wstring Read(const Char* text) { return text; }
    static std::wstring Of(const std::wstring& text) { return text; }
};

template <>
struct Road<IExtractIconA> {
    using Char = char;
    static const IID& Iid() { return IID_IExtractIconA; }
    static std::wstring Read(const Char* text) { return FromAnsi(text); }
    static std::string Of(const std::wstring& text) { return Ansi(text); }
};

struct InterfaceNames {
    template <class Interface>
    static std::string GetName(int)
    {
        return std::is_same_v<Interface, IExtractIconW> ? "IExtractIconW" : "IExtractIconA";
    }
};

// A fill that shows whether a buffer was written to: every byte 0x5A.
template <class Char, std::size_t Size>
void Fill(Char (&buffer)[Size])
{
    std::memset(buffer, 0x5A, sizeof buffer);
}

template <class Char>
bool Untouched(const Char& c)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&c);
    for (std::size_t i = 0; i < sizeof c; ++i) {
        if (bytes[i] != 0x5A)
            return false;
    }
    return true;
}

template <class Interface>
class IconHandlerThrough : public IconHandlerTest {
protected:
    using Char = typename Road<Interface>::Char;
};

using BothInterfaces = testing::Types<IExtractIconW, IExtractIconA>;
TYPED_TEST_SUITE(IconHandlerThrough, BothInterfaces, InterfaceNames);

TYPED_TEST(IconHandlerThrough, OnlyFilesAreAnswered)
{
    using Char = typename Road<TypeParam>::Char;
    this->RegisterClass(L"shell32.dll,4");
    const std::wstring folder = this->dir_.MakeFolder(L"sub" + this->extension_);
    const std::wstring missing = this->dir_.Path() + L"\\missing" + this->extension_;
    for (const std::wstring& path : {folder, std::wstring(L"C:\\"), missing, std::wstring()}) {
        SCOPED_TRACE(Utf8(path));
        this->WriteTableEntry(path.empty() ? L"x" : path, L"C:\\icons\\set.icl,7," + this->className_);
        ComPtr<IPersistFile> persist;
        ASSERT_EQ(S_OK, CreateExtension(IID_IPersistFile, &persist));
        EXPECT_EQ(S_OK, persist->Load(path.c_str(), STGM_READ));
        ComPtr<TypeParam> extract;
        ASSERT_EQ(S_OK, persist->QueryInterface(Road<TypeParam>::Iid(), &extract));
        Char buffer[MAX_PATH];
        Fill(buffer);
        int index = 1234;
        UINT flags = 0x77;
        EXPECT_EQ(S_FALSE, extract->GetIconLocation(0, buffer, MAX_PATH, &index, &flags));
        EXPECT_TRUE(Untouched(buffer[0]));
        EXPECT_EQ(1234, index);
        EXPECT_EQ(0u, flags);
    }
}

TYPED_TEST(IconHandlerThrough, NoLoadNoAnswer)
{
    using Char = typename Road<TypeParam>::Char;
    ComPtr<TypeParam> extract;
    ASSERT_EQ(S_OK, CreateExtension(Road<TypeParam>::Iid(), &extract));
    Char buffer[MAX_PATH] = {};
    const auto untouched = Road<TypeParam>::Of(L"untouched");
    std::memcpy(buffer, untouched.c_str(), (untouched.size() + 1) * sizeof(Char));
    int index = 5;
    EXPECT_EQ(S_FALSE, extract->GetIconLocation(0, buffer, MAX_PATH, &index, nullptr));
    EXPECT_EQ(L"untouched", Road<TypeParam>::Read(buffer));
    EXPECT_EQ(5, index);
}

// Request flags make no difference, and no output flag the shell preset stays.
TYPED_TEST(IconHandlerThrough, RequestFlagsChangeNothingAndOutputFlagsAreWritten)
{
    using Char = typename Road<TypeParam>::Char;
    this->RegisterClass(L"shell32.dll,4");
    const std::wstring file = this->File();
    for (UINT flags : {0u, UINT(GIL_OPENICON), UINT(GIL_FORSHELL), UINT(GIL_ASYNC), UINT(GIL_DEFAULTICON),
                       UINT(GIL_OPENICON | GIL_FORSHELL | GIL_CHECKSHIELD)}) {
        ComPtr<IPersistFile> persist;
        ComPtr<TypeParam> extract;
        ASSERT_NO_FATAL_FAILURE(LoadIconHandler(file, persist, extract));
        Char buffer[MAX_PATH] = {};
        int index = -1;
        UINT outFlags = 0xA5A5;
        EXPECT_EQ(S_OK, extract->GetIconLocation(flags, buffer, MAX_PATH, &index, &outFlags));
        EXPECT_EQ(L"shell32.dll", Road<TypeParam>::Read(buffer));
        EXPECT_EQ(4, index);
        EXPECT_EQ(0u, outFlags);
    }
}

// What is kept between requests hides no change: a change of the table or the class
// shows in the next answer, also on the same object.
TYPED_TEST(IconHandlerThrough, EveryRequestReadsTheRegistryAgain)
{
    using Char = typename Road<TypeParam>::Char;
    this->RegisterClass(L"shell32.dll,4");
    const std::wstring file = this->File();
    ComPtr<IPersistFile> persist;
    ComPtr<TypeParam> extract;
    ASSERT_NO_FATAL_FAILURE(LoadIconHandler(file, persist, extract));
    auto ask = [&](std::wstring* path) {
        Char buffer[MAX_PATH] = {};
        int index = -1;
        EXPECT_EQ(S_OK, extract->GetIconLocation(0, buffer, MAX_PATH, &index, nullptr));
        *path = Road<TypeParam>::Read(buffer);
        return index;
    };
    std::wstring path;
    EXPECT_EQ(4, ask(&path));
    EXPECT_EQ(L"shell32.dll", path);
    this->WriteTableEntry(file, L"C:\\icons\\new.ico,8," + this->className_);
    EXPECT_EQ(8, ask(&path));
    EXPECT_EQ(L"C:\\icons\\new.ico", path);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKeyPath);
    ASSERT_TRUE(WriteString(HKEY_CLASSES_ROOT, this->className_ + L"\\DefaultIcon", L"", L"C:\\icons\\type.ico,2"));
    EXPECT_EQ(2, ask(&path));
    EXPECT_EQ(L"C:\\icons\\type.ico", path);
}

// Extract answers S_FALSE, loaded or not: the shell then takes the icon out of the
// location GetIconLocation gave, itself, and the handles it passed stay as they were
// until it does. Done as the shell does it, that shows the file's own icon (a resource id
// of the test's icon library, which no position matches) at the sizes asked.
TYPED_TEST(IconHandlerThrough, ExtractLeavesTheExtractionToTheShell)
{
    using Char = typename Road<TypeParam>::Char;
    ComPtr<TypeParam> unloaded;
    ASSERT_EQ(S_OK, CreateExtension(Road<TypeParam>::Iid(), &unloaded));
    const auto shell32 = Road<TypeParam>::Of(L"shell32.dll");
    HICON large = reinterpret_cast<HICON>(0x1111);
    HICON small = reinterpret_cast<HICON>(0x2222);
    EXPECT_EQ(S_FALSE, unloaded->Extract(shell32.c_str(), 4, &large, &small, MAKELONG(32, 16)));
    EXPECT_EQ(reinterpret_cast<HICON>(0x1111), large);
    EXPECT_EQ(reinterpret_cast<HICON>(0x2222), small);
    EXPECT_EQ(S_FALSE, unloaded->Extract(nullptr, 0, nullptr, nullptr, 0));

    this->RegisterClass(L"shell32.dll,4");
    const std::wstring file = this->File();
    const std::wstring library = orvane::test::IconIdLibraryPath();
    this->WriteTableEntry(file, library + L",-105," + this->className_);
    ComPtr<IPersistFile> persist;
    ComPtr<TypeParam> extract;
    ASSERT_NO_FATAL_FAILURE(LoadIconHandler(file, persist, extract));
    Char location[MAX_PATH] = {};
    int index = 0;
    UINT flags = 0;
    ASSERT_EQ(S_OK, extract->GetIconLocation(0, location, MAX_PATH, &index, &flags));
    EXPECT_EQ(S_FALSE, extract->Extract(location, static_cast<UINT>(index), &large, &small, MAKELONG(32, 16)));
    EXPECT_EQ(reinterpret_cast<HICON>(0x1111), large);
    EXPECT_EQ(reinterpret_cast<HICON>(0x2222), small);

    large = nullptr;
    small = nullptr;
    ASSERT_EQ(S_OK, SHDefExtractIconW(Road<TypeParam>::Read(location).c_str(), index, flags, &large, &small,
                                      MAKELONG(32, 16)));
    ASSERT_NE(nullptr, large);
    ASSERT_NE(nullptr, small);
    const std::vector<COLORREF> shown = orvane::test::IconPixels(large);
    EXPECT_FALSE(shown.empty());
    EXPECT_EQ(orvane::test::ExtractedPixels(library, -105), shown);
    EXPECT_NE(orvane::test::ExtractedPixels(library, -112), shown);
    ICONINFO info{};
    BITMAP bitmap{};
    ASSERT_TRUE(GetIconInfo(small, &info));
    GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    EXPECT_EQ(16, bitmap.bmWidth);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(large);
    DestroyIcon(small);
}

TYPED_TEST(IconHandlerThrough, NullOutputsAreRefused)
{
    using Char = typename Road<TypeParam>::Char;
    this->RegisterClass(L"shell32.dll,4");
    const std::wstring file = this->File();
    ComPtr<IPersistFile> persist;
    ComPtr<TypeParam> extract;
    ASSERT_NO_FATAL_FAILURE(LoadIconHandler(file, persist, extract));
    Char buffer[MAX_PATH] = {};
    const auto untouched = Road<TypeParam>::Of(L"untouched");
    std::memcpy(buffer, untouched.c_str(), (untouched.size() + 1) * sizeof(Char));
    int index = 77;
    EXPECT_EQ(E_INVALIDARG, extract->GetIconLocation(0, nullptr, MAX_PATH, &index, nullptr));
    EXPECT_EQ(E_INVALIDARG, extract->GetIconLocation(0, buffer, 0, &index, nullptr));
    EXPECT_EQ(E_POINTER, extract->GetIconLocation(0, buffer, MAX_PATH, nullptr, nullptr));
    UINT flags = GIL_NOTFILENAME | GIL_DONTCACHE;
    EXPECT_EQ(E_POINTER, extract->GetIconLocation(0, buffer, MAX_PATH, nullptr, &flags));
    EXPECT_EQ(0u, flags);
    EXPECT_EQ(L"untouched", Road<TypeParam>::Read(buffer));
    EXPECT_EQ(77, index);
}

// The answer is copied whole or not at all: a path cut to fit would name another file.
// cchMax counts characters of the interface's own kind.
TYPED_TEST(IconHandlerThrough, AnswerThatDoesNotFitIsNotCut)
{
    using Char = typename Road<TypeParam>::Char;
    this->RegisterClass(L"shell32.dll,4");
    const std::wstring file = this->File();
    ComPtr<IPersistFile> persist;
    ComPtr<TypeParam> extract;
    ASSERT_NO_FATAL_FAILURE(LoadIconHandler(file, persist, extract));
    const UINT length = static_cast<UINT>(std::size(L"shell32.dll") - 1);
    for (UINT cchMax : {1u, length - 1, length}) {
        SCOPED_TRACE(cchMax);
        Char buffer[64];
        Fill(buffer);
        int index = 77;
        EXPECT_EQ(S_FALSE, extract->GetIconLocation(0, buffer, cchMax, &index, nullptr));
        for (const Char& c : buffer)
            ASSERT_TRUE(Untouched(c));
        EXPECT_EQ(77, index);
    }
    Char buffer[64];
    Fill(buffer);
    int index = 77;
    EXPECT_EQ(S_OK, extract->GetIconLocation(0, buffer, length + 1, &index, nullptr));
    EXPECT_EQ(L"shell32.dll", Road<TypeParam>::Read(buffer));
    EXPECT_TRUE(Untouched(buffer[length + 1]));
    EXPECT_EQ(4, index);
}

// Load replaces the path of an earlier Load, also with one that it cannot keep.
TYPED_TEST(IconHandlerThrough, LoadAgainReplacesThePath)
{
    using Char = typename Road<TypeParam>::Char;
    this->RegisterClass(L"shell32.dll,4");
    const std::wstring a = this->File(L"a");
    const std::wstring b = this->File(L"b");
    this->WriteTableEntry(a, L"C:\\icons\\a.ico,1," + this->className_);
    this->WriteTableEntry(b, L"C:\\icons\\b.ico,2," + this->className_);
    ComPtr<IPersistFile> persist;
    ASSERT_EQ(S_OK, CreateExtension(IID_IPersistFile, &persist));
    ComPtr<TypeParam> extract;
    ASSERT_EQ(S_OK, persist->QueryInterface(Road<TypeParam>::Iid(), &extract));
    Char buffer[MAX_PATH];
    int index;
    ASSERT_EQ(S_OK, persist->Load(a.c_str(), STGM_READ));
    EXPECT_EQ(S_OK, extract->GetIconLocation(0, buffer, MAX_PATH, &index, nullptr));
    EXPECT_EQ(L"C:\\icons\\a.ico", Road<TypeParam>::Read(buffer));
    ASSERT_EQ(S_OK, persist->Load(b.c_str(), STGM_READ));
    EXPECT_EQ(S_OK, extract->GetIconLocation(0, buffer, MAX_PATH, &index, nullptr));
    EXPECT_EQ(L"C:\\icons\\b.ico", Road<TypeParam>::Read(buffer));
    ASSERT_EQ(S_OK, persist->Load((a + std::wstring(300, L'z')).c_str(), STGM_READ));
    EXPECT_EQ(S_FALSE, extract->GetIconLocation(0, buffer, MAX_PATH, &index, nullptr));
}

} // namespace
} // namespace orvane::test
