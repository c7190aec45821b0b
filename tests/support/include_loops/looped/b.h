// A sample for scripts/include-loops.
#pragma once
