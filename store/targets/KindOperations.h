// What each kind of target does for IconTarget: one unit per kind (FolderTarget.cpp,
// FileTarget.cpp, TypeTarget.cpp, DriveTarget.cpp), chosen once by the target's kind.
#pragma once

#include "IconTarget.h"
#include "ScopeRule.h"

namespace orvane {

struct KindOperations {
    // Reads the target's icon into Current, and the scope it is set in.
    void (*Read)(IconTarget& target);
    // What a restore would go back to. Asked without regard to Current: the caller
    // answers NothingToRestore when there is none.
    RestoreOutcome (*WhatRestoreWouldDo)(const IconTarget& target);
    ChangeResult (*SaveBackup)(const IconTarget& target);
    ChangeResult (*Apply)(IconTarget& target);
    ChangeResult (*Restore)(IconTarget& target);
    // The scope that Apply would write to, asked before anything is written; anything but
    // Done is what Apply would answer before it got that far.
    ChangeResult (*ScopeOfChange)(const IconTarget& target, ScopeDecision& decision);
};

extern const KindOperations FolderOperations;
extern const KindOperations FileOperations;
extern const KindOperations TypeOperations;
extern const KindOperations DriveOperations;

// A file target reads the same whether it stands for one file or for its type: what it
// finds decides which of the two it is.
void ReadFileTarget(IconTarget& target);

// The extension of the file name in path, dot included. False when the name has none,
// or only a dot: then there is no class name to derive from it.
bool ExtensionOf(const wchar_t* path, wchar_t (&extension)[TextCapacity]);

// The type's icon as the files of the type without an entry of their own show it, and as
// the class keeps it once this extension's handler is uninstalled again (never the "%1"
// that the handler's installation leaves in DefaultIcon). foundIn (may be null) is the
// scope of the DefaultIcon key read.
std::optional<IconLocation> ReadTypeIconOfFiles(const wchar_t* extension, Scope* foundIn = nullptr);

// The class and extension a change of a file or a type writes: Current's when it names
// them, else the class Explorer takes the files' icon from (an extension that names no
// class gets "<ext>file", its letter case kept: REPORT.ABC gives ABCfile). Refuses what
// does not fit before anything is written.
ChangeResult LocationOfFileChange(const IconTarget& target, const wchar_t* extension, IconLocation& location);

// The scope a change of a file or a type goes to, decided before anything is written.
ScopeDecision FileChangeScope(const IconTarget& target, const IconLocation& location);

// The file's extension and the entry a change of it would write; NoExtension or
// PathTooLong when there is none.
ChangeResult PrepareFileChange(const IconTarget& target, wchar_t (&extension)[TextCapacity], IconLocation& location);

// The scope a change of a file or a type would go to, with what LocationOfFileChange
// would refuse first.
ChangeResult FileScopeOfChange(const IconTarget& target, ScopeDecision& decision);

// Whether a key below a class exists in this user's classes.
bool UserClassKeyExists(const wchar_t* className, const wchar_t* subkey);

} // namespace orvane
