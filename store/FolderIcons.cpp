#include "FolderIcons.h"
