// fluxtrim field: the seven elements of the model field, in text or JSON.
#include "field_command.hpp"

#include <cstdio>
#include <optional>
#include <string>

#include "calibration_json.hpp"
#include "exit_status.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/field.hpp"
#include "fluxtrim/text.hpp"
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

std::string fieldText(const fluxtrim::ReferenceField& f, const Style& style) {
  const fluxtrim::FieldElements& e = f.elements;
  const std::string year = "decimal year " + fluxtrim::decimalYearText(f.decimalYear);
  const std::optional<fluxtrim::CalendarDate> date = fluxtrim::calendarDate(f.decimalYear);
  std::string text =
      style.bold(std::string(fluxtrim::fieldModelInfo(f.model).name) + " magnetic field") + "\n";
  text += "  at " + fluxtrim::positionText(f.position) + " above the WGS-84 ellipsoid\n";
  text += "  on " + (date ? fluxtrim::dateText(*date) + " (" + year + ")" : year) + "\n\n";
  text += elementLine("Declination", "D", e.declination_deg, true, "positive east of true north");
  text += elementLine("Inclination", "I", e.inclination_deg, true, "positive down");
  text += elementLine("Horizontal", "H", e.horizontal_nT, false, "");
  text += elementLine("North", "X", e.north_nT, false, "positive north");
  text += elementLine("East", "Y", e.east_nT, false, "positive east");
  text += elementLine("Vertical", "Z", e.down_nT, false, "positive down");
  text += elementLine("Total", "F", e.total_nT, false, "");
  text += "\n";
  if (f.withinValidity) {
    text += wrapped(f.validityNote, kLineWidth) + "\n";
  } else {
    text += style.warn(wrapped("Warning: " + f.validityNote, kLineWidth)) + "\n";
  }
  return text;
}

}  // namespace

int runField(const FieldArgs& args) {
  if (args.format != "text" && args.format != "json") {
    throw fluxtrim::UsageError("--format '" + fluxtrim::printableText(args.format, 20) +
                               "': expected text or json");
  }
  const fluxtrim::ReferenceField field = modelField(args.reference);
  Output out(args.output);
  if (args.format == "json") {
    out.write(fieldDocument(field).dump(2) + "\n");
  } else {
    out.write(fieldText(field, Style(out.stream())));
  }
  out.close();
  return kExitUsable;
}

}  // namespace fluxtrim_cli
