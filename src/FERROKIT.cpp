#include "FERROKIT.hpp"

#include "coder_array.h"
#include "coreLimits.hpp"
#include "geomag.hpp"
#include "staticMagCalibration.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <filesystem>

FERROKIT::FERROKIT() = default;

FERROKIT::~FERROKIT() = default;

// Reads the file twice: once to count its newline characters, which sizes the three columns to
// that count plus one, and once to parse each line. Only a regular file (or a link to one) is
// opened: a directory has no content to read, a pipe or FIFO cannot be read a second time (its
// samples would be lost without a word) and opening a FIFO without a writer would block; all of
// these are reported like a file that cannot be opened.
bool FERROKIT::readMagnetometerMeasures(std::string filepath) {
  std::ifstream file;
  std::error_code statusError;
  if (std::filesystem::is_regular_file(filepath, statusError)) {
    file.open(filepath);
  }
  const bool isOpen = file.is_open();
  if (!isOpen) {
    std::cerr << "Can not open csv file" << std::endl;
    return false;
  }

  const std::size_t lineNumber = static_cast<std::size_t>(
      std::count(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>(), '\n'));
  for (std::vector<double>& column : mMagnetometerMeasures) {
    column.resize(lineNumber + 1);
  }
  file.clear();
  file.seekg(0, std::ios::beg);

  std::string line;
  std::string word;
  std::uint64_t counterLine = 0;
  const std::uint64_t rowCount = mMagnetometerMeasures[0].size();
  // The bound only matters if the file grew between the two passes.
  while (counterLine < rowCount && std::getline(file, line)) {
    std::stringstream str(line, std::ios::in | std::ios::out);
    for (std::uint8_t counterDataPerLine = 0; counterDataPerLine < 3; ++counterDataPerLine) {
      if (!std::getline(str, word, ',')) {
        break;
      }
      try {
        const double addedValue = std::stod(word);
        mMagnetometerMeasures[counterDataPerLine][counterLine] = addedValue;
      } catch (const std::invalid_argument&) {
        std::cerr << "Header : " << word << '\n';
      } catch (const std::out_of_range&) {
        std::cerr << "Header : " << word << '\n';
      }
    }
    ++counterLine;
  }
  file.close();
  return true;
}

// Reference field of the model at the position for the fixed decimal year 2024.0, converted
// to gauss, then the reference members of the result record: components, norms recomputed in
// double, inclination and declination in radians. The position is not checked.
void FERROKIT::magCalibration(double latitude, double longitude, double height, double tolerance) {
  // The core indexes its ten-column design matrix with int: a larger sample count is refused
  // before anything is computed, so a library caller cannot overflow it either.
  if (!sampleCountFitsCore(mMagnetometerMeasures[0].size())) {
    throw std::length_error(
        "too many samples to calibrate: " + std::to_string(mMagnetometerMeasures[0].size()) +
        " rows, at most " + std::to_string(kMaxCoreSampleCount));
  }
  const float fieldYear = 2024.0f;  // decimal year of the reference, whatever the date
  const double nanoteslaPerGauss = 100000.0;
  const double pi = 3.141592653589793;

  // Reference field in single precision: nanotesla, north-east-down, degrees.
  const float lat = static_cast<float>(latitude);
  const float lon = static_cast<float>(longitude);
  const geomag::Vector position = geomag::geodetic2ecef(lat, lon, static_cast<float>(height));
  const geomag::Vector mag_field = geomag::GeoMag(fieldYear, position, geomag::WMM2020);
  const geomag::Elements out = geomag::magField2Elements(mag_field, lat, lon);

  // Every sample row, the reader's zero rows included, as the core's N-by-3 column-major array.
  // A row count beyond the int extents of the array is refused by set_size (an exception, after
  // which nothing of the record is changed); the array is released however the method is left.
  coder::array<double, 2> magVector;
  magVector.set_size(mMagnetometerMeasures[0].size(), 3);
  const int sampleCount = magVector.size(0);
  for (int idx0 = 0; idx0 < sampleCount; ++idx0) {
    for (int idx1 = 0; idx1 < 3; ++idx1) {
      magVector[idx0 + sampleCount * idx1] = mMagnetometerMeasures[idx1][idx0];
    }
  }

  // Reference field in gauss: north, east, down.
  double wmmInput[3];
  wmmInput[0] = static_cast<double>(out.north) / nanoteslaPerGauss;
  wmmInput[1] = static_cast<double>(out.east) / nanoteslaPerGauss;
  wmmInput[2] = static_cast<double>(out.down) / nanoteslaPerGauss;

  // Calibration core: hard-iron offset, soft-iron matrix (column-major) and the mean corrected
  // magnitude of the accepted samples, all in the unit of the samples.
  double hardIronOffset[3];
  double softIronMatrix[9];
  double refNormMag;
  staticMagCalibration(magVector, wmmInput, tolerance, hardIronOffset, softIronMatrix, &refNormMag);

  // Reference members. The single-precision horizontal and total of the model are not used.
  MAGRESULT& result = mMagCalibResult;
  result.WMMRef[0] = wmmInput[0];
  result.WMMRef[1] = wmmInput[1];
  result.WMMRef[2] = wmmInput[2];
  const double horizontalSquared = wmmInput[0] * wmmInput[0] + wmmInput[1] * wmmInput[1];
  result.WMMRefNorm = std::sqrt(horizontalSquared + wmmInput[2] * wmmInput[2]);
  result.WMMRefHorizNorm = std::sqrt(horizontalSquared);
  result.WMMRefVerticalNorm = wmmInput[2];
  result.inclination = static_cast<double>(out.inclination) * pi / 180.0;
  result.declination = static_cast<double>(out.declination) * pi / 180.0;

  // Members from the core's outputs; the matrix turns from column-major into rows.
  result.magNormRef = refNormMag;
  result.magNormRefHoriz = std::cos(result.inclination) * refNormMag;
  result.magNormRefVertical = refNormMag * std::sin(result.inclination);
  for (int idx1 = 0; idx1 < 3; ++idx1) {
    result.hardIronOffset[idx1] = hardIronOffset[idx1];
  }
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      result.softIronMatrix[row][col] = softIronMatrix[row + 3 * col];
    }
  }
}
