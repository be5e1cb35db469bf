// What kind of thing a path names, for the stores that keep its icon.
#pragma once

#include <cstdint>

namespace orvane {

// The kinds of target whose icon is changed. ClassifyTarget names what a path is (a
// folder, a file or a drive); Type is a file standing for all files of its type, which
// only the choice made for a file target gives.
enum class TargetKind : std::int32_t { Unclassified = 0, Folder = 1, File = 2, Drive = 3, Type = 4 };

// A path whose attributes cannot be read counts as a directory, hence a Folder (or a
// Drive when it has the form X:\). Never Type.
TargetKind ClassifyTarget(const wchar_t* path);

} // namespace orvane
