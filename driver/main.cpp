// zonefit MODEL: fits one hybrid-zone model to the built-in transect data.
#include "driver/zonefit_main.h"

int main(int argc, char** argv) {
    return zonefitMain(argc, argv);
}
