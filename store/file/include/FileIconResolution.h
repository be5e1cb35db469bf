// The icon handler's answer for one file: where its icon is, and which rule said so.
// The rules, first found:
//   1. the file's entry in the per-file table (this user's, then all users'); for a file
//      without one, the entry of a file that is gone from its path and whose identity is
//      this file's: it was renamed or moved within its volume (FileIconFollow.h), as the
//      last look for moved files, made on the thread pool, found it (OrphanIndex.h);
//   2. while this extension is the class's icon handler, the type's icon chosen since
//      ("HandlerIconInfo");
//   3. what the class's previous icon handler (shellex\IconHandlerBAK) answers;
//   4. the class's DefaultIcon; while this extension is the handler that text is "%1",
//      which stands for the type's icon from before the installation (DefaultIconBAK),
//      so that the other files of the type keep their icon;
//   5. the file itself, index 0.
// Class keys are read as this user sees them (this user's classes over all users').
// "%1" anywhere in a location's path stands for the file itself. What the registry said is
// kept between requests only while a watch of the keys it came from shows no change, so
// that a change made before a request is in its answer. The facts an answer is made of
// are checked as of one moment, also while other threads write (a request that finds no
// quiet moment for 200 ms reads them without that check). Any number of threads may ask
// at once.
#pragma once

#include <cstdint>
#include <optional>

#include "IconLocation.h"

namespace orvane {

enum class FileIconRule {
    NotAFile,          // no path, one of 260 characters or more, a folder, a drive root
    TableEntry,        // the file's own entry
    HandlerIconInfo,   // the type's icon chosen while this extension is the handler
    PreviousHandler,   // the answer of the class's previous icon handler
    DefaultIconBackup, // the class's DefaultIcon text from before installing
    DefaultIcon,       // the class's DefaultIcon
    FileItself,        // no location anywhere: the file is its own icon
};

struct FileIconAnswer {
    FileIconRule Rule = FileIconRule::NotAFile;
    // Empty for NotAFile; the file's own path where the rule's location names "%1".
    wchar_t IconPath[TextCapacity] = {};
    // 0 where the location gave no index.
    std::int32_t Index = 0;
};

// Asks the icon handler whose class identifier text (from shellex\IconHandlerBAK, at least
// two characters, not checked further) is clsidText where filePath's icon is. None when it
// cannot be asked or gives no location that can be passed on.
using PreviousIconHandler = std::optional<IconLocation> (*)(const wchar_t* clsidText, const wchar_t* filePath);

// askPrevious may be null: no previous handler is asked then.
FileIconAnswer ResolveFileIcon(const wchar_t* path, PreviousIconHandler askPrevious);

} // namespace orvane
