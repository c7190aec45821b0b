#include "models/SS_F.h"
