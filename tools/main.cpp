// zonetool COMMAND ...: evaluation at a point, reproducible fits and other companions of zonefit.
#include "tools/commands/zonetool_main.h"

int main(int argc, char** argv) {
    return zonetoolMain(argc, argv);
}
