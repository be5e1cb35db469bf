// orvane.exe: changes, shows and restores icons from the command line with the same
// rules, backups and registry data as the Change Icon dialog.
#include <windows.h>

#include <cwchar>
#include <string>

#include "BatchCommands.h"
#include "Commands.h"
#include "ConsoleText.h"
#include "PackageCommand.h"

namespace {

const wchar_t Usage[] =
    L"Usage:\n"
    L"  orvane show PATH... [--all-of-type]\n"
    L"      Prints each target's kind (Folder, File, Type or Drive), its current icon\n"
    L"      (path,index), where that icon is set (for this user, for all users, or\n"
    L"      (not set) when it is no setting of the target's own), whether a backup\n"
    L"      exists for restore, and for a folder each reason Windows may not show its\n"
    L"      icon (a warning: line).\n"
    L"  orvane set SOURCE[,INDEX] PATH... [--all-of-type] [--for-me | --for-all]\n"
    L"             [--trust-desktop-ini] [--copy]\n"
    L"      Gives each folder, file or drive the icon INDEX (default 0) of SOURCE, an\n"
    L"      icon file, icon library, DLL or program, or the icon made from a picture\n"
    L"      (PNG, JPEG, BMP, GIF, TIFF). A file gets its own icon; with\n"
    L"      --all-of-type every file of its type gets it. Negative indexes are icon\n"
    L"      resource ids. A folder's icon made from a picture lives in the folder; a\n"
    L"      file's, a type's or a drive's in Orvane\\Icons of this user's local\n"
    L"      application data (for this user) or of ProgramData (for all users).\n"
    L"      --copy keeps a copy of the icon, every size of it, in each folder, so\n"
    L"      that it goes where the folder goes (folders only).\n"
    L"      Where Windows may not show a folder's icon (its Desktop.ini\n"
    L"      or SOURCE carries the mark of the web, or lies on a network share or a\n"
    L"      removable drive) a warning goes to standard error; the icon is set all the\n"
    L"      same. --trust-desktop-ini removes the mark of the web from the folder's\n"
    L"      Desktop.ini (and from nothing else): only for a Desktop.ini you trust.\n"
    L"  orvane set --colour NAME|#RRGGBB PATH... [--for-me | --for-all]\n"
    L"             [--trust-desktop-ini]\n"
    L"      Gives each folder a folder icon in a colour: one of red, orange, yellow,\n"
    L"      green, teal, blue, purple, pink, brown, grey, black, white (any case), or\n"
    L"      #RRGGBB. The icon is made inside the folder (a hidden file, named in\n"
    L"      Desktop.ini relative to the folder, so it moves with it). Files and drives\n"
    L"      are refused.\n"
    L"  orvane restore PATH... [--all-of-type] [--for-me | --for-all]\n"
    L"      Puts back the icon each target had before Orvane changed it.\n"
    L"  orvane set SOURCE[,INDEX] --recurse PATH... [--all-of-type] [--for-me | --for-all]\n"
    L"  orvane restore --recurse PATH... [--all-of-type] [--for-me | --for-all]\n"
    L"      The same for each folder PATH and every folder below it, each with its own\n"
    L"      backup; links (junctions, symbolic links) out of a tree are not followed.\n"
    L"      Progress shows on a console; what could not be changed is listed at the\n"
    L"      end, and every other folder is changed. Ctrl+C stops between two folders.\n"
    L"  orvane remove-all\n"
    L"      Takes Orvane out of every file type it serves as icon handler and deletes\n"
    L"      its per-file icons and folder backups (as uninstalling does).\n"
    L"  orvane package register [--all-users] [--trust CERT] [PACKAGE]\n"
    L"  orvane package unregister [--all-users] [--trust CERT] [PACKAGE]\n"
    L"      Registers or removes the package that puts Change Icon into Windows 11's\n"
    L"      own context menu (PACKAGE: Orvane-<arch>.msix beside orvane.exe; the files\n"
    L"      it names are those in its folder), for this user or, with --all-users, for\n"
    L"      every user of the computer. --trust CERT first adds the certificate that\n"
    L"      signed the package to the machine's TrustedPeople store; unregister takes\n"
    L"      exactly that certificate out again. Where Windows cannot take the package\n"
    L"      (before Windows 11) it says \"not available\" and changes nothing. A CERT\n"
    L"      that does not exist is passed over (a publisher's certificate needs none).\n"
    L"  orvane --help\n"
    L"\n"
    L"A change is made for all users (HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT) when this\n"
    L"process may write all users' settings, which needs administrator rights, and for\n"
    L"this user (HKEY_CURRENT_USER) otherwise; a restore takes back the setting this\n"
    L"user sees, this user's first. --for-me chooses this user's settings, --for-all\n"
    L"all users' (which fails without administrator rights, writing nothing).\n"
    L"Exit code: 0 when every target succeeded, 1 when any failed, 2 for a command\n"
    L"line that is not understood.\n";

int UsageError(const std::wstring& message)
{
    orvane::cli::WriteErr(L"orvane: " + message + L"\n\n" + Usage);
    return 2;
}

bool Is(const wchar_t* arg, const wchar_t* option) { return std::wcscmp(arg, option) == 0; }

// The arguments from `first` on, one at a time. "--" ends the options and is passed over;
// what follows it is never taken for an option, even when it starts with "--".
class ArgumentWalk {
public:
    ArgumentWalk(int argc, wchar_t** argv, int first) : argc_(argc), argv_(argv), next_(first) {}

    // The next argument; null after the last.
    const wchar_t* Next()
    {
        while (next_ < argc_) {
            current_ = argv_[next_++];
            if (!options_ || !Is(current_, L"--"))
                return current_;
            options_ = false;
        }
        return nullptr;
    }
    // Whether the current argument is the option `name`.
    bool IsOption(const wchar_t* name) const { return options_ && Is(current_, name); }
    // Whether it has the form of an option ("--" and more) that none of the above was.
    bool IsOtherOption() const { return options_ && current_[0] == L'-' && current_[1] == L'-'; }
    // The argument after the current one, taken as its value; null when there is none.
    const wchar_t* TakeValue() { return next_ < argc_ ? argv_[next_++] : nullptr; }

private:
    int argc_;
    wchar_t** argv_;
    int next_;
    bool options_ = true;
    const wchar_t* current_ = nullptr;
};

// Collects the arguments after the command: --all-of-type, --for-me and --for-all
// wherever they stand, the rest in order.
bool ReadArguments(int argc, wchar_t** argv, orvane::cli::TargetList* targets, std::wstring* error)
{
    ArgumentWalk walk(argc, argv, 2);
    while (const wchar_t* arg = walk.Next()) {
        if (walk.IsOption(L"--all-of-type")) {
            targets->AllOfType = true;
        } else if (walk.IsOption(L"--for-me") || walk.IsOption(L"--for-all")) {
            const orvane::ScopeChoice chosen =
                Is(arg, L"--for-me") ? orvane::ScopeChoice::ThisUser : orvane::ScopeChoice::AllUsers;
            if (targets->Scope != orvane::ScopeChoice::Automatic && targets->Scope != chosen) {
                *error = L"--for-me and --for-all cannot be used together";
                return false;
            }
            targets->Scope = chosen;
        } else if (walk.IsOption(L"--trust-desktop-ini")) {
            targets->TrustDesktopIni = true;
        } else if (walk.IsOption(L"--colour")) {
            if (targets->Colour != nullptr || (targets->Colour = walk.TakeValue()) == nullptr) {
                *error = L"--colour needs one NAME or #RRGGBB";
                return false;
            }
        } else if (walk.IsOption(L"--copy")) {
            targets->CopyWithFolder = true;
        } else if (walk.IsOption(L"--recurse")) {
            targets->Recurse = true;
        } else if (walk.IsOtherOption()) {
            *error = std::wstring(L"unknown option ") + arg;
            return false;
        } else {
            targets->Paths.push_back(arg);
        }
    }
    return true;
}

// orvane set --colour NAME|#RRGGBB PATH...: every argument is a PATH, none a SOURCE.
int SetColourCommand(const orvane::cli::TargetList& targets)
{
    if (targets.Paths.empty())
        return UsageError(L"set --colour needs at least one PATH");
    if (targets.AllOfType)
        return UsageError(L"--colour is for folders; --all-of-type is for files");
    return orvane::cli::SetColour(targets);
}

// orvane package register|unregister [--all-users] [--trust CERT] [PACKAGE]
bool ReadPackageArguments(int argc, wchar_t** argv, orvane::cli::PackageRequest* request, std::wstring* error)
{
    if (argc < 3 || (!Is(argv[2], L"register") && !Is(argv[2], L"unregister"))) {
        *error = L"package needs register or unregister";
        return false;
    }
    request->Register = Is(argv[2], L"register");
    ArgumentWalk walk(argc, argv, 3);
    while (const wchar_t* arg = walk.Next()) {
        if (walk.IsOption(L"--all-users")) {
            request->Users = orvane::cli::PackageUsers::AllUsers;
        } else if (walk.IsOption(L"--trust")) {
            if (request->Certificate != nullptr || (request->Certificate = walk.TakeValue()) == nullptr) {
                *error = L"--trust needs one CERT";
                return false;
            }
        } else if (walk.IsOtherOption()) {
            *error = std::wstring(L"unknown option ") + arg;
            return false;
        } else if (request->Package == nullptr) {
            request->Package = arg;
        } else {
            *error = L"package takes one PACKAGE";
            return false;
        }
    }
    return true;
}

// An option given to a command, or with another option, that it does not go with; null
// when every option is where it belongs.
const wchar_t* MisplacedOption(const std::wstring& command, const orvane::cli::TargetList& targets)
{
    if (command == L"show" && targets.Scope != orvane::ScopeChoice::Automatic)
        return L"--for-me and --for-all are for set and restore";
    if (command != L"set" && targets.TrustDesktopIni)
        return L"--trust-desktop-ini is for set";
    if (command != L"set" && targets.Colour != nullptr)
        return L"--colour is for set";
    if (command != L"set" && targets.CopyWithFolder)
        return L"--copy is for set";
    if (command == L"show" && targets.Recurse)
        return L"--recurse is for set and restore";
    if (targets.Recurse && (targets.Colour != nullptr || targets.CopyWithFolder))
        return L"--recurse takes an icon SOURCE, not --colour or --copy";
    if (targets.Colour != nullptr && targets.CopyWithFolder)
        return L"--copy is for a SOURCE; a colour is always made inside the folder";
    return nullptr;
}

// orvane set SOURCE[,INDEX] PATH...
int SetCommand(orvane::cli::TargetList& targets)
{
    if (targets.Paths.size() < 2)
        return UsageError(L"set needs SOURCE[,INDEX] and at least one PATH");
    const wchar_t* source = targets.Paths.front();
    targets.Paths.erase(targets.Paths.begin());
    orvane::cli::IconChoice choice;
    std::wstring error;
    if (!orvane::cli::ParseIconChoice(source, &choice, &error)) {
        orvane::cli::WriteErr(L"orvane: " + error + L"\n");
        return 1;
    }
    if (!targets.Recurse)
        return orvane::cli::SetIcon(choice, targets);
    if (choice.IsPicture)
        return UsageError(L"--recurse takes an icon source, not a picture");
    if (targets.TrustDesktopIni)
        return UsageError(L"--trust-desktop-ini is for one folder at a time, not with --recurse");
    return orvane::cli::SetIconInTrees(choice, targets);
}

} // namespace

// The wide entry point: the arguments arrive as the UTF-16 text the shell passed, so a
// path keeps every character the ANSI code page lacks.
int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return UsageError(L"no command given");
    const std::wstring command = argv[1];
    if (command == L"--help" || command == L"-h" || command == L"/?" || command == L"help") {
        orvane::cli::WriteOut(Usage);
        return 0;
    }

    orvane::cli::TargetList targets;
    std::wstring error;
    if (command == L"show" || command == L"restore" || command == L"set") {
        if (!ReadArguments(argc, argv, &targets, &error))
            return UsageError(error);
    }
    if (const wchar_t* misplaced = MisplacedOption(command, targets))
        return UsageError(misplaced);
    if (command == L"set" && targets.Colour != nullptr)
        return SetColourCommand(targets);
    if (command == L"show" || command == L"restore") {
        if (targets.Paths.empty())
            return UsageError(command + L" needs at least one PATH");
        if (targets.Recurse)
            return orvane::cli::RestoreTrees(targets);
        return command == L"show" ? orvane::cli::ShowTargets(targets) : orvane::cli::RestoreTargets(targets);
    }
    if (command == L"set")
        return SetCommand(targets);
    if (command == L"remove-all") {
        if (argc != 2)
            return UsageError(L"remove-all takes no arguments");
        return orvane::cli::RemoveAll();
    }
    if (command == L"package") {
        orvane::cli::PackageRequest request;
        if (!ReadPackageArguments(argc, argv, &request, &error))
            return UsageError(error);
        return orvane::cli::PackageCommand(request);
    }
    return UsageError(L"unknown command " + command);
}
