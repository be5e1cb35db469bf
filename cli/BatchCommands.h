// set and restore with --recurse: the targets and every folder below each folder target,
// changed through the store's batch, with progress on a console.
#pragma once

#include "Commands.h"

namespace orvane::cli {

int SetIconInTrees(const IconChoice& choice, const TargetList& targets);
int RestoreTrees(const TargetList& targets);

} // namespace orvane::cli
