#include "population/utils.h"
