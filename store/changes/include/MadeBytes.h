// A made icon (from a picture, a colour, or a copy of another icon) given to a target of
// any kind, where that kind keeps its made icons.
#pragma once

#include <cstdint>
#include <vector>

#include "IconTarget.h"

namespace orvane {

// Writes the made icon's bytes where the target's icon lives and gives it to the target
// at index 0: a folder keeps it inside itself, named relative to it, so that it goes
// wherever the folder goes (ApplyMadeFolderBytes); a file, a type or a drive in the
// folder of made icons of the scope the change goes to (ApplyMadeIcon).
ChangeResult ApplyMadeBytes(IconTarget& target, const std::vector<std::uint8_t>& bytes);

} // namespace orvane
