// Writes the calibration report of a recording, calibrated in the automatic mode against the
// model field at a place and date: the program behind tools/render_report.sh.
//
//   report_example SAMPLES OUT.html LATITUDE LONGITUDE HEIGHT_M DATE [MODEL]
//
// DATE is YYYY-MM-DD or a decimal year; MODEL is wmm2025 (the default) or wmm2020. Prints the
// verdict; exits 1 with one line on standard error when the report cannot be made.
#include <cstdio>
#include <exception>
#include <string>

#include "fluxtrim/fluxtrim.hpp"

namespace {

double number(const char* name, const std::string& text) {
  std::size_t end = 0;
  const double value = std::stod(text, &end);
  if (end != text.size()) {
    throw fluxtrim::UsageError(std::string(name) + ": not a number: '" + text + "'");
  }
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7 && argc != 8) {
    std::fprintf(stderr,
                 "usage: report_example SAMPLES OUT.html LATITUDE LONGITUDE HEIGHT_M DATE "
                 "[MODEL]\n");
    return 2;
  }
  try {
    const fluxtrim::SampleSet samples = fluxtrim::readSamples(argv[1]);
    const fluxtrim::GeodeticPosition position{
        number("latitude", argv[3]), number("longitude", argv[4]), number("height", argv[5])};
    const fluxtrim::FieldModel model =
        fluxtrim::parseFieldModel(argc == 8 ? argv[7] : std::string("wmm2025"));
    fluxtrim::CalibrationOptions options;
    options.reference = fluxtrim::Reference::fromField(
        fluxtrim::evaluateField(model, position, fluxtrim::parseDate(argv[6])));
    const fluxtrim::CalibrationResult result = fluxtrim::calibrate(samples, options);
    fluxtrim::writeReport(argv[2], samples, options, result);
    std::printf("%s: %s, %zu samples\n", argv[2], fluxtrim::verdictName(result.diagnostics.verdict),
                samples.values.size());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "report_example: %s\n", e.what());
    return 1;
  }
}
