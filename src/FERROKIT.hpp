// The tool object: owns the samples read from a CSV file and the result of one calibration.
#ifndef FERROKIT_HPP
#define FERROKIT_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class FERROKIT {
 public:
  // Result of the last calibration. Field components and magnitudes are in gauss, angles in
  // radians. A corrected sample is (sample - hardIronOffset) * softIronMatrix, the sample taken
  // as a row vector.
  struct MAGRESULT {
    bool isCalibrationSucess = false;    // at least one sample accepted, every member finite
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
  // columns; row k comes from line k (the header is row 0), and a final newline adds a last,
  // empty row. A row is complete when its line's first three cells each converted to a number
  // (nan and inf included); only complete rows are calibrated. Cells that do not convert, and
  // lines that are not blank but have fewer than three cells, are reported on standard error (the
  // first 40 messages, then their count); such cells keep their previous value, 0 in a new row.
  // Returns false, with "Can not open csv file" on standard error and nothing changed, when the
  // path does not open as a regular file. Throws std::runtime_error, naming the file and the
  // reason, when reading fails or memory runs out; the columns are then empty.
  bool readMagnetometerMeasures(std::string filepath);

  // Computes the reference field at the position (degrees, degrees, metres above the WGS-84
  // ellipsoid) and calibrates the complete rows, in file order, against it with the relative
  // tolerance. Sets isCalibrationSucess when the record is finite, which needs at least one
  // accepted sample. Throws std::length_error, leaving the record unchanged, for more complete
  // rows than the core can index (sampleCountFitsCore).
  void magCalibration(double latitude, double longitude, double height, double tolerance);

  const MAGRESULT& getMagCalibResult() const { return mMagCalibResult; }
  const std::array<std::vector<double>, 3>& getMagnetometerMeasures() const {
    return mMagnetometerMeasures;
  }
  // One byte per row of the columns: 1 for a complete row, 0 otherwise.
  const std::vector<std::uint8_t>& getCompleteRows() const { return mCompleteRows; }
  std::size_t completeRowCount() const;

 private:
  MAGRESULT mMagCalibResult;
  std::array<std::vector<double>, 3> mMagnetometerMeasures;
  std::vector<std::uint8_t> mCompleteRows;
};

#endif
