// fluxtrim export: a stored calibration in another format.
#include "export_command.hpp"

#include <cstdio>
#include <filesystem>
#include <optional>

#include "calibration_json.hpp"
#include "exit_status.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "output.hpp"

namespace fluxtrim_cli {

int runExport(const ExportArgs& args) {
  const std::optional<FirmwareFormat> format = firmwareFormatNamed(args.format);
  if (args.format != "json" && !format) {
    throw fluxtrim::UsageError("--format '" + fluxtrim::printableText(args.format, 40) +
                               "': expected json, c, ardupilot or px4");
  }
  const FirmwareOptions options = checkFirmwareArgs(args.firmware, format);
  std::error_code error;
  if (!args.output.empty() && args.output != "-" &&
      std::filesystem::equivalent(args.calibration, args.output, error)) {
    throw fluxtrim::UsageError("-o '" + fluxtrim::printableText(args.output, 60) +
                               "' names the calibration file: it would overwrite it");
  }

  Json document;
  const StoredCalibration stored = readCalibrationFile(args.calibration, &document);
  const int status =
      stored.verdict == "fail" || !stored.hasCalibration ? kExitUnusable : kExitUsable;
  std::string text;
  if (!format) {
    text = document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
  } else {
    const FirmwareFile file = firmwareFile(*format, stored, options);
    for (const std::string& warning : file.warnings) {
      std::fprintf(stderr, "fluxtrim export: warning: %s\n", warning.c_str());
    }
    if (!file.refusal.empty()) {
      std::fprintf(stderr, "fluxtrim export: '%s': %s\n",
                   fluxtrim::printableText(args.calibration, 120).c_str(), file.refusal.c_str());
      return status;
    }
    text = file.text;
  }
  Output out(args.output);
  out.write(text);
  out.close();
  return status;
}

}  // namespace fluxtrim_cli
