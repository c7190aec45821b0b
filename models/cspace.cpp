#include "models/cspace.h"
