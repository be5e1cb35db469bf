#include "FileTypeIcons.h"
