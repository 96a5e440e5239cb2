// Shut-down entry point of the calibration core.
#ifndef STATICMAGCALIBRATION_TERMINATE_H
#define STATICMAGCALIBRATION_TERMINATE_H

// Part of the core's interface; the core keeps no state, so there is nothing to release.
void staticMagCalibration_terminate();

#endif
