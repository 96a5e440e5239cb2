// The live session driven faster than real time: a tumble replayed line by line on a simulated
// clock, the stop rules, the recording it makes read back by the ordinary reader, the bound on
// what it fits live, and the words for the pose that fills a gap.
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "calibration_test_data.h"
#include "fluxtrim/calibration.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/live.hpp"
#include "fluxtrim/text.hpp"

namespace {

using fluxtrim::LiveSession;
using fluxtrim::StopReason;
using fluxtrim::StopRule;

const calibration_test::Truth kTruth = {
    {0.06, -0.04, 0.09}, {1.05, 0.97, 0.98}, calibration_test::rotation(0.3, -0.2, 0.5), 0.48};

// Lines "x,y,z" in gauss of a device tumbled in the given coverage.
std::vector<std::string> tumbleLines(int count, calibration_test::Coverage coverage,
                                     unsigned seed = 5) {
  std::vector<std::string> lines;
  for (const calibration_test::Vec3& v :
       calibration_test::generate(kTruth, count, coverage, 0.002, seed)) {
    lines.push_back(fluxtrim::formatText("%.6f,%.6f,%.6f\n", v[0], v[1], v[2]));
  }
  return lines;
}

// Pushes the lines one at a time at rate_Hz from time start_s, updating after each, until the
// session stops or the lines run out; returns the time reached.
double replay(LiveSession& session, const std::vector<std::string>& lines, double rate_Hz,
              double start_s = 0.0) {
  double now = start_s;
  for (std::size_t k = 0; k < lines.size() && !session.stopped(); ++k) {
    now = start_s + static_cast<double>(k) / rate_Hz;
    session.push(lines[k].data(), lines[k].size(), now);
    session.update(now);
  }
  return now;
}

std::string recordingText(const LiveSession& session) {
  std::string text = session.recordingHeader();
  for (std::size_t k = 0; k < session.sampleCount(); ++k) text += session.recordingLine(k);
  return text;
}

void expectSameResult(const fluxtrim::CalibrationResult& a, const fluxtrim::CalibrationResult& b) {
  EXPECT_EQ(std::memcmp(&a.calibration, &b.calibration, sizeof a.calibration), 0);
  EXPECT_EQ(a.diagnostics.verdict, b.diagnostics.verdict);
  ASSERT_EQ(a.diagnostics.checks.size(), b.diagnostics.checks.size());
  for (std::size_t k = 0; k < a.diagnostics.checks.size(); ++k) {
    EXPECT_EQ(a.diagnostics.checks[k].message, b.diagnostics.checks[k].message);
  }
  EXPECT_EQ(a.unitGiven, b.unitGiven);
}

// A tumble at 100 Hz behind a banner, with status text among the samples: the session decides the
// layout without waiting for 256 lines, stops by itself once the verdict has passed for two
// seconds, and its final result is what calibrating its recording gives. Catches a stop before
// the verdict held, a stop that never comes, status lines fitted or counted against the verdict,
// and a recording that does not read back as the samples (lost digits, a unit not named).
TEST(LiveSession, StopsOnAHeldPassAndCalibratesLikeItsRecording) {
  std::vector<std::string> lines = tumbleLines(1500, calibration_test::Coverage::kFullSphere);
  lines.insert(lines.begin(), {"fluxtrim sketch: magnetometer ready\n", "units: gauss\n"});
  lines.insert(lines.begin() + 300, "status: battery 3.7 V\n");
  fluxtrim::LiveOptions options;
  options.read.unit = fluxtrim::SampleUnit{fluxtrim::Unit::Gauss};
  LiveSession session(options, "/dev/ttyACM0");
  replay(session, lines, 100.0);

  ASSERT_EQ(session.stopReason(), StopReason::RuleMet);
  EXPECT_LT(session.sampleCount(), 1000u);
  EXPECT_GE(session.fit().time_s - session.passSince_s(), options.passHold_s);
  EXPECT_EQ(session.fit().result.diagnostics.verdict, fluxtrim::Verdict::Pass);
  EXPECT_GE(session.fit().result.coverage.fraction, 0.9);
  EXPECT_EQ(session.read().summary.headerLines, 2u);
  EXPECT_EQ(session.read().summary.skippedLines, 1u);

  const std::string text = recordingText(session);
  EXPECT_EQ(text.substr(0, text.find('\n')), "time_s,mag_x (G),mag_y (G),mag_z (G)");
  std::istringstream in(text);
  const fluxtrim::SampleSet reread = fluxtrim::readSamples(in, {}, "rec.csv");
  ASSERT_EQ(reread.values.size(), session.sampleCount());
  EXPECT_EQ(std::memcmp(reread.values.data(), session.read().values.data(),
                        reread.values.size() * sizeof(fluxtrim::Vec3)),
            0);
  const fluxtrim::CalibrationResult final = session.finalResult();
  EXPECT_EQ(final.diagnostics.verdict, fluxtrim::Verdict::Pass);
  expectSameResult(final, fluxtrim::calibrate(reread));
  expectSameResult(final, fluxtrim::calibrate(session.recording()));
  EXPECT_EQ(session.recording().summary.lines, reread.summary.lines);
  EXPECT_EQ(session.samplesAsRead().summary.skippedLines, 1u);
}

// The other rules: half the directions never pass and never reach 90 %, so only the end of the
// input stops; coverage:P stops once reached; samples:N takes exactly N however the lines come.
// Catches a pass rule that ignores coverage, an end of input not reported, and a count rule that
// takes the rest of the last push.
TEST(LiveSession, OtherRulesAndTheEndOfInput) {
  const std::vector<std::string> half = tumbleLines(1200, calibration_test::Coverage::kHemisphere);
  LiveSession hemisphere({}, "-");
  const double end = replay(hemisphere, half, 100.0);
  EXPECT_FALSE(hemisphere.stopped());
  hemisphere.finish(end);
  EXPECT_EQ(hemisphere.stopReason(), StopReason::EndOfInput);
  EXPECT_EQ(hemisphere.sampleCount(), half.size());
  EXPECT_NE(hemisphere.finalResult().diagnostics.verdict, fluxtrim::Verdict::Pass);

  fluxtrim::LiveOptions byCoverage;
  byCoverage.until = fluxtrim::parseStopRule("coverage:40");
  LiveSession covered(byCoverage, "-");
  replay(covered, tumbleLines(1200, calibration_test::Coverage::kFullSphere), 100.0);
  EXPECT_EQ(covered.stopReason(), StopReason::RuleMet);
  EXPECT_GE(covered.fit().result.coverage.fraction, 0.4);
  EXPECT_LT(covered.sampleCount(), 1200u);

  fluxtrim::LiveOptions byCount;
  byCount.until = fluxtrim::parseStopRule("samples:250");
  LiveSession counted(byCount, "-");
  std::string all;
  for (const std::string& line : tumbleLines(300, calibration_test::Coverage::kFullSphere)) {
    all += line;
  }
  counted.push(all.data(), all.size(), 0.0);
  counted.finish(3.0);
  EXPECT_EQ(counted.stopReason(), StopReason::RuleMet);
  EXPECT_EQ(counted.sampleCount(), 250u);
  EXPECT_EQ(counted.recording().values.size(), 250u);
  EXPECT_EQ(counted.samplesAsRead().values.size(), 250u);
}

// Ten minutes at 100 Hz fitted live from a bounded subset: a tumble in every direction for six
// seconds, then turning about the vertical only, the poles never again. The subset stays within
// its bound, and the poles of the first seconds still count in the live coverage. Catches a live
// fit that grows with the input and one that forgets a pose held only briefly.
TEST(LiveSession, FitsABoundedSubsetThatKeepsEveryDirection) {
  fluxtrim::LiveOptions options;
  options.until.kind = StopRule::Kind::Never;
  options.fitSamples = 256;
  options.refreshInterval_s = 5.0;
  LiveSession session(options, "-");
  double now = replay(session, tumbleLines(600, calibration_test::Coverage::kFullSphere), 100.0);
  session.update(now + 5.0);
  const double early = session.fit().result.coverage.fraction;
  EXPECT_GT(early, 0.95);
  now = replay(session, tumbleLines(60000, calibration_test::Coverage::kBand, 6), 100.0, now + 5.0);
  session.update(now + 5.0);
  EXPECT_EQ(session.sampleCount(), 60600u);
  EXPECT_LE(session.fit().samples, options.fitSamples + 24u * 48u);
  EXPECT_GT(session.fit().result.coverage.fraction, early - 0.05);
}

// The words for the pose that fills a gap, and the rules as typed. Catches a sign or an axis
// swapped, the southern hemisphere told to point down, and a malformed rule taken.
TEST(LiveSession, PoseWordsAndStopRules) {
  fluxtrim::ReferenceField north;
  north.elements.north_nT = 20000.0;
  north.elements.down_nT = 43000.0;
  north.elements.inclination_deg = 65.0;
  fluxtrim::ReferenceField south = north;
  south.elements.down_nT = -43000.0;
  south.elements.inclination_deg = -65.0;
  fluxtrim::ReferenceField equator = north;
  equator.elements.inclination_deg = 10.0;
  const fluxtrim::Reference n = fluxtrim::Reference::fromField(north);
  EXPECT_EQ(fluxtrim::poseText({{0.1, -0.2, 0.95}}, n), "point +Z down");
  EXPECT_EQ(fluxtrim::poseText({{-0.9, 0.1, 0.1}}, fluxtrim::Reference::fromField(south)),
            "point -X up");
  EXPECT_EQ(fluxtrim::poseText({{0.0, -1.0, 0.0}}, fluxtrim::Reference::fromField(equator)),
            "point -Y north");
  EXPECT_EQ(fluxtrim::poseText({{0.7, 0.0, -0.7}}, n), "point the edge between +X and -Z down");
  EXPECT_EQ(fluxtrim::poseText({{-0.6, 0.55, 0.58}}, fluxtrim::Reference()),
            "point the corner -X +Y +Z along the field");

  EXPECT_EQ(fluxtrim::parseStopRule("pass").kind, StopRule::Kind::Pass);
  EXPECT_EQ(fluxtrim::parseStopRule("never").kind, StopRule::Kind::Never);
  EXPECT_DOUBLE_EQ(fluxtrim::parseStopRule("coverage:85%").coverage, 0.85);
  EXPECT_EQ(fluxtrim::parseStopRule("samples:3000").samples, 3000u);
  for (const char* bad : {"", "Pass", "coverage", "coverage:0", "coverage:101", "coverage:x",
                          "samples:0", "samples:-3", "samples:1.5", "until:pass"}) {
    EXPECT_THROW(fluxtrim::parseStopRule(bad), fluxtrim::UsageError) << bad;
  }
}

}  // namespace
