#include "FERROKIT.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

#include "coreLimits.hpp"
#include "csvColumns.hpp"
#include "geomag.hpp"
#include "printable.hpp"
#include "staticMagCalibration.h"

FERROKIT::FERROKIT() = default;

FERROKIT::~FERROKIT() = default;

namespace {

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The path as it may be echoed in a message.
std::string quotedPath(const std::string& path) {
  return "'" + printableText(path.data(), path.data() + path.size(), 4096) + "'";
}

}  // namespace

// The path is opened once, without blocking and without being inherited by child processes, and
// the open descriptor is checked: only a regular file is read. A directory has no content, a FIFO
// opened without a writer would block and its samples could not be read again, a device is no
// file of samples; checking the descriptor rather than the path leaves no window in which the path
// could be swapped for one of these. The file is then read once, in chunks, its two halves on two
// threads when it is long (csvcolumns::read). The messages are written once the whole file has
// been read, so that a read error ends with its one line only.
bool FERROKIT::readMagnetometerMeasures(std::string filepath) {
  const FileDescriptor file(::open(filepath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat status;
  if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    std::cerr << "Can not open csv file" << std::endl;
    return false;
  }
  // Reads of a regular file do not block; the flag only served the open.
  const int flags = ::fcntl(file.get(), F_GETFL);
  if (flags >= 0) {
    ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK);
  }

  // On failure the columns are emptied: a partial read is never calibrated.
  const auto forgetSamples = [this] {
    for (std::vector<double>& column : mMagnetometerMeasures) {
      std::vector<double>().swap(column);
    }
    std::vector<std::uint8_t>().swap(mCompleteRows);
  };
  std::string messages;
  try {
    csvcolumns::read(file.get(), static_cast<std::uint64_t>(status.st_size), mMagnetometerMeasures,
                     mCompleteRows, messages);
  } catch (const std::system_error& error) {
    forgetSamples();
    throw std::runtime_error("cannot read " + quotedPath(filepath) + ": " +
                             std::strerror(error.code().value()));
  } catch (const std::bad_alloc&) {
    forgetSamples();
    throw std::runtime_error("cannot read " + quotedPath(filepath) + ": out of memory");
  } catch (const std::length_error&) {  // a size beyond anything that could be allocated
    forgetSamples();
    throw std::runtime_error("cannot read " + quotedPath(filepath) + ": out of memory");
  }
  std::cerr << messages;
  return true;
}

std::size_t FERROKIT::completeRowCount() const {
  return static_cast<std::size_t>(std::count(mCompleteRows.begin(), mCompleteRows.end(), 1));
}

// Reference field of the model at the position for the fixed decimal year 2024.0, converted
// to gauss, then the reference members of the result record: components, norms recomputed in
// double, inclination and declination in radians. The position is not checked. Only the complete
// rows reach the core, in file order: header, blank, short and unconvertible lines are no samples.
void FERROKIT::magCalibration(double latitude, double longitude, double height, double tolerance) {
  // The core indexes its ten-column design matrix with int: a larger sample count is refused
  // before anything is computed, so a library caller cannot overflow it either.
  const std::size_t completeRows = completeRowCount();
  if (!sampleCountFitsCore(completeRows)) {
    throw std::length_error("too many samples to calibrate: " + std::to_string(completeRows) +
                            " rows, at most " + std::to_string(kMaxCoreSampleCount));
  }
  // The core counts the rows it reads, complete or not, with int.
  if (mCompleteRows.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw std::length_error("too many lines to calibrate: " + std::to_string(mCompleteRows.size()) +
                            ", at most " + std::to_string(std::numeric_limits<int>::max()));
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
  // The core reads the complete rows straight from the three columns through the row mask, in
  // file order, as it would read them packed into an N-by-3 array: no copy of the samples.
  const std::size_t rowCount = mCompleteRows.size();
  staticMagCalibrationColumns(mMagnetometerMeasures[0].data(), mMagnetometerMeasures[1].data(),
                              mMagnetometerMeasures[2].data(), static_cast<int>(rowCount),
                              mCompleteRows.data(), wmmInput, tolerance, hardIronOffset,
                              softIronMatrix, &refNormMag);

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

  // The core's mean corrected magnitude is 0/0, NaN, when it accepted no sample, so a finite
  // record also means that at least one sample was accepted.
  bool finite = std::isfinite(result.magNormRef) && std::isfinite(result.magNormRefHoriz) &&
                std::isfinite(result.magNormRefVertical);
  for (int k = 0; k < 3; ++k) {
    finite = finite && std::isfinite(result.WMMRef[k]) && std::isfinite(result.hardIronOffset[k]);
    for (int col = 0; col < 3; ++col) {
      finite = finite && std::isfinite(result.softIronMatrix[k][col]);
    }
  }
  finite = finite && std::isfinite(result.WMMRefNorm) && std::isfinite(result.WMMRefHorizNorm) &&
           std::isfinite(result.WMMRefVerticalNorm) && std::isfinite(result.inclination) &&
           std::isfinite(result.declination);
  result.isCalibrationSucess = finite;
}
