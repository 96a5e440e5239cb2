// The tool object: owns the samples read from a CSV file and the result of one calibration.
#ifndef FERROKIT_HPP
#define FERROKIT_HPP

#include <array>
#include <string>
#include <vector>

class FERROKIT {
 public:
  // Result of the last calibration. Field components and magnitudes are in gauss, angles in
  // radians. A corrected sample is (sample - hardIronOffset) * softIronMatrix, the sample taken
  // as a row vector.
  struct MAGRESULT {
    bool isCalibrationSucess = false;    // declared for callers; nothing sets it
    double WMMRef[3] = {0.0, 0.0, 0.0};  // reference field: north, east, down (down positive)
    double WMMRefNorm = 0.0;             // |WMMRef|
    double WMMRefHorizNorm = 0.0;        // |(north, east)|
    double WMMRefVerticalNorm = 0.0;     // down component, signed
    double inclination = 0.0;            // radians, positive when the field points down
    double declination = 0.0;            // radians, positive east of north
    double magNormRef = 0.0;             // mean corrected magnitude of the accepted samples
    double magNormRefHoriz = 0.0;        // magNormRef * cos(inclination)
    double magNormRefVertical = 0.0;     // magNormRef * sin(inclination)
    double hardIronOffset[3] = {0.0, 0.0, 0.0};
    std::vector<std::array<double, 3>> softIronMatrix =
        std::vector<std::array<double, 3>>(3, std::array<double, 3>{0.0, 0.0, 0.0});  // rows
  };

  FERROKIT();
  ~FERROKIT();

  // Loads the first three comma-separated cells of every line of the file into the X, Y and Z
  // columns; row k comes from line k (the header is row 0). Cells that do not convert are
  // reported on standard error and keep their previous value. Returns whether the file opened.
  bool readMagnetometerMeasures(std::string filepath);

  // Computes the reference field at the position (degrees, degrees, metres above the WGS-84
  // ellipsoid) and calibrates the loaded samples against it with the relative tolerance.
  // Throws std::length_error, leaving the record unchanged, for more samples than the core can
  // index (sampleCountFitsCore).
  void magCalibration(double latitude, double longitude, double height, double tolerance);

  const MAGRESULT& getMagCalibResult() const { return mMagCalibResult; }
  const std::array<std::vector<double>, 3>& getMagnetometerMeasures() const {
    return mMagnetometerMeasures;
  }

 private:
  MAGRESULT mMagCalibResult;
  std::array<std::vector<double>, 3> mMagnetometerMeasures;
};

#endif
