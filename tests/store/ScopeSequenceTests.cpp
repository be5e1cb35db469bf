// A seeded random sequence of changes (apply, restore, remove-all) of a folder, one file,
// all files of its type and a drive, each made with or without the rights to all users'
// places, compared step by step with a small model of both scopes: what every step
// answers, the scope it went to, and what this user then sees. Afterwards, once
// everything is restored and removed, every key and file touched is as it was.
//
// ORVANE_SEQUENCE_SEED   the seed (printed either way, so that a failing run can be repeated)
// ORVANE_SEQUENCE_STEPS  the number of steps (2000 by default)
// ORVANE_SEQUENCE_KINDS  the targets, comma separated, of "file", "type", "folder",
//                        "drive", or "all" (DefaultKinds when unset)
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
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
#include "IconTarget.h"
#include "Registry.h"
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
    case ChangeResult::ProfileIsLink:
        return L"ProfileIsLink";
    case ChangeResult::ProfileIsFolder:
        return L"ProfileIsFolder";
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
//   folder: Desktop.ini (the same file for both scopes) and a backup per scope of the icon
//           the folder had before the scope's last change, which restore writes back.
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
    ScopedIcon Drive;        // the drive's entries
    std::wstring FolderIcon;  // what Desktop.ini names
    std::wstring DriveClassIcon;
    // All users' tables exist (they stay when their last entry goes): the per-file table
    // and the folders' backups. Remove-all without the rights is refused while either
    // does; restoring a file's entry for all users while the per-file table does.
    bool AllUsersFileTable = false;
    bool AllUsersFolderTable = false;
    bool AllUsersTables() const { return AllUsersFileTable || AllUsersFolderTable; }

    std::wstring TypeSeen() const { return Type.Seen().value_or(MachineIcon); }
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
};

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
    std::wstring profile_ = folder_ + L"\\Desktop.ini";

    // Every place the sequence may write: the keys' dumps in UTF-8, the file's bytes.
    std::string Snapshot() const
    {
        std::string out;
        auto add = [&out](const char* name, const std::string& dump) { out += std::string("[") + name + "]\n" + dump; };
        add("HKLM product", Utf8(DumpKey(HKEY_LOCAL_MACHINE, ProductRoot)));
        add("HKCU product", Utf8(DumpKey(HKEY_CURRENT_USER, ProductRoot)));
        add("HKCR class", Utf8(DumpKey(HKEY_CLASSES_ROOT, type_.Class)));
        add("HKCR extension", Utf8(DumpKey(HKEY_CLASSES_ROOT, type_.Extension)));
        add("HKCU class", Utf8(DumpKey(HKEY_CURRENT_USER, UserClasses + type_.Class)));
        add("HKCU extension", Utf8(DumpKey(HKEY_CURRENT_USER, UserClasses + type_.Extension)));
        add("HKLM drive", Utf8(DumpKey(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\" + DriveLetter)));
        add("HKCU drive", Utf8(DumpKey(HKEY_CURRENT_USER, std::wstring(UserDrives) + L"\\" + DriveLetter)));
        add("Desktop.ini", ReadFileText(profile_));
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
    std::printf("sequence seed %u, %d steps, targets %s\n", seed, steps, Utf8(kindList).c_str());
    std::fflush(stdout);

    // Before: the type with an icon of its own, the folder with one too, a drive letter
    // that no disk uses with its DriveIcons key (which restoring leaves), all users'
    // product key, and no tables in either scope.
    type_.SetDefaultIcon(MachineIcon);
    ASSERT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, FileIconsKey));
    ASSERT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, FolderBackupKey));
    ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, FileIconsKey));
    ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, FolderBackupKey));
    ASSERT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, std::wstring(UserDrives) + L"\\" + DriveLetter));
    {
        RegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, ProductKey));
        ASSERT_EQ(ERROR_SUCCESS,
                  key.Create(HKEY_LOCAL_MACHINE, (std::wstring(DriveIconsKey) + L"\\" + DriveLetter).c_str()));
    }
    ASSERT_TRUE(
        DeleteKeyTree(HKEY_LOCAL_MACHINE, std::wstring(DriveIconsKey) + L"\\" + DriveLetter + L"\\DefaultIcon"));
    IconLocation folderStart(FolderStartPath, folder_.c_str(), FolderStartIndex);
    ASSERT_EQ(ERROR_SUCCESS, WriteFolderIcon(folderStart));
    ASSERT_EQ(TargetKind::Folder, IconTarget(folder_.c_str()).Kind());
    ASSERT_EQ(TargetKind::Drive, IconTarget(DriveRoot).Kind());

    Model model;
    model.FolderIcon = IconText(folderStart);
    model.DriveClassIcon = IconText(ReadDriveIcon(DriveRoot));
    const std::string before = Snapshot();

    std::mt19937 random(seed);
    auto chance = [&random](int percent) { return static_cast<int>(random() % 100) < percent; };
    std::deque<std::wstring> log;
    auto fail = [&](int step, const std::wstring& what) {
        std::wstring steps;
        for (const std::wstring& line : log)
            steps += L"  " + line + L"\n";
        ADD_FAILURE() << "seed " << seed << ", step " << step << ": " << what << "\nlast steps:\n" << steps
                      << "state:\n" << Snapshot();
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
        case Kind::Folder:
            // One Desktop.ini, one chain of backups: all users' change made over this
            // user's takes this user's backup over, and this user's goes.
            model.FolderBackup.In(scope) = scope == Scope::AllUsers && model.FolderBackup.ThisUser
                                               ? *model.FolderBackup.ThisUser
                                               : model.FolderIcon;
            if (scope == Scope::AllUsers)
                model.FolderBackup.ThisUser.reset();
            model.FolderIcon = icon;
            if (scope == Scope::AllUsers)
                model.AllUsersFolderTable = true;
            break;
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
        if (kind == Kind::Folder && *scope == Scope::AllUsers && setting.ThisUser)
            setting.ThisUser = setting.AllUsers;
        else if (kind == Kind::Folder)
            model.FolderIcon = *setting.In(*scope);
        setting.In(*scope).reset();
        return expected;
    };

    // Remove-all: this user's tables and handler installations always, all users' with
    // the rights; type, folder and drive icons stay (a type keeps its backup, so it can
    // still be restored), a file's entry goes with its table.
    auto modelRemoveAll = [&](bool rights) {
        model.Entry.ThisUser.reset();
        model.FolderBackup.ThisUser.reset();
        if (!rights)
            return model.AllUsersTables() ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
        model.Entry.AllUsers.reset();
        model.FolderBackup.AllUsers.reset();
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
                if (answered != model.FileSeen())
                    return differs(L"icon handler's answer for the file", model.FileSeen(), answered);
                const FileIconAnswer other = ResolveFileIcon(sibling_.c_str(), nullptr);
                const std::wstring otherAnswered = std::wstring(other.IconPath) + L"," + std::to_wstring(other.Index);
                if (otherAnswered != model.TypeSeen())
                    return differs(L"icon handler's answer for the type's other file", model.TypeSeen(), otherAnswered);
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

    const auto started = std::chrono::steady_clock::now();
    bool failed = false;
    for (int step = 1; step <= steps && !failed; ++step) {
        const int roll = static_cast<int>(random() % 100);
        const Action action = roll < 50 ? Action::Apply : roll < 94 ? Action::Restore : Action::RemoveAll;
        const Kind kind = kinds[random() % kinds.size()];
        const bool rights = chance(50);
        const int choiceRoll = static_cast<int>(random() % 100);
        const ScopeChoice choice = choiceRoll < 80   ? ScopeChoice::Automatic
                                   : choiceRoll < 90 ? ScopeChoice::AllUsers
                                                     : ScopeChoice::ThisUser;
        const std::wstring icon =
            L"C:\\icons\\seq" + std::to_wstring(random() % 10) + L".icl," + std::to_wstring(random() % 100);

        std::wstring line = std::to_wstring(step) + L": ";
        line += action == Action::Apply     ? L"apply " + icon + L" to "
                : action == Action::Restore ? L"restore "
                                            : L"remove-all";
        if (action != Action::RemoveAll)
            line += std::wstring(KindNames[static_cast<int>(kind)]) + L", " + Text(choice);
        line += rights ? L", with rights" : L", without rights";

        std::optional<StandardUser> standard;
        if (!rights) {
            standard.emplace(std::vector<std::wstring>{type_.Class});
            if (!standard->Applied()) {
                fail(step, L"the standard user's locks did not take hold");
                break;
            }
        }
        std::wstring difference;
        if (action == Action::RemoveAll) {
            const LONG expected = modelRemoveAll(rights);
            const LONG status = RemoveAllSettings();
            line += L" -> " + std::to_wstring(status);
            if (status != expected)
                difference =
                    L"remove-all: expected status " + std::to_wstring(expected) + L", found " + std::to_wstring(status);
        } else {
            IconTarget target = open(kind, choice);
            Expected expected;
            ChangeResult result;
            if (action == Action::Apply) {
                expected = modelApply(kind, choice, rights, icon);
                const std::size_t comma = icon.rfind(L',');
                target.SetCurrentIconPath(icon.substr(0, comma).c_str());
                target.SetCurrentIndex(static_cast<std::int32_t>(std::wcstol(icon.c_str() + comma + 1, nullptr, 10)));
                result = target.ApplyIcon();
            } else {
                expected = modelRestore(kind, choice, rights);
                result = target.RestoreDefault();
            }
            line += std::wstring(L" -> ") + Text(result) + L" in " + Text(target.ChangedScope());
            if (result != expected.Result)
                difference = std::wstring(L"result: expected ") + Text(expected.Result) + L", found " + Text(result);
            else if (expected.CheckChanged && target.ChangedScope() != expected.Changed)
                difference =
                    L"changed scope: expected " + Text(expected.Changed) + L", found " + Text(target.ChangedScope());
        }
        standard.reset();
        log.push_back(line);
        if (log.size() > LogLength)
            log.pop_front();
        if (difference.empty())
            difference = compare();
        if (!difference.empty()) {
            fail(step, difference);
            failed = true;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("sequence of %d steps took %.1f s\n", steps, seconds);

    // Everything restored with the rights (this user's changes first, as restore takes
    // them), the folder's own icon put back where restoring ends on another one, and
    // everything removed.
    for (int round = 0; round < 8; ++round) {
        for (Kind kind : kinds) {
            IconTarget target = open(kind, ScopeChoice::Automatic);
            target.RestoreDefault();
        }
    }
    if (std::find(kinds.begin(), kinds.end(), Kind::Folder) != kinds.end()) {
        IconTarget target = open(Kind::Folder, ScopeChoice::AllUsers);
        if (IconText(target.Current) != IconText(folderStart)) {
            target.SetCurrentIconPath(FolderStartPath);
            target.SetCurrentIndex(FolderStartIndex);
            target.ApplyIcon();
        }
    }
    EXPECT_EQ(ERROR_SUCCESS, RemoveAllSettings());
    if (!failed) {
        EXPECT_EQ(before, Snapshot()) << "seed " << seed << ": the end differs from the start";
    }
}

} // namespace
} // namespace orvane::test
