// The thing whose icon is changed (a folder, one file, all files of a file's type, or a
// drive) and the dispatch of read, backup, apply and restore to the store that fits it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "IconLocation.h"

namespace orvane {

enum class TargetKind : std::int32_t { Unclassified = 0, Folder = 1, File = 2, Drive = 3 };

// A path whose attributes cannot be read counts as a directory, hence a Folder (or a
// Drive when it has the form X:\).
TargetKind ClassifyTarget(const char* path);

// What a change did. Anything but Done means that something was not written.
enum class ChangeResult {
    Done,
    NoExtension,   // a file without an extension: no class to give an icon to
    PathTooLong,   // a path or text that does not fit; refused, nothing written
    AccessDenied,  // the registry or file refused the write (administrator rights)
    WriteFailed,   // any other failed write
};

// Maps a Win32 status of a write to a result.
ChangeResult ResultFromStatus(LONG status);

class IconTarget {
public:
    char TargetPath[TextCapacity] = {};
    std::optional<IconLocation> Current;
    std::optional<IconLocation> Original;

    // Classifies TargetPath on first use; the kind never changes afterwards.
    TargetKind Kind();
    bool AllOfType() const { return allOfType_; }
    void SetAllOfType(bool allOfType) { allOfType_ = allOfType; }

    // Reads the target's icon into Current (which must be none) and returns it.
    const std::optional<IconLocation>& ReadCurrentIcon();
    void RememberOriginal(const std::optional<IconLocation>& location);
    bool HasBackup();
    ChangeResult SaveBackup();
    ChangeResult ApplyIcon();
    ChangeResult RestoreDefault();

    // Accessors the dialog uses; each creates an empty Current when there is none.
    bool SetCurrentIconPath(const char* path);
    void SetCurrentIndex(std::int32_t index);
    const char* CurrentIconPath() const { return Current ? Current->IconPath : nullptr; }
    std::int32_t CurrentIndex() const { return Current ? Current->Index : -1; }

private:
    TargetKind kind_ = TargetKind::Unclassified;
    bool allOfType_ = true;
};

// Makes a location the type's icon: into "HandlerIconInfo" while this extension is the
// class's icon handler, into DefaultIcon's default value otherwise.
LONG SetTypeIcon(const IconLocation& location);

} // namespace orvane
