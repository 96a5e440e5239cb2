// Fuzzes the calibration entry point on sample matrices and tolerances decoded from the input
// bytes. The decoding favours what breaks numerical code: NaN, infinities, signed zeros,
// subnormals, values near the double range limits, repeated rows, collinear and coplanar point
// sets, and large clouds on an ellipsoid that pass the acceptance window and reach every model
// fit. The entry point must not crash, must stay inside its buffers (each one is allocated at its
// exact size so AddressSanitizer sees a one-past access) and must write all thirteen outputs.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "coder_array.h"
#include "staticMagCalibration.h"

namespace {

constexpr std::size_t kMaxRows = 4096;

// Reads the input bytes front to back; past the end every read yields zeros.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return pos_ >= size_; }
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t u16() {
    const std::uint16_t lo = byte();
    return static_cast<std::uint16_t>(lo | (byte() << 8));
  }
  double rawDouble() {
    std::uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) {
      bits |= static_cast<std::uint64_t>(byte()) << (8 * k);
    }
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Values that numerical code tends to mishandle, picked by one byte.
double specialValue(std::uint8_t selector) {
  using limits = std::numeric_limits<double>;
  static const double table[] = {limits::quiet_NaN(),
                                 limits::infinity(),
                                 -limits::infinity(),
                                 0.0,
                                 -0.0,
                                 limits::denorm_min(),
                                 -limits::denorm_min(),
                                 limits::min(),
                                 limits::max(),
                                 -limits::max(),
                                 1e300,
                                 -1e300,
                                 1e-300,
                                 -1e-300,
                                 0.48,
                                 -0.48,
                                 1.0,
                                 -1.0,
                                 1e-8,
                                 1e8};
  return table[selector % (sizeof table / sizeof table[0])];
}

// One coordinate: a special value, a value of sensor scale (|v| < 0.8 gauss, 16-bit steps), or
// any double bit pattern.
double decodeValue(ByteReader& in) {
  const std::uint8_t selector = in.byte();
  if (selector < 40) {
    return specialValue(selector);
  }
  if (selector < 200) {
    return static_cast<std::int16_t>(in.u16()) / 32768.0 * 0.8;
  }
  return in.rawDouble();
}

double decodeTolerance(ByteReader& in) {
  static const double usual[] = {0.2, 0.1, 0.5, 1.0, 2.0, 0.05, 1e-12, -0.2, -1.0, 10.0};
  const std::uint8_t selector = in.byte();
  if (selector < 10) {
    return usual[selector];
  }
  if (selector < 30) {
    return specialValue(selector);
  }
  if (selector < 200) {
    return in.u16() / 65536.0 * 1.5;  // 0 to 1.5 in small steps
  }
  return in.rawDouble();
}

void decodeReference(ByteReader& in, double* reference) {
  const std::uint8_t selector = in.byte();
  switch (selector % 8) {
    case 0:
    case 1:
    case 2:  // a northern mid-latitude field, gauss
      reference[0] = 0.210485;
      reference[1] = 0.007476;
      reference[2] = 0.435086;
      return;
    case 3:  // a southern field, pointing up
      reference[0] = 0.25;
      reference[1] = -0.05;
      reference[2] = -0.35;
      return;
    default:
      for (int k = 0; k < 3; ++k) {
        reference[k] = decodeValue(in);
      }
      return;
  }
}

// Adds count points of a sphere of radius 0.48 gauss, spread by a golden-angle spiral, stretched
// per axis, sheared, offset and optionally flattened onto a plane or a line.
void addEllipsoidCloud(ByteReader& in, std::vector<double>& rows, int flatten) {
  const std::size_t count = 1 + static_cast<std::size_t>(in.byte()) * 4;
  double stretch[3], offset[3];
  for (int k = 0; k < 3; ++k) {
    stretch[k] = 0.5 + in.byte() / 255.0;
    offset[k] = (static_cast<int>(in.byte()) - 128) / 256.0;
  }
  const double shear = (static_cast<int>(in.byte()) - 128) / 256.0;
  const double goldenAngle = 2.399963229728653;
  for (std::size_t i = 0; i < count && rows.size() / 3 < kMaxRows; ++i) {
    const double z = 1.0 - 2.0 * (static_cast<double>(i) + 0.5) / static_cast<double>(count);
    const double rho = std::sqrt(1.0 - z * z);
    const double phi = goldenAngle * static_cast<double>(i);
    double p[3] = {rho * std::cos(phi), rho * std::sin(phi), z};
    if (flatten >= 1) p[2] = 0.0;  // coplanar
    if (flatten >= 2) p[1] = 0.0;  // collinear
    const double x = 0.48 * stretch[0] * p[0] + shear * p[1];
    const double y = 0.48 * stretch[1] * p[1];
    const double w = 0.48 * stretch[2] * p[2] + shear * p[0];
    rows.push_back(x + offset[0]);
    rows.push_back(y + offset[1]);
    rows.push_back(w + offset[2]);
  }
}

// The unit of the whole input: usually 1, sometimes a power of ten from 1e-288 to 1e282 that
// scales the reference and every sample alike, so that clouds far from sensor scale still pass
// the relative acceptance window and reach the fits, where squares and norms overflow or
// underflow.
double decodeUnit(ByteReader& in) {
  const int selector = in.byte();
  return selector < 160 ? 1.0 : std::pow(10.0, (selector - 208) * 6);
}

// Decodes rows (x, y, z interleaved) until the bytes run out or kMaxRows is reached.
std::vector<double> decodeRows(ByteReader& in) {
  std::vector<double> rows;
  while (!in.done() && rows.size() / 3 < kMaxRows) {
    const std::size_t n = rows.size();
    const double last[3] = {n ? rows[n - 3] : 0.0, n ? rows[n - 2] : 0.0, n ? rows[n - 1] : 0.0};
    switch (in.byte() % 8) {
      case 0:  // one row of decoded values
        for (int k = 0; k < 3; ++k) rows.push_back(decodeValue(in));
        break;
      case 1: {  // the last row repeated
        const int repeat = 1 + in.byte();
        for (int r = 0; r < repeat && rows.size() / 3 < kMaxRows; ++r) {
          rows.insert(rows.end(), last, last + 3);
        }
        break;
      }
      case 2: {  // a multiple of the last row: collinear with the origin
        const double factor = decodeValue(in);
        for (int k = 0; k < 3; ++k) rows.push_back(last[k] * factor);
        break;
      }
      case 3:
        addEllipsoidCloud(in, rows, 0);
        break;
      case 4:
        addEllipsoidCloud(in, rows, 1);
        break;
      case 5:
        addEllipsoidCloud(in, rows, 2);
        break;
      case 6:  // one row of special values
        for (int k = 0; k < 3; ++k) rows.push_back(specialValue(in.byte()));
        break;
      default: {  // the last row nudged by a few units in the last place
        for (int k = 0; k < 3; ++k) {
          rows.push_back(std::nextafter(last[k], in.byte() & 1 ? 1.0 : -1.0));
        }
        break;
      }
    }
  }
  return rows;
}

// A signalling-NaN pattern that no arithmetic result can carry: arithmetic quiets a NaN.
const std::uint64_t kSentinelBits = 0x7FF4DEADBEEF5A5Aull;

void fillSentinel(double* values, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(&values[i], &kSentinelBits, sizeof kSentinelBits);
  }
}

bool anySentinel(const double* values, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint64_t bits;
    std::memcpy(&bits, &values[i], sizeof bits);
    if (bits == kSentinelBits) return true;
  }
  return false;
}

void calibrationCheck(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz_calibration: %s\n", what);
    std::abort();
  }
}

// The result defined for "no sample accepted": zero offset, identity matrix, NaN mean magnitude.
bool isEmptyResult(const double* offset, const double* matrix, double refNormMag) {
  for (int k = 0; k < 3; ++k) {
    if (offset[k] != 0.0) return false;
  }
  for (int k = 0; k < 9; ++k) {
    if (matrix[k] != (k % 4 == 0 ? 1.0 : 0.0)) return false;
  }
  return std::isnan(refNormMag);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  const double tolerance = decodeTolerance(in);
  const double unit = decodeUnit(in);
  std::unique_ptr<double[]> reference(new double[3]);
  decodeReference(in, reference.get());
  std::vector<double> rows = decodeRows(in);
  for (int k = 0; k < 3; ++k) reference[k] *= unit;
  for (double& value : rows) value *= unit;
  const int rowCount = static_cast<int>(rows.size() / 3);

  coder::array<double, 2> magVector;
  magVector.set_size(rowCount, 3);
  for (int i = 0; i < rowCount; ++i) {
    for (int c = 0; c < 3; ++c) {
      magVector[i + rowCount * c] = rows[3 * static_cast<std::size_t>(i) + c];
    }
  }

  // Exactly sized heap buffers, so a write or read past any of them is caught.
  std::unique_ptr<double[]> offset(new double[3]);
  std::unique_ptr<double[]> matrix(new double[9]);
  std::unique_ptr<double[]> refNormMag(new double[1]);
  fillSentinel(offset.get(), 3);
  fillSentinel(matrix.get(), 9);
  fillSentinel(refNormMag.get(), 1);

  staticMagCalibration(magVector, reference.get(), tolerance, offset.get(), matrix.get(),
                       refNormMag.get());

  calibrationCheck(!anySentinel(offset.get(), 3), "hardIronOffset not fully written");
  calibrationCheck(!anySentinel(matrix.get(), 9), "softIronMatrix not fully written");
  calibrationCheck(!anySentinel(refNormMag.get(), 1), "refNormMag not written");

  // With no sample, or with a clearly negative tolerance around a finite non-zero reference
  // magnitude (the upper bound then lies below the lower one), nothing can be accepted. A
  // negative tolerance too small to move the bounds off the magnitude leaves a one-point window.
  const double naiveRefNorm = std::sqrt(reference[0] * reference[0] + reference[1] * reference[1] +
                                        reference[2] * reference[2]);
  const bool emptyWindow = tolerance <= -1e-6 && std::isfinite(naiveRefNorm) && naiveRefNorm > 0.0;
  if (rowCount == 0 || emptyWindow) {
    calibrationCheck(isEmptyResult(offset.get(), matrix.get(), refNormMag[0]),
                     "no sample accepted, yet the result is not zero offset, identity and NaN");
  }
  return 0;
}
