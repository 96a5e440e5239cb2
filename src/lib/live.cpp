#include "fluxtrim/live.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>
#include <utility>

#include "constants.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "numparse.hpp"
#include "sphereGeometry.hpp"
#include "vec3.hpp"

namespace fluxtrim {

namespace {

using detail::kNaN;

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// The longest wait between two calibrations of every sample that did not agree with a passing
// live fit, seconds.
constexpr double kLongestConfirmationWait_s = 60.0;
// The window of the sample rate, seconds.
constexpr double kRateWindow_s = 2.0;

std::string quotedRule(const std::string& text) {
  return "'" + printableText(text, 60) + "'";
}

// P of "P" or "P%": a percentage in (0, 100], as a fraction.
double coverageOf(const std::string& text, const std::string& rule) {
  std::string number = text;
  if (!number.empty() && number.back() == '%') {
    number.pop_back();
  }
  double percent = 0.0;
  const char* end = nullptr;
  const char* first = number.data();
  const char* last = first + number.size();
  if (number.empty() || numparse::toDouble(first, last, percent, &end) != numparse::Status::Ok ||
      end != last || !(percent > 0.0 && percent <= 100.0)) {
    throw UsageError("stop rule " + quotedRule(rule) +
                     ": the coverage is a percentage above 0 and at most 100, such as coverage:90");
  }
  return percent / 100.0;
}

std::uint64_t countOf(const std::string& text, const std::string& rule) {
  std::uint64_t count = 0;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, count);
  if (text.empty() || error != std::errc() || end != last || count == 0) {
    throw UsageError("stop rule " + quotedRule(rule) +
                     ": the count is a whole number of at least 1, such as samples:3000");
  }
  return count;
}

// Whether the unit can be named in a column's name and read back from it.
bool nameable(const SampleUnit& unit) {
  return unit.unit == Unit::Gauss || unit.unit == Unit::Milligauss ||
         unit.unit == Unit::Microtesla || unit.unit == Unit::Nanotesla;
}

std::string axisText(const Vec3& u, int axis) {
  return std::string(u[static_cast<std::size_t>(axis)] < 0.0 ? "-" : "+") + "XYZ"[axis];
}

void checkOptions(const LiveOptions& options) {
  const StopRule& rule = options.until;
  if (!(rule.coverage > 0.0 && rule.coverage <= 1.0)) {
    throw UsageError("live session: the stop rule's coverage must lie in (0, 1]");
  }
  if (rule.kind == StopRule::Kind::Samples && rule.samples == 0) {
    throw UsageError("live session: a stop rule by samples needs at least 1");
  }
  if (!(options.refreshInterval_s > 0.0) || !std::isfinite(options.refreshInterval_s) ||
      !(options.passHold_s >= 0.0) || !std::isfinite(options.passHold_s) ||
      !(options.decideAfter_s >= 0.0)) {
    throw UsageError(
        "live session: the refresh interval must be finite and > 0, the hold of a "
        "pass and the wait for the layout finite and >= 0");
  }
  if (options.fitSamples < 64) {
    throw UsageError("live session: fitSamples must be at least 64");
  }
  calibrate(SampleSet(), options.calibration);  // throws for options out of their domain
}

}  // namespace

StopRule parseStopRule(const std::string& text) {
  StopRule rule;
  const std::size_t colon = text.find(':');
  const std::string name = text.substr(0, colon);
  const std::string value = colon == std::string::npos ? std::string() : text.substr(colon + 1);
  if (text == "pass") {
    rule.kind = StopRule::Kind::Pass;
  } else if (text == "never") {
    rule.kind = StopRule::Kind::Never;
  } else if (name == "coverage" && colon != std::string::npos) {
    rule.kind = StopRule::Kind::Coverage;
    rule.coverage = coverageOf(value, text);
  } else if (name == "samples" && colon != std::string::npos) {
    rule.kind = StopRule::Kind::Samples;
    rule.samples = countOf(value, text);
  } else {
    throw UsageError("stop rule " + quotedRule(text) +
                     ": expected pass, coverage:P (percent), samples:N or never");
  }
  return rule;
}

bool LiveFit::calibrated() const {
  return result.models[static_cast<std::size_t>(result.model)].decision != ModelDecision::NotFitted;
}

LiveSession::LiveSession(const LiveOptions& options, const std::string& source)
    : options_(options), stream_(options.read, source) {
  checkOptions(options_);
  directions_.assign(static_cast<std::size_t>(detail::fineGrid().cells()), kNone);
}

void LiveSession::push(const char* data, std::size_t size, double now_s) {
  if (stopped()) {
    return;
  }
  now_s_ = now_s;
  if (std::isnan(start_s_)) {
    start_s_ = now_s;
  }
  if (!stream_.decided()) {
    lineFeeds_ += static_cast<std::uint64_t>(std::count(data, data + size, '\n'));
    heldTimes_.emplace_back(lineFeeds_, now_s);
  }
  stream_.push(data, size);
  take(now_s);
}

bool LiveSession::update(double now_s) {
  if (stopped()) {
    return false;
  }
  now_s_ = now_s;
  if (std::isnan(start_s_)) {
    start_s_ = now_s;
  }
  if (!stream_.decided() && now_s - start_s_ >= options_.decideAfter_s &&
      stream_.heldLines() > heldTried_) {
    if (stream_.decideEarly()) {
      take(now_s);
    } else {
      heldTried_ = stream_.heldLines();
    }
  }
  if (stopped() || sampleCount() == fitted_ ||
      (!std::isnan(fit_.time_s) && now_s - fit_.time_s < options_.refreshInterval_s)) {
    return false;
  }
  refit(now_s);
  return true;
}

void LiveSession::finish(double now_s, bool cutShort) {
  end(now_s, cutShort, StopReason::EndOfInput);
}

void LiveSession::stop(double now_s) {
  end(now_s, true, StopReason::Stopped);
}

// The end of the input, for a reason: the lines held read, the session stopped.
void LiveSession::end(double now_s, bool cutShort, StopReason reason) {
  if (stopped()) {
    return;
  }
  now_s_ = now_s;
  stream_.finish(cutShort);
  take(now_s);
  if (!stopped()) {
    reason_ = reason;
  }
}

double LiveSession::rate_Hz() const {
  const double window = std::min(kRateWindow_s, now_s_ - start_s_);
  if (!(window > 0.0)) {
    return kNaN;
  }
  const auto recent = std::upper_bound(times_.begin(), times_.end(), now_s_ - window);
  return static_cast<double>(times_.end() - recent) / window;
}

// The samples the stream completed, up to a Samples rule's count, stamped with the time.
void LiveSession::take(double now_s) {
  std::size_t available = read().values.size();
  const bool counted = options_.until.kind == StopRule::Kind::Samples;
  if (counted && available > options_.until.samples) {
    available = static_cast<std::size_t>(options_.until.samples);
  }
  for (std::size_t k = times_.size(); k < available; ++k) {
    times_.push_back(arrival(read().lineNumbers[k], now_s));
    addToSubset(k);
  }
  if (stream_.decided()) {
    heldTimes_.clear();
  }
  if (counted && times_.size() >= options_.until.samples) {
    reason_ = StopReason::RuleMet;
  }
}

// The time a line arrived: that of the push that brought its line feed while the lines were held
// for the layout, else now.
double LiveSession::arrival(std::uint64_t line, double now_s) const {
  const auto pushed = std::lower_bound(
      heldTimes_.begin(), heldTimes_.end(), line,
      [](const std::pair<std::uint64_t, double>& held, std::uint64_t l) { return held.first < l; });
  return pushed != heldTimes_.end() ? pushed->second : now_s;
}

// The live fit's samples: every stride_-th, the stride doubled whenever they grow beyond the
// bound; and the first sample that reaches a cell of the fine grid under the last fit.
void LiveSession::addToSubset(std::size_t index) {
  if (index % stride_ == 0) {
    spread_.push_back(index);
    if (spread_.size() > options_.fitSamples) {
      stride_ *= 2;
      spread_.erase(std::remove_if(spread_.begin(), spread_.end(),
                                   [this](std::size_t k) { return k % stride_ != 0; }),
                    spread_.end());
    }
  }
  int cell = -1;
  if (keepsDirection(read().values[index], cell) &&
      directions_[static_cast<std::size_t>(cell)] == kNone) {
    directions_[static_cast<std::size_t>(cell)] = index;
  }
}

// Whether the last fit keeps the raw sample (it passes the fit's windows) and the fine cell of its
// corrected direction.
bool LiveSession::keepsDirection(const Vec3& raw, int& cell) const {
  if (!fit_.calibrated()) {
    return false;
  }
  for (const AcceptanceWindow& window : fit_.result.windows) {
    if (!window.accepts(window.measureOf(raw))) {
      return false;
    }
  }
  cell = detail::fineGrid().cellOf(applyCalibration(fit_.result.calibration, raw));
  return cell >= 0;
}

// The samples that reached a direction, placed again under the new fit.
void LiveSession::renewDirections() {
  std::vector<std::size_t> previous(directions_.size(), kNone);
  previous.swap(directions_);
  for (const std::size_t index : previous) {
    int cell = -1;
    if (index != kNone && keepsDirection(read().values[index], cell) &&
        directions_[static_cast<std::size_t>(cell)] == kNone) {
      directions_[static_cast<std::size_t>(cell)] = index;
    }
  }
}

void LiveSession::refit(double now_s) {
  std::vector<std::size_t> rows = spread_;
  for (const std::size_t index : directions_) {
    if (index != kNone) {
      rows.push_back(index);
    }
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  const SampleSet& all = read();
  SampleSet subset;
  subset.source = all.source;
  subset.unit = all.unit;
  subset.unitSource = all.unitSource;
  subset.unitGiven = all.unitGiven;
  subset.accelerometerUnit = all.accelerometerUnit;
  subset.values.reserve(rows.size());
  for (const std::size_t k : rows) {
    subset.values.push_back(all.values[k]);
    if (!all.accelerometer.empty()) {
      subset.accelerometer.push_back(all.accelerometer[k]);
    }
  }
  fit_.result = calibrate(subset, options_.calibration);
  fit_.samples = rows.size();
  fit_.time_s = now_s;
  fitted_ = sampleCount();
  renewDirections();
  applyRule(now_s);
}

void LiveSession::applyRule(double now_s) {
  const StopRule& rule = options_.until;
  const double coverage = fit_.result.coverage.fraction;
  switch (rule.kind) {
    case StopRule::Kind::Pass:
      if (fit_.result.diagnostics.verdict != Verdict::Pass) {
        passSince_s_ = kNaN;
        return;
      }
      if (std::isnan(passSince_s_)) {
        passSince_s_ = now_s;
      }
      if (now_s - passSince_s_ >= options_.passHold_s && coverage >= rule.coverage &&
          now_s >= nextConfirmation_s_ && confirmPass(now_s)) {
        reason_ = StopReason::RuleMet;
      }
      return;
    case StopRule::Kind::Coverage:
      if (coverage >= rule.coverage) {
        reason_ = StopReason::RuleMet;
      }
      return;
    case StopRule::Kind::Samples:
    case StopRule::Kind::Never:
      return;
  }
}

// Whether the calibration of every sample agrees with the passing live fit; when it does not,
// it is kept to say why, and asked again after a longer wait.
bool LiveSession::confirmPass(double now_s) {
  CalibrationResult all = calibrate(recording(), options_.calibration);
  if (all.diagnostics.verdict == Verdict::Pass &&
      all.coverage.fraction >= options_.until.coverage) {
    agreed_ = std::move(all);
    return true;
  }
  disagreement_ = std::move(all);
  confirmationWait_s_ = confirmationWait_s_ == 0.0
                            ? std::max(options_.passHold_s, options_.refreshInterval_s)
                            : std::min(2.0 * confirmationWait_s_, kLongestConfirmationWait_s);
  nextConfirmation_s_ = now_s + confirmationWait_s_;
  return false;
}

std::string LiveSession::recordingHeader() const {
  if (!stream_.decided()) {
    return std::string();
  }
  const SampleSet& set = read();
  const std::string unit =
      set.unitGiven && nameable(set.unit) ? " (" + set.unit.symbol() + ")" : std::string();
  std::string header = "time_s,mag_x" + unit + ",mag_y" + unit + ",mag_z" + unit;
  if (set.summary.accelerometerColumns[0] >= 0) {
    const std::optional<AccelerometerUnit>& a = set.accelerometerUnit;
    const std::string accelerometer =
        a && a->unit != AccelUnit::Counts ? " (" + a->symbol() + ")" : std::string();
    header += ",acc_x" + accelerometer + ",acc_y" + accelerometer + ",acc_z" + accelerometer;
  }
  return header + "\n";
}

std::string LiveSession::recordingLine(std::size_t index) const {
  const SampleSet& set = read();
  std::string line = formatText("%.3f", times_.at(index));
  for (const double value : set.values[index]) {
    line += "," + shortestText(value);
  }
  if (!set.accelerometer.empty()) {
    for (const double value : set.accelerometer[index]) {
      line += "," + shortestText(value);
    }
  }
  return line + "\n";
}

SampleSet LiveSession::recording() const {
  const SampleSet& live = read();
  const std::size_t count = sampleCount();
  // The layout and unit as the recording's first lines give them: its header and a line.
  ReadOptions options;
  if (live.unitGiven && !nameable(live.unit)) {
    options.unit = live.unit;
  }
  options.assumedUnit = options_.read.assumedUnit;
  const std::string header = recordingHeader();
  std::istringstream first(header + (count > 0 ? recordingLine(0) : std::string()));
  SampleSet set = readSamples(first, options, live.source);
  set.values.assign(live.values.begin(), live.values.begin() + static_cast<std::ptrdiff_t>(count));
  if (!live.accelerometer.empty()) {
    set.accelerometer.assign(live.accelerometer.begin(),
                             live.accelerometer.begin() + static_cast<std::ptrdiff_t>(count));
  }
  set.lineNumbers.resize(count);
  std::uint64_t bytes = header.size();
  for (std::size_t k = 0; k < count; ++k) {
    set.lineNumbers[k] = k + 2;
    bytes += recordingLine(k).size();
  }
  set.summary.lines = count + 1;
  set.summary.sampleLines = count;
  set.summary.bytes = bytes;
  return set;
}

SampleSet LiveSession::samplesAsRead() const {
  SampleSet set = read();
  const std::size_t extra = set.values.size() - sampleCount();
  set.values.resize(sampleCount());
  set.lineNumbers.resize(sampleCount());
  if (!set.accelerometer.empty()) {
    set.accelerometer.resize(sampleCount());
  }
  set.summary.sampleLines -= extra;
  set.summary.lines -= extra;
  return set;
}

CalibrationResult LiveSession::finalResult() const {
  return agreed_ ? *agreed_ : calibrate(recording(), options_.calibration);
}

std::string poseText(const Vec3& direction, const Reference& reference) {
  const double n = detail::norm(direction);
  if (!(n > 0.0) || !std::isfinite(n)) {
    return std::string();
  }
  const Vec3 u{{direction[0] / n, direction[1] / n, direction[2] / n}};
  int order[3] = {0, 1, 2};
  std::sort(order, order + 3, [&u](int a, int b) {
    return std::fabs(u[static_cast<std::size_t>(a)]) > std::fabs(u[static_cast<std::size_t>(b)]);
  });
  // An axis counts when the direction lies within about 63 degrees of it.
  const double kAxisShare = 0.45;
  const bool second = std::fabs(u[static_cast<std::size_t>(order[1])]) >= kAxisShare;
  const bool third = second && std::fabs(u[static_cast<std::size_t>(order[2])]) >= kAxisShare;
  std::string where = "along the field";
  if (reference.kind() == Reference::Kind::Field) {
    const double inclination = reference.field().elements.inclination_deg;
    where = inclination >= 45.0 ? "down" : inclination <= -45.0 ? "up" : "north";
  }
  if (third) {
    std::sort(order, order + 3);
    return "point the corner " + axisText(u, order[0]) + " " + axisText(u, order[1]) + " " +
           axisText(u, order[2]) + " " + where;
  }
  if (second) {
    const int a = std::min(order[0], order[1]);
    const int b = std::max(order[0], order[1]);
    return "point the edge between " + axisText(u, a) + " and " + axisText(u, b) + " " + where;
  }
  return "point " + axisText(u, order[0]) + " " + where;
}

}  // namespace fluxtrim
