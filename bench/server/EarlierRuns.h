// What an earlier run of this benchmark left when it was ended before its own clean-up
// (a time limit, Ctrl+C, a crash): its classes, its table entries and identities, and its
// folder of files. Left in place they change what the next run measures: 50,000 entries
// whose files are gone make every file that a batch opens look through all their
// identities, and the icon handler's walk search the disk for each lost file.
#pragma once

#include <cstddef>

namespace orvane::bench {

struct Removed {
    std::size_t Classes = 0;
    std::size_t Values = 0;
    std::size_t Files = 0;
};

// Removes what runs that are no longer running left; a run under way keeps its own.
Removed RemoveEarlierRuns();

} // namespace orvane::bench
