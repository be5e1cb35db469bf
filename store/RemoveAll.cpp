#include "RemoveAll.h"
