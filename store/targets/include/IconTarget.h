// The thing whose icon is changed (a folder, one file, all files of a file's type, or a
// drive) and the dispatch of read, backup, apply and restore to the store that fits it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "IconLocation.h"
#include "Scope.h"
#include "ScopeRule.h"
#include "TargetKind.h"

namespace orvane {

// What a change did. Anything but Done means that something was not written.
enum class ChangeResult {
    Done,
    NoExtension,   // a file without an extension: no class to give an icon to
    PathTooLong,   // a path or text that does not fit; refused, nothing written
    AccessDenied,  // the registry or file refused the write (administrator rights)
    WriteFailed,   // any other failed write
    DesktopIniIsLink,   // a folder's Desktop.ini is a link to another place; nothing written through it
    DesktopIniIsFolder, // "Desktop.ini" in the folder is a folder; nothing written
    HandlerNotLoadable, // Explorer cannot load the icon handler a file's icon needs (another processor's); nothing written
};

// Maps a Win32 status of a write to a result.
ChangeResult ResultFromStatus(LONG status);

// What refused a change that was not made, when it was not the registry: a change that a
// scope's keys refused records none, and ChangedScope says whose keys they were.
enum class RefusingPlace {
    Folder,     // the folder itself: a file could not be made in it, or its attributes set
    DesktopIni, // the folder's Desktop.ini could not be read or written
    MadeIcon,   // the icon file made for the change could not be written where it goes
    Source,     // the icon source could not be read
};

struct Refusal {
    RefusingPlace Place = RefusingPlace::Folder;
    LONG Status = ERROR_SUCCESS; // the system's reason, a Win32 error
};

// Whether a result is one of a write that something refused (AccessDenied, WriteFailed,
// PathTooLong): the only results a Refusal goes with.
bool IsRefusedWrite(ChangeResult result);

// What the last ApplyIcon or RestoreDefault changed that Explorer shows, for the shell's
// notifications: the target's own item (a folder, one file, a drive root), and the data
// Explorer keeps for every item it applies to (a file type's icon or icon handler, a
// drive's icon setting), which it reads again only on an association change.
struct ShownChange {
    bool Item = false;
    bool Associations = false;
};

// What RestoreDefault would do for a target as it was opened.
enum class RestoreOutcome {
    Restores,        // there is something to go back to
    NothingToRestore,
    HandlerReplaced, // a file's own entry, kept because another icon handler serves its class now
};

class IconTarget {
public:
    // Takes the path as Explorer names the item (ShellPathOf: "\\?\C:\x" is C:\x) and
    // classifies it now; the path and what it names never change afterwards. A null path,
    // or one that does not end within 260 characters, is no target (Unclassified, empty
    // path) and is never handed to the platform.
    explicit IconTarget(const wchar_t* path);

    const wchar_t* Path() const { return path_; }
    // What the path names, as ClassifyTargetOrGoneFile found it: Folder, File, Drive or
    // Unclassified.
    TargetKind PathKind() const { return pathKind_; }
    // What a change changes: the path's kind, or Type for a file that stands for all
    // files of its type.
    TargetKind Kind() const { return AllOfType() ? TargetKind::Type : pathKind_; }

    // Only a file stands for all files of its type: for any other kind this is false
    // whatever SetAllOfType was told. A file starts as all of its type; ReadCurrentIcon
    // makes it a single file when it finds an icon.
    bool AllOfType() const { return pathKind_ == TargetKind::File && allOfType_; }
    void SetAllOfType(bool allOfType) { allOfType_ = allOfType; }

    // The icon being chosen: read by ReadCurrentIcon, changed by the dialog's choice,
    // written by ApplyIcon.
    std::optional<IconLocation> Current;
    // The icon the target had when it was opened, if any.
    const std::optional<IconLocation>& Original() const { return original_; }

    // Reads the target's icon into Current (which must be none) and returns it.
    const std::optional<IconLocation>& ReadCurrentIcon();
    void RememberOriginal(const std::optional<IconLocation>& location);
    // Whether the dialog offers Restore: a single file can always go back to its type's
    // icon; any other target when WhatRestoreWouldDo finds something to go back to.
    bool HasBackup() const;
    // Writes the backup a change needs (a folder's, a type's); ApplyIcon calls it.
    ChangeResult SaveBackup() const;
    ChangeResult ApplyIcon();
    ChangeResult RestoreDefault();
    // The scope ApplyIcon would write to as the target is now, asked before anything is
    // written (where a made icon must go). Anything but Done is the refusal ApplyIcon
    // would give before deciding a scope; a decision may still be Refused.
    ChangeResult ScopeOfChange(ScopeDecision& decision) const;
    // What the last of the two changed; nothing when it failed.
    const ShownChange& LastChange() const { return lastChange_; }
    // What RestoreDefault would do, asked of the target as it was opened.
    RestoreOutcome WhatRestoreWouldDo() const;

    // Which scope a change goes to: Automatic (all users when every place the change
    // writes, its backup included, accepts the write; this user otherwise), or one scope
    // on purpose. A chosen scope that refuses the write gives AccessDenied, nothing written.
    void SetScopeChoice(ScopeChoice choice) { scopeChoice_ = choice; }
    ScopeChoice GetScopeChoice() const { return scopeChoice_; }
    // The scope in which the icon that ReadCurrentIcon found is set; none when the target
    // shows an icon that is not its own setting (its class's from the system, the Folder
    // or Drive class's).
    std::optional<Scope> CurrentScope() const { return currentScope_; }
    // The scope that the last ApplyIcon or RestoreDefault wrote to (or was refused in).
    std::optional<Scope> ChangedScope() const { return changedScope_; }
    // What refused the last change beside the registry (see Refusal); none when it was
    // made, when a registry key refused it, and for a result that is no refused write.
    const std::optional<Refusal>& LastRefusal() const { return refusal_; }

    // Accessors the dialog uses; each creates an empty Current when there is none.
    bool SetCurrentIconPath(const wchar_t* path);
    void SetCurrentIndex(std::int32_t index);
    const wchar_t* CurrentIconPath() const { return Current ? Current->IconPath : nullptr; }
    std::int32_t CurrentIndex() const { return Current ? Current->Index : -1; }

    // What each kind's unit records of what it read and wrote.
    void SetCurrentScope(std::optional<Scope> scope) { currentScope_ = scope; }
    void SetChangedScope(std::optional<Scope> scope) { changedScope_ = scope; }
    void SetRefusal(std::optional<Refusal> refusal) { refusal_ = refusal; }

private:
    ChangeResult RecordChange(ChangeResult (*change)(IconTarget&));

    wchar_t path_[TextCapacity] = {};
    TargetKind pathKind_ = TargetKind::Unclassified;
    bool allOfType_ = true;
    std::optional<IconLocation> original_;
    ScopeChoice scopeChoice_ = ScopeChoice::Automatic;
    std::optional<Scope> currentScope_;
    std::optional<Scope> changedScope_;
    std::optional<Refusal> refusal_;
    ShownChange lastChange_;
};

// Opens a target as the dialog and the command line do: makes it for the path with the
// scope choice, reads its current icon and remembers it as the original. A file without
// an entry of its own first takes the entry its file left behind at another path when it
// was renamed or moved (FollowMovedFile); it then stands for all files of its type when
// no icon was found for it. A file without an extension is made and not read (nothing of
// a type can be read for it).
IconTarget OpenTarget(const wchar_t* path, ScopeChoice choice = ScopeChoice::Automatic);

} // namespace orvane
