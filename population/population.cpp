#include "population/population.h"
