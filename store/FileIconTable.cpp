#include "FileIconTable.h"
