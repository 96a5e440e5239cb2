// What the page calls while a recording arrives from a serial port or a replay: the library's
// live session (the one `fluxtrim watch` runs) fed the session's text as it grows, its state for
// the page to show, and at its end the calibration of every sample, as a file's. And for a
// replay, the time of each line of the recording, from its time column.
#include <cmath>
#include <cstddef>
#include <istream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <emscripten/emscripten.h>

#include "arguments.hpp"
#include "calibration_json.hpp"
#include "fluxtrim/diagnostics.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/live.hpp"
#include "fluxtrim/samples.hpp"
#include "fluxtrim/text.hpp"
#include "page_session.hpp"
#include "sampleWords.hpp"

namespace fluxtrim_page {

namespace {

using fluxtrim_cli::Json;

// A number for JSON: null when not finite (not judged, or not known yet).
Json number(double value) {
  return std::isfinite(value) ? Json(value) : Json(nullptr);
}

std::string start(Session& session, const Settings& settings) {
  restart(session, settings);
  fluxtrim::LiveOptions options;
  options.read = fluxtrim_cli::readOptions(settings.read);
  options.calibration = session.options;
  options.until = fluxtrim::parseStopRule(settings.until.empty() ? "pass" : settings.until);
  session.live.emplace(options, settings.source);
  session.live->dropping = settings.device;
  session.live->fed = session.text.size();
  return "{}";
}

// The text added since the last push, into the live session; a port's bytes before its first line
// end are dropped from the text, as watch drops them: a port opened while the board was sending
// starts in the middle of a line, whose end would read as a sample of other values.
std::string push(Session& session, double now) {
  if (!session.live) throw fluxtrim::Error("no live session");
  Live& live = *session.live;
  live.received += session.text.size() - live.fed;
  if (live.dropping) {
    const std::size_t end = session.text.find_first_of("\r\n", live.fed);
    if (end == std::string::npos) {
      session.text.resize(live.fed);
      return std::string();
    }
    session.text.erase(live.fed, end + 1 - live.fed);
    live.dropping = false;
  }
  live.session.push(session.text.data() + live.fed, session.text.size() - live.fed, now);
  live.fed = session.text.size();
  return std::string();
}

// The verdict and the codes of its reasons.
Json judged(const fluxtrim::CalibrationResult& result) {
  Json reasons = Json::array();
  for (const fluxtrim::Check& reason : result.diagnostics.reasons) {
    reasons.push_back(fluxtrim::checkCodeName(reason.code));
  }
  return Json{{"verdict", fluxtrim::verdictName(result.diagnostics.verdict)},
              {"reasons", std::move(reasons)}};
}

// The live fit: coverage with its map and largest gap, residual, verdict.
Json fitState(const fluxtrim::LiveSession& live) {
  const fluxtrim::LiveFit& fit = live.fit();
  if (std::isnan(fit.time_s)) return nullptr;
  const fluxtrim::Coverage& coverage = fit.result.coverage;
  const fluxtrim::Figures& figures = fit.result.figures;
  const bool judgedCoverage = !std::isnan(coverage.fraction);
  std::string cells;
  for (int cell = 0; cell < coverage.grid.cells(); ++cell) {
    const auto at = static_cast<std::size_t>(cell);
    cells +=
        judgedCoverage && at < coverage.samplesPerCell.size() && coverage.samplesPerCell[at] > 0
            ? '1'
            : '0';
  }
  const bool residual = fit.calibrated() && fluxtrim::judgeable(figures.residual_mG);
  Json state = judged(fit.result);
  state["samples"] = fit.samples;
  state["coverage"] = number(coverage.fraction);
  state["gap"] = judgedCoverage ? number(coverage.largestGap_deg) : Json(nullptr);
  state["gapCell"] = judgedCoverage ? coverage.grid.cellOf(coverage.largestGapDirection) : -1;
  state["pose"] = judgedCoverage ? fluxtrim::poseText(coverage.largestGapDirection,
                                                      live.options().calibration.reference)
                                 : std::string();
  state["bands"] = coverage.grid.bands();
  state["sectors"] = coverage.grid.sectors();
  state["cells"] = cells;
  state["residual_mG"] = residual ? number(figures.residual_mG) : Json(nullptr);
  state["residualToField"] = residual && fluxtrim::judgeable(figures.residualToField)
                                 ? number(figures.residualToField)
                                 : Json(nullptr);
  state["passFor"] = number(live.time_s() - live.passSince_s());
  state["disagreement"] = live.disagreement() ? judged(*live.disagreement()) : Json(nullptr);
  return state;
}

const char* reasonName(fluxtrim::StopReason reason) {
  switch (reason) {
    case fluxtrim::StopReason::RuleMet:
      return "rule";
    case fluxtrim::StopReason::EndOfInput:
      return "end";
    case fluxtrim::StopReason::Stopped:
      return "stopped";
    case fluxtrim::StopReason::Running:
      break;
  }
  return "";
}

// What the page shows while the session runs: counts, the lines that are not samples, the fit.
std::string state(Session& session) {
  if (!session.live) throw fluxtrim::Error("no live session");
  fluxtrim::LiveSession& live = session.live->session;
  const fluxtrim::ReadSummary& summary = live.read().summary;
  const fluxtrim::StopRule& rule = live.options().until;
  Json out{{"time", number(live.time_s())},
           {"samples", live.sampleCount()},
           {"rate", number(live.rate_Hz())},
           {"bytes", session.live->received},
           {"decided", live.decided()},
           {"held", live.decided() ? 0 : live.heldLines()},
           {"other",
            {{"header", summary.headerLines},
             {"comment", summary.commentLines},
             {"blank", summary.blankLines},
             {"skipped", summary.skippedLines},
             {"leftOut", summary.leftOutLines}}},
           {"fit", fitState(live)},
           {"rule",
            {{"coverage", rule.coverage},
             {"samples", rule.samples},
             {"passHold", live.options().passHold_s}}},
           {"stopped", live.stopped()},
           {"reason", reasonName(live.stopReason())}};
  return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The end: the calibration of every sample taken, as watch writes it, becomes the session's.
std::string result(Session& session) {
  if (!session.live || !session.live->session.stopped()) {
    throw fluxtrim::Error("the live session has not stopped");
  }
  const fluxtrim::LiveSession& live = session.live->session;
  fluxtrim::SampleSet asRead = live.samplesAsRead();
  if (asRead.values.empty()) {
    throw fluxtrim::Error("no samples in '" + fluxtrim::printableText(asRead.source, 120) + "' (" +
                          fluxtrim::noSamplesText(asRead) + ")");
  }
  const fluxtrim::CalibrationResult final = live.finalResult();
  return adoptFit(session, std::move(asRead), final);
}

// The seconds per unit of a time column, from the words of its name ("t_ms", "millis",
// "time_us"); 0 for a counter or an index, which the reader passes over as it passes over a time
// stamp but which tells no time.
double secondsPerUnit(const std::string& name) {
  double scale = 1.0;
  for (const std::string& word : fluxtrim::detail::nameWords(name)) {
    if (word == "counter" || word == "count" || word == "index" || word == "idx" || word == "seq" ||
        word == "sequence" || word == "sample" || word == "n") {
      return 0.0;
    }
    if (word == "ms" || word == "millis" || word == "msec" || word == "milliseconds") scale = 1e-3;
    if (word == "us" || word == "micros" || word == "usec" || word == "microseconds") scale = 1e-6;
    if (word == "ns" || word == "nanos" || word == "nanoseconds") scale = 1e-9;
  }
  return scale;
}

// The time of each line of the session's text, from the column that the header names as a time
// stamp (NaN for a line without one), read by the library's reader as a sample's first value. The
// reply names the column; it is empty, and no time known, without one.
std::string replayPlan(Session& session, const Settings& settings) {
  session.times.clear();
  TextBuffer text(session.text);
  std::istream in(&text);
  fluxtrim::ReadOptions options = fluxtrim_cli::readOptions(settings.read);
  const fluxtrim::SampleSet layout = fluxtrim::readSamples(in, options, settings.source);
  const fluxtrim::ReadSummary& summary = layout.summary;
  int column = -1;
  for (std::size_t k = 0; k < summary.header.size() && column < 0; ++k) {
    const fluxtrim::detail::NameInfo name = fluxtrim::detail::classifyName(summary.header[k]);
    const int index = static_cast<int>(k);
    if (name.time && name.axis < 0 && secondsPerUnit(summary.header[k]) > 0.0 &&
        index != summary.columns[0] && index != summary.columns[1] && index != summary.columns[2]) {
      column = index;
    }
  }
  if (column < 0 || layout.values.empty()) return Json{{"column", ""}}.dump();
  // The time column read with two of the magnetometer's: the first value of each sample is its
  // time, as exactly as the reader reads any cell.
  options.columnNames.clear();
  options.columnIndices = {column, summary.columns[0], summary.columns[1]};
  options.accelerometerColumnNames.clear();
  options.accelerometerColumnIndices.clear();
  TextBuffer again(session.text);
  std::istream second(&again);
  const fluxtrim::SampleSet timed = fluxtrim::readSamples(second, options, settings.source);
  const std::string& name = summary.header[static_cast<std::size_t>(column)];
  const double scale = secondsPerUnit(name);
  session.times.assign(timed.summary.lines, std::numeric_limits<double>::quiet_NaN());
  for (std::size_t k = 0; k < timed.values.size(); ++k) {
    session.times[timed.lineNumbers[k] - 1] = timed.values[k][0] * scale;
  }
  return Json{{"column", name}}.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

extern "C" {

// Starts a live session over the text pushed from now on (ft_session_extend, then
// ft_live_push), with the settings' reading options, reference and stop rule ("until": as
// watch's --until; "device": true for a serial port). Replies "{}", or why it cannot start.
EMSCRIPTEN_KEEPALIVE const char* ft_live_start(Session* session, const char* settingsJson) {
  return answer([&] { return start(*session, parseSettings(settingsJson)); });
}

// Hands the text added since the last push to the live session, read at `now` seconds on the
// page's clock (of the data, for a replay). Replies "", or the reader's error.
EMSCRIPTEN_KEEPALIVE const char* ft_live_push(Session* session, double now) {
  return answer([&] { return push(*session, now); });
}

// The time now: the live fit refreshed when it is due, the stop rule applied. Replies the state
// as JSON (see state()).
EMSCRIPTEN_KEEPALIVE const char* ft_live_update(Session* session, double now) {
  return answer([&] {
    if (!session->live) throw fluxtrim::Error("no live session");
    session->live->session.update(now);
    return state(*session);
  });
}

// The input ended at `now`: how = 0 the end of a replay (the last line read even without its
// line end), 1 a port that closed (a cut last line dropped), 2 the page's Stop button (every
// complete line read, the incomplete one after them dropped). Replies the state.
EMSCRIPTEN_KEEPALIVE const char* ft_live_end(Session* session, double now, int how) {
  return answer([&] {
    if (!session->live) throw fluxtrim::Error("no live session");
    fluxtrim::LiveSession& live = session->live->session;
    if (how == 2) {
      live.stop(now);
    } else {
      live.finish(now, how == 1);
    }
    // The text kept is the text read: without a line cut short, which the session dropped and
    // which the command would read as a sample of other values.
    if (how != 0) {
      const std::size_t lineEnd = session->text.find_last_of("\r\n");
      session->text.resize(lineEnd == std::string::npos ? 0 : lineEnd + 1);
    }
    return state(*session);
  });
}

// After the live session stopped: the calibration of every sample taken becomes the session's,
// with the reply of ft_session_refit.
EMSCRIPTEN_KEEPALIVE const char* ft_live_result(Session* session) {
  return answer([&] { return result(*session); });
}

// For a replay of the session's text: {"column": the time column's name, or empty}, and the time
// of each line in seconds from ft_replay_times (ft_replay_time_count numbers, NaN where a line
// holds none).
EMSCRIPTEN_KEEPALIVE const char* ft_replay_plan(Session* session, const char* settingsJson) {
  return answer([&] { return replayPlan(*session, parseSettings(settingsJson)); });
}

EMSCRIPTEN_KEEPALIVE const double* ft_replay_times(Session* session) {
  return session->times.data();
}

EMSCRIPTEN_KEEPALIVE std::size_t ft_replay_time_count(Session* session) {
  return session->times.size();
}

}  // extern "C"

}  // namespace fluxtrim_page
