/// @file
/// Calibration while a recording arrives: the samples so far, the directions they cover, a fit
/// refreshed a few times a second with its verdict, and the rule that ends the recording. A
/// program feeds the session the bytes it reads with the time on its own clock; the session reads
/// no input, starts no thread and reads no clock, so that a replay can run faster than real time.
///
/// The live fit is calibrate() on a bounded subset of the samples: every sample while there are
/// few, then samples spread evenly over time (every second, fourth, ... sample) together with one
/// sample for each direction the fit before had not yet seen (a cell of the grid of 24 x 48 that
/// measures gaps), so that a pose held briefly an hour ago still counts. Its coverage, largest gap,
/// residual and verdict are the calibration's own. The final result is calibrate() on every
/// sample, exactly as on the recording the samples make (recording()).
#ifndef FLUXTRIM_LIVE_HPP
#define FLUXTRIM_LIVE_HPP

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fluxtrim/calibration.hpp"
#include "fluxtrim/samples.hpp"
#include "fluxtrim/types.hpp"

namespace fluxtrim {

/// When a live session ends by itself.
struct StopRule {
  enum class Kind {
    /// The live verdict has been pass over the last LiveOptions::passHold_s of data, the live
    /// coverage has reached `coverage`, and the calibration of every sample agrees (pass, and the
    /// same coverage). When it does not, it is asked again after a wait that doubles each time
    /// (from passHold_s to a minute), and LiveSession::disagreement() says why.
    Pass,
    Coverage,  ///< the live coverage of directions has reached `coverage`
    Samples,   ///< `samples` samples have been read; further ones are not taken
    Never,     ///< only the end of the input or the caller stops the session
  };
  Kind kind = Kind::Pass;
  double coverage = 0.9;      ///< fraction of the coverage map's cells, in (0, 1]
  std::uint64_t samples = 0;  ///< for Samples, at least 1
};

/// Reads a rule as a user types it: "pass" (coverage 90 %), "coverage:P" with P percent in
/// (0, 100] ("coverage:85", "coverage:85%"), "samples:N" with N a whole number of at least 1, or
/// "never". Throws UsageError naming the text for anything else.
StopRule parseStopRule(const std::string& text);

/// Why a live session stopped.
enum class StopReason {
  Running,     ///< it has not
  RuleMet,     ///< its StopRule
  EndOfInput,  ///< LiveSession::finish(): the input ended
  Stopped,     ///< LiveSession::stop(): the caller stopped it
};

struct LiveOptions {
  ReadOptions read;  ///< as readSamples takes them; progress and interrupted are not used
  CalibrationOptions calibration;
  StopRule until;
  double refreshInterval_s = 0.25;  ///< least time between two live fits, > 0
  double passHold_s = 2.0;          ///< StopRule::Pass: how long the verdict must have held, >= 0
  /// After this long, the layout of the lines is decided as soon as the lines held show the
  /// magnetometer's columns (SampleStream::decideEarly), without waiting for 256 lines.
  double decideAfter_s = 2.0;
  /// Samples spread over time in the live fit, at least 64; the subset adds up to one sample per
  /// cell of the fine grid (1152).
  std::size_t fitSamples = 4096;
};

/// The latest live fit.
struct LiveFit {
  /// When it was made, on the caller's clock; NaN before the first.
  double time_s = std::numeric_limits<double>::quiet_NaN();
  std::size_t samples = 0;   ///< samples fitted: all so far, or the bounded subset
  CalibrationResult result;  ///< calibrate() on them: calibration, coverage, checks, verdict
  bool calibrated() const;   ///< whether result holds a fitted calibration
};

/// A calibration that follows its input. Times are seconds on the caller's clock and must never
/// decrease; a recording made from the session holds them as its time stamps.
class LiveSession {
 public:
  /// source names the input in messages and in SampleSet::source. Throws UsageError for options
  /// out of their domain (the read options as readSamples, the calibration's as calibrate, a
  /// Samples rule of 0, an interval that is not > 0).
  explicit LiveSession(const LiveOptions& options, const std::string& source = "-");

  /// The bytes read at now_s. Samples beyond a Samples rule's count are not taken. Throws what
  /// SampleStream::push throws (an input whose lines cannot be read, or that leaves the choice of
  /// its columns open, once the layout is decided). Ignored once stopped.
  void push(const char* data, std::size_t size, double now_s);
  /// The time now: decides the layout early (LiveOptions::decideAfter_s), refits when new samples
  /// arrived and refreshInterval_s has passed since the last fit, and applies the stop rule.
  /// Returns whether it refitted. Throws as push does. Does nothing once stopped.
  bool update(double now_s);
  /// The input ended at now_s: its last line read even without its line end, or with cutShort
  /// (a device that went away in the middle of a line) dropped. Throws as push does. Does
  /// nothing once stopped.
  void finish(double now_s, bool cutShort = false);
  /// The caller stops the session at now_s (an interrupt): every complete line is read, the
  /// incomplete one after them dropped, as readSamples drops it when interrupted. Throws as push
  /// does. Does nothing once stopped.
  void stop(double now_s);

  const LiveOptions& options() const { return options_; }
  StopReason stopReason() const { return reason_; }
  bool stopped() const { return reason_ != StopReason::Running; }

  /// The samples and the summary of the lines as read so far; after a Samples rule it may hold a
  /// few samples beyond those taken.
  const SampleSet& read() const { return stream_.samples(); }
  /// Whether the layout is decided, and the lines held for it until then.
  bool decided() const { return stream_.decided(); }
  std::size_t heldLines() { return stream_.heldLines(); }
  /// Samples taken, and for each the time of the push that completed its line (for lines held
  /// until the layout was decided, that brought its line feed).
  std::size_t sampleCount() const { return times_.size(); }
  const std::vector<double>& sampleTimes() const { return times_; }
  /// The time of the latest push or update; NaN before the first.
  double time_s() const { return now_s_; }
  /// Samples per second over the last two seconds (since the first call when that is shorter),
  /// NaN before any time has passed.
  double rate_Hz() const;
  const LiveFit& fit() const { return fit_; }
  /// StopRule::Pass: the time of the first of the unbroken run of live fits that passed, NaN
  /// when the latest did not pass.
  double passSince_s() const { return passSince_s_; }
  /// StopRule::Pass: the last calibration of every sample that did not agree with a passing live
  /// fit, when there is one: the reasons the session went on.
  const std::optional<CalibrationResult>& disagreement() const { return disagreement_; }

  /// The first line of the recording the samples make: "time_s,mag_x (uT),mag_y (uT),mag_z (uT)"
  /// and "acc_x (g),acc_y (g),acc_z (g)" after them when the input has an accelerometer's
  /// columns, with the line feed. The unit is named when the input states it or it was given,
  /// and is gauss, milligauss, microtesla or nanotesla; a recording in tesla or counts names none
  /// and must be read with the same ReadOptions::unit. Empty until the layout is decided.
  std::string recordingHeader() const;
  /// Line index + 2 of the recording: the sample's time with three decimals, then its values in
  /// the shortest form that reads back as the same double ("nan" for a missing accelerometer
  /// value), with the line feed.
  std::string recordingLine(std::size_t index) const;
  /// The samples taken as readSamples reads that recording (its name aside: source is this
  /// session's): the same values to the bit, their line numbers and the line counts of the file.
  SampleSet recording() const;
  /// The samples taken, with the summary of the lines as read from the input (its counts, kinds,
  /// columns and unit, and why): for messages about the input. The same values as recording(),
  /// so that a result computed from one describes the samples of the other.
  SampleSet samplesAsRead() const;
  /// calibrate() on recording() with the session's options: what calibrating the recording
  /// gives. For a session stopped by StopRule::Pass, the calibration that agreed.
  CalibrationResult finalResult() const;

 private:
  void end(double now_s, bool cutShort, StopReason reason);
  void take(double now_s);
  double arrival(std::uint64_t line, double now_s) const;
  void addToSubset(std::size_t index);
  void refit(double now_s);
  bool keepsDirection(const Vec3& raw, int& cell) const;
  void renewDirections();
  void applyRule(double now_s);
  bool confirmPass(double now_s);

  LiveOptions options_;
  SampleStream stream_;
  std::vector<double> times_;
  double start_s_ = std::numeric_limits<double>::quiet_NaN();
  double now_s_ = std::numeric_limits<double>::quiet_NaN();
  StopReason reason_ = StopReason::Running;
  std::size_t heldTried_ = 0;  // lines held at the last early decision that failed
  // While the lines are held for the layout: the line feeds pushed so far, and after each push
  // their count and its time.
  std::uint64_t lineFeeds_ = 0;
  std::vector<std::pair<std::uint64_t, double>> heldTimes_;

  LiveFit fit_;
  std::size_t fitted_ = 0;           // samples taken at the last fit
  std::vector<std::size_t> spread_;  // every stride_-th sample
  std::size_t stride_ = 1;
  std::vector<std::size_t> directions_;  // per fine cell, a sample reaching it, or none

  double passSince_s_ = std::numeric_limits<double>::quiet_NaN();
  double nextConfirmation_s_ = -std::numeric_limits<double>::infinity();
  double confirmationWait_s_ = 0.0;
  std::optional<CalibrationResult> disagreement_;
  std::optional<CalibrationResult> agreed_;
};

/// How to hold a device so that the field lies along a direction in its axes, in words: "point +Z
/// down" for a direction near an axis, "point the edge between +X and -Z down" between two, "point
/// the corner +X +Y -Z down" between three. The field points down where the reference's
/// inclination is 45 degrees or more, up at -45 or less, and north in between ("point +X north");
/// without a model field, "along the field".
std::string poseText(const Vec3& direction, const Reference& reference);

}  // namespace fluxtrim

#endif
