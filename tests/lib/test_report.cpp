// Tests of the HTML report as text: the same input gives the same bytes, the page loads nothing
// from anywhere, its size does not grow with the recording, untrusted text cannot add markup,
// and a result that does not belong to the samples is refused. How the page looks is checked in
// a browser by test_report_browser.
#include <cmath>
#include <filesystem>
#include <limits>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "fluxtrim/report.hpp"
#include "report_test_data.h"
#include "test_support.h"

namespace {

using report_test::Recording;

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

class Report : public test_support::TempDirTest {
 protected:
  Report() : TempDirTest("report") {}
};

// Faults caught: a time stamp, an address or an unordered container's order in the page; a
// figure left out; a web font, a remote script or image, or a CSS import sneaking in.
TEST_F(Report, SameBytesEveryTimeAndNothingLoaded) {
  report_test::Calibrated c = report_test::calibrated(Recording::kTumble);
  c.samples.values.push_back({{std::nan(""), 0.1, 0.2}});  // an invalid sample as well
  c.result = fluxtrim::calibrate(c.samples, c.options);
  const std::string page = fluxtrim::reportHtml(c.samples, c.options, c.result);
  EXPECT_EQ(fluxtrim::reportHtml(c.samples, c.options, c.result), page);
  const std::filesystem::path file = dir_ / "report.html";
  fluxtrim::writeReport(file.string(), c.samples, c.options, c.result);
  EXPECT_EQ(test_support::readFile(file), page);

  EXPECT_EQ(occurrences(page, "<svg id=\"proj-"), 6u);
  for (const char* id :
       {"id=\"magnitudes\"", "id=\"coverage\"", "id=\"calibration-text\"", "id=\"verdict\""}) {
    EXPECT_EQ(occurrences(page, id), 1u) << id;
  }
  EXPECT_NE(page.find("corrected = (raw - offset) * matrix"), std::string::npos);
  EXPECT_NE(page.find("content=\"default-src 'none';"), std::string::npos);
  // Nothing that names another resource: no scheme, no protocol-relative or file URL, no
  // src attribute, no import; url() and href only for fragments and data.
  EXPECT_FALSE(std::regex_search(page, std::regex("(https?|ftp|file|wss?):|\\s(src|srcset)=|"
                                                  "@import|=\"//|url\\((?!#)",
                                                  std::regex::icase)));
  for (std::size_t at = page.find("href="); at != std::string::npos;
       at = page.find("href=", at + 1)) {
    EXPECT_TRUE(page.compare(at, 11, "href=\"data:") == 0 || page.compare(at, 7, "href=\"#") == 0)
        << page.substr(at, 40);
  }
}

// Fault caught: every sample drawn, or the histograms' bins written per sample, so that a long
// recording gives a page of hundreds of megabytes.
TEST_F(Report, TenMillionSamplesGiveUnderTwoMegabytes) {
  const report_test::Calibrated base = report_test::calibrated(Recording::kTumble, 20000);
  constexpr std::size_t kSamples = 10000000;
  fluxtrim::SampleSet samples;
  fluxtrim::CalibrationResult result = base.result;
  samples.source = base.samples.source;
  samples.values.reserve(kSamples);
  result.status.clear();
  result.status.reserve(kSamples);
  for (std::size_t i = 0; i < kSamples; ++i) {
    const std::size_t k = i % base.samples.values.size();
    samples.values.push_back(base.samples.values[k]);
    result.status.push_back(base.result.status[k]);
  }
  const std::string page = fluxtrim::reportHtml(samples, base.options, result);
  EXPECT_LT(page.size(), 2000000u);
  EXPECT_NE(page.find("Drawn: 3000 of 9900000 kept and 1000 of 100000 rejected"),
            std::string::npos);
}

// Fault caught: a file name or an input line placed in the page unescaped, which could run a
// script, break the layout or the page's encoding.
TEST_F(Report, UntrustedTextCannotAddMarkup) {
  report_test::Calibrated c = report_test::calibrated(Recording::kHemisphere, 500);
  c.samples.source = "<script>alert(1)</script>\x1b[31m\xff\"'.csv";
  c.samples.summary.lines = 502;
  c.samples.summary.sampleLines = 500;
  c.samples.summary.skippedLines = 2;
  c.samples.summary.skipped.push_back({7, fluxtrim::LineProblem::NotANumber, 1, "1,<img>,3"});
  const std::string page = fluxtrim::reportHtml(c.samples, c.options, c.result);
  EXPECT_EQ(page.find("<script>alert"), std::string::npos);
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_EQ(page.find('\x1b'), std::string::npos);
  EXPECT_EQ(page.find('\xff'), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;\\x1B[31m\xEF\xBF\xBD&quot;&#39;.csv"),
            std::string::npos);
  EXPECT_NE(page.find("1,&lt;img&gt;,3"), std::string::npos);
}

// Faults caught: clipped samples drawn as merely rejected, without a legend; a reason that only
// restates the unit shown as a reason of its own, with its own action; figures of a device that
// was not turned shown as numbers, or as "nan".
TEST_F(Report, ClippedSamplesFollowOnsAndWhatIsNotJudgedAreShown) {
  report_test::Calibrated c = report_test::calibrated(Recording::kTumble, 1500);
  for (std::size_t k = 0; k < c.samples.values.size(); ++k) {
    for (double& v : c.samples.values[k]) v *= 100.0;  // microtesla, taken for gauss
    if (k % 33 == 5) c.samples.values[k][2] = -4096.0;
  }
  c.result = fluxtrim::calibrate(c.samples, c.options);
  std::string page = fluxtrim::reportHtml(c.samples, c.options, c.result);
  EXPECT_NE(page.find("class=\"pt-clipped\""), std::string::npos);
  EXPECT_NE(page.find("clipped at the sensor's limit, left out"), std::string::npos);
  const std::size_t also = page.find("<li class=\"sev-fail also\">");
  ASSERT_NE(also, std::string::npos);
  const std::string item = page.substr(also, page.find("</li>", also) - also);
  EXPECT_NE(item.find("radius"), std::string::npos) << item;
  EXPECT_EQ(item.find("class=\"action\""), std::string::npos) << item;

  c.samples.values.assign(500, {{20.0, -5.0, 42.0}});
  c.samples.unit = fluxtrim::SampleUnit{fluxtrim::Unit::Microtesla};
  c.result = fluxtrim::calibrate(c.samples, c.options);
  page = fluxtrim::reportHtml(c.samples, c.options, c.result);
  EXPECT_NE(page.find("<th>Coverage</th><td>not judged</td>"), std::string::npos);
  EXPECT_NE(page.find("not turned"), std::string::npos);
  EXPECT_EQ(page.find(">nan"), std::string::npos);
  EXPECT_EQ(page.find("the data look like"), std::string::npos);
}

// Fault caught: reading statuses past the end of a result computed from other samples, and a
// write failure reported as success.
TEST_F(Report, RefusesMismatchedResultAndUnwritablePath) {
  report_test::Calibrated c = report_test::calibrated(Recording::kTumble, 500);
  const fluxtrim::CalibrationResult result = c.result;
  c.samples.values.push_back({{0.1, 0.2, 0.3}});
  EXPECT_THROW(fluxtrim::reportHtml(c.samples, c.options, result), fluxtrim::UsageError);
  c.samples.values.pop_back();
  EXPECT_THROW(fluxtrim::writeReport((dir_ / "missing" / "report.html").string(), c.samples,
                                     c.options, result),
               fluxtrim::IoError);
}

}  // namespace
