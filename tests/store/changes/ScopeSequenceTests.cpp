// A seeded random sequence of changes (apply, restore, remove-all) of a folder, one file,
// all files of its type and a drive, each made with or without the rights to all users'
// places, compared step by step with a small model of both scopes: what every step
// answers, the scope it went to, and what this user then sees. The run starts from a mix
// of hostile states chosen by its seed (HostileStates.h); after every step each key and
// file that the step was not meant to change is byte for byte as it was, and once
// everything is restored and removed, every key and file watched is as it was.
//
// ORVANE_SEQUENCE_SEED   the seed (printed either way, so that a failing run can be repeated)
// ORVANE_SEQUENCE_STEPS  the number of steps (2000 by default)
// ORVANE_SEQUENCE_KINDS  the targets, comma separated, of "file", "type", "folder",
//                        "drive", or "all" (DefaultKinds when unset)
// ORVANE_SEQUENCE_HOSTILE the hostile states: "none", "all" (a mix chosen by the seed,
//                        the default) or a list of their names (HostileStates.h)
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <set>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "DriveIcons.h"
#include "FileIconResolution.h"
#include "FolderIcons.h"
#include "HostileStates.h"
#include "IconTarget.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "RemoveAll.h"
#include "ScratchRegistry.h"
#include "Scope.h"
#include "TestSupport.h"

namespace orvane::test {
namespace {

// Folders and drives join once their changes go to this user's place too.
constexpr wchar_t DefaultKinds[] = L"file,type,folder,drive";
constexpr int DefaultSteps = 2000;
constexpr std::size_t LogLength = 20;

constexpr wchar_t MachineIcon[] = L"C:\\icons\\machine.ico,1";
// The folder's own icon from before the sequence, so that its Desktop.ini can be written
// back byte for byte.
constexpr wchar_t FolderStartPath[] = L"C:\\icons\\folder-start.ico";
constexpr int FolderStartIndex = 2;
constexpr wchar_t DriveRoot[] = L"V:\\";
constexpr wchar_t DriveLetter[] = L"V";
constexpr wchar_t UserDrives[] = L"Software\\Classes\\Applications\\Explorer.exe\\Drives";
constexpr wchar_t UserClasses[] = L"Software\\Classes\\";
constexpr wchar_t FileExts[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";
// All users' icon of the drive as another program set it.
constexpr wchar_t OthersDriveIcon[] = L"C:\\icons\\other-drive.ico,8";
// An icon source whose path has no form in the ANSI code page.
constexpr wchar_t UnicodeIconFolder[] = L"C:\\icons\\\u041f\u0440\u043e\u0435\u043a\u0442\u044b\\";

enum class Kind { Folder, File, Type, Drive };
constexpr const wchar_t* KindNames[] = {L"folder", L"file", L"type", L"drive"};

enum class Action { Apply, Restore, RemoveAll };

using Icon = std::optional<std::wstring>; // "path,index"

std::wstring Text(const std::optional<Scope>& scope)
{
    return !scope ? L"none" : *scope == Scope::AllUsers ? L"all users" : L"this user";
}
const wchar_t* Text(ScopeChoice choice)
{
    return choice == ScopeChoice::Automatic  ? L"automatic"
           : choice == ScopeChoice::AllUsers ? L"all users"
                                             : L"this user";
}
const wchar_t* Text(ChangeResult result)
{
    switch (result) {
    case ChangeResult::Done:
        return L"Done";
    case ChangeResult::NoExtension:
        return L"NoExtension";
    case ChangeResult::PathTooLong:
        return L"PathTooLong";
    case ChangeResult::AccessDenied:
        return L"AccessDenied";
    case ChangeResult::WriteFailed:
        return L"WriteFailed";
    case ChangeResult::DesktopIniIsLink:
        return L"DesktopIniIsLink";
    case ChangeResult::DesktopIniIsFolder:
        return L"DesktopIniIsFolder";
    case ChangeResult::HandlerNotLoadable:
        return L"HandlerNotLoadable";
    }
    return L"?";
}

std::wstring IconText(const std::optional<IconLocation>& location)
{
    if (!location)
        return L"<none>";
    return std::wstring(location->IconPath) + L"," + std::to_wstring(location->Index);
}

// One target's settings as the two scopes hold them.
//   file:   this user's and all users' table entries; seen is this user's, else all
//           users', else the type's icon.
//   type:   each scope's changed icon over the class's own; this user's hides all users'.
//   folder: Desktop.ini (the same file for both scopes) and a backup per scope of how the
//           folder stood before the scope's first change, which restore writes back; a
//           change of the icon by hand in between makes how the folder stands then the
//           backup of the next change.
//   drive:  each scope's entry; this user's first, then all users', then the Drive class's.
struct ScopedIcon {
    Icon AllUsers;
    Icon ThisUser;
    Icon& In(Scope scope) { return scope == Scope::AllUsers ? AllUsers : ThisUser; }
    Icon Seen() const { return ThisUser ? ThisUser : AllUsers; }
    std::optional<Scope> SeenScope() const
    {
        if (ThisUser)
            return Scope::ThisUser;
        if (AllUsers)
            return Scope::AllUsers;
        return std::nullopt;
    }
};

struct Model {
    ScopedIcon Entry;        // the file's table entries
    ScopedIcon Type;         // the type's changes
    ScopedIcon FolderBackup; // the folder's backups
    // Desktop.ini (its bytes and attributes, and the folder's) when each backup was taken:
    // restoring a backup writes the file back to that, encoding and attributes included.
    std::optional<std::string> FolderDesktopIniAllUsers;
    std::optional<std::string> FolderDesktopIniThisUser;
    std::optional<std::string>& FolderDesktopIni(Scope scope)
    {
        return scope == Scope::AllUsers ? FolderDesktopIniAllUsers : FolderDesktopIniThisUser;
    }
    // Per scope: the icon its last change set, Desktop.ini as that change left it, and
    // whether the bytes from before still stand (a hand change beside the icon between two
    // changes lets them go, and restoring then puts back the icon entries alone).
    ScopedIcon FolderSet;
    std::optional<std::string> FolderWrittenAllUsers;
    std::optional<std::string> FolderWrittenThisUser;
    std::optional<std::string>& FolderWritten(Scope scope)
    {
        return scope == Scope::AllUsers ? FolderWrittenAllUsers : FolderWrittenThisUser;
    }
    bool FolderExactAllUsers = false;
    bool FolderExactThisUser = false;
    bool& FolderExact(Scope scope) { return scope == Scope::AllUsers ? FolderExactAllUsers : FolderExactThisUser; }
    // Whether the folder shows what the last change of the chain's last scope set.
    bool FolderShowsOwn() const
    {
        const std::optional<Scope> last = FolderBackup.SeenScope();
        const Icon& set = last == Scope::ThisUser ? FolderSet.ThisUser : FolderSet.AllUsers;
        return last && (!set || Lower(*set) == Lower(FolderIcon));
    }
    ScopedIcon Drive;        // the drive's entries
    std::wstring FolderIcon;  // what Desktop.ini names
    std::wstring DriveClassIcon; // what the drive shows without Orvane's icons (another's, or the class's)
    std::wstring TypeBase;       // the used class's own icon, "<none>" when it has none
    // All users' tables exist (they stay when their last entry goes): the per-file table
    // and the folders' backups. Remove-all without the rights is refused while either
    // does; restoring a file's entry for all users while the per-file table does.
    bool AllUsersFileTable = false;
    bool AllUsersFolderTable = false;
    bool AllUsersTables() const { return AllUsersFileTable || AllUsersFolderTable; }

    std::wstring TypeSeen() const { return Type.Seen().value_or(TypeBase); }
    std::wstring FileSeen() const { return Entry.Seen().value_or(TypeSeen()); }
    std::optional<Scope> FileScope() const { return Entry.Seen() ? Entry.SeenScope() : Type.SeenScope(); }
    // The scope the store names for the type's icon as a file without an entry of its own
    // shows it: that of the type's change this user sees. The handler installed for
    // another file's entry makes the class's own icon no setting of this file's.
    std::optional<Scope> TypeScope() const { return Type.SeenScope(); }
    std::wstring DriveSeen() const { return Drive.Seen().value_or(DriveClassIcon); }
};

// What a step is expected to answer.
struct Expected {
    ChangeResult Result = ChangeResult::Done;
    std::optional<Scope> Changed; // checked when known
    bool CheckChanged = false;
    // Something that this step meets may refuse the write (a locked key, a link): a
    // refusal that leaves every place as it was is then as good as the model's answer.
    bool MayFail = false;
    // Something refuses the write for certain (a file held open, a file too large to
    // convert, every place locked): any failure, nothing changed.
    bool MustFail = false;
    // The step leaves the folder's Desktop.ini alone (a restore of all users' change that
    // only takes it out of the chain of backups): what refuses writing the file cannot
    // refuse it.
    bool KeepsDesktopIni = false;
    // What a folder's restore writes Desktop.ini back to, where it goes back byte for byte.
    std::optional<std::string> DesktopIni;
    // A folder's change, whose Desktop.ini the model learns once it is written.
    bool WritesFolder = false;
};

// The icon handler's answer where the model expects an icon (its text as the store reads
// it back): the file itself where there is none, index 0 where the text gives none.
std::wstring AnswerText(const std::wstring& icon, const std::wstring& file)
{
    if (icon == L"<none>")
        return file + L",0";
    const std::wstring noIndex = L"," + std::to_wstring(NoIndex);
    if (icon.size() > noIndex.size() && icon.compare(icon.size() - noIndex.size(), noIndex.size(), noIndex) == 0)
        return icon.substr(0, icon.size() - noIndex.size()) + L",0";
    return icon;
}

class ScopeSequenceTest : public ::testing::Test {
protected:
    ScratchType type_;
    KeyGuard machineProduct_{HKEY_LOCAL_MACHINE, ProductRoot};
    KeyGuard userProduct_{HKEY_CURRENT_USER, ProductRoot};
    KeyGuard machineDrives_{HKEY_LOCAL_MACHINE, DriveIconsKey};
    KeyGuard userDrive_{HKEY_CURRENT_USER, std::wstring(UserDrives) + L"\\" + DriveLetter};
    TempDir dir_;
    std::wstring file_ = dir_.MakeFile(L"a" + type_.Extension);
    std::wstring sibling_ = dir_.MakeFile(L"b" + type_.Extension);
    std::wstring folder_ = dir_.MakeFolder(L"folder");
    std::wstring desktopIni_ = folder_ + L"\\Desktop.ini";

    // A file outside the folder, which a Desktop.ini that is a link names.
    std::wstring outside_ = dir_.Path() + L"\\elsewhere.ini";
    // The type's classes as the run set them up.
    const TypeWorld* world_ = nullptr;

    static std::string In(Scope scope, const std::string& what)
    {
        return (scope == Scope::AllUsers ? "HKLM " : "HKCU ") + what;
    }
    static std::string ClassRegion(Scope scope, const std::wstring& name) { return In(scope, "class " + Utf8(name)); }

    // Every place the sequence may write, and those it must never write: the keys' dumps
    // in UTF-8, the files' bytes and attributes.
    Regions Watched() const
    {
        Regions out;
        out[In(Scope::AllUsers, "product")] = Utf8(DumpKey(HKEY_LOCAL_MACHINE, ProductRoot));
        out[In(Scope::ThisUser, "product")] = Utf8(DumpKey(HKEY_CURRENT_USER, ProductRoot));
        for (const std::wstring& name : world_->Classes) {
            out[ClassRegion(Scope::AllUsers, name)] = Utf8(DumpKey(HKEY_CLASSES_ROOT, name));
            out[ClassRegion(Scope::ThisUser, name)] = Utf8(DumpKey(HKEY_CURRENT_USER, UserClasses + name));
        }
        out[In(Scope::AllUsers, "extension")] = Utf8(DumpKey(HKEY_CLASSES_ROOT, type_.Extension));
        out[In(Scope::ThisUser, "extension")] = Utf8(DumpKey(HKEY_CURRENT_USER, UserClasses + type_.Extension));
        out["HKCU FileExts"] = Utf8(DumpKey(HKEY_CURRENT_USER, FileExts + type_.Extension));
        out[In(Scope::AllUsers, "drive")] =
            Utf8(DumpKey(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\" + DriveLetter));
        out[In(Scope::ThisUser, "drive")] =
            Utf8(DumpKey(HKEY_CURRENT_USER, std::wstring(UserDrives) + L"\\" + DriveLetter));
        out["Desktop.ini"] = FileRegion(desktopIni_) + "\nfolder attributes " +
                            std::to_string(GetFileAttributesW(folder_.c_str()));
        out["file outside the folder"] = FileRegion(outside_);
        return out;
    }
};

// A variable of this process's environment; none when it is not set.
std::optional<std::wstring> Variable(const wchar_t* name)
{
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return std::nullopt;
    std::wstring text(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, &text[0], size);
    if (length >= size)
        return std::nullopt;
    text.resize(length);
    return text;
}

unsigned SeedFromEnvironment()
{
    if (const auto text = Variable(L"ORVANE_SEQUENCE_SEED"))
        return static_cast<unsigned>(std::wcstoul(text->c_str(), nullptr, 0));
    return std::random_device{}();
}

int StepsFromEnvironment()
{
    const auto text = Variable(L"ORVANE_SEQUENCE_STEPS");
    const int steps = text ? static_cast<int>(std::wcstol(text->c_str(), nullptr, 10)) : 0;
    return steps > 0 ? steps : DefaultSteps;
}

std::vector<Kind> KindsFromEnvironment()
{
    const std::wstring list = L"," + Lower(Variable(L"ORVANE_SEQUENCE_KINDS").value_or(DefaultKinds)) + L",";
    std::vector<Kind> kinds;
    for (Kind kind : {Kind::Folder, Kind::File, Kind::Type, Kind::Drive})
        if (Contains(list, L",all,") || Contains(list, std::wstring(L",") + KindNames[static_cast<int>(kind)] + L","))
            kinds.push_back(kind);
    return kinds;
}

TEST_F(ScopeSequenceTest, RandomStepsAgreeWithAModelOfBothScopes)
{
    const unsigned seed = SeedFromEnvironment();
    const int steps = StepsFromEnvironment();
    const std::vector<Kind> kinds = KindsFromEnvironment();
    ASSERT_FALSE(kinds.empty()) << "ORVANE_SEQUENCE_KINDS names no target";
    RecordProperty("seed", std::to_string(seed));
    std::wstring kindList;
    for (Kind kind : kinds)
        kindList += std::wstring(kindList.empty() ? L"" : L",") + KindNames[static_cast<int>(kind)];
    std::mt19937 mix(seed ^ 0x5EEDu);
    std::set<Hostile> states = HostileFromEnvironment(mix);
    auto on = [&states](Hostile state) { return states.count(state) > 0; };

    // Before: the type with an icon of its own, the folder with one too, a drive letter
    // that no disk uses with its DriveIcons key (which restoring leaves), all users'
    // product key, and no tables in either scope; then the hostile states over that.
    ASSERT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey));
    ASSERT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, FolderBackupKey));
    ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, FileIconsKey));
    ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, FolderBackupKey));
    ASSERT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, FolderStateKey));
    ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, FolderStateKey));
    ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, std::wstring(UserDrives) + L"\\" + DriveLetter));
    {
        RegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, ProductKey));
        ASSERT_EQ(ERROR_SUCCESS,
                  key.Create(HKEY_LOCAL_MACHINE, (std::wstring(DriveIconsKey) + L"\\" + DriveLetter).c_str()));
    }
    const std::wstring driveIconKey = std::wstring(DriveIconsKey) + L"\\" + DriveLetter + L"\\DefaultIcon";
    ASSERT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, driveIconKey));
    if (on(Hostile::OthersDrive)) {
        ASSERT_TRUE(WriteString(HKEY_LOCAL_MACHINE, driveIconKey, nullptr, OthersDriveIcon));
    }
    const HostileType hostileType(type_.Extension, type_.Class, states, MachineIcon);
    world_ = &hostileType.World();

    IconLocation folderStart(FolderStartPath, folder_.c_str(), FolderStartIndex);
    Hostile folderState = Hostile::Count; // Count: a plain Desktop.ini
    for (Hostile state : {Hostile::IconFileOnly, Hostile::EmptyIndex, Hostile::LongIconFile, Hostile::Link,
                          Hostile::LargeAnsi, Hostile::NoDesktopIni, Hostile::NoIconEntries, Hostile::WindowsUtf16})
        if (on(state))
            folderState = state;
    std::wstring folderStartIcon = IconText(folderStart);
    if (folderState != Hostile::Count) {
        const auto icon = WriteHostileDesktopIni(folderState, desktopIni_, outside_);
        if (icon) {
            folderStartIcon = *icon;
        } else {
            std::printf("hostile state %s could not be made here (error %lu); left out\n",
                        Utf8(HostileName(folderState)).c_str(), static_cast<unsigned long>(GetLastError()));
            states.erase(folderState);
            folderState = Hostile::Count;
        }
    }
    if (folderState == Hostile::Count) {
        ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(folderStart));
    }
    const bool ansiDesktopIni = folderState == Hostile::IconFileOnly || folderState == Hostile::EmptyIndex ||
                             folderState == Hostile::LongIconFile || folderState == Hostile::LargeAnsi ||
                             folderState == Hostile::NoIconEntries;
    // Too large for its bytes to be kept: restoring puts the icon entries back alone.
    const bool largeDesktopIni = folderState == Hostile::LargeAnsi;
    // The folder's start as the test wrote it, to put back after changes made by hand.
    const DWORD startFolderAttributes = GetFileAttributesW(folder_.c_str());
    const DWORD startDesktopIniAttributes = GetFileAttributesW(desktopIni_.c_str());
    const std::string startBytes = ReadFileText(desktopIni_);
    int handChanges = 0;
    ASSERT_EQ(TargetKind::Folder, IconTarget(folder_.c_str()).Kind());
    ASSERT_EQ(TargetKind::Drive, IconTarget(DriveRoot).Kind());
    std::printf("sequence seed %u, %d steps, targets %s, hostile states %s\n", seed, steps, Utf8(kindList).c_str(),
                Utf8(HostileList(states)).c_str());
    std::fflush(stdout);

    Model model;
    model.FolderIcon = folderStartIcon;
    model.DriveClassIcon = IconText(ReadDriveIcon(DriveRoot));
    if (on(Hostile::OthersDrive))
        model.DriveClassIcon = OthersDriveIcon;
    model.TypeBase = world_->BaseIcon.value_or(L"<none>");
    const Regions before = Watched();
    const std::string startDesktopIni = before.at("Desktop.ini");
    std::string profileNow = startDesktopIni; // Desktop.ini as the step finds it
    int profileChecks = 0;                 // restores that wrote Desktop.ini back

    std::mt19937 random(seed);
    auto chance = [&random](int percent) { return static_cast<int>(random() % 100) < percent; };
    std::deque<std::wstring> log;
    auto describe = [](const Regions& regions) {
        std::string text;
        for (const auto& [name, dump] : regions)
            text += "[" + name + "]\n" + (dump.size() > 4000 ? dump.substr(0, 4000) + "...\n" : dump);
        return text;
    };
    auto fail = [&](int step, const std::wstring& what) {
        std::wstring steps;
        for (const std::wstring& line : log)
            steps += L"  " + line + L"\n";
        ADD_FAILURE() << "seed " << seed << " (hostile states " << Utf8(HostileList(states)) << "), step " << step
                      << ": " << what << "\nlast steps:\n" << steps << "state:\n" << describe(Watched());
    };

    auto pathOf = [&](Kind kind) -> const std::wstring& {
        static const std::wstring drive = DriveRoot;
        return kind == Kind::Folder ? folder_ : kind == Kind::Drive ? drive : file_;
    };
    // What the dialog does when it opens on the target.
    auto open = [&](Kind kind, ScopeChoice choice) {
        IconTarget target(pathOf(kind).c_str());
        target.RememberOriginal(target.ReadCurrentIcon());
        target.SetAllOfType(kind == Kind::Type);
        target.SetScopeChoice(choice);
        return target;
    };

    // The model's answer to a change of the kind in the scope that accepts it.
    auto modelApply = [&](Kind kind, ScopeChoice choice, bool rights, const std::wstring& icon) {
        Expected expected;
        expected.CheckChanged = true;
        // Under Automatic the change goes to all users' place when it accepts the write
        // and nothing of this user's would hide it there; otherwise to this user's.
        bool hidden = false;
        switch (kind) {
        case Kind::File:
            hidden = model.Entry.ThisUser.has_value() || model.Type.ThisUser.has_value();
            break;
        case Kind::Type:
            // This user's DefaultIcon key: a change of this user's, or the handler that
            // this user's entry installed.
            hidden = model.Type.ThisUser.has_value() || model.Entry.ThisUser.has_value();
            break;
        case Kind::Folder:
            hidden = model.FolderBackup.ThisUser.has_value();
            break;
        case Kind::Drive:
            hidden = model.Drive.ThisUser.has_value();
            break;
        }
        Scope scope = Scope::ThisUser;
        if (choice == ScopeChoice::AllUsers) {
            scope = Scope::AllUsers;
            if (!rights) {
                expected.Result = ChangeResult::AccessDenied;
                expected.Changed = Scope::AllUsers;
                return expected;
            }
        } else if (choice == ScopeChoice::Automatic && rights && !hidden) {
            scope = Scope::AllUsers;
        }
        expected.Changed = scope;
        switch (kind) {
        case Kind::File:
            model.Entry.In(scope) = icon;
            if (scope == Scope::AllUsers)
                model.AllUsersFileTable = true;
            break;
        case Kind::Type:
            model.Type.In(scope) = icon;
            break;
        case Kind::Folder: {
            // One Desktop.ini, one chain of backups, each taken before its scope's first
            // change: all users' change made over this user's ends the chain in all users'
            // backup (this user's moves there when all users have none), and this user's
            // goes. A change of the icon by hand since makes how the folder stands now the
            // backup.
            const bool own = model.FolderShowsOwn();
            const bool user = model.FolderBackup.ThisUser.has_value();
            auto take = [&](Scope in) {
                model.FolderBackup.In(in) = model.FolderIcon;
                model.FolderDesktopIni(in) = profileNow;
                model.FolderExact(in) = !largeDesktopIni;
            };
            if (scope == Scope::AllUsers && user) {
                if (!own) {
                    take(Scope::AllUsers);
                } else if (!model.FolderBackup.AllUsers) {
                    model.FolderBackup.AllUsers = model.FolderBackup.ThisUser;
                    model.FolderDesktopIniAllUsers = model.FolderDesktopIniThisUser;
                    model.FolderExactAllUsers =
                        model.FolderExactThisUser && profileNow == model.FolderWrittenThisUser;
                } else {
                    model.FolderExactAllUsers = model.FolderExactAllUsers && profileNow == model.FolderWrittenThisUser &&
                                                model.FolderExactThisUser &&
                                                model.FolderDesktopIniThisUser == model.FolderWrittenAllUsers;
                }
                model.FolderBackup.ThisUser.reset();
                model.FolderDesktopIniThisUser.reset();
                model.FolderSet.ThisUser.reset();
                model.FolderWrittenThisUser.reset();
            } else if (own && model.FolderBackup.In(scope)) {
                model.FolderExact(scope) = model.FolderExact(scope) && profileNow == model.FolderWritten(scope);
            } else {
                take(scope);
            }
            model.FolderSet.In(scope) = icon;
            model.FolderWritten(scope).reset(); // known once the step has written it
            expected.WritesFolder = true;
            model.FolderIcon = icon;
            if (scope == Scope::AllUsers)
                model.AllUsersFolderTable = true;
            break;
        }
        case Kind::Drive:
            model.Drive.In(scope) = icon;
            break;
        }
        return expected;
    };

    // Restore takes back the change this user sees (this user's when there is one) or
    // the chosen scope's; all users' only with the rights.
    auto modelRestore = [&](Kind kind, ScopeChoice choice, bool rights) {
        Expected expected;
        ScopedIcon& setting = kind == Kind::File     ? model.Entry
                              : kind == Kind::Type   ? model.Type
                              : kind == Kind::Folder ? model.FolderBackup
                                                     : model.Drive;
        std::optional<Scope> scope;
        if (choice == ScopeChoice::Automatic)
            scope = setting.SeenScope();
        else if (choice == ScopeChoice::ThisUser)
            scope = Scope::ThisUser;
        else
            scope = Scope::AllUsers;
        if (!scope || !setting.In(*scope))
            return expected; // nothing to restore there
        expected.CheckChanged = true;
        expected.Changed = scope;
        if (*scope == Scope::AllUsers && !rights) {
            expected.Result = ChangeResult::AccessDenied;
            return expected;
        }
        // All users' change of a folder under this user's is taken out of the chain
        // only: this user's icon stays, and its backup becomes what all users' replaced.
        if (kind == Kind::Folder && *scope == Scope::AllUsers && setting.ThisUser) {
            const bool whole = model.FolderExactThisUser && model.FolderDesktopIniThisUser == model.FolderWrittenAllUsers;
            setting.ThisUser = setting.AllUsers;
            model.FolderDesktopIniThisUser = model.FolderDesktopIniAllUsers;
            model.FolderExactThisUser = model.FolderExactAllUsers && whole;
            expected.KeepsDesktopIni = true;
        } else if (kind == Kind::Folder) {
            // Byte for byte where the file is as the scope's last change left it; the
            // icon entries alone otherwise.
            model.FolderIcon = *setting.In(*scope);
            if (model.FolderExact(*scope) && profileNow == model.FolderWritten(*scope))
                expected.DesktopIni = model.FolderDesktopIni(*scope);
        }
        if (kind == Kind::Folder) {
            model.FolderDesktopIni(*scope).reset();
            model.FolderSet.In(*scope).reset();
            model.FolderWritten(*scope).reset();
            model.FolderExact(*scope) = false;
        }
        setting.In(*scope).reset();
        return expected;
    };

    // Remove-all: this user's tables and handler installations always, all users' with
    // the rights; type, folder and drive icons stay (a type keeps its backup, so it can
    // still be restored), a file's entry goes with its table.
    auto modelRemoveAll = [&](bool rights) {
        model.Entry.ThisUser.reset();
        model.FolderBackup.ThisUser.reset();
        model.FolderSet.ThisUser.reset();
        if (!rights)
            return model.AllUsersTables() ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
        model.Entry.AllUsers.reset();
        model.FolderBackup.AllUsers.reset();
        model.FolderSet.AllUsers.reset();
        model.AllUsersFileTable = false;
        model.AllUsersFolderTable = false;
        return static_cast<LONG>(ERROR_SUCCESS);
    };

    // Compares what the store now shows with the model; the first difference, or empty.
    auto compare = [&]() -> std::wstring {
        auto differs = [](const wchar_t* what, const std::wstring& expected, const std::wstring& actual) {
            return std::wstring(what) + L": expected " + expected + L", found " + actual;
        };
        for (Kind kind : kinds) {
            IconTarget target(pathOf(kind).c_str());
            const std::wstring seen = IconText(target.ReadCurrentIcon());
            switch (kind) {
            case Kind::File:
            case Kind::Type: {
                if (kind == Kind::Type && std::find(kinds.begin(), kinds.end(), Kind::File) != kinds.end())
                    break; // the same reading
                if (seen != model.FileSeen())
                    return differs(L"file's icon read back", model.FileSeen(), seen);
                if (target.CurrentScope() != model.FileScope())
                    return differs(L"file's icon's scope", Text(model.FileScope()), Text(target.CurrentScope()));
                const FileIconAnswer answer = ResolveFileIcon(file_.c_str(), nullptr);
                const std::wstring answered = std::wstring(answer.IconPath) + L"," + std::to_wstring(answer.Index);
                if (answered != AnswerText(model.FileSeen(), file_))
                    return differs(L"icon handler's answer for the file", AnswerText(model.FileSeen(), file_), answered);
                const FileIconAnswer other = ResolveFileIcon(sibling_.c_str(), nullptr);
                const std::wstring otherAnswered = std::wstring(other.IconPath) + L"," + std::to_wstring(other.Index);
                if (otherAnswered != AnswerText(model.TypeSeen(), sibling_))
                    return differs(L"icon handler's answer for the type's other file",
                                   AnswerText(model.TypeSeen(), sibling_), otherAnswered);
                IconTarget siblingTarget(sibling_.c_str());
                const std::wstring siblingSeen = IconText(siblingTarget.ReadCurrentIcon());
                if (siblingSeen != model.TypeSeen())
                    return differs(L"type's icon read back", model.TypeSeen(), siblingSeen);
                if (siblingTarget.CurrentScope() != model.TypeScope())
                    return differs(L"type's icon's scope", Text(model.TypeScope()), Text(siblingTarget.CurrentScope()));
                break;
            }
            case Kind::Folder:
                if (seen != model.FolderIcon)
                    return differs(L"folder's icon read back", model.FolderIcon, seen);
                break;
            case Kind::Drive:
                if (seen != model.DriveSeen())
                    return differs(L"drive's icon read back", model.DriveSeen(), seen);
                break;
            }
        }
        return {};
    };

    // The places a step that did what the model says may have written: the target's own
    // in the scope it changed (the class Explorer uses for a file or a type), the backups'.
    auto allowedFor = [&](Action action, Kind kind, std::optional<Scope> scope) {
        std::set<std::string> allowed;
        auto classes = [&](Scope in) {
            for (const std::wstring& name : world_->Used)
                allowed.insert(ClassRegion(in, name));
        };
        if (action == Action::RemoveAll) {
            for (Scope in : {Scope::AllUsers, Scope::ThisUser}) {
                allowed.insert(In(in, "product"));
                classes(in);
            }
            return allowed;
        }
        if (!scope)
            return allowed;
        switch (kind) {
        case Kind::File:
            allowed.insert(In(*scope, "product"));
            classes(*scope);
            break;
        case Kind::Type:
            classes(*scope);
            break;
        case Kind::Folder:
            // One Desktop.ini for both scopes, and a change for all users takes this
            // user's backup over.
            allowed.insert("Desktop.ini");
            allowed.insert(In(Scope::AllUsers, "product"));
            allowed.insert(In(Scope::ThisUser, "product"));
            break;
        case Kind::Drive:
            allowed.insert(In(*scope, "drive"));
            allowed.insert(In(*scope, "product"));
            break;
        }
        return allowed;
    };

    // Another product puts its icon handler on the class Orvane serves in the scope; then
    // neither remove-all nor restoring the file may touch that class (its DefaultIcon
    // "%1" is what the other handler is asked for). Afterwards every key is put back as
    // it was, so that the model goes on from where it was.
    auto otherHandlerStep = [&](Scope scope) -> std::wstring {
        const HKEY root = scope == Scope::AllUsers ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER;
        const std::wstring prefix = scope == Scope::AllUsers ? L"" : UserClasses;
        std::optional<std::wstring> served;
        for (const std::wstring& name : world_->Used)
            if (ValueText(root, prefix + name + L"\\shellex\\IconHandler") == OwnClsid)
                served = name;
        if (!served)
            return L"the file's entry " + Text(scope) + L" has no icon handler of Orvane's on the class Explorer uses";
        std::vector<std::unique_ptr<KeyGuard>> guards;
        guards.push_back(std::make_unique<KeyGuard>(HKEY_LOCAL_MACHINE, ProductRoot));
        guards.push_back(std::make_unique<KeyGuard>(HKEY_CURRENT_USER, ProductRoot));
        for (const std::wstring& name : world_->Used) {
            guards.push_back(std::make_unique<KeyGuard>(HKEY_CLASSES_ROOT, name));
            guards.push_back(std::make_unique<KeyGuard>(HKEY_CURRENT_USER, UserClasses + name));
        }
        if (!WriteString(root, prefix + *served + L"\\shellex\\IconHandler", nullptr, OtherClsid))
            return L"the other product's handler could not be written";
        const Regions with = Watched();
        const std::string region = ClassRegion(scope, *served);
        RemoveAllSettings();
        std::string difference = FirstDifference({{region, with.at(region)}}, {{region, Watched().at(region)}});
        if (!difference.empty())
            return L"remove-all changed a class another product's icon handler serves: " + FromUtf8(difference);
        IconTarget target = open(Kind::File, scope == Scope::AllUsers ? ScopeChoice::AllUsers : ScopeChoice::ThisUser);
        target.RestoreDefault();
        difference = FirstDifference({{region, with.at(region)}}, {{region, Watched().at(region)}});
        if (!difference.empty())
            return L"restoring the file changed a class another product's icon handler serves: " +
                   FromUtf8(difference);
        return {};
    };

    const auto started = std::chrono::steady_clock::now();
    bool failed = false;
    Regions last = before;
    for (int step = 1; step <= steps && !failed; ++step) {
        const int roll = static_cast<int>(random() % 100);
        const Action action = roll < 50 ? Action::Apply : roll < 94 ? Action::Restore : Action::RemoveAll;
        const Kind kind = kinds[random() % kinds.size()];
        const bool rights = chance(50);
        const int choiceRoll = static_cast<int>(random() % 100);
        const ScopeChoice choice = choiceRoll < 80   ? ScopeChoice::Automatic
                                   : choiceRoll < 90 ? ScopeChoice::AllUsers
                                                     : ScopeChoice::ThisUser;
        std::wstring icon =
            L"C:\\icons\\seq" + std::to_wstring(random() % 10) + L".icl," + std::to_wstring(random() % 100);
        // Drawn every step, so that switching a state off does not change the others' steps.
        const int hostileRoll = static_cast<int>(random() % 100);
        // An icon the code page lacks, where Desktop.ini starts in the ANSI code page: the
        // change turns it into UTF-16 (or, over 1 MiB, is refused).
        const bool unicode = ansiDesktopIni && hostileRoll < 30;
        const bool locked = on(Hostile::LockedKeys) && action != Action::RemoveAll && hostileRoll % 10 == 1;
        // Only a Desktop.ini that is there can be held open.
        const bool held = on(Hostile::HeldOpen) && kind == Kind::Folder && hostileRoll % 5 == 2 &&
                          GetFileAttributesW(desktopIni_.c_str()) != INVALID_FILE_ATTRIBUTES;
        const bool otherHandler = on(Hostile::OtherHandler) && hostileRoll % 25 == 3 &&
                                  (model.Entry.AllUsers || model.Entry.ThisUser);
        if (unicode)
            icon = UnicodeIconFolder + icon.substr(icon.rfind(L'\\') + 1);

        if (otherHandler) {
            const Scope scope = model.Entry.ThisUser && (!model.Entry.AllUsers || hostileRoll < 50) ? Scope::ThisUser
                                                                                                   : Scope::AllUsers;
            log.push_back(std::to_wstring(step) + L": another product's icon handler on the class " + Text(scope) +
                          L", remove-all, restore the file, all put back");
            if (log.size() > LogLength)
                log.pop_front();
            std::wstring difference = otherHandlerStep(scope);
            if (difference.empty())
                difference = FirstDifference(last, Watched()).empty() ? compare() : L"the keys were not put back";
            if (!difference.empty()) {
                fail(step, difference);
                failed = true;
            }
            continue;
        }

        // The folder's icon changed by hand, as Explorer's Customize tab writes it: the next
        // change backs up this state, and restoring it comes back here.
        if (kind == Kind::Folder && action == Action::Apply && hostileRoll % 7 == 5 && !IsLink(desktopIni_)) {
            const std::wstring hand =
                L"C:\\icons\\hand" + std::to_wstring(hostileRoll % 3) + L".ico," + std::to_wstring(step % 50);
            log.push_back(std::to_wstring(step) + L": the folder's icon set by hand to " + hand);
            if (log.size() > LogLength)
                log.pop_front();
            WritePrivateProfileStringW(L".ShellClassInfo", L"IconResource", hand.c_str(), desktopIni_.c_str());
            WritePrivateProfileStringW(L".ShellClassInfo", L"IconFile", nullptr, desktopIni_.c_str());
            WritePrivateProfileStringW(L".ShellClassInfo", L"IconIndex", nullptr, desktopIni_.c_str());
            model.FolderIcon = hand;
            ++handChanges;
            last = Watched();
            const std::wstring difference = compare();
            if (!difference.empty()) {
                fail(step, difference);
                failed = true;
            }
            continue;
        }

        std::wstring line = std::to_wstring(step) + L": ";
        line += action == Action::Apply     ? L"apply " + icon + L" to "
                : action == Action::Restore ? L"restore "
                                            : L"remove-all";
        if (action != Action::RemoveAll)
            line += std::wstring(KindNames[static_cast<int>(kind)]) + L", " + Text(choice);
        line += rights ? L", with rights" : L", without rights";
        if (locked)
            line += L", this user's keys locked";
        if (held)
            line += L", Desktop.ini held open";

        std::optional<StandardUser> standard;
        if (!rights) {
            standard.emplace(world_->Classes);
            if (!standard->Applied()) {
                fail(step, L"the standard user's locks did not take hold");
                break;
            }
        }
        std::optional<UserLocks> locks;
        if (locked) {
            locks.emplace(world_->Classes, std::wstring(UserDrives) + L"\\" + DriveLetter);
            if (!locks->Applied()) {
                fail(step, L"this user's locks did not take hold");
                break;
            }
        }
        const Model saved = model;
        profileNow = last.at("Desktop.ini");
        std::optional<std::string> expectedDesktopIni;
        std::optional<Scope> wroteFolder; // the scope whose change wrote Desktop.ini
        std::set<std::string> allowed;
        std::wstring difference;
        if (action == Action::RemoveAll) {
            const LONG expected = modelRemoveAll(rights);
            const LONG status = RemoveAllSettings();
            line += L" -> " + std::to_wstring(status);
            if (status != expected)
                difference =
                    L"remove-all: expected status " + std::to_wstring(expected) + L", found " + std::to_wstring(status);
            allowed = allowedFor(action, kind, std::nullopt);
        } else {
            IconTarget target = open(kind, choice);
            Expected expected;
            ChangeResult result;
            const bool link = kind == Kind::Folder && IsLink(desktopIni_);
            std::optional<HeldFile> hold;
            if (held)
                hold.emplace(desktopIni_);
            if (action == Action::Apply) {
                expected = modelApply(kind, choice, rights, icon);
                const std::size_t comma = icon.rfind(L',');
                target.SetCurrentIconPath(icon.substr(0, comma).c_str());
                target.SetCurrentIndex(static_cast<std::int32_t>(std::wcstol(icon.c_str() + comma + 1, nullptr, 10)));
            } else {
                expected = modelRestore(kind, choice, rights);
            }
            const bool writes = expected.Result == ChangeResult::Done && (action == Action::Apply || expected.Changed);
            // Held open, or ANSI, over 1 MiB and needing UTF-16 for the new icon (a restore
            // writes back what the file held, which it can hold).
            if (writes && kind == Kind::Folder && !expected.KeepsDesktopIni &&
                (held || (unicode && action == Action::Apply && on(Hostile::LargeAnsi))))
                expected.MustFail = true;
            if (writes && locked && !rights)
                expected.MustFail = true;
            if (writes && (locked || link))
                expected.MayFail = true;
            result = action == Action::Apply ? target.ApplyIcon() : target.RestoreDefault();
            hold.reset();
            line += std::wstring(L" -> ") + Text(result) + L" in " + Text(target.ChangedScope());
            if (expected.MustFail || (expected.MayFail && result != ChangeResult::Done)) {
                model = saved;
                if (result == ChangeResult::Done)
                    difference = L"result: expected a refusal, found Done";
            } else if (result != expected.Result) {
                difference = std::wstring(L"result: expected ") + Text(expected.Result) + L", found " + Text(result);
            } else if (expected.CheckChanged && target.ChangedScope() != expected.Changed) {
                difference =
                    L"changed scope: expected " + Text(expected.Changed) + L", found " + Text(target.ChangedScope());
            } else if (result == ChangeResult::Done && expected.CheckChanged) {
                allowed = allowedFor(action, kind, expected.Changed);
                expectedDesktopIni = expected.DesktopIni;
                if (expected.WritesFolder)
                    wroteFolder = expected.Changed;
            }
        }
        locks.reset();
        standard.reset();
        log.push_back(line);
        if (log.size() > LogLength)
            log.pop_front();
        const Regions now = Watched();
        if (wroteFolder)
            model.FolderWritten(*wroteFolder) = now.at("Desktop.ini");
        if (difference.empty())
            difference = FromUtf8(FirstDifference(last, now, allowed));
        profileChecks += expectedDesktopIni ? 1 : 0;
        if (difference.empty() && expectedDesktopIni)
            difference = FromUtf8(FirstDifference({{"Desktop.ini restored", *expectedDesktopIni}},
                                                  {{"Desktop.ini restored", now.at("Desktop.ini")}}));
        if (difference.empty())
            difference = compare();
        last = now;
        if (!difference.empty()) {
            fail(step, difference);
            failed = true;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("sequence of %d steps took %.1f s; %d restores wrote Desktop.ini back byte for byte; %d changes by "
                "hand\n",
                steps, seconds, profileChecks, handChanges);

    // Everything restored with the rights (this user's changes first, as restore takes
    // them), the folder's own icon put back where restoring ends on another one, and
    // everything removed.
    for (int round = 0; round < 8; ++round) {
        for (Kind kind : kinds) {
            IconTarget target = open(kind, ScopeChoice::Automatic);
            target.RestoreDefault();
        }
    }
    if (handChanges > 0) {
        // Restoring ends where a change by hand left the folder: the test puts its start back.
        SetFileAttributesW(desktopIni_.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (startDesktopIniAttributes == INVALID_FILE_ATTRIBUTES) {
            DeleteFileW(desktopIni_.c_str());
        } else {
            const HANDLE file =
                CreateFileW(desktopIni_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD written = 0;
            if (file != INVALID_HANDLE_VALUE) {
                WriteFile(file, startBytes.data(), static_cast<DWORD>(startBytes.size()), &written, nullptr);
                CloseHandle(file);
            }
            SetFileAttributesW(desktopIni_.c_str(), startDesktopIniAttributes);
        }
        SetFileAttributesW(folder_.c_str(), startFolderAttributes);
    } else if (std::find(kinds.begin(), kinds.end(), Kind::Folder) != kinds.end()) {
        IconTarget target = open(Kind::Folder, ScopeChoice::AllUsers);
        if (folderState == Hostile::Count && IconText(target.Current) != IconText(folderStart)) {
            target.SetCurrentIconPath(FolderStartPath);
            target.SetCurrentIndex(FolderStartIndex);
            target.ApplyIcon();
        } else if (folderState != Hostile::Count) {
            // Restoring that ends on the folder's first icon writes it as it was written;
            // where remove-all took the backups (or a link was replaced by a file of the
            // folder's own) the test puts the start back itself.
            const std::string desktopIni = Watched().at("Desktop.ini");
            if (!failed && !IsLink(desktopIni_) && folderState != Hostile::Link &&
                IconText(target.Current) == folderStartIcon && desktopIni != startDesktopIni) {
                ADD_FAILURE() << "seed " << seed << ": the folder is back at its first icon, but its Desktop.ini is not "
                              << "as it was: " << FirstDifference({{"Desktop.ini", startDesktopIni}}, {{"Desktop.ini", desktopIni}});
            }
            if (desktopIni != startDesktopIni)
                WriteHostileDesktopIni(folderState, desktopIni_, outside_);
        }
    }
    EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    if (!failed) {
        Regions start = before;
        const Regions end = Watched();
        // A backup value that is not text is no backup: the type's first change may put
        // its own in its place, and restoring then takes that away.
        const std::string wrongType = "value [BAKIconInfo] type 4 data 01 00 00 00\n";
        for (auto& [name, dump] : start) {
            const std::size_t at = dump.find(wrongType);
            if (at != std::string::npos && end.at(name).find(wrongType) == std::string::npos) {
                // The whole line, with the indentation that nests it in its key.
                const std::size_t line = dump.rfind('\n', at);
                const std::size_t from = line == std::string::npos ? 0 : line + 1;
                dump.erase(from, at + wrongType.size() - from);
            }
        }
        const std::string difference = FirstDifference(start, end);
        EXPECT_TRUE(difference.empty()) << "seed " << seed << " (hostile states " << Utf8(HostileList(states))
                                        << "): the end differs from the start: " << difference;
    }
}

} // namespace
} // namespace orvane::test
