// Calibrates a magnetometer recording with the fluxtrim library, as an application would: reads
// the samples, calibrates them against the model field at the place and date of the recording,
// prints the verdict with its reasons and the calibration, and corrects the first sample.
//
//   consumer FILE LATITUDE LONGITUDE HEIGHT_M [DATE]
//
// LATITUDE and LONGITUDE in degrees (north and east positive), HEIGHT_M in metres above the
// WGS-84 ellipsoid, DATE as YYYY-MM-DD or a decimal year (default: today, UTC). Exits with 0 for
// a calibration that can be used, 1 for one that cannot, 2 when the run could not be made.
#include <cmath>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>

#include <fluxtrim/fluxtrim.hpp>

namespace {

// A whole argument as a number: "12abc", "abc" and "1e999" are refused.
double number(const char* text) {
  std::size_t end = 0;
  double value = 0.0;
  try {
    value = std::stod(text, &end);
  } catch (const std::logic_error&) {  // std::invalid_argument, std::out_of_range
    end = 0;
  }
  if (end == 0 || text[end] != '\0') {
    throw fluxtrim::UsageError(std::string("not a number: '") + text + "'");
  }
  return value;
}

void printRow(const char* label, const fluxtrim::Vec3& v) {
  std::printf("  %-10s %12.8f %12.8f %12.8f\n", label, v[0], v[1], v[2]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: consumer FILE LATITUDE LONGITUDE HEIGHT_M [DATE]\n");
    return 2;
  }
  try {
    // Delimiter, header and the X, Y and Z columns are found from the file; gauss is assumed and
    // checked against the reference field.
    const fluxtrim::SampleSet samples = fluxtrim::readSamples(argv[1]);

    const fluxtrim::GeodeticPosition place{number(argv[2]), number(argv[3]), number(argv[4])};
    const double year = argc == 6 ? fluxtrim::parseDate(argv[5]) : fluxtrim::currentDecimalYear();
    fluxtrim::CalibrationOptions options;
    options.reference = fluxtrim::Reference::fromField(
        fluxtrim::evaluateField(fluxtrim::FieldModel::WMM2025, place, year));

    const fluxtrim::CalibrationResult result = fluxtrim::calibrate(samples, options);
    const fluxtrim::Diagnostics& diagnostics = result.diagnostics;
    std::printf("%s: %zu samples, verdict %s\n", argv[1], samples.values.size(),
                fluxtrim::verdictName(diagnostics.verdict));
    for (const fluxtrim::Check& reason : diagnostics.reasons) {
      std::printf("  %s %s: %s\n", fluxtrim::severityName(reason.severity),
                  fluxtrim::checkCodeName(reason.code), reason.message.c_str());
      if (!reason.action.empty()) {
        std::printf("    -> %s\n", reason.action.c_str());
      }
    }
    if (diagnostics.verdict == fluxtrim::Verdict::Fail || samples.values.empty()) {
      return 1;  // not to be used
    }

    const fluxtrim::Calibration& calibration = result.calibration;
    const std::string unit = result.unit.symbol();
    std::printf("%s, samples in %s\n", fluxtrim::modelName(result.model), unit.c_str());
    printRow("offset", calibration.offset);
    printRow("matrix", calibration.matrix[0]);
    printRow("", calibration.matrix[1]);
    printRow("", calibration.matrix[2]);

    // corrected = (raw - offset) * matrix, raw a row vector.
    const fluxtrim::Vec3& raw = samples.values.front();
    const fluxtrim::Vec3 corrected = fluxtrim::applyCalibration(calibration, raw);
    std::printf("line %llu:\n", static_cast<unsigned long long>(samples.lineNumbers.front()));
    printRow("raw", raw);
    printRow("corrected", corrected);
    const double magnitude = std::sqrt(corrected[0] * corrected[0] + corrected[1] * corrected[1] +
                                       corrected[2] * corrected[2]);
    std::printf("  magnitude  %.6f %s (mean of the kept samples %.6f)\n", magnitude, unit.c_str(),
                result.meanCorrectedMagnitude);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "consumer: %s\n", e.what());
    return 2;
  }
}
