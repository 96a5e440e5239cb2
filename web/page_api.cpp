// What the browser page calls in the library: a session that takes a recording's text in chunks
// and fits it on request, the documents the command writes made from the session's last fit, and
// the model field as `fluxtrim field` prints it. A plain C interface: JavaScript passes settings
// as JSON text and reads the replies as UTF-8 text (JSON, or a document to download).
//
// Every function catches what the library throws and answers with its message instead, marked as
// failed (ft_reply_failed); nothing crosses into JavaScript as an exception. A reply stays valid
// until the next call that answers.
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <new>
#include <optional>
#include <istream>
#include <string>
#include <vector>

#include <emscripten/emscripten.h>

#include "arguments.hpp"
#include "calibration_json.hpp"
#include "export_formats.hpp"
#include "field_command.hpp"
#include "fluxtrim/calibration.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/samples.hpp"
#include "fluxtrim/text.hpp"
#include "fluxtrim/version.hpp"
#include "page_session.hpp"
#include "reportPlots.hpp"
#include "reportSections.hpp"

namespace fluxtrim_page {

using fluxtrim_cli::Json;

namespace {

// The last reply and whether it is an error message.
std::string gReply;
bool gReplyFailed = false;

}  // namespace

const char* reply(std::string text, bool failed) {
  gReply = std::move(text);
  gReplyFailed = failed;
  return gReply.c_str();
}

Settings parseSettings(const char* json) {
  const Json settings = Json::parse(json);
  const auto text = [&settings](const char* key) {
    const auto at = settings.find(key);
    return at != settings.end() && at->is_string() ? at->get<std::string>() : std::string();
  };
  Settings s;
  s.source = text("source");
  s.reference.latitude = text("latitude");
  s.reference.longitude = text("longitude");
  s.reference.height = text("altitude");
  s.reference.date = text("date");
  s.read.units = text("units");
  s.read.columns = text("columns");
  s.read.delimiter = text("delimiter");
  s.read.header = text("header");
  s.until = text("until");
  const auto device = settings.find("device");
  s.device = device != settings.end() && device->is_boolean() && device->get<bool>();
  return s;
}

std::string adoptFit(Session& session, fluxtrim::SampleSet samples,
                     const fluxtrim::CalibrationResult& result) {
  session.samples = std::move(samples);
  session.result = result;
  session.points.clear();
  const fluxtrim::detail::PlotSelection drawn =
      fluxtrim::detail::selectSamples(*session.samples, *session.result);
  for (const auto* kind : {&drawn.kept, &drawn.rejected}) {
    for (const fluxtrim::detail::PlotSample& s : *kind) {
      session.points.insert(session.points.end(), s.raw.begin(), s.raw.end());
      session.points.insert(session.points.end(), s.corrected.begin(), s.corrected.end());
      session.points.push_back(static_cast<double>(s.status));
    }
  }
  const bool outsideValidity = session.reference.kind() == fluxtrim::Reference::Kind::Field &&
                               !session.reference.field().withinValidity;
  Json out{{"document", fluxtrim_cli::calibrationDocument(*session.samples, session.reference,
                                                          std::nullopt, *session.result)},
           {"sections",
            fluxtrim::detail::reportSections(*session.samples, session.options, *session.result)},
           {"hasCalibration", fluxtrim_cli::hasCalibration(*session.result)},
           {"validityWarning",
            outsideValidity ? session.reference.field().validityNote : std::string()}};
  return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Forgets the session's calibration and live state and takes the settings' reference.
void restart(Session& session, const Settings& settings) {
  session.live.reset();
  session.samples.reset();
  session.result.reset();
  session.points.clear();
  session.reference = fluxtrim_cli::calibrationReference(settings.reference);
  session.options = fluxtrim::CalibrationOptions();
  session.options.reference = session.reference;
}

namespace {

// The fit of everything pushed so far, as the command makes it for one input in the automatic
// mode, and the reply: the command's JSON document and the report's sections.
std::string refit(Session& session, const Settings& settings) {
  restart(session, settings);
  TextBuffer text(session.text);
  std::istream in(&text);
  fluxtrim::SampleSet samples =
      fluxtrim::readSamples(in, fluxtrim_cli::readOptions(settings.read), settings.source);
  if (samples.values.empty()) {
    throw fluxtrim::Error("no samples in '" + fluxtrim::printableText(settings.source, 120) +
                          "' (" + fluxtrim::noSamplesText(samples) + ")");
  }
  const fluxtrim::CalibrationResult result = fluxtrim::calibrate(samples, session.options);
  return adoptFit(session, std::move(samples), result);
}

// The samples corrected by the session's calibration, one line "x,y,z" each in the shortest form
// that reads back as the same double, under a header naming the unit: what `fluxtrim apply`
// writes for the same recording and calibration.
std::string correctedCsv(const fluxtrim::SampleSet& samples,
                         const fluxtrim::CalibrationResult& result) {
  const std::string unit = result.unit.symbol();
  std::string csv = "x_" + unit + ",y_" + unit + ",z_" + unit + "\n";
  csv.reserve(csv.size() + samples.values.size() * 64);
  char number[32];
  for (const fluxtrim::Vec3& raw : samples.values) {
    const fluxtrim::Vec3 c = fluxtrim::applyCalibration(result.calibration, raw);
    for (int axis = 0; axis < 3; ++axis) {
      csv.append(number, std::to_chars(number, number + sizeof number, c[axis]).ptr);
      csv += axis < 2 ? ',' : '\n';
    }
  }
  return csv;
}

// A firmware file as `calibrate --format FORMAT --force` writes it: the page offers the file of
// a failed calibration too, and the file's first line says that it failed.
std::string firmwareText(const fluxtrim::SampleSet& samples, const Session& session,
                         fluxtrim_cli::FirmwareFormat format) {
  const Json document =
      fluxtrim_cli::calibrationDocument(samples, session.reference, std::nullopt, *session.result);
  fluxtrim_cli::FirmwareOptions options = fluxtrim_cli::checkFirmwareArgs({}, format);
  options.force = true;
  const fluxtrim_cli::FirmwareFile file = fluxtrim_cli::firmwareFile(
      format, fluxtrim_cli::storedCalibration(document, "the page's calibration"), options);
  if (!file.refusal.empty()) throw fluxtrim::Error(file.refusal);
  return file.text;
}

std::string download(const Session& session, const std::string& format) {
  if (!session.result) throw fluxtrim::Error("nothing calibrated yet");
  const fluxtrim::SampleSet& samples = *session.samples;
  const fluxtrim::CalibrationResult& result = *session.result;
  if (format == "json") {
    // As the command writes it: the characters that could reorder what a viewer shows (a name
    // holding U+202E) as \u escapes, the same JSON values.
    return fluxtrim::visibleText(
               fluxtrim_cli::calibrationDocument(samples, session.reference, std::nullopt, result)
                   .dump(2, ' ', false, Json::error_handler_t::replace)) +
           "\n";
  }
  if (format == "recording") return session.text;
  if (format == "csv") {
    if (!fluxtrim_cli::hasCalibration(result)) {
      throw fluxtrim::Error("no sample was kept for a fit: no calibration to apply");
    }
    return correctedCsv(samples, result);
  }
  const std::optional<fluxtrim_cli::FirmwareFormat> firmware =
      fluxtrim_cli::firmwareFormatNamed(format);
  if (!firmware) throw fluxtrim::UsageError("unknown download format '" + format + "'");
  return firmwareText(samples, session, *firmware);
}

// The text of `fluxtrim field` for the settings' place and date: the command writes it to a file
// of the page's in-memory file system, read back here.
std::string fieldText(const Settings& settings) {
  const char* const path = "/tmp/field.txt";
  fluxtrim_cli::FieldArgs args;
  args.reference = settings.reference;
  args.output = path;
  fluxtrim_cli::runField(args);
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(path);
  return text;
}

}  // namespace

extern "C" {

// Length in bytes of the last reply, its terminating NUL aside.
EMSCRIPTEN_KEEPALIVE std::size_t ft_reply_length() {
  return gReply.size();
}

// Whether the last reply is an error message rather than what was asked for.
EMSCRIPTEN_KEEPALIVE int ft_reply_failed() {
  return gReplyFailed ? 1 : 0;
}

// The report's style sheet.
EMSCRIPTEN_KEEPALIVE const char* ft_report_style() {
  return reply(fluxtrim::detail::reportStyle());
}

// The library's version.
EMSCRIPTEN_KEEPALIVE const char* ft_version() {
  return reply(fluxtrim::version());
}

// Untrusted text, a file's name, as the command's messages show it: control characters and the
// marks that reorder text (U+202E) escaped, cut after maxBytes bytes.
EMSCRIPTEN_KEEPALIVE const char* ft_printable(const char* text, std::size_t maxBytes) {
  return answer([&] { return fluxtrim::printableText(text, maxBytes); });
}

// The text of `fluxtrim field` at the settings' latitude, longitude, altitude and date.
EMSCRIPTEN_KEEPALIVE const char* ft_field(const char* settingsJson) {
  return answer([&] { return fieldText(parseSettings(settingsJson)); });
}

EMSCRIPTEN_KEEPALIVE Session* ft_session_create() {
  return new (std::nothrow) Session();
}

EMSCRIPTEN_KEEPALIVE void ft_session_destroy(Session* session) {
  delete session;
}

// Forgets the text and the last fit: a new recording starts.
EMSCRIPTEN_KEEPALIVE void ft_session_clear(Session* session) {
  session->live.reset();
  session->text = std::string();
  session->samples.reset();
  session->result.reset();
  session->points = std::vector<double>();
  session->times = std::vector<double>();
}

// Reserves room for the text to grow to `bytes` bytes, so that a recording of known size is held
// once, not copied as it grows; false when memory runs out.
EMSCRIPTEN_KEEPALIVE int ft_session_reserve(Session* session, std::size_t bytes) {
  try {
    session->text.reserve(bytes);
    return 1;
  } catch (const std::exception&) {
    return 0;
  }
}

// Makes room for `bytes` more bytes of text and returns where JavaScript writes them; null when
// memory runs out (the text is then as before).
EMSCRIPTEN_KEEPALIVE char* ft_session_extend(Session* session, std::size_t bytes) {
  try {
    const std::size_t start = session->text.size();
    session->text.resize(start + bytes);
    return session->text.data() + start;
  } catch (const std::exception&) {
    return nullptr;
  }
}

// Reads and fits all the text so far: {"document": the command's calibration document,
// "sections": the report's sections as HTML, "hasCalibration": bool, "validityWarning": text}.
EMSCRIPTEN_KEEPALIVE const char* ft_session_refit(Session* session, const char* settingsJson) {
  return answer([&] { return refit(*session, parseSettings(settingsJson)); });
}

// The drawn samples of the last fit (the report's selection), seven doubles each: raw X, Y, Z,
// corrected X, Y, Z, and the sample's status as fluxtrim::SampleStatus numbers it.
EMSCRIPTEN_KEEPALIVE const double* ft_session_points(Session* session) {
  return session->points.data();
}

EMSCRIPTEN_KEEPALIVE std::size_t ft_session_point_count(Session* session) {
  return session->points.size() / 7;
}

// The last fit as a file: "json" (the command's --format json), "c", "ardupilot" or "px4" (its
// --format c, ardupilot, px4, with --force), "csv" (the samples corrected, as `fluxtrim apply`
// writes them), or "recording" (the text the session holds).
EMSCRIPTEN_KEEPALIVE const char* ft_session_download(Session* session, const char* format) {
  return answer([&] { return download(*session, format); });
}

}  // extern "C"

}  // namespace fluxtrim_page
