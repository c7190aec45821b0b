// A sample for scripts/include-loops: a.h and b.cpp include each other's headers.
#pragma once
#include "looped/c.h"
