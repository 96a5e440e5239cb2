// The core keeps no state between calls: nothing to prepare.
#include "staticMagCalibration_initialize.h"

void staticMagCalibration_initialize() {}
