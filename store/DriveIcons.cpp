#include "DriveIcons.h"
