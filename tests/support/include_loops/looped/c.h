// A sample for scripts/include-loops: closes the ring a -> c -> b -> a.
#pragma once
#include "looped/b.h"
