// A sample for scripts/include-loops.
#include "looped/a.h"
