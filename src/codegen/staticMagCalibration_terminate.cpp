// The core keeps no state between calls: nothing to release.
#include "staticMagCalibration_terminate.h"

void staticMagCalibration_terminate() {}
