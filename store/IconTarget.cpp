#include "IconTarget.h"
