// The icon source functions (CheckIconFile, CountIcons) live with the icon resources.
#pragma once

#include "IconResources.h"
