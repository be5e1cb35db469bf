// The dialog used by a standard user (every place kept for all users refuses writes, as
// under User Account Control): OK and Restore work for each kind of target without a
// message, the change lives in this user's place while all users' places stay byte for
// byte as they were, and Restore leaves this user's place as it was. Only a place of this
// user's own that refuses too, or an all users' change taken back without the rights,
// brings the failure message, and its text says what is true for this user.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "DialogFixture.h"
#include "DrivenDialog.h"
#include "ExtensionIdentity.h"
#include "FileIconResolution.h"
#include "FileIconTable.h"
#include "FolderIcons.h"
#include "IconTarget.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "resource.h"

namespace orvane {
namespace {

using test::DialogDriver;

// Folders and drives are kept for this user too once their stores have this user's
// scope; until then a standard user's folder or drive change is refused (AccessDenied)
// and their rows stay out of the tables. Set to true when both stores have it.
constexpr bool kFolderAndDriveForThisUser = true;

constexpr wchar_t UserClasses[] = L"Software\\Classes\\";
constexpr wchar_t UserDrives[] = L"Software\\Classes\\Applications";
constexpr wchar_t UserDriveIcon[] = L"Software\\Classes\\Applications\\Explorer.exe\\Drives\\C\\DefaultIcon";
constexpr wchar_t RestoreQuestionCaption[] = L"Orvane - Restore default Icon";
constexpr wchar_t NotChangedCaption[] = L"Orvane - Icon not changed";
constexpr wchar_t NotRestoredCaption[] = L"Orvane - Icon not restored";

enum class Kind { Folder, File, Type, Drive };

class StandardUserTest : public test::DialogTest {
protected:
    // For each row: a file of a fresh type (its class's icon is icon 0 of an .ico file),
    // a sibling of the same type and a fresh folder; the folder and the drive rows use
    // the type's class as well, so that every row's standard user has a class of the
    // test's own locked.
    void NewRow()
    {
        file_ = FileOfNewType(L"a", &extension_, &class_, &typeIcon_);
        sibling_ = dir_.MakeFile(L"b" + extension_);
        folder_ = dir_.MakeFolder(L"Pictures" + std::to_wstring(++rows_));
    }

    std::wstring TargetOf(Kind kind) const
    {
        switch (kind) {
        case Kind::Folder:
            return folder_;
        case Kind::Drive:
            return L"C:\\";
        default:
            return file_;
        }
    }

    // Every place kept for all users that these changes could write.
    std::wstring AllUsersPlaces() const
    {
        return test::DumpKey(HKEY_LOCAL_MACHINE, test::ProductRoot) + test::DumpKey(HKEY_CLASSES_ROOT, class_) +
               test::DumpKey(HKEY_CLASSES_ROOT, extension_) + test::DumpKey(HKEY_LOCAL_MACHINE, DriveIconsKey);
    }
    // This user's places, read with the dialog's own state (recent list, rectangle) put
    // back to one fixed form first: OK and Restore save it, and it is no icon setting.
    std::wstring UserPlaces()
    {
        ResetDialogState();
        return test::DumpKey(HKEY_CURRENT_USER, test::ProductRoot) +
               test::DumpKey(HKEY_CURRENT_USER, UserClasses + class_) +
               test::DumpKey(HKEY_CURRENT_USER, UserClasses + extension_) +
               test::DumpKey(HKEY_CURRENT_USER, UserDrives);
    }
    void ResetDialogState()
    {
        test::DeleteKeyTree(HKEY_CURRENT_USER, test::UserLruKey);
        RegKey key;
        if (key.Open(HKEY_CURRENT_USER, test::UserProductKey, KEY_SET_VALUE) == ERROR_SUCCESS)
            RegDeleteValueW(key.get(), L"DlgSize");
        StoreSources({shell32_}, 0);
    }

    // What a fresh target reads as the icon, "path,index" with the path in lower case.
    static std::wstring Seen(const std::wstring& path)
    {
        IconTarget target(path.c_str());
        const auto& current = target.ReadCurrentIcon();
        return current ? test::Lower(current->IconPath) + L"," + std::to_wstring(current->Index) : L"<none>";
    }
    // What the icon handler's resolution answers for a file.
    static std::wstring Resolved(const std::wstring& path)
    {
        const FileIconAnswer answer = ResolveFileIcon(path.c_str(), nullptr);
        return test::Lower(answer.IconPath) + L"," + std::to_wstring(answer.Index);
    }
    std::wstring Library(int index) const { return test::Lower(shell32_) + L"," + std::to_wstring(index); }

    // Sets "all files of this type" when the dialog shows it.
    static void ChooseKind(DialogDriver& d, Kind kind)
    {
        if (kind == Kind::File || kind == Kind::Type)
            d.SetChecked(IDC_ALLOFTYPE, kind == Kind::Type);
    }

    // Presses `id` (answering its question Yes) and expects the dialog to close with no
    // other window on the way: a message box that appears fails the test with its text.
    static void PressAndExpectClosed(DialogDriver& d, int id, const wchar_t* questionCaption)
    {
        d.PostCommand(id);
        if (questionCaption != nullptr) {
            HWND question = d.WaitWindow(questionCaption);
            ASSERT_NE(question, nullptr) << "no question " << test::Utf8(questionCaption);
            DialogDriver::Answer(question, IDYES);
            DialogDriver::WaitGone(question, 5000);
        }
        const DWORD start = GetTickCount();
        while (d.IsOpen() && GetTickCount() - start < 10000) {
            for (HWND box : d.OtherWindows()) {
                wchar_t caption[256] = {};
                GetWindowTextW(box, caption, static_cast<int>(std::size(caption)));
                ADD_FAILURE() << "unexpected window \"" << test::Utf8(caption)
                              << "\": " << test::Utf8(DialogDriver::MessageText(box));
                DialogDriver::Answer(box, IDOK);
                DialogDriver::WaitGone(box, 5000);
            }
            Sleep(50);
        }
        EXPECT_FALSE(d.IsOpen()) << "the dialog stayed open";
    }

    // Presses `id` (answering its question Yes), expects one message box with `caption`
    // and returns its text; the dialog stays open and is cancelled.
    static std::wstring PressAndExpectFailure(DialogDriver& d, int id, const wchar_t* questionCaption,
                                              const wchar_t* caption)
    {
        d.PostCommand(id);
        if (questionCaption != nullptr) {
            HWND question = d.WaitWindow(questionCaption);
            EXPECT_NE(question, nullptr) << "no question " << test::Utf8(questionCaption);
            if (question == nullptr)
                return {};
            DialogDriver::Answer(question, IDYES);
        }
        HWND box = d.WaitWindow(caption);
        EXPECT_NE(box, nullptr) << "no message box " << test::Utf8(caption);
        if (box == nullptr)
            return {};
        const std::wstring text = DialogDriver::MessageText(box);
        DialogDriver::Answer(box, IDOK);
        DialogDriver::WaitGone(box, 5000);
        SendMessageW(d.Dialog(), WM_NULL, 0, 0);
        EXPECT_TRUE(d.IsOpen());
        EXPECT_TRUE(d.OtherWindows().empty()) << "a second window appeared";
        d.Command(IDCANCEL);
        return text;
    }

    // What this user's place holds after the change of a kind to icon `index`.
    void ExpectInUserPlace(Kind kind, int index) const
    {
        switch (kind) {
        case Kind::Folder:
            // The folder's backup, kept for this user; the icon itself is in Desktop.ini.
            EXPECT_TRUE(test::Contains(test::Lower(test::DumpKey(HKEY_CURRENT_USER, FolderBackupKey)),
                                       test::Lower(folder_)));
            break;
        case Kind::File: {
            const auto entry = ReadFileIcon(file_.c_str(), Scope::ThisUser);
            ASSERT_TRUE(entry.has_value());
            EXPECT_EQ(test::Lower(entry->IconPath) + L"," + std::to_wstring(entry->Index), Library(index));
            EXPECT_EQ(test::ValueText(HKEY_CURRENT_USER, UserClasses + class_ + L"\\shellex\\IconHandler", nullptr),
                      ExtensionClsidText);
            break;
        }
        case Kind::Type:
            EXPECT_EQ(test::Lower(test::ValueText(HKEY_CURRENT_USER, UserClasses + class_ + L"\\DefaultIcon", nullptr)),
                      Library(index));
            break;
        case Kind::Drive:
            EXPECT_EQ(test::Lower(test::ValueText(HKEY_CURRENT_USER, UserDriveIcon, nullptr)), Library(index));
            break;
        }
    }

    std::wstring file_, sibling_, folder_, extension_, class_, typeIcon_;
    int rows_ = 0;
    test::KeyGuard userDrives_{HKEY_CURRENT_USER, UserDrives};
};

TEST_F(StandardUserTest, EachKindAppliedAndRestoredThroughTheDialogStaysWithThisUser)
{
    struct Case {
        const char* Name;
        Kind Target;
        int Index;
    };
    const Case cases[] = {
        {"folder", Kind::Folder, 7},
        {"one file", Kind::File, 3},
        {"all files of the type", Kind::Type, 11},
        {"drive", Kind::Drive, 9},
    };
    for (const Case& c : cases) {
        if ((c.Target == Kind::Folder || c.Target == Kind::Drive) && !kFolderAndDriveForThisUser)
            continue;
        SCOPED_TRACE(c.Name);
        NewRow();
        const std::wstring target = TargetOf(c.Target);
        // A folder with an icon of its own, so that its backup has something to keep.
        if (c.Target == Kind::Folder) {
            ASSERT_EQ(WriteFolderIcon(IconLocation(shell32_.c_str(), folder_.c_str(), 5)), ERROR_SUCCESS);
        }
        const std::wstring seenBefore = Seen(target);
        const std::wstring siblingBefore = Resolved(sibling_);

        test::StandardUser standard({class_});
        ASSERT_TRUE(standard.Applied());
        // Taken as the standard user, whose stand-in makes all users' keys it locks.
        const std::wstring allBefore = AllUsersPlaces();
        const std::wstring userBefore = UserPlaces();

        ChangeIconDialog record;
        test::DialogRun run = RunOn(record, target, [&](DialogDriver& d) {
            ChooseKind(d, c.Target);
            d.ChooseSource(d.ListSource(shell32_));
            ASSERT_GT(d.IconCount(), c.Index);
            d.PickIcon(c.Index);
            PressAndExpectClosed(d, IDOK, nullptr);
        });
        EXPECT_EQ(run.Result, IDOK);
        EXPECT_FALSE(run.LeftOpen);
        EXPECT_EQ(allBefore, AllUsersPlaces());
        ExpectInUserPlace(c.Target, c.Index);
        EXPECT_EQ(Seen(target), Library(c.Index));
        if (c.Target == Kind::Folder) {
            EXPECT_EQ(test::Lower(FolderIconText(folder_)), Library(c.Index));
        }
        if (c.Target == Kind::File || c.Target == Kind::Type) {
            EXPECT_EQ(Resolved(file_), Library(c.Index));
            // One file's change leaves its sibling with the type's icon.
            EXPECT_EQ(Resolved(sibling_), c.Target == Kind::Type ? Library(c.Index) : siblingBefore);
        }

        ChangeIconDialog again;
        run = RunOn(again, target, [&](DialogDriver& d) {
            ChooseKind(d, c.Target);
            ASSERT_TRUE(d.Visible(IDC_RESTORE));
            PressAndExpectClosed(d, IDC_RESTORE, RestoreQuestionCaption);
        });
        EXPECT_EQ(run.Result, IDCANCEL);
        EXPECT_FALSE(run.LeftOpen);
        EXPECT_EQ(userBefore, UserPlaces());
        EXPECT_EQ(allBefore, AllUsersPlaces());
        EXPECT_EQ(Seen(target), seenBefore);
        EXPECT_EQ(Resolved(sibling_), siblingBefore);
    }
}

// What a standard user is told when the change cannot be kept for them either: the text
// names the place that refused, and only an all users' setting asks for administrator
// rights.
TEST_F(StandardUserTest, OnlyARefusalOfThisUsersOwnPlaceOrOfAllUsersRestoreIsReported)
{
    struct Case {
        const char* Name;
        Kind Target;
        // Run as the administrator before the standard user comes; what it returns lives
        // as long as the dialog runs.
        std::function<std::shared_ptr<void>()> Arrange;
        int Button;
        const wchar_t* Caption;
        std::vector<const wchar_t*> Phrases;
        const wchar_t* Untrue; // a phrase the text must not hold
        bool UserPlacesKept;
    };
    // An all users' change made with the rights, through the store as the dialog makes it.
    auto setForAllUsers = [](const std::wstring& path, bool allOfType, const std::wstring& library) {
        IconTarget target(path.c_str());
        target.RememberOriginal(target.ReadCurrentIcon());
        target.SetAllOfType(allOfType);
        target.SetCurrentIconPath(library.c_str());
        target.SetCurrentIndex(6);
        EXPECT_EQ(target.ApplyIcon(), ChangeResult::Done);
        EXPECT_EQ(target.ChangedScope(), Scope::AllUsers);
    };
    const Case cases[] = {
        {"one file whose table of this user's refuses too", Kind::File,
         [this]() -> std::shared_ptr<void> {
             RegKey table;
             EXPECT_EQ(table.Create(HKEY_CURRENT_USER, FileIconsKey), ERROR_SUCCESS);
             auto lock = std::make_shared<test::ReadOnlyKey>(HKEY_CURRENT_USER, FileIconsKey);
             EXPECT_TRUE(lock->Applied());
             return lock;
         },
         IDOK, NotChangedCaption, {L"The icon of the file 'a", L"could not be changed", L"your own settings"},
         L"Run the program as administrator", true},
        // (A read-only Desktop.ini does not do: Wine lets the tests, which run as root,
        // write it anyway. A folder of that name refuses to be opened as a file.)
        {"folder whose Desktop.ini may not be written", Kind::Folder,
         [this]() -> std::shared_ptr<void> {
             EXPECT_TRUE(CreateDirectoryW((folder_ + L"\\Desktop.ini").c_str(), nullptr));
             return nullptr;
         },
         IDOK, NotChangedCaption, {L"The icon of the folder 'Pictures", L"could not be changed", L"Desktop.ini"},
         L"Run the program as administrator", true},
        {"one file set for all users, restored", Kind::File,
         [this, setForAllUsers]() -> std::shared_ptr<void> {
             setForAllUsers(file_, false, shell32_);
             return nullptr;
         },
         IDC_RESTORE, NotRestoredCaption, {L"The icon of the file 'a", L"could not be restored", L"for all users",
                                           L"administrator rights"},
         L"your own settings", true},
        {"all files of the type set for all users, restored", Kind::Type,
         [this, setForAllUsers]() -> std::shared_ptr<void> {
             setForAllUsers(file_, true, shell32_);
             return nullptr;
         },
         IDC_RESTORE, NotRestoredCaption, {L"all files of type '*", L"could not be restored", L"for all users",
                                           L"administrator rights"},
         L"your own settings", true},
    };
    for (const Case& c : cases) {
        if ((c.Target == Kind::Folder || c.Target == Kind::Drive) && !kFolderAndDriveForThisUser)
            continue;
        SCOPED_TRACE(c.Name);
        NewRow();
        const std::wstring target = TargetOf(c.Target);
        const std::shared_ptr<void> arranged = c.Arrange();
        const std::wstring seenBefore = Seen(target);

        test::StandardUser standard({class_});
        ASSERT_TRUE(standard.Applied());
        const std::wstring allBefore = AllUsersPlaces();
        const std::wstring userBefore = UserPlaces();

        std::wstring text;
        ChangeIconDialog record;
        const test::DialogRun run = RunOn(record, target, [&](DialogDriver& d) {
            ChooseKind(d, c.Target);
            if (c.Button == IDOK) {
                d.ChooseSource(d.ListSource(shell32_));
                d.PickIcon(2);
            } else {
                ASSERT_TRUE(d.Visible(IDC_RESTORE));
            }
            text = PressAndExpectFailure(d, c.Button, c.Button == IDOK ? nullptr : RestoreQuestionCaption, c.Caption);
        });
        EXPECT_EQ(run.Result, IDCANCEL);
        for (const wchar_t* phrase : c.Phrases)
            EXPECT_TRUE(test::Contains(text, phrase))
                << "missing \"" << test::Utf8(phrase) << "\" in: " << test::Utf8(text);
        EXPECT_FALSE(test::Contains(text, c.Untrue)) << "\"" << test::Utf8(c.Untrue) << "\" in: " << test::Utf8(text);
        EXPECT_EQ(allBefore, AllUsersPlaces());
        if (c.UserPlacesKept) {
            EXPECT_EQ(userBefore, UserPlaces());
        }
        EXPECT_EQ(Seen(target), seenBefore);
    }
}

} // namespace
} // namespace orvane
