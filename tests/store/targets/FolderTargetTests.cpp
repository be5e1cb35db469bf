// Folder targets: their changes and restores through Desktop.ini.
#include "IconTargetFixture.h"

// How a folder stood before the first change (its Desktop.ini's bytes or its absence, the
// file's and the folder's attributes) is what every restore returns it to, however many
// changes came in between; a change of the icon by other means in between is where
// restoring goes back to instead.
TEST_F(IconTargetTest, RestoreReturnsTheFolderToHowItStoodBeforeTheFirstChange)
{
    const DWORD shown = FILE_ATTRIBUTE_ARCHIVE;
    const DWORD hidden = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const std::string own = "[.ShellClassInfo]\r\nIconResource=C:\\Windows\\system32\\shell32.dll,1\r\n";
    // As Windows writes Documents: UTF-16 whose text begins with an empty line.
    std::string documents = "\xFF\xFE";
    for (const char c : std::string("\r\n[.ShellClassInfo]\r\nIconResource=C:\\icons\\docs.ico,-112\r\n"
                                    "LocalizedResourceName=@shell32.dll,-21770\r\n"))
        documents += std::string(1, c) + '\0';
    const std::string notes = "[.ShellClassInfo]\r\nInfoTip=Notes kept here\r\n[ViewState]\r\nMode=\r\nVid=\r\n";
    struct Start {
        const char* Name;
        std::optional<std::string> Bytes; // none: no Desktop.ini
        DWORD FileAttributes;
        DWORD FolderAttributes;
    };
    const Start starts[] = {
        {"no Desktop.ini", std::nullopt, 0, 0},
        {"InfoTip and ViewState, no icon", notes, shown, 0},
        {"its own icon", own, hidden, FILE_ATTRIBUTE_SYSTEM},
        {"UTF-16 beginning with an empty line", documents, hidden, FILE_ATTRIBUTE_READONLY},
    };
    enum class Step { SetA, SetB, HandIcon, HandNote };
    struct Sequence {
        const char* Name;
        std::vector<Step> Steps;
        bool ToHandState; // restoring returns to the state the hand change left
    };
    const Sequence sequences[] = {
        {"set A", {Step::SetA}, false},
        {"set A twice", {Step::SetA, Step::SetA}, false},
        {"set A then B", {Step::SetA, Step::SetB}, false},
        {"set A, the icon changed by hand, set B", {Step::SetA, Step::HandIcon, Step::SetB}, true},
    };
    for (const Start& start : starts) {
        for (const Sequence& sequence : sequences) {
            SCOPED_TRACE(std::string(start.Name) + ", " + sequence.Name);
            const std::wstring folder = dir_.MakeFolder(L"Kept");
            const std::wstring desktopIni = folder + L"\\Desktop.ini";
            if (start.Bytes) {
                ASSERT_TRUE(WriteWhole(desktopIni, *start.Bytes));
                SetFileAttributesW(desktopIni.c_str(), start.FileAttributes);
            }
            SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_DIRECTORY | start.FolderAttributes);
            auto state = [&] {
                const DWORD attributes = GetFileAttributesW(desktopIni.c_str());
                return (attributes == INVALID_FILE_ATTRIBUTES ? std::string("no file")
                                                              : ReadFileText(desktopIni) + " attributes " +
                                                                    std::to_string(attributes)) +
                       ", folder " + std::to_string(GetFileAttributesW(folder.c_str()));
            };
            std::string expected = state();
            for (const Step step : sequence.Steps) {
                if (step == Step::HandIcon) {
                    // Explorer's Customize tab writes IconResource and takes the older two out.
                    WritePrivateProfileStringW(L".ShellClassInfo", L"IconResource", L"C:\\icons\\hand.ico,4",
                                               desktopIni.c_str());
                    WritePrivateProfileStringW(L".ShellClassInfo", L"IconFile", nullptr, desktopIni.c_str());
                    WritePrivateProfileStringW(L".ShellClassInfo", L"IconIndex", nullptr, desktopIni.c_str());
                    expected = state();
                    continue;
                }
                ASSERT_EQ(ChangeResult::Done, ApplyTo(folder, library_, step == Step::SetA ? 3 : 5));
                IconTarget opened = OpenDialog(folder);
                EXPECT_EQ(Scope::AllUsers, opened.CurrentScope());
                EXPECT_TRUE(opened.HasBackup());
            }
            ASSERT_EQ(ChangeResult::Done, OpenDialog(folder).RestoreDefault());
            EXPECT_EQ(expected, state());
            EXPECT_EQ(L"<none>", ValueText(HKEY_LOCAL_MACHINE, FolderBackupKey, folder.c_str()));
            EXPECT_FALSE(OpenDialog(folder).HasBackup());
            EXPECT_EQ(sequence.ToHandState, Contains(DesktopIniText(desktopIni), L"hand.ico"));
            SetFileAttributesW(desktopIni.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(desktopIni.c_str());
            SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_DIRECTORY);
            ASSERT_TRUE(RemoveDirectoryW(folder.c_str()));
        }
    }
}

// Something else written into the Desktop.ini after a change (Explorer's view settings, an
// info tip) stays when the change is restored: the icon entries alone go back.
TEST_F(IconTargetTest, RestoreKeepsWhatWasWrittenBesideTheIconSince)
{
    for (const bool hadIcon : {false, true}) {
        SCOPED_TRACE(hadIcon ? "the folder had an icon" : "the folder had none");
        const std::wstring folder = dir_.MakeFolder(hadIcon ? L"HadIcon" : L"HadNone");
        const std::wstring desktopIni = folder + L"\\Desktop.ini";
        if (hadIcon) {
            ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(IconLocation(typeIcon_.c_str(), folder.c_str(), 2)));
        }
        ASSERT_EQ(ChangeResult::Done, ApplyTo(folder, library_, 3));
        WritePrivateProfileStringW(L"ViewState", L"FolderType", L"Pictures", desktopIni.c_str());
        ASSERT_EQ(ChangeResult::Done, ApplyTo(folder, library_, 5));
        ASSERT_EQ(ChangeResult::Done, OpenDialog(folder).RestoreDefault());
        const std::wstring text = DesktopIniText(desktopIni);
        EXPECT_TRUE(Contains(text, L"FolderType=Pictures")) << test::Utf8(text);
        EXPECT_EQ(hadIcon, Contains(text, typeIcon_ + L",2")) << test::Utf8(text);
        EXPECT_FALSE(Contains(text, library_)) << test::Utf8(text);
    }
}

TEST_F(IconTargetTest, ShellReportsTheFolderIconWritten)
{
    const std::wstring folder = dir_.MakeFolder(L"Shown");
    SHFILEINFOW before = {};
    SHGetFileInfoW(folder.c_str(), 0, &before, sizeof before, SHGFI_ICONLOCATION);
    ASSERT_NE(9, before.iIcon);
    ASSERT_EQ(ChangeResult::Done, ApplyTo(folder, library_, 9));
    SHFILEINFOW after = {};
    ASSERT_NE(0u, SHGetFileInfoW(folder.c_str(), 0, &after, sizeof after, SHGFI_ICONLOCATION));
    EXPECT_EQ(9, after.iIcon);
}

// Folders named in characters that code page 1252 cannot hold, and one whose Desktop.ini
// path is exactly 259 UTF-16 units long (a surrogate pair in its last name): each change
// writes a UTF-16 Desktop.ini that the platform reads back and the shell reports, the
// backup is the value named by the exact path, and restoring goes back one step.
TEST_F(IconTargetTest, FoldersOfAnyNameAreChangedAndRestored)
{
    std::vector<std::wstring> folders;
    for (const auto& name : test::UnicodeNames())
        folders.push_back(dir_.MakeFolder(name.Text));
    const std::wstring longest = test::PathOfLength(dir_.Path(), 247, L"");
    folders.push_back(dir_.MakeFolder(longest.substr(dir_.Path().size() + 1)));
    ASSERT_EQ(longest, folders.back());
    ASSERT_EQ(259u, (longest + L"\\Desktop.ini").size());
    const auto entry = [](const std::wstring& desktopIni, const wchar_t* name) {
        wchar_t text[TextCapacity] = {};
        GetPrivateProfileStringW(L".ShellClassInfo", name, L"", text, static_cast<DWORD>(std::size(text)),
                                 desktopIni.c_str());
        return std::wstring(text);
    };
    const auto shown = [](const std::wstring& folder) {
        SHFILEINFOW info = {};
        return SHGetFileInfoW(folder.c_str(), 0, &info, sizeof info, SHGFI_ICONLOCATION) != 0 ? info.iIcon : -1;
    };
    for (const std::wstring& folder : folders) {
        SCOPED_TRACE(test::Utf8(folder));
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str()));
        const std::wstring desktopIni = folder + L"\\Desktop.ini";
        const int before = shown(folder);
        ASSERT_EQ(ChangeResult::Done, ApplyTo(folder, library_, 3));
        ASSERT_EQ(ChangeResult::Done, ApplyTo(folder, typeIcon_, 5));
        EXPECT_EQ("\xFF\xFE", ReadFileText(desktopIni).substr(0, 2));
        EXPECT_EQ(typeIcon_, entry(desktopIni, L"IconFile"));
        EXPECT_EQ(L"5", entry(desktopIni, L"IconIndex"));
        EXPECT_EQ(5, shown(folder));
        // The backup is of the folder before the first change: it had no Desktop.ini.
        EXPECT_TRUE(Contains(ValueText(HKEY_LOCAL_MACHINE, FolderStateKey, folder.c_str()), L"File=none"));

        ASSERT_EQ(ChangeResult::Done, OpenDialog(folder).RestoreDefault());
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(desktopIni.c_str()));
        EXPECT_EQ(before, shown(folder));
        EXPECT_EQ(L"<none>", ValueText(HKEY_LOCAL_MACHINE, FolderBackupKey, folder.c_str()));
    }
}

TEST_F(IconTargetTest, FolderWritesThatFailAreReported)
{
    // A folder that is not there: the shell handed over a path that has gone since.
    const std::wstring missing = dir_.Path() + L"\\gone";
    EXPECT_EQ(ChangeResult::WriteFailed, ApplyTo(missing, library_, 3));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(missing.c_str()));

    // A profile file that another program holds open.
    const std::wstring folder = dir_.MakeFolder(L"Locked");
    const std::wstring desktopIni =
        dir_.MakeFile(L"Locked\\Desktop.ini", "[.ShellClassInfo]\r\nIconFile=C:\\old.ico\r\nIconIndex=1\r\n");
    auto locked = OpenDialog(folder);
    HANDLE holder = CreateFileW(desktopIni.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    const ChangeResult applied = Choose(locked, library_, 3);
    CloseHandle(holder);
    EXPECT_EQ(ChangeResult::WriteFailed, applied);
    EXPECT_STREQ(L"C:\\old.ico", ReadFolderIcon(folder.c_str())->IconPath);

    // Restoring through a locked file keeps the backup for a later try.
    ASSERT_EQ(ChangeResult::Done, Choose(locked, library_, 4));
    holder = CreateFileW(desktopIni.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const ChangeResult restored = OpenDialog(folder).RestoreDefault();
    CloseHandle(holder);
    EXPECT_EQ(ChangeResult::WriteFailed, restored);
    EXPECT_TRUE(OpenDialog(folder).HasBackup());
    EXPECT_EQ(ChangeResult::Done, OpenDialog(folder).RestoreDefault());
    EXPECT_STREQ(L"C:\\old.ico", ReadFolderIcon(folder.c_str())->IconPath);
}

TEST_F(IconTargetTest, TheLongestFolderIconsAreKept)
{
    // An icon path of 259 characters fits "IconFile" as every other place, and comes back
    // whole.
    const std::wstring folder = dir_.MakeFolder(L"Data");
    const std::wstring longest = L"C:\\" + std::wstring(256, L'i');
    auto longIcon = OpenDialog(folder);
    ASSERT_EQ(ChangeResult::Done, Choose(longIcon, longest, 3));
    EXPECT_EQ(longest + L",3||" + folder, test::LocationText(ReadFolderIcon(folder.c_str())));

    // A current icon whose backup text is longer than 259 characters ("path,4294967295")
    // is kept whole and restored.
    const std::wstring old = L"C:\\" + std::wstring(250, L'o');
    dir_.MakeFile(L"Data\\Desktop.ini", "[.ShellClassInfo]\r\nIconFile=" + test::Utf8(old) + "\r\nIconIndex=-1999999999\r\n");
    auto backedUp = OpenDialog(folder);
    ASSERT_TRUE(backedUp.Current);
    ASSERT_EQ(ChangeResult::Done, Choose(backedUp, library_, 3));
    EXPECT_EQ(library_ + L",3||" + folder, test::LocationText(ReadFolderIcon(folder.c_str())));
    ASSERT_EQ(ChangeResult::Done, OpenDialog(folder).RestoreDefault());
    EXPECT_EQ(old + L",-1999999999||" + folder, test::LocationText(ReadFolderIcon(folder.c_str())));
}

// ---------------------------------------------------------------------------------------
// All files of a type
