// Start-up entry point of the calibration core.
#ifndef STATICMAGCALIBRATION_INITIALIZE_H
#define STATICMAGCALIBRATION_INITIALIZE_H

// Part of the core's interface; the core keeps no state, so there is nothing to prepare.
void staticMagCalibration_initialize();

#endif
