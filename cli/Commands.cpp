#include "Commands.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "IconTarget.h"
#include "PathText.h"
#include "Registry.h"
#include "RemoveAll.h"
#include "ShellNotify.h"

namespace orvane::cli {

namespace {

void Fail(const char* path, const std::string& message)
{
    std::fprintf(stderr, "orvane: %s: %s\n", path, message.c_str());
}

const char* KindWord(const IconTarget& target)
{
    switch (target.Kind()) {
    case TargetKind::Folder: return "Folder";
    case TargetKind::File: return target.AllOfType() ? "Type" : "File";
    case TargetKind::Drive: return "Drive";
    case TargetKind::Unclassified: break;
    }
    return "Unknown";
}

std::string ResultMessage(ChangeResult result)
{
    switch (result) {
    case ChangeResult::Done: return "done";
    case ChangeResult::NoExtension:
        return "has no extension; a file's icon belongs to the file type of its extension";
    case ChangeResult::PathTooLong: return "a path or icon source is too long (at most 259 characters)";
    case ChangeResult::AccessDenied:
        return "access denied; changing icons writes to HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT "
               "and needs administrator rights";
    case ChangeResult::WriteFailed: return "the icon could not be written";
    }
    return "failed";
}

// Why a change or restore was refused, by the scope that refused it and how that scope
// was chosen.
std::string AccessDeniedMessage(const IconTarget& target, bool restoring)
{
    const std::optional<Scope> refused = target.ChangedScope();
    if (!refused)
        return ResultMessage(ChangeResult::AccessDenied);
    if (*refused == Scope::AllUsers) {
        if (restoring)
            return "access denied; the icon was set for all users, and restoring it needs administrator rights: "
                   "all users' settings are machine-wide (HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT)";
        if (target.GetScopeChoice() == ScopeChoice::AllUsers)
            return "access denied; --for-all needs administrator rights: all users' settings are machine-wide "
                   "(HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT); --for-me changes it for this user only";
        return ResultMessage(ChangeResult::AccessDenied);
    }
    if (target.GetScopeChoice() == ScopeChoice::ThisUser)
        return "access denied; this user's settings (HKEY_CURRENT_USER) or the target itself refused the change";
    return "access denied; all users' settings need administrator rights, and this user's settings "
           "(HKEY_CURRENT_USER) or the target itself refused the change too";
}

const char* ScopeWords(const std::optional<Scope>& scope)
{
    if (!scope)
        return "(not set)";
    return *scope == Scope::ThisUser ? "for this user" : "for all users";
}

bool HasNoExtension(const char* path)
{
    return !NamesFileClass(FileExtension(path));
}

// The path as Explorer would hand it over: full, with long names, and without a trailing
// "\" except at a drive root. Relative paths and short names would otherwise become
// table entries and backups that no Explorer request ever finds.
bool ShellPath(const char* given, char (&out)[TextCapacity])
{
    char full[MAX_PATH + 1] = {};
    const DWORD length = GetFullPathNameA(given, sizeof full, full, nullptr);
    if (length == 0 || length >= TextCapacity)
        return false;
    char longer[MAX_PATH + 1] = {};
    const DWORD longLength = GetLongPathNameA(full, longer, sizeof longer);
    const char* chosen = longLength > 0 && longLength < TextCapacity ? longer : full;
    if (!CopyText(out, sizeof out, chosen))
        return false;
    std::size_t end = std::strlen(out);
    while (end > 3 && out[end - 1] == '\\')
        out[--end] = '\0';
    return true;
}

// Checks the path and prepares the target the way the dialog does when it opens:
// classify, read the current icon, remember it, then decide single file or all of type.
std::optional<IconTarget> OpenTarget(const char* path, const TargetList& targets)
{
    char shellPath[TextCapacity];
    if (std::strlen(path) >= TextCapacity || !ShellPath(path, shellPath)) {
        Fail(path, ResultMessage(ChangeResult::PathTooLong));
        return std::nullopt;
    }
    // A path that does not exist would classify as a folder (its attributes read as all
    // ones, directory bit included), so its existence is checked here first.
    if (GetFileAttributesA(shellPath) == INVALID_FILE_ATTRIBUTES) {
        Fail(path, "no such file, folder or drive");
        return std::nullopt;
    }
    IconTarget target(shellPath);
    target.SetScopeChoice(targets.Scope);
    if (target.Kind() == TargetKind::File && HasNoExtension(target.Path()))
        return target; // the caller decides; nothing of the type can be read
    target.ReadCurrentIcon();
    target.RememberOriginal(target.Current);
    target.SetAllOfType(targets.AllOfType);
    return target;
}

void PrintIcon(const std::optional<IconLocation>& icon)
{
    if (!icon || icon->IconPath[0] == '\0')
        std::printf("  icon:   (none)\n");
    else if (std::strstr(icon->IconPath, "%1") != nullptr)
        std::printf("  icon:   %s (each file's own icon, answered by Orvane as the type's icon handler)\n",
                    icon->IconPath);
    else if (icon->Index == NoIndex)
        std::printf("  icon:   %s\n", icon->IconPath);
    else
        std::printf("  icon:   %s,%d\n", icon->IconPath, static_cast<int>(icon->Index));
}

// Opens a target that can take a change: it exists and, if it is a file, its extension
// names a file type.
std::optional<IconTarget> OpenChangeableTarget(const char* path, const TargetList& targets)
{
    std::optional<IconTarget> target = OpenTarget(path, targets);
    if (target && target->Kind() == TargetKind::File && HasNoExtension(target->Path())) {
        Fail(path, ResultMessage(ChangeResult::NoExtension));
        return std::nullopt;
    }
    return target;
}

// Reports a change that was not made, or tells the shell about one that was.
bool ReportChange(const char* path, const IconTarget& target, ChangeResult result, bool restoring)
{
    if (result != ChangeResult::Done) {
        Fail(path, result == ChangeResult::AccessDenied ? AccessDeniedMessage(target, restoring) : ResultMessage(result));
        return false;
    }
    NotifyShell(target.Kind(), target.Path());
    return true;
}

// Opens each target in turn with `open` and hands it to `act`; a target that cannot be
// opened or whose action fails makes the status 1, and the others still go ahead.
template <class Open, class Act>
int ForEachTarget(const TargetList& targets, Open open, Act act)
{
    int status = 0;
    for (const char* path : targets.Paths) {
        std::optional<IconTarget> opened = open(path, targets);
        if (!opened || !act(path, *opened))
            status = 1;
    }
    return status;
}

} // namespace

int ShowTargets(const TargetList& targets)
{
    const bool mayChangeAllUsers = MayWrite(HKEY_LOCAL_MACHINE, ProductKey);
    return ForEachTarget(targets, OpenTarget, [mayChangeAllUsers](const char*, IconTarget& target) {
        std::printf("%s\n", target.Path());
        if (target.Kind() == TargetKind::File && HasNoExtension(target.Path())) {
            std::printf("  kind:   File (no extension)\n  icon:   (none)\n  backup: no\n");
            return true;
        }
        std::printf("  kind:   %s\n", KindWord(target));
        if (target.Kind() == TargetKind::File && target.Current && target.Current->TypeKey[0] != '\0')
            std::printf("  class:  %s\n", target.Current->TypeKey);
        PrintIcon(target.Current);
        // Where the icon is set matters once this user has a setting of their own, or
        // when this process may not change all users' settings; an administrator's view
        // of all users' settings reads as it always has.
        if (target.CurrentScope() == Scope::ThisUser || !mayChangeAllUsers)
            std::printf("  scope:  %s\n", ScopeWords(target.CurrentScope()));
        std::printf("  backup: %s\n", target.WhatRestoreWouldDo() == RestoreOutcome::Restores ? "yes" : "no");
        return true;
    });
}

int SetIcon(const IconChoice& choice, const TargetList& targets)
{
    return ForEachTarget(targets, OpenChangeableTarget, [&](const char* path, IconTarget& target) {
        if (!target.SetCurrentIconPath(choice.Source)) {
            Fail(path, ResultMessage(ChangeResult::PathTooLong));
            return false;
        }
        target.SetCurrentIndex(choice.Index);
        if (!ReportChange(path, target, target.ApplyIcon(), false))
            return false;
        std::printf("%s: %s icon set to %s,%d\n", target.Path(), KindWord(target), choice.Source,
                    static_cast<int>(choice.Index));
        return true;
    });
}

int RestoreTargets(const TargetList& targets)
{
    return ForEachTarget(targets, OpenChangeableTarget, [](const char* path, IconTarget& target) {
        switch (target.WhatRestoreWouldDo()) {
        case RestoreOutcome::NothingToRestore:
            std::printf("%s: nothing to restore (%s)\n", target.Path(), KindWord(target));
            return true;
        case RestoreOutcome::HandlerReplaced:
            Fail(path, std::string("the icon handler of class ") + target.Current->TypeKey +
                           " is no longer Orvane; its entry is kept");
            return false;
        case RestoreOutcome::Restores:
            break;
        }
        if (!ReportChange(path, target, target.RestoreDefault(), true))
            return false;
        std::printf("%s: %s icon restored\n", target.Path(), KindWord(target));
        return true;
    });
}

int RemoveAll()
{
    const LONG status = RemoveAllSettings();
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "orvane: remove-all: %s\n",
                     ResultMessage(ResultFromStatus(status)).c_str());
        return 1;
    }
    // The classes got their own DefaultIcon back; let the shell drop its cached icons.
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSHNOWAIT, nullptr, nullptr);
    std::printf("Orvane removed from every file type; per-file icons and folder backups deleted.\n");
    return 0;
}

} // namespace orvane::cli
