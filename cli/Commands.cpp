#include "Commands.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <cwchar>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "ClassIconHandler.h"
#include "ConsoleText.h"
#include "ErrorText.h"
#include "FileIconTable.h"
#include "FolderColourIcon.h"
#include "FolderIcons.h"
#include "IconGroupFile.h"
#include "MadeIconSweep.h"
#include "FolderTrust.h"
#include "IconTarget.h"
#include "MadeIconChanges.h"
#include "MadeIconFile.h"
#include "MadeIconPlaces.h"
#include "PathText.h"
#include "PictureIcon.h"
#include "RemoveAll.h"
#include "ShellPath.h"
#include "ShellNotify.h"

namespace orvane::cli {

namespace {

void Fail(const wchar_t* path, const std::wstring& message)
{
    WriteErr(std::wstring(L"orvane: ") + path + L": " + message + L"\n");
}

const wchar_t* KindWord(const IconTarget& target)
{
    switch (target.Kind()) {
    case TargetKind::Folder: return L"Folder";
    case TargetKind::File: return L"File";
    case TargetKind::Type: return L"Type";
    case TargetKind::Drive: return L"Drive";
    case TargetKind::Unclassified: break;
    }
    return L"Unknown";
}

std::wstring ResultMessage(ChangeResult result)
{
    switch (result) {
    case ChangeResult::Done: return L"done";
    case ChangeResult::NoExtension:
        return L"has no extension; a file's icon belongs to the file type of its extension";
    case ChangeResult::PathTooLong: return L"a path or icon source is too long (at most 259 characters)";
    case ChangeResult::AccessDenied:
        return L"access denied; a key of all users' settings (HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT) refused "
               L"the write";
    case ChangeResult::WriteFailed: return L"the icon could not be written";
    case ChangeResult::DesktopIniIsLink:
        return L"the folder's Desktop.ini is a link to another place, not a file of the folder's own; "
               L"nothing is written through it";
    case ChangeResult::DesktopIniIsFolder:
        return L"the folder holds a folder named Desktop.ini where Windows reads the folder's icon from a file "
               L"of that name; nothing written";
    }
    return L"failed";
}

// Why a change or restore was refused, by the scope that refused it and how that scope
// was chosen; a registry key refused it (RefusalText names any other place).
std::wstring AccessDeniedMessage(const IconTarget& target, bool restoring)
{
    const std::optional<Scope> refused = target.ChangedScope();
    if (!refused)
        return ResultMessage(ChangeResult::AccessDenied);
    if (*refused == Scope::AllUsers) {
        if (restoring)
            return L"access denied; the icon was set for all users, and restoring it needs administrator rights: "
                   L"all users' settings are machine-wide (HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT)";
        if (target.GetScopeChoice() == ScopeChoice::AllUsers)
            return L"access denied; --for-all needs administrator rights: all users' settings are machine-wide "
                   L"(HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT); --for-me changes it for this user only";
        return ResultMessage(ChangeResult::AccessDenied);
    }
    if (target.GetScopeChoice() == ScopeChoice::ThisUser)
        return L"access denied; this user's settings (HKEY_CURRENT_USER) or the target itself refused the change";
    return L"access denied; all users' settings need administrator rights, and this user's settings "
           L"(HKEY_CURRENT_USER) or the target itself refused the change too";
}

const wchar_t* ScopeWords(const std::optional<Scope>& scope)
{
    if (!scope)
        return L"(not set)";
    return *scope == Scope::ThisUser ? L"for this user" : L"for all users";
}

bool HasNoExtension(const wchar_t* path)
{
    return !NamesFileClass(FileExtension(path));
}

// Whether a command opens a file deleted since its icon was set: show and restore do,
// as they need nothing of the file itself; a change of it is refused.
enum class GoneFiles { Refused, Opened };

// Checks the path and opens the target the way the dialog does, then decides single
// file or all of type as the command line asked.
std::optional<IconTarget> OpenTarget(const wchar_t* path, const TargetList& targets, GoneFiles gone)
{
    // The empty path names nothing (the platform cannot even complete it).
    if (*path == L'\0') {
        Fail(path, L"no such file, folder or drive");
        return std::nullopt;
    }
    wchar_t shellPath[TextCapacity];
    // Relative paths, short names and device paths ("\\?\C:\x") would otherwise become
    // table entries and backups that no Explorer request ever finds.
    if (!ShellPathOf(path, shellPath)) {
        Fail(path, ResultMessage(ChangeResult::PathTooLong));
        return std::nullopt;
    }
    // A path that does not exist would classify as a folder (its attributes read as all
    // ones, directory bit included), so its existence is checked here first; a file that
    // has gone since its icon was set is opened as the file its entry names.
    if (GetFileAttributesW(shellPath) == INVALID_FILE_ATTRIBUTES &&
        (gone == GoneFiles::Refused || !IsGoneFileWithEntry(shellPath))) {
        Fail(path, L"no such file, folder or drive");
        return std::nullopt;
    }
    IconTarget target = orvane::OpenTarget(shellPath, targets.Scope);
    target.SetAllOfType(targets.AllOfType);
    return target;
}

// A file whose name gives no file type: nothing can be set for it in any scope.
bool HasNoFileType(const IconTarget& target)
{
    return target.PathKind() == TargetKind::File && HasNoExtension(target.Path());
}

// "path,index" as the command line and the stores write it.
std::wstring LocationText(const wchar_t* path, std::int32_t index)
{
    wchar_t text[PathIndexCapacity];
    return FormatPathIndex(path, index, text, std::size(text)) ? text : L"";
}

// Who answers a "%1" type's icon for each file: this extension only while it is the
// class's icon handler; another program's handler, or none (the file itself).
std::wstring HandlerWords(const IconLocation& typeIcon)
{
    if (IsOwnIconHandler(typeIcon))
        return L"each file's own icon, answered by Orvane as the type's icon handler";
    wchar_t handler[TextCapacity] = {};
    if (typeIcon.TypeKey[0] != L'\0' && ReadIconHandlerText(typeIcon.TypeKey, HandlerSlot::Current, handler) &&
        handler[0] != L'\0')
        return std::wstring(L"each file's icon, answered by another program's icon handler ") + handler;
    return L"the file itself";
}

void PrintIcon(const std::optional<IconLocation>& icon)
{
    if (!icon || icon->IconPath[0] == L'\0')
        WriteOut(L"  icon:   (none)\n");
    else if (std::wcsstr(icon->IconPath, L"%1") != nullptr)
        WriteOut(std::wstring(L"  icon:   ") + icon->IconPath + L" (" + HandlerWords(*icon) + L")\n");
    else if (icon->Index == NoIndex)
        WriteOut(std::wstring(L"  icon:   ") + icon->IconPath + L"\n");
    else
        WriteOut(L"  icon:   " + LocationText(icon->IconPath, icon->Index) + L"\n");
}

// A folder icon named relative to the folder (a made icon) and where it is found now.
void PrintResolvedFolderIcon(const IconTarget& target)
{
    wchar_t resolved[TextCapacity];
    if (target.Kind() != TargetKind::Folder || !target.Current ||
        !ResolveFolderIconPath(target.Path(), target.Current->IconPath, resolved) ||
        std::wcscmp(resolved, target.Current->IconPath) == 0)
        return;
    WriteOut(std::wstring(L"  file:   ") + resolved + L"\n");
}

// Opens a target whose icon can be set (or restored): it exists (or is a gone file, as
// `gone` allows) and, if it is a file, its extension names a file type.
std::optional<IconTarget> OpenTargetOfType(const wchar_t* path, const TargetList& targets, GoneFiles gone)
{
    std::optional<IconTarget> target = OpenTarget(path, targets, gone);
    if (target && HasNoFileType(*target)) {
        Fail(path, ResultMessage(ChangeResult::NoExtension));
        return std::nullopt;
    }
    return target;
}

std::optional<IconTarget> OpenChangeableTarget(const wchar_t* path, const TargetList& targets)
{
    return OpenTargetOfType(path, targets, GoneFiles::Refused);
}

std::optional<IconTarget> OpenRestorableTarget(const wchar_t* path, const TargetList& targets)
{
    return OpenTargetOfType(path, targets, GoneFiles::Opened);
}

std::optional<IconTarget> OpenShownTarget(const wchar_t* path, const TargetList& targets)
{
    return OpenTarget(path, targets, GoneFiles::Opened);
}

// Reports a change that was not made; ForEachTarget tells the shell about those that were.
bool ReportChange(const wchar_t* path, const IconTarget& target, ChangeResult result, bool restoring)
{
    if (result == ChangeResult::Done)
        return true;
    if (target.LastRefusal() && IsRefusedWrite(result))
        Fail(path, RefusalText(target.Path(), *target.LastRefusal(), result == ChangeResult::PathTooLong));
    else
        Fail(path, result == ChangeResult::AccessDenied ? AccessDeniedMessage(target, restoring) : ResultMessage(result));
    return false;
}

// What may keep Windows from showing a folder's icon; none for other kinds.
TrustFindings FindingsOf(const IconTarget& target)
{
    if (target.Kind() != TargetKind::Folder)
        return {};
    return CheckFolderIconTrust(target.Path(), target.Current ? target.Current->IconPath : nullptr);
}

std::wstring FindingWarning(TrustFinding finding)
{
    return std::wstring(L"Windows may not show this folder's icon: ") + TrustFindingText(finding);
}

// After a folder's icon is set: removes the mark from its Desktop.ini where the command
// line asked for that, and warns of every finding that stays. False only when the asked
// removal failed.
bool SettleTrust(const wchar_t* path, const IconTarget& target, bool trustDesktopIni)
{
    TrustFindings findings = FindingsOf(target);
    bool removed = true;
    if (trustDesktopIni && findings.Has(TrustFinding::DesktopIniMarked)) {
        const LONG status = RemoveDesktopIniMark(target.Path());
        removed = status == ERROR_SUCCESS;
        if (removed) {
            findings.Bits &= ~static_cast<std::uint32_t>(TrustFinding::DesktopIniMarked);
            WriteOut(std::wstring(target.Path()) + L": mark of the web removed from Desktop.ini\n");
        } else {
            Fail(path, L"the mark of the web could not be removed from Desktop.ini (error " + std::to_wstring(status) +
                           L")");
        }
    }
    for (TrustFinding finding : AllTrustFindings) {
        if (findings.Has(finding))
            WriteErr(std::wstring(L"orvane: warning: ") + path + L": " + FindingWarning(finding) + L"\n");
    }
    if (findings.Has(TrustFinding::DesktopIniMarked))
        WriteErr(std::wstring(L"orvane: warning: ") + path +
                 L": if you trust this folder's Desktop.ini, --trust-desktop-ini removes its mark\n");
    return removed;
}

// Opens each target in turn with `open` and hands it to `act`; a target that cannot be
// opened or whose action fails makes the status 1, and the others still go ahead. What
// the actions changed is told to the shell once, after the last: one notification per
// changed item and at most one association change for the whole batch.
template <class Open, class Act>
int ForEachTarget(const TargetList& targets, Open open, Act act)
{
    int status = 0;
    ShellNotifier notifier;
    for (const wchar_t* path : targets.Paths) {
        std::optional<IconTarget> opened = open(path, targets);
        if (!opened || !act(path, *opened))
            status = 1;
        if (opened)
            notifier.Add(*opened);
    }
    notifier.Send();
    return status;
}

} // namespace

std::wstring RefusalText(const wchar_t* path, const Refusal& refusal, bool tooLong)
{
    const std::wstring reason = SystemErrorText(refusal.Status);
    const bool folder = ClassifyTarget(path) == TargetKind::Folder;
    switch (refusal.Place) {
    case RefusingPlace::Folder: return L"the folder refused the write: " + reason;
    case RefusingPlace::DesktopIni: return L"its Desktop.ini refused the write: " + reason;
    case RefusingPlace::Source: return L"the icon source cannot be read: " + reason;
    case RefusingPlace::MadeIcon:
        if (tooLong && folder)
            return L"the made icon's path would be too long: the folder's path with "
                   L"\\.orvane-<16 hex digits>.ico is " +
                   std::to_wstring(InFolder(path, MadeIconName(0)).size()) +
                   L" characters, and at most 259 fit; nothing written";
        if (tooLong)
            return L"the made icon's path would be too long (at most 259 characters); nothing written";
        return std::wstring(folder ? L"the made icon could not be written into the folder: "
                                   : L"the made icon could not be written into Orvane's folder of made icons: ") +
               reason;
    }
    return reason;
}

int ShowTargets(const TargetList& targets)
{
    return ForEachTarget(targets, OpenShownTarget, [](const wchar_t*, IconTarget& target) {
        WriteOut(std::wstring(target.Path()) + L"\n");
        if (HasNoFileType(target)) {
            // No file type: nothing can be set for it in any scope.
            WriteOut(L"  kind:   File (no extension)\n  icon:   (none)\n  scope:  (not set)\n  backup: no\n");
            return true;
        }
        WriteOut(std::wstring(L"  kind:   ") + KindWord(target) + L"\n");
        if (target.PathKind() == TargetKind::File && target.Current && target.Current->TypeKey[0] != L'\0')
            WriteOut(std::wstring(L"  class:  ") + target.Current->TypeKey + L"\n");
        PrintIcon(target.Current);
        PrintResolvedFolderIcon(target);
        WriteOut(std::wstring(L"  scope:  ") + ScopeWords(target.CurrentScope()) + L"\n");
        WriteOut(std::wstring(L"  backup: ") +
                 (target.WhatRestoreWouldDo() == RestoreOutcome::Restores ? L"yes" : L"no") + L"\n");
        const TrustFindings findings = FindingsOf(target);
        for (TrustFinding finding : AllTrustFindings) {
            if (findings.Has(finding))
                WriteOut(L"  warning: " + FindingWarning(finding) + L"\n");
        }
        return true;
    });
}

namespace {

// --copy: the chosen icon, every size of it, copied into the folder and named relative to
// it.
bool SetCopyWithFolder(const wchar_t* path, const IconChoice& choice, IconTarget& target)
{
    if (target.Kind() != TargetKind::Folder) {
        Fail(path, L"--copy keeps a copy of the icon inside a folder; it is for folders only, not for a " +
                       std::wstring(KindWord(target)));
        return false;
    }
    std::vector<std::uint8_t> bytes;
    if (!CopyIconBytes(choice.Source, choice.Index, bytes)) {
        Fail(path, L"the icon " + LocationText(choice.Source, choice.Index) + L" cannot be copied");
        return false;
    }
    if (!ReportChange(path, target, KeepCopyWithFolder(target, choice.Source, choice.Index), false))
        return false;
    WriteOut(std::wstring(target.Path()) + L": Folder icon set to " + LocationText(target.CurrentIconPath(), 0) +
             L", a copy of " + LocationText(choice.Source, choice.Index) + L"\n");
    return true;
}

// A picture: the icon made from it inside a folder, named by its file name alone; for
// the other kinds in the folder of made icons of the scope the change goes to, named by
// its full path.
bool SetPicture(const wchar_t* path, const IconChoice& choice, IconTarget& target)
{
    std::vector<std::uint8_t> bytes;
    const PictureProblem problem = MakeIconBytesFromPicture(choice.Source, bytes);
    if (problem != PictureProblem::None) {
        Fail(path, std::wstring(choice.Source) + L": " + PictureProblemText(problem));
        return false;
    }
    const ChangeResult result =
        target.Kind() == TargetKind::Folder ? ApplyMadeFolderBytes(target, bytes) : ApplyMadeIcon(target, bytes);
    if (!ReportChange(path, target, result, false))
        return false;
    WriteOut(std::wstring(target.Path()) + L": " + KindWord(target) + L" icon set to " +
             LocationText(target.CurrentIconPath(), 0) + L", made from " + choice.Source + L"\n");
    return true;
}

// The imaging component needs COM on this thread while pictures are made.
class ComForPictures {
public:
    explicit ComForPictures(bool wanted)
        : initialised_(wanted && SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComForPictures()
    {
        if (initialised_)
            CoUninitialize();
    }
    ComForPictures(const ComForPictures&) = delete;
    ComForPictures& operator=(const ComForPictures&) = delete;

private:
    bool initialised_;
};

} // namespace

int SetIcon(const IconChoice& choice, const TargetList& targets)
{
    const ComForPictures com(choice.IsPicture);
    return ForEachTarget(targets, OpenChangeableTarget, [&](const wchar_t* path, IconTarget& target) {
        if (!target.SetCurrentIconPath(choice.Source)) {
            Fail(path, ResultMessage(ChangeResult::PathTooLong));
            return false;
        }
        if (choice.IsPicture)
            return SetPicture(path, choice, target) && SettleTrust(path, target, targets.TrustDesktopIni);
        if (targets.CopyWithFolder)
            return SetCopyWithFolder(path, choice, target) && SettleTrust(path, target, targets.TrustDesktopIni);
        target.SetCurrentIndex(choice.Index);
        if (!ReportChange(path, target, target.ApplyIcon(), false))
            return false;
        WriteOut(std::wstring(target.Path()) + L": " + KindWord(target) + L" icon set to " +
                 LocationText(choice.Source, choice.Index) + L"\n");
        return SettleTrust(path, target, targets.TrustDesktopIni);
    });
}

namespace {

// A coloured folder icon, made inside the folder like a picture's. Other kinds have no
// folder picture to colour.
bool SetFolderColour(const wchar_t* path, FolderColour colour, const TargetList& targets, IconTarget& target)
{
    if (target.Kind() != TargetKind::Folder) {
        Fail(path, L"a colour can be given to folders only; nothing written");
        return false;
    }
    std::vector<std::uint8_t> bytes;
    try {
        bytes = FolderColourIconBytes(colour);
    } catch (const std::bad_alloc&) {
        bytes.clear();
    }
    if (bytes.empty()) {
        Fail(path, L"there is not enough memory to make the coloured icon");
        return false;
    }
    if (!ReportChange(path, target, ApplyMadeFolderBytes(target, bytes), false))
        return false;
    WriteOut(std::wstring(target.Path()) + L": Folder icon set to " + LocationText(target.CurrentIconPath(), 0) +
             L", coloured " + targets.Colour + L"\n");
    return SettleTrust(path, target, targets.TrustDesktopIni);
}

} // namespace

int SetColour(const TargetList& targets)
{
    const std::optional<FolderColour> colour = ParseFolderColour(targets.Colour);
    if (!colour) {
        std::wstring names;
        for (const NamedColour& named : FolderPalette())
            names += std::wstring(names.empty() ? L"" : L", ") + named.Name;
        WriteErr(std::wstring(L"orvane: ") + targets.Colour + L" is not a colour; give one of " + names +
                 L", or #RRGGBB\n");
        return 1;
    }
    return ForEachTarget(targets, OpenChangeableTarget, [&](const wchar_t* path, IconTarget& target) {
        return SetFolderColour(path, *colour, targets, target);
    });
}

int RestoreTargets(const TargetList& targets)
{
    return ForEachTarget(targets, OpenRestorableTarget, [](const wchar_t* path, IconTarget& target) {
        switch (target.WhatRestoreWouldDo()) {
        case RestoreOutcome::NothingToRestore:
            WriteOut(std::wstring(target.Path()) + L": nothing to restore (" + KindWord(target) + L")\n");
            return true;
        case RestoreOutcome::HandlerReplaced:
            Fail(path, std::wstring(L"the icon handler of class ") + target.Current->TypeKey +
                           L" is no longer Orvane; its entry is kept");
            return false;
        case RestoreOutcome::Restores:
            break;
        }
        if (!ReportChange(path, target, target.RestoreDefault(), true))
            return false;
        WriteOut(std::wstring(target.Path()) + L": " + KindWord(target) + L" icon restored\n");
        return true;
    });
}

int RemoveAll()
{
    const LONG status = RemoveAllSettings();
    // The classes got their own DefaultIcon back (this user's also when all users' were
    // refused); let the shell drop its cached icons.
    NotifyAssociationsChanged();
    if (status != ERROR_SUCCESS) {
        WriteErr(L"orvane: remove-all: " + ResultMessage(ResultFromStatus(status)) + L"\n");
        return 1;
    }
    WriteOut(L"Orvane removed from every file type; per-file icons and folder backups deleted.\n");
    return 0;
}

} // namespace orvane::cli
