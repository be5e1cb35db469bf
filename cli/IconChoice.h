// The icon a command line asks for: "SOURCE[,INDEX]" and the checks made before anything
// is written (the source exists and holds an icon with that index).
#pragma once

#include <cstdint>
#include <string>

#include "IconLocation.h"

namespace orvane::cli {

struct IconChoice {
    wchar_t Source[TextCapacity] = {}; // full path of the icon source
    std::int32_t Index = 0;            // negative values are resource ids
    // The source is a picture (its first bytes say so, or its name ends as a picture's
    // does): an icon is made from it rather than read out of it.
    bool IsPicture = false;
};

// Splits "SOURCE[,INDEX]" at its last comma when what follows is a whole decimal integer
// (optional sign); otherwise the whole text is the source and the index is 0. The source
// is resolved to a full path (as given, else along the search path, as the shell finds
// "shell32.dll") and must hold icons; a non-negative index must be below their count,
// and the chosen icon must load.
// A picture is taken as it is, without an index; MakeFolderPictureIcon checks it.
// False with a message for the user in *error.
bool ParseIconChoice(const wchar_t* text, IconChoice* choice, std::wstring* error);

} // namespace orvane::cli
