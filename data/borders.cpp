#include "data/borders.h"
