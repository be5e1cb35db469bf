// Made icons of single files, types and drives: written into the folder of made icons of
// the scope the change goes to, named by their full path, and deleted by restore and
// remove-all only once no setting of either scope names them, never a file the product
// did not make. And "Keep a copy with the folder": the chosen icon, every size of it,
// copied into the folder and named relative to it.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>
#include <wincodec.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ComInitialization.h"
#include "IconGroupFile.h"
#include "FolderIcons.h"
#include "FileIconTable.h"
#include "Fnv1a.h"
#include "MadeIconSweep.h"
#include "IconIdLibrary.h"
#include "IconTarget.h"
#include "MadeIconChanges.h"
#include "MadeIconFile.h"
#include "MadeIconPlaces.h"
#include "PictureFiles.h"
#include "PictureIcon.h"
#include "RegistryNames.h"
#include "RemoveAll.h"
#include "ScratchRegistry.h"
#include "TestSupport.h"
#include "WholeFile.h"

using namespace orvane;
using namespace orvane::test;

namespace {

constexpr wchar_t UserExplorerApplication[] = L"Software\\Classes\\Applications\\Explorer.exe";

std::wstring FolderOf(Scope scope) { return MadeIconFolder(scope, false).value_or(L"<none>"); }

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Both scopes' folders of made icons as they were: files made in them during a test go,
// and so do the folders when they were not there before.
class MadeIconFoldersGuard {
public:
    MadeIconFoldersGuard()
    {
        for (const Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
            Saved saved;
            saved.Icons = FolderOf(scope);
            saved.Product = saved.Icons.substr(0, saved.Icons.rfind(L'\\'));
            saved.HadProduct = GetFileAttributesW(saved.Product.c_str()) != INVALID_FILE_ATTRIBUTES;
            saved.HadIcons = GetFileAttributesW(saved.Icons.c_str()) != INVALID_FILE_ATTRIBUTES;
            saved.Files = FolderContent(saved.Icons);
            saved_.push_back(saved);
        }
    }
    ~MadeIconFoldersGuard()
    {
        for (const Saved& saved : saved_) {
            for (const std::wstring& name : FolderContent(saved.Icons)) {
                if (std::find(saved.Files.begin(), saved.Files.end(), name) != saved.Files.end())
                    continue;
                const std::wstring path = saved.Icons + L"\\" + name;
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
            if (!saved.HadIcons)
                RemoveDirectoryW(saved.Icons.c_str());
            if (!saved.HadProduct)
                RemoveDirectoryW(saved.Product.c_str());
        }
    }
    MadeIconFoldersGuard(const MadeIconFoldersGuard&) = delete;
    MadeIconFoldersGuard& operator=(const MadeIconFoldersGuard&) = delete;

private:
    struct Saved {
        std::wstring Icons;
        std::wstring Product;
        bool HadProduct = false;
        bool HadIcons = false;
        std::vector<std::wstring> Files;
    };
    std::vector<Saved> saved_;
};

enum class Kind { File, Type, Drive };

const char* KindName(Kind kind)
{
    switch (kind) {
    case Kind::File: return "file";
    case Kind::Type: return "type";
    case Kind::Drive: return "drive";
    }
    return "?";
}

// The product's keys, both scopes' drive icons, two scratch types, the folders of made
// icons; COM for the imaging component; pictures of distinct colours.
class MadeIconStoreTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, ProductRoot));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CURRENT_USER, ProductRoot));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, DriveIconsKey));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CURRENT_USER, UserExplorerApplication));
        fileA_ = dir_.MakeFile(L"a" + typeA_.Extension);
        fileB_ = dir_.MakeFile(L"b" + typeA_.Extension);
        ofType_ = dir_.MakeFile(L"c" + typeB_.Extension);
    }

    std::vector<std::uint8_t> IconOf(Colour colour)
    {
        const std::wstring path = pictures_.Path() + L"\\" + std::to_wstring(++pictures_made_) + L".png";
        EXPECT_TRUE(SavePicture(SolidPicture(40, 30, colour), GUID_ContainerFormatPng, path));
        std::vector<std::uint8_t> bytes;
        EXPECT_EQ(PictureProblem::None, MakeIconBytesFromPicture(path, bytes));
        return bytes;
    }

    // The target of a kind, opened as the dialog opens it.
    IconTarget Open(Kind kind, ScopeChoice choice = ScopeChoice::Automatic, const std::wstring* file = nullptr)
    {
        const std::wstring path = kind == Kind::Drive ? L"P:\\" : kind == Kind::Type ? ofType_ : file ? *file : fileA_;
        IconTarget target = OpenTarget(path.c_str(), choice);
        target.SetAllOfType(kind == Kind::Type);
        return target;
    }

    // Gives the target the made icon; the full path of the file it names.
    std::wstring Give(Kind kind, const std::vector<std::uint8_t>& bytes, ScopeChoice choice = ScopeChoice::Automatic,
                      const std::wstring* file = nullptr)
    {
        IconTarget target = Open(kind, choice, file);
        EXPECT_EQ(ChangeResult::Done, ApplyMadeIcon(target, bytes)) << KindName(kind);
        return target.CurrentIconPath() ? target.CurrentIconPath() : L"";
    }

    ChangeResult Restore(Kind kind, const std::wstring* file = nullptr)
    {
        IconTarget target = Open(kind, ScopeChoice::Automatic, file);
        return target.RestoreDefault();
    }

    static std::wstring MadePath(Scope scope, const std::vector<std::uint8_t>& bytes)
    {
        return FolderOf(scope) + L"\\" + MadeIconName(Fnv1a64(bytes.data(), bytes.size()));
    }

    KeyGuard machine_{HKEY_LOCAL_MACHINE, ProductRoot};
    KeyGuard user_{HKEY_CURRENT_USER, ProductRoot};
    KeyGuard drives_{HKEY_LOCAL_MACHINE, DriveIconsKey};
    KeyGuard userDrives_{HKEY_CURRENT_USER, UserExplorerApplication};
    ScratchType typeA_;
    ScratchType typeB_;
    MadeIconFoldersGuard folders_;
    ComInitialization com_;
    TempDir pictures_;
    TempDir dir_;
    std::wstring fileA_;
    std::wstring fileB_;
    std::wstring ofType_;

private:
    int pictures_made_ = 0;
};

} // namespace

TEST_F(MadeIconStoreTest, APictureGoesToTheFolderOfTheScopeOfTheChangeAndRestoreDeletesIt)
{
    const struct {
        Kind Target;
        ScopeChoice Choice;
        Scope Where;
    } rows[] = {
        {Kind::File, ScopeChoice::AllUsers, Scope::AllUsers},  {Kind::File, ScopeChoice::ThisUser, Scope::ThisUser},
        {Kind::Type, ScopeChoice::AllUsers, Scope::AllUsers},  {Kind::Type, ScopeChoice::ThisUser, Scope::ThisUser},
        {Kind::Drive, ScopeChoice::AllUsers, Scope::AllUsers}, {Kind::Drive, ScopeChoice::ThisUser, Scope::ThisUser},
        // Automatic, with every right: all users.
        {Kind::File, ScopeChoice::Automatic, Scope::AllUsers},
    };
    int colour = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(KindName(row.Target)) + (row.Where == Scope::ThisUser ? " for this user" : " for all"));
        const std::vector<std::uint8_t> bytes = IconOf({0, static_cast<std::uint8_t>(20 * ++colour), 200, 255});
        IconTarget target = Open(row.Target, row.Choice);
        ASSERT_EQ(ChangeResult::Done, ApplyMadeIcon(target, bytes));
        const std::wstring made = MadePath(row.Where, bytes);
        EXPECT_EQ(row.Where, target.ChangedScope());
        EXPECT_STREQ(made.c_str(), target.CurrentIconPath());
        EXPECT_EQ(0, target.CurrentIndex());
        ASSERT_TRUE(FileExists(made)) << Joined(FolderContent(FolderOf(row.Where)));
        EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
                  GetFileAttributesW(made.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
        const Scope other = row.Where == Scope::ThisUser ? Scope::AllUsers : Scope::ThisUser;
        EXPECT_FALSE(FileExists(MadePath(other, bytes)));
        // The setting names the file by its full path, as read back.
        IconTarget reopened = Open(row.Target, row.Choice);
        ASSERT_TRUE(reopened.CurrentIconPath());
        EXPECT_STREQ(made.c_str(), reopened.CurrentIconPath());
        EXPECT_EQ(row.Where, reopened.CurrentScope());

        EXPECT_EQ(ChangeResult::Done, reopened.RestoreDefault());
        EXPECT_FALSE(FileExists(made));
    }
}

TEST_F(MadeIconStoreTest, AMadeIconStaysWhileAnotherSettingNamesIt)
{
    const struct {
        const char* Name;
        Kind First;
        const std::wstring* FirstFile;
        Kind Second;
        const std::wstring* SecondFile;
    } rows[] = {
        {"two files", Kind::File, &fileA_, Kind::File, &fileB_},
        {"a file and a drive", Kind::File, &fileA_, Kind::Drive, nullptr},
        {"a type and a file", Kind::Type, nullptr, Kind::File, &fileA_},
        {"a drive and a type", Kind::Drive, nullptr, Kind::Type, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        const std::vector<std::uint8_t> bytes = IconOf({10, 120, 30, 255});
        const std::wstring made = Give(row.First, bytes, ScopeChoice::Automatic, row.FirstFile);
        EXPECT_EQ(made, Give(row.Second, bytes, ScopeChoice::Automatic, row.SecondFile));
        ASSERT_TRUE(FileExists(made));
        EXPECT_EQ(ChangeResult::Done, Restore(row.First, row.FirstFile));
        EXPECT_TRUE(FileExists(made)) << "the second target still names it";
        EXPECT_EQ(ChangeResult::Done, Restore(row.Second, row.SecondFile));
        EXPECT_FALSE(FileExists(made));
    }
}

TEST_F(MadeIconStoreTest, ARegularIconInPlaceOfAMadeOneDeletesIt)
{
    for (const Kind kind : {Kind::File, Kind::Type, Kind::Drive}) {
        SCOPED_TRACE(KindName(kind));
        const std::wstring made = Give(kind, IconOf({200, 10, 10, 255}));
        ASSERT_TRUE(FileExists(made));
        IconTarget target = Open(kind);
        target.SetCurrentIconPath(Shell32Path().c_str());
        target.SetCurrentIndex(3);
        EXPECT_EQ(ChangeResult::Done, target.ApplyIcon());
        EXPECT_FALSE(FileExists(made));
        EXPECT_EQ(ChangeResult::Done, Open(kind).RestoreDefault());
    }
}

TEST_F(MadeIconStoreTest, RemoveAllDeletesTheMadeIconsOfTheTablesAndKeepsThoseOfTypesAndDrives)
{
    const std::wstring forAll = Give(Kind::File, IconOf({1, 2, 3, 255}), ScopeChoice::AllUsers, &fileA_);
    const std::wstring forMe = Give(Kind::File, IconOf({4, 5, 6, 255}), ScopeChoice::ThisUser, &fileB_);
    const std::wstring drive = Give(Kind::Drive, IconOf({7, 8, 9, 255}));
    const std::wstring type = Give(Kind::Type, IconOf({10, 11, 12, 255}));
    ASSERT_TRUE(FileExists(forAll) && FileExists(forMe) && FileExists(drive) && FileExists(type));
    EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    EXPECT_FALSE(FileExists(forAll));
    EXPECT_FALSE(FileExists(forMe));
    // Remove-all leaves drives' and types' icons as they are, and what they name.
    EXPECT_TRUE(FileExists(drive));
    EXPECT_TRUE(FileExists(type));
    EXPECT_EQ(ChangeResult::Done, Restore(Kind::Drive));
    EXPECT_EQ(ChangeResult::Done, Restore(Kind::Type));
    EXPECT_FALSE(FileExists(drive));
    EXPECT_FALSE(FileExists(type));
}

TEST_F(MadeIconStoreTest, EachPlaceThatCanNameAMadeIconKeepsIt)
{
    const std::vector<std::uint8_t> bytes = {0, 0, 1, 0, 7, 7, 7};
    const std::wstring folder = *MadeIconFolder(Scope::AllUsers, true);
    std::wstring name;
    ASSERT_TRUE(WriteMadeIcon(folder.c_str(), bytes, &name));
    const std::wstring made = folder + L"\\" + name;
    const std::wstring text = made + L",0";
    std::wstring upper = text;
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    const std::wstring backedUp = dir_.MakeFolder(L"Backed up");
    const std::wstring drive = std::wstring(DriveIconsKey) + L"\\P\\DefaultIcon";
    const std::wstring userDrive = std::wstring(UserExplorerApplication) + L"\\Drives\\Q\\DefaultIcon";
    const std::wstring unterminated = L"C:\\x\\" + name; // written without its terminator, as REG_BINARY
    const struct {
        const char* Name;
        std::function<void()> Write;
    } rows[] = {
        {"all users' per-file table",
         [&] { EXPECT_TRUE(WriteString(HKEY_LOCAL_MACHINE, FileIconsKey, L"C:\\x.txt", text + L",txtfile")); }},
        {"this user's per-file table",
         [&] { EXPECT_TRUE(WriteString(HKEY_CURRENT_USER, FileIconsKey, L"C:\\x.txt", upper + L",TXTFILE")); }},
        {"a folder backup", [&] { EXPECT_TRUE(WriteString(HKEY_LOCAL_MACHINE, FolderBackupKey, L"C:\\f", text)); }},
        {"a type's icon", [&] { typeB_.SetDefaultIcon(text); }},
        {"a type's icon behind the handler",
         [&] { EXPECT_TRUE(WriteString(HKEY_CLASSES_ROOT, typeB_.Key(DefaultIconKey), HandlerIconValue, text)); }},
        {"a type's backup",
         [&] { EXPECT_TRUE(WriteString(HKEY_CLASSES_ROOT, typeB_.Key(DefaultIconBackupKey), L"", text)); }},
        {"this user's type icon",
         [&] {
             EXPECT_TRUE(WriteString(HKEY_CURRENT_USER, L"Software\\Classes\\" + typeB_.Key(DefaultIconKey), L"", text));
         }},
        {"all users' drive icon", [&] { EXPECT_TRUE(WriteString(HKEY_LOCAL_MACHINE, drive, L"", text)); }},
        {"a drive's backup as bytes another program wrote",
         [&] {
             EXPECT_TRUE(WriteValue(HKEY_LOCAL_MACHINE, drive, DriveBackupValue, REG_BINARY, unterminated.data(),
                                    static_cast<DWORD>(unterminated.size() * sizeof(wchar_t))));
         }},
        {"this user's drive icon", [&] { EXPECT_TRUE(WriteString(HKEY_CURRENT_USER, userDrive, L"", text)); }},
        {"the Desktop.ini of a folder with a backup",
         [&] {
             IconLocation icon(made.c_str(), backedUp.c_str(), 0);
             EXPECT_EQ(ERROR_SUCCESS, WriteFolderIcon(icon));
             EXPECT_TRUE(WriteString(HKEY_CURRENT_USER, FolderBackupKey, backedUp.c_str(), L""));
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        ASSERT_TRUE(WriteMadeIcon(folder.c_str(), bytes, &name));
        row.Write();
        EXPECT_TRUE(IsMadeIconNamed(name.c_str()));
        DeleteUnnamedStoredMadeIcons();
        EXPECT_TRUE(FileExists(made));
        // Nothing names it once the place is cleared again.
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, ProductRoot));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CURRENT_USER, ProductRoot));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_LOCAL_MACHINE, DriveIconsKey));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CURRENT_USER, UserExplorerApplication));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, typeB_.Key(DefaultIconKey)));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CLASSES_ROOT, typeB_.Key(DefaultIconBackupKey)));
        ASSERT_TRUE(test::DeleteKeyTree(HKEY_CURRENT_USER, L"Software\\Classes\\" + typeB_.Class));
        DeleteFileW((backedUp + L"\\desktop.ini").c_str());
        EXPECT_FALSE(IsMadeIconNamed(name.c_str()));
        DeleteUnnamedStoredMadeIcons();
        EXPECT_FALSE(FileExists(made));
    }
}

TEST_F(MadeIconStoreTest, AUsersOwnFileInTheFolderOfMadeIconsIsNeverDeleted)
{
    for (const Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        const std::wstring folder = *MadeIconFolder(scope, true);
        // Of the made form but not of its content, any other name, and a folder of the form.
        const std::wstring own[] = {folder + L"\\.orvane-0123456789abcdef.ico", folder + L"\\notes.txt",
                                    folder + L"\\.orvane-0123456789abcdef.ico.tmp"};
        for (const std::wstring& path : own) {
            HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, file) << Utf8(path);
            DWORD written = 0;
            WriteFile(file, "mine", 4, &written, nullptr);
            CloseHandle(file);
        }
        const std::wstring subfolder = folder + L"\\.orvane-1111111111111111.ico";
        ASSERT_TRUE(CreateDirectoryW(subfolder.c_str(), nullptr));
        // A made file that nothing names: it goes, so the walk did run.
        std::wstring name;
        ASSERT_TRUE(WriteMadeIcon(folder.c_str(), {0, 0, 1, 0, 9}, &name));

        const std::wstring made = Give(Kind::File, IconOf({90, 90, 90, 255}));
        EXPECT_EQ(ChangeResult::Done, Restore(Kind::File));
        EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());
        EXPECT_FALSE(FileExists(made));
        EXPECT_FALSE(FileExists(folder + L"\\" + name));
        for (const std::wstring& path : own)
            EXPECT_TRUE(FileExists(path)) << Utf8(path);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(subfolder.c_str()));
        RemoveDirectoryW(subfolder.c_str());
    }
}

TEST_F(MadeIconStoreTest, TheScopeIsDecidedBeforeTheFileIsMade)
{
    const struct {
        Kind Target;
        ScopeChoice Choice;
        ChangeResult Result;
    } rows[] = {
        {Kind::File, ScopeChoice::Automatic, ChangeResult::Done}, {Kind::Type, ScopeChoice::Automatic, ChangeResult::Done},
        {Kind::Drive, ScopeChoice::Automatic, ChangeResult::Done},
        {Kind::File, ScopeChoice::AllUsers, ChangeResult::AccessDenied},
        {Kind::Type, ScopeChoice::AllUsers, ChangeResult::AccessDenied},
        {Kind::Drive, ScopeChoice::AllUsers, ChangeResult::AccessDenied},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(KindName(row.Target)) + (row.Choice == ScopeChoice::AllUsers ? " for all" : ""));
        const std::vector<std::uint8_t> bytes = IconOf({30, 60, 90, 255});
        {
            StandardUser standard({typeA_.Extension, typeA_.Class, typeB_.Extension, typeB_.Class});
            ASSERT_TRUE(standard.Applied());
            IconTarget target = Open(row.Target, row.Choice);
            EXPECT_EQ(row.Result, ApplyMadeIcon(target, bytes));
        }
        // A standard user's change goes to this user's folder; a refused one makes no file.
        EXPECT_FALSE(FileExists(MadePath(Scope::AllUsers, bytes)));
        EXPECT_EQ(row.Result == ChangeResult::Done, FileExists(MadePath(Scope::ThisUser, bytes)));
        if (row.Result == ChangeResult::Done) {
            EXPECT_EQ(ChangeResult::Done, Restore(row.Target));
            EXPECT_FALSE(FileExists(MadePath(Scope::ThisUser, bytes)));
        }
    }
}

TEST_F(MadeIconStoreTest, AChangeThatFailsAfterTheFileIsMadeLeavesNoFile)
{
    // A type's icon text that the handler's installation cannot back up whole: the file's
    // change is refused only when it is written, after the made file is there.
    typeA_.SetDefaultIcon(L"C:\\" + std::wstring(300, L'x') + L".ico,1");
    const std::vector<std::uint8_t> bytes = IconOf({5, 50, 150, 255});
    IconTarget target = Open(Kind::File);
    EXPECT_NE(ChangeResult::Done, ApplyMadeIcon(target, bytes));
    EXPECT_FALSE(FileExists(MadePath(Scope::AllUsers, bytes)));
    EXPECT_FALSE(FileExists(MadePath(Scope::ThisUser, bytes)));
    EXPECT_FALSE(ReadFileIcon(fileA_.c_str()));
}

namespace {

// The DACL of a file or folder in the descriptor language; empty when it cannot be read.
std::wstring DaclText(const std::wstring& path)
{
    DWORD needed = 0;
    GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<BYTE> descriptor(needed);
    wchar_t* sddl = nullptr;
    if (needed == 0 ||
        !GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &sddl, nullptr))
        return L"";
    std::wstring text = sddl;
    LocalFree(sddl);
    return text;
}

// Whether the file system keeps a folder's own security descriptor (Wine keeps it in an
// extended attribute, which not every file system under it takes; without one it makes
// a DACL up from the Unix mode bits).
bool KeepsFolderSecurity()
{
    TempDir dir;
    const std::wstring probe = dir.Path() + L"\\probe";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;0x1200a9;;;BU)", SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    const bool made = CreateDirectoryW(probe.c_str(), &security) != FALSE;
    LocalFree(descriptor);
    const bool kept = made && Contains(DaclText(probe), L";;;BU)");
    RemoveDirectoryW(probe.c_str());
    return kept;
}

} // namespace

TEST_F(MadeIconStoreTest, AllUsersFolderIsReadableByEveryUser)
{
    if (!KeepsFolderSecurity())
        GTEST_SKIP() << "this file system keeps no folder security descriptors under Wine";
    const std::wstring folder = FolderOf(Scope::AllUsers);
    const std::wstring product = folder.substr(0, folder.rfind(L'\\'));
    // A folder already there (made by another test) is set aside while this one is made,
    // and put back after.
    const std::wstring aside = product + L".aside";
    const bool existed = GetFileAttributesW(product.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (existed) {
        ASSERT_TRUE(MoveFileW(product.c_str(), aside.c_str()));
    }
    struct PutBack {
        const std::wstring& Product;
        const std::wstring& Aside;
        bool Existed;
        ~PutBack()
        {
            const std::wstring icons = Product + L"\\Icons";
            RemoveDirectoryW(icons.c_str());
            RemoveDirectoryW(Product.c_str());
            if (Existed)
                MoveFileW(Aside.c_str(), Product.c_str());
        }
    } putBack{product, aside, existed};
    ASSERT_TRUE(MadeIconFolder(Scope::AllUsers, true));
    for (const std::wstring& path : {product, folder}) {
        DWORD needed = 0;
        GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
        ASSERT_NE(0u, needed) << Utf8(path);
        std::vector<BYTE> descriptor(needed);
        ASSERT_TRUE(GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed));
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL dacl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted));
        ASSERT_TRUE(present && dacl != nullptr);
        // The users' group reads (and lists) the folder and what it holds; nobody else
        // but the system and administrators has an entry.
        PSID users = nullptr;
        ASSERT_TRUE(ConvertStringSidToSidW(L"BU", &users));
        bool usersRead = false;
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE* ace = nullptr;
            ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
            if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(&ace->SidStart, users)) {
                usersRead = (ace->Mask & FILE_GENERIC_READ) == FILE_GENERIC_READ && (ace->Mask & FILE_WRITE_DATA) == 0 &&
                            (ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) ==
                                (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
            }
        }
        LocalFree(users);
        wchar_t* sddl = nullptr;
        ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                             DACL_SECURITY_INFORMATION, &sddl, nullptr);
        EXPECT_TRUE(usersRead) << Utf8(path) << " " << Utf8(sddl ? sddl : L"");
        LocalFree(sddl);
    }
}

namespace {

// The pixels of an icon's colour image, as 32-bit values row by row.
std::vector<DWORD> IconBits(HICON icon)
{
    std::vector<DWORD> bits;
    ICONINFO info = {};
    if (icon == nullptr || !GetIconInfo(icon, &info))
        return bits;
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = bitmap.bmWidth;
    format.bmiHeader.biHeight = -bitmap.bmHeight;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    bits.resize(static_cast<std::size_t>(bitmap.bmWidth) * bitmap.bmHeight);
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, info.hbmColor, 0, bitmap.bmHeight, bits.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bits;
}

// The icon the platform's extraction gives at a size, as its pixels.
std::vector<DWORD> ExtractedAt(const std::wstring& file, int index, int size)
{
    HICON icon = nullptr;
    UINT id = 0;
    if (PrivateExtractIconsW(file.c_str(), index, size, size, &icon, &id, 1, 0) != 1)
        return {};
    std::vector<DWORD> bits = IconBits(icon);
    DestroyIcon(icon);
    return bits;
}

// The widths in an icon file's directory.
std::vector<int> DirectorySizes(const std::vector<std::uint8_t>& bytes)
{
    std::vector<int> sizes;
    const int count = bytes.size() >= 6 ? bytes[4] | (bytes[5] << 8) : 0;
    for (int i = 0; i < count && 6 + 16 * (i + 1) <= static_cast<int>(bytes.size()); ++i)
        sizes.push_back(bytes[6 + 16 * i] == 0 ? 256 : bytes[6 + 16 * i]);
    return sizes;
}

} // namespace

TEST(CopyIconBytes, EverySizeOfTheSourcesIconGroup)
{
    TempDir dir;
    const std::wstring ico = WriteIconFile(dir.Path() + L"\\three.ico", 3);
    const std::wstring damaged = dir.MakeFile(L"damaged.ico", std::string("\0\0\1\0\xff\xff", 6));
    const std::wstring text = dir.MakeFile(L"notes.txt", "no icons here");
    const std::wstring library = IconIdLibraryPath();
    const struct {
        const char* Name;
        std::wstring Source;
        std::int32_t Index;
        // The platform's index of the same icon, when it copies.
        int ExtractIndex;
        bool Copies;
    } rows[] = {
        {"icon file", ico, 0, 0, true},
        {"icon file, index beyond its one icon", ico, 1, 0, false},
        {"shell32 by position", Shell32Path(), 3, 3, true},
        {"shell32 through an environment reference", L"%SystemRoot%\\system32\\shell32.dll", 0, 0, true},
        {"library by position", library, 2, 2, true},
        {"library by resource id", library, -112, 3, true},
        {"library, a position it lacks", library, 4, 0, false},
        {"library, an id it lacks", library, -102, 0, false},
        {"damaged icon file", damaged, 0, 0, false},
        {"text file", text, 0, 0, false},
        {"missing file", dir.Path() + L"\\missing.dll", 0, 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        std::vector<std::uint8_t> bytes = {1};
        ASSERT_EQ(row.Copies, CopyIconBytes(row.Source.c_str(), row.Index, bytes));
        if (!row.Copies) {
            EXPECT_TRUE(bytes.empty());
            continue;
        }
        if (row.Source == ico) {
            EXPECT_EQ(FileBytes(ico), bytes) << "an icon file is copied as it is";
        }
        const std::wstring copy = dir.Path() + L"\\copy.ico";
        ASSERT_TRUE(WriteFileWhole(copy, bytes));
        wchar_t source[MAX_PATH];
        ExpandEnvironmentStringsW(row.Source.c_str(), source, MAX_PATH);
        // Each size the copy holds is the source's icon at that size, pixel for pixel.
        const std::vector<int> sizes = DirectorySizes(bytes);
        ASSERT_FALSE(sizes.empty());
        for (const int size : sizes) {
            const std::vector<DWORD> expected = ExtractedAt(source, row.ExtractIndex, size);
            ASSERT_FALSE(expected.empty()) << size;
            EXPECT_EQ(expected, ExtractedAt(copy, 0, size)) << size;
        }
        // And the copy lacks none of the group's sizes: asked at the source's sizes, the
        // platform picks the same image from both.
        for (const int size : {16, 24, 32, 48, 64, 256})
            EXPECT_EQ(ExtractedAt(source, row.ExtractIndex, size), ExtractedAt(copy, 0, size)) << size;
    }
}

TEST(KeepCopyWithFolder, TheFolderNamesItsCopyRelativelyAndKeepsItWhenMoved)
{
    KeyGuard machine{HKEY_LOCAL_MACHINE, ProductRoot};
    KeyGuard user{HKEY_CURRENT_USER, ProductRoot};
    TempDir dir;
    const std::wstring ico = WriteIconFile(dir.Path() + L"\\two.ico", 2);
    const struct {
        const char* Name;
        std::wstring Source;
        std::int32_t Index;
    } rows[] = {
        {"icon file", ico, 0},
        {"library index", Shell32Path(), 3},
        {"library resource id", IconIdLibraryPath(), -105},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        const std::wstring folder = dir.MakeFolder(L"Folder " + std::to_wstring(++n));
        IconTarget target = OpenTarget(folder.c_str());
        ASSERT_EQ(ChangeResult::Done, KeepCopyWithFolder(target, row.Source.c_str(), row.Index));
        const std::optional<IconLocation> icon = ReadFolderIcon(folder.c_str());
        ASSERT_TRUE(icon);
        ASSERT_TRUE(IsMadeIconName(icon->IconPath)) << Utf8(icon->IconPath);
        EXPECT_EQ(0, icon->Index);
        std::vector<std::uint8_t> expected;
        ASSERT_TRUE(CopyIconBytes(row.Source.c_str(), row.Index, expected));
        EXPECT_EQ(expected, FileBytes(folder + L"\\" + icon->IconPath));

        const std::wstring moved = dir.Path() + L"\\Moved " + std::to_wstring(n);
        ASSERT_TRUE(MoveFileW(folder.c_str(), moved.c_str()));
        const std::optional<IconLocation> after = ReadFolderIcon(moved.c_str());
        ASSERT_TRUE(after);
        wchar_t resolved[TextCapacity];
        ASSERT_TRUE(ResolveFolderIconPath(moved.c_str(), after->IconPath, resolved));
        EXPECT_EQ(moved + L"\\" + icon->IconPath, resolved);
        EXPECT_FALSE(ExtractedAt(resolved, 0, 32).empty());

        // Restored, the copy goes with the change.
        IconTarget reopened = OpenTarget(moved.c_str());
        if (reopened.WhatRestoreWouldDo() == RestoreOutcome::Restores) {
            EXPECT_EQ(ChangeResult::Done, reopened.RestoreDefault());
            EXPECT_FALSE(FileExists(resolved));
        }
    }
    // A source that holds no such icon: nothing written into the folder.
    const std::wstring folder = dir.MakeFolder(L"Untouched");
    IconTarget target = OpenTarget(folder.c_str());
    EXPECT_EQ(ChangeResult::WriteFailed, KeepCopyWithFolder(target, ico.c_str(), 5));
    EXPECT_EQ(L"", Joined(FolderContent(folder)));
}

TEST(CopyWithFolderByDefault, OffForTheSystemsIconsOnForThoseThatMayBeGone)
{
    const std::wstring network = DriveRootOfType(DRIVE_REMOTE);
    const std::wstring removable = DriveRootOfType(DRIVE_REMOVABLE);
    ASSERT_FALSE(network.empty());
    ASSERT_FALSE(removable.empty());
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    const struct {
        std::wstring Source;
        bool Copy;
    } rows[] = {
        {L"C:\\windows\\system32\\shell32.dll", false},
        {std::wstring(windows) + L"\\system32\\imageres.dll", false},
        {Lower(windows) + L"\\Icons\\x.ico", false},
        {L"%SystemRoot%\\system32\\shell32.dll", false},
        {L"shell32.dll", false},
        {network + L"icons\\x.ico", true},
        {removable + L"lib.dll", true},
        {L"\\\\server\\share\\x.ico", true},
        {L"C:\\icons\\x.ico", false},
        {L"", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.Copy, CopyWithFolderByDefault(row.Source.c_str())) << Utf8(row.Source);
    EXPECT_FALSE(CopyWithFolderByDefault(nullptr));
}
