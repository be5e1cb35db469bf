// What Explorer shows of a file's type, read before and after a change of a file or a
// type, so that the shell is told of a change of the type's data only when there was one.
#pragma once

#include <optional>

#include "IconLocation.h"

namespace orvane {

// What Explorer reads for the type of a file: whether it asks this extension's handler
// for each file's icon (the class's visible DefaultIcon is its "%1"), and the icon of the
// files without one of their own. A change that leaves both as they were changed one
// file's answer only, and Explorer need not drop what it keeps for the type.
struct TypeAsShown {
    bool HandlerAsked = false;
    std::optional<IconLocation> Icon;
};

TypeAsShown ReadTypeAsShown(const wchar_t* path);

// Whether Explorer would show the type the same way.
bool SameAsShown(const TypeAsShown& a, const TypeAsShown& b);

} // namespace orvane
