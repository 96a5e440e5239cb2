// fluxtrim field: the seven elements of the model field, in text or JSON.
#include "field_command.hpp"

#include <cstdio>
#include <string>

#include "calibration_json.hpp"
#include "exit_status.hpp"
#include "fluxtrim/error.hpp"
#include "output.hpp"
#include "terminal.hpp"

namespace fluxtrim_cli {

namespace {

// One element: name, symbol, value with its unit, and its sign convention.
std::string elementLine(const char* name, const char* symbol, double value, bool angle,
                        const char* sign) {
  char line[100];
  std::snprintf(line, sizeof line, "  %-12s %s %11.*f %-3s  %s", name, symbol, angle ? 2 : 1, value,
                angle ? "deg" : "nT", sign);
  std::string text = line;
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text + "\n";
}

std::string fieldText(const Reference& reference, const Style& style) {
  const fluxtrim::ReferenceField& f = reference.field;
  const fluxtrim::FieldElements& e = f.elements;
  char year[32];
  std::snprintf(year, sizeof year, "%.3f", f.decimalYear);
  const std::string date = reference.calendarDate.empty()
                               ? std::string("decimal year ") + year
                               : reference.calendarDate + " (decimal year " + year + ")";
  std::string text =
      style.bold(std::string(fluxtrim::modelInfo(f.model).name) + " magnetic field") + "\n";
  text += "  at " + placeText(f.position.latitude_deg, f.position.longitude_deg) + ", " +
          shortestText(f.position.height_m) + " m above the WGS-84 ellipsoid\n";
  text += "  on " + date + "\n\n";
  text += elementLine("Declination", "D", e.declination_deg, true, "positive east of true north");
  text += elementLine("Inclination", "I", e.inclination_deg, true, "positive down");
  text += elementLine("Horizontal", "H", e.horizontal_nT, false, "");
  text += elementLine("North", "X", e.north_nT, false, "positive north");
  text += elementLine("East", "Y", e.east_nT, false, "positive east");
  text += elementLine("Vertical", "Z", e.down_nT, false, "positive down");
  text += elementLine("Total", "F", e.total_nT, false, "");
  text += "\n";
  if (f.withinValidity) {
    text += wrapped(f.validityNote, 79) + "\n";
  } else {
    text += style.warn(wrapped("Warning: " + f.validityNote, 79)) + "\n";
  }
  return text;
}

}  // namespace

int runField(const FieldArgs& args) {
  if (args.format != "text" && args.format != "json") {
    throw fluxtrim::UsageError("--format '" + printable(args.format, 20) +
                               "': expected text or json");
  }
  const Reference reference = modelReference(args.reference);
  Output out(args.output);
  if (args.format == "json") {
    out.write(fieldDocument(reference).dump(2) + "\n");
  } else {
    out.write(fieldText(reference, Style(out.stream())));
  }
  out.close();
  return kExitUsable;
}

}  // namespace fluxtrim_cli
