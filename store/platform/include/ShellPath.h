// Target paths as Explorer names the items: the one form under which every store keeps
// and finds a target, whichever road (the dialog, the command line) it came by.
#pragma once

#include "IconLocation.h"

namespace orvane {

// Forms the path Explorer hands over for the item that `given` names: full, without a
// device prefix ("\\?\", "\\.\", see WithoutDevicePrefix), with long names where the
// item exists, and without a trailing "\" except at a drive root ("C:\"). A relative path
// is taken from the current folder. Reads at most 519 characters of `given` (a device
// path may be a few longer than the plain path it names). False (out empty) for a null or empty path and for
// one whose plain form does not fit into 259 characters.
bool ShellPathOf(const wchar_t* given, wchar_t (&out)[TextCapacity]);

enum class PlaceKind { Local, Network, Removable };

// Where a full path lies: a UNC path ("\\server\share\...") or a drive that Windows
// reports as remote is a network share; a drive it reports as removable is removable.
PlaceKind PlaceOf(const wchar_t* path);

} // namespace orvane
