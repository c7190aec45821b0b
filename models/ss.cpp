#include "models/ss.h"
