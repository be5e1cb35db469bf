// orvane.exe: changes, shows and restores icons from the command line with the same
// rules, backups and registry data as the Change Icon dialog.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"

namespace {

const char Usage[] =
    "Usage:\n"
    "  orvane show PATH... [--all-of-type]\n"
    "      Prints each target's kind (Folder, File, Type or Drive), its current icon\n"
    "      (path,index) and whether a backup exists for restore; and whether the icon\n"
    "      is set for this user or for all users, when this user has a setting of\n"
    "      their own or may not change all users' settings.\n"
    "  orvane set SOURCE[,INDEX] PATH... [--all-of-type] [--for-me | --for-all]\n"
    "      Gives each folder, file or drive the icon INDEX (default 0) of SOURCE, an\n"
    "      icon file, icon library, DLL or program. A file gets its own icon; with\n"
    "      --all-of-type every file of its type gets it. Negative indexes are icon\n"
    "      resource ids.\n"
    "  orvane restore PATH... [--all-of-type] [--for-me | --for-all]\n"
    "      Puts back the icon each target had before Orvane changed it.\n"
    "  orvane remove-all\n"
    "      Takes Orvane out of every file type it serves as icon handler and deletes\n"
    "      its per-file icons and folder backups (as uninstalling does).\n"
    "  orvane --help\n"
    "\n"
    "A change is made for all users (HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT) when this\n"
    "process may write all users' settings, which needs administrator rights, and for\n"
    "this user (HKEY_CURRENT_USER) otherwise; a restore takes back the setting this\n"
    "user sees, this user's first. --for-me chooses this user's settings, --for-all\n"
    "all users' (which fails without administrator rights, writing nothing).\n"
    "Exit code: 0 when every target succeeded, 1 when any failed, 2 for a command\n"
    "line that is not understood.\n";

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "orvane: %s\n\n%s", message.c_str(), Usage);
    return 2;
}

// Collects the arguments after the command: --all-of-type, --for-me and --for-all
// wherever they stand, the rest in order; "--" ends the options.
bool ReadArguments(int argc, char** argv, orvane::cli::TargetList* targets, std::string* error)
{
    bool options = true;
    for (int i = 2; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (options && std::strcmp(arg, "--all-of-type") == 0) {
            targets->AllOfType = true;
        } else if (options && (std::strcmp(arg, "--for-me") == 0 || std::strcmp(arg, "--for-all") == 0)) {
            const orvane::ScopeChoice chosen =
                std::strcmp(arg, "--for-me") == 0 ? orvane::ScopeChoice::ThisUser : orvane::ScopeChoice::AllUsers;
            if (targets->Scope != orvane::ScopeChoice::Automatic && targets->Scope != chosen) {
                *error = "--for-me and --for-all cannot be used together";
                return false;
            }
            targets->Scope = chosen;
        } else if (options && arg[0] == '-' && arg[1] == '-') {
            *error = std::string("unknown option ") + arg;
            return false;
        } else {
            targets->Paths.push_back(arg);
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return UsageError("no command given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "/?" || command == "help") {
        std::fputs(Usage, stdout);
        return 0;
    }

    orvane::cli::TargetList targets;
    std::string error;
    if (command == "show" || command == "restore" || command == "set") {
        if (!ReadArguments(argc, argv, &targets, &error))
            return UsageError(error);
    }
    if (command == "show" && targets.Scope != orvane::ScopeChoice::Automatic)
        return UsageError("--for-me and --for-all are for set and restore");
    if (command == "show" || command == "restore") {
        if (targets.Paths.empty())
            return UsageError(command + " needs at least one PATH");
        return command == "show" ? orvane::cli::ShowTargets(targets) : orvane::cli::RestoreTargets(targets);
    }
    if (command == "set") {
        if (targets.Paths.size() < 2)
            return UsageError("set needs SOURCE[,INDEX] and at least one PATH");
        const char* source = targets.Paths.front();
        targets.Paths.erase(targets.Paths.begin());
        orvane::cli::IconChoice choice;
        if (!orvane::cli::ParseIconChoice(source, &choice, &error)) {
            std::fprintf(stderr, "orvane: %s\n", error.c_str());
            return 1;
        }
        return orvane::cli::SetIcon(choice, targets);
    }
    if (command == "remove-all") {
        if (argc != 2)
            return UsageError("remove-all takes no arguments");
        return orvane::cli::RemoveAll();
    }
    return UsageError("unknown command " + command);
}
