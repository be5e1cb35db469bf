// orvane.exe: changes, shows and restores icons from the command line with the same
// rules, backups and registry data as the Change Icon dialog.
#include <windows.h>

#include <cwchar>
#include <string>

#include "Arguments.h"
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
    L"             [--copy]\n"
    L"  orvane set --colour NAME|#RRGGBB --recurse PATH... [--for-me | --for-all]\n"
    L"  orvane restore --recurse PATH... [--all-of-type] [--for-me | --for-all]\n"
    L"      The same for each folder PATH and every folder below it, each with its own\n"
    L"      backup and, for a picture, a colour or --copy, its own made icon inside it;\n"
    L"      links (junctions, symbolic links) out of a tree are not followed.\n"
    L"      Progress shows on a console; what could not be changed is listed at the\n"
    L"      end, and every other folder is changed. Ctrl+C stops between two folders.\n"
    L"  orvane remove-all\n"
    L"      Takes Orvane out of every file type it serves as icon handler and deletes\n"
    L"      its per-file icons and folder backups (as uninstalling does).\n"
    L"  orvane tidy [--dry-run]\n"
    L"      A file renamed or moved on its drive keeps its own icon; tidy moves each\n"
    L"      entry whose file moved to the file's new path, and takes out each entry\n"
    L"      whose file is gone (with its made icon, and Orvane as the handler of a type\n"
    L"      that has no entry left), listing each. --dry-run only lists.\n"
    L"  orvane export FILE [--with-sources]\n"
    L"      Writes every icon Orvane set and still holds (folders, single files,\n"
    L"      types, drives; for this user and for all users) into FILE, a JSON text\n"
    L"      (see docs/settings-file.md). A made icon goes inside the file; any\n"
    L"      other icon by its source's path, or with --with-sources by its bytes\n"
    L"      (sources in the Windows folder excepted). Backups stay on this computer.\n"
    L"  orvane import FILE [--map FROM=TO]... [--for-me | --for-all] [--dry-run]\n"
    L"      Gives each setting of FILE to its target here as set does, with this\n"
    L"      computer's own backup, so that restore puts back what it had. Paths'\n"
    L"      %VARIABLES% are this user's; --map makes a path that starts with FROM\n"
    L"      start with TO (another drive, another profile). A setting whose target\n"
    L"      or source is missing here is skipped, one that is not sound refused,\n"
    L"      and the rest done; a target that shows the icon already is unchanged.\n"
    L"      --dry-run only tells what would change.\n"
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

// orvane set --colour NAME|#RRGGBB PATH...: every argument is a PATH, none a SOURCE.
int SetColourCommand(const orvane::cli::Invocation& invocation)
{
    if (invocation.Paths.empty())
        return UsageError(L"set --colour needs at least one PATH");
    if (invocation.AllOfType)
        return UsageError(L"--colour is for folders; --all-of-type is for files");
    return orvane::cli::SetColour(invocation);
}

// orvane set SOURCE[,INDEX] PATH...
int SetCommand(orvane::cli::Invocation& invocation)
{
    if (invocation.Paths.size() < 2)
        return UsageError(L"set needs SOURCE[,INDEX] and at least one PATH");
    const wchar_t* source = invocation.Paths.front();
    invocation.Paths.erase(invocation.Paths.begin());
    orvane::cli::IconChoice choice;
    std::wstring error;
    if (!orvane::cli::ParseIconChoice(source, &choice, &error)) {
        orvane::cli::WriteErr(L"orvane: " + error + L"\n");
        return 1;
    }
    return orvane::cli::SetIcon(choice, invocation);
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

    orvane::cli::Invocation invocation;
    std::wstring error;
    if (command == L"show" || command == L"restore" || command == L"set") {
        if (!orvane::cli::ReadArguments(argc, argv, &invocation, &error))
            return UsageError(error);
    }
    if (const wchar_t* misplaced = orvane::cli::MisplacedOption(command, invocation))
        return UsageError(misplaced);
    if (command == L"set" && invocation.Colour != nullptr)
        return SetColourCommand(invocation);
    if (command == L"show" || command == L"restore") {
        if (invocation.Paths.empty())
            return UsageError(command + L" needs at least one PATH");
        return command == L"show" ? orvane::cli::ShowTargets(invocation) : orvane::cli::RestoreTargets(invocation);
    }
    if (command == L"set")
        return SetCommand(invocation);
    if (command == L"remove-all") {
        if (argc != 2)
            return UsageError(L"remove-all takes no arguments");
        return orvane::cli::RemoveAll();
    }
    if (command == L"tidy") {
        const bool dryRun = argc == 3 && std::wcscmp(argv[2], L"--dry-run") == 0;
        if (argc > 3 || (argc == 3 && !dryRun))
            return UsageError(L"tidy takes only --dry-run");
        return orvane::cli::Tidy(dryRun);
    }
    if (command == L"export") {
        const bool withSources = argc == 4 && std::wcscmp(argv[3], L"--with-sources") == 0;
        if ((argc != 3 && !withSources) || std::wcsncmp(argv[2], L"--", 2) == 0)
            return UsageError(L"export takes one FILE, and --with-sources after it");
        return orvane::cli::ExportSettings(argv[2], withSources);
    }
    if (command == L"import") {
        orvane::cli::ImportInvocation import;
        if (!orvane::cli::ReadImportArguments(argc, argv, &import, &error))
            return UsageError(error);
        return orvane::cli::ImportSettings(import);
    }
    if (command == L"package") {
        orvane::cli::PackageRequest request;
        if (!orvane::cli::ReadPackageArguments(argc, argv, &request, &error))
            return UsageError(error);
        return orvane::cli::PackageCommand(request);
    }
    return UsageError(L"unknown command " + command);
}
