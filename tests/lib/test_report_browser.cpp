// The calibration report as a browser draws it. Each recording's report is rendered by headless
// Chromium to a PNG whose pixels are checked: the plot areas hold data, the corrected samples of
// a good tumble lie on their circle, and the coverage map of a hemisphere shows the empty half.
// The screenshot is taken with the page's script blocked (a second content security policy
// added to its head), as a reader without scripts sees it. The plots' places on the page come
// from a separate load of the page with a probe script that reports their boxes. The pages and
// PNGs stay in FLUXTRIM_RENDER_DIR for a person to look at.
#ifdef FLUXTRIM_HAVE_PNG
#include <png.h>
#endif

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fluxtrim/report.hpp"
#include "report_test_data.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using report_test::Recording;

constexpr int kWindowWidth = 1200;

// The Chromium to run: $FLUXTRIM_CHROMIUM, or chromium or chromium-browser on the PATH; empty
// when there is none.
std::string findChromium() {
  if (const char* given = std::getenv("FLUXTRIM_CHROMIUM")) {
    return given;
  }
  const char* path = std::getenv("PATH");
  std::string directories = path ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= directories.size();) {
    std::size_t end = directories.find(':', start);
    end = end == std::string::npos ? directories.size() : end;
    for (const char* name : {"chromium", "chromium-browser"}) {
      const fs::path candidate = fs::path(directories.substr(start, end - start)) / name;
      if (access(candidate.c_str(), X_OK) == 0) {
        return candidate.string();
      }
    }
    start = end + 1;
  }
  return "";
}

struct Box {
  double x = 0.0, y = 0.0, width = 0.0, height = 0.0;
};

struct Image {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgba;
  const unsigned char* at(int x, int y) const {
    return &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
  }
};

// The image at path, or an empty one when it cannot be read.
Image readPng(const fs::path& path) {
#ifndef FLUXTRIM_HAVE_PNG
  ADD_FAILURE() << "this test was built without libpng, so it cannot read " << path
                << ": install Debian's libpng-dev and configure again";
  return {};
#else
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  Image image;
  if (!png_image_begin_read_from_file(&png, path.c_str())) {
    return image;
  }
  png.format = PNG_FORMAT_RGBA;
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) {
    png_image_free(&png);
    return image;
  }
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.rgba = std::move(pixels);
  return image;
#endif
}

// The boxes the probe reports, by name, and the page's height.
const char* const kProbed[][2] = {
    {"raw-xy", "#proj-raw-xy .frame"},
    {"raw-yz", "#proj-raw-yz .frame"},
    {"raw-xz", "#proj-raw-xz .frame"},
    {"corrected-xy", "#proj-corrected-xy .frame"},
    {"corrected-yz", "#proj-corrected-yz .frame"},
    {"corrected-xz", "#proj-corrected-xz .frame"},
    {"circle-xy", "#proj-corrected-xy .fit"},
    {"circle-yz", "#proj-corrected-yz .fit"},
    {"circle-xz", "#proj-corrected-xz .fit"},
    {"magnitudes", "#magnitudes"},
    {"coverage", "#coverage .frame"},
};

std::string probeScript() {
  std::string list;
  for (const auto& probe : kProbed) {
    list += std::string(list.empty() ? "" : ",") + "['" + probe[0] + "','" + probe[1] + "']";
  }
  return "<script>(function(){var q=[" + list +
         "],o='';q.forEach(function(p){var e=document.querySelector(p[1]);if(!e)return;"
         "var r=e.getBoundingClientRect();o+=p[0]+'='+r.left+','+(r.top+window.scrollY)+','+"
         "r.width+','+r.height+';';});o+='page=0,0,0,'+document.documentElement.scrollHeight;"
         "document.documentElement.setAttribute('data-boxes',o);})();</script>";
}

std::map<std::string, Box> parseBoxes(const std::string& dom) {
  std::map<std::string, Box> boxes;
  const std::string key = "data-boxes=\"";
  const std::size_t start = dom.find(key);
  if (start == std::string::npos) {
    return boxes;
  }
  std::string list = dom.substr(start + key.size());
  list = list.substr(0, list.find('"'));
  for (std::size_t at = 0; at < list.size();) {
    std::size_t end = list.find(';', at);
    end = end == std::string::npos ? list.size() : end;
    const std::string item = list.substr(at, end - at);
    const std::size_t equals = item.find('=');
    Box b;
    if (equals != std::string::npos && std::sscanf(item.c_str() + equals + 1, "%lf,%lf,%lf,%lf",
                                                   &b.x, &b.y, &b.width, &b.height) == 4) {
      boxes[item.substr(0, equals)] = b;
    }
    at = end + 1;
  }
  return boxes;
}

struct Rendering {
  Image image;
  std::map<std::string, Box> boxes;
};

// Runs Chromium headless with a fresh profile; extra holds the mode's arguments. Output to
// stdoutFile. True when it exited with status 0.
bool runChromium(const std::string& chromium, const fs::path& profile, const std::string& extra,
                 const fs::path& page, const fs::path& stdoutFile, const fs::path& log) {
  fs::remove_all(profile);
  fs::create_directories(profile);
  const std::string command =
      "timeout 180 '" + chromium +
      "' --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
      "--disable-background-networking --disable-component-update --disable-sync "
      "--hide-scrollbars --force-device-scale-factor=1 --force-color-profile=srgb "
      "--user-data-dir='" +
      profile.string() + "' " + extra + " 'file://" + page.string() + "' >'" + stdoutFile.string() +
      "' 2>'" + log.string() + "'";
  const int status = std::system(command.c_str());
  fs::remove_all(profile);
  return status == 0;
}

// Writes the recording's report to dir/name.html and renders it to dir/name.png.
Rendering render(const report_test::Calibrated& c, const std::string& name) {
  const fs::path dir = FLUXTRIM_RENDER_DIR;
  fs::create_directories(dir);
  const fs::path page = fs::absolute(dir / (name + ".html"));
  const fs::path probe = fs::absolute(dir / (name + "-probe.html"));
  const fs::path noScript = fs::absolute(dir / (name + "-noscript.html"));
  const fs::path png = fs::absolute(dir / (name + ".png"));
  fs::remove(png);
  const std::string html = fluxtrim::reportHtml(c.samples, c.options, c.result);
  std::ofstream(page, std::ios::binary) << html;
  std::ofstream(probe, std::ios::binary) << html << probeScript();
  std::string blocked = html;
  const std::size_t head = blocked.find("<head>");
  if (head == std::string::npos) {
    ADD_FAILURE() << "no <head> in the report";
    return {};
  }
  blocked.insert(head + 6,
                 "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'\">");
  std::ofstream(noScript, std::ios::binary) << blocked;

  Rendering r;
  const std::string chromium = findChromium();
  if (chromium.empty()) {
    ADD_FAILURE() << "Chromium was not found (neither $FLUXTRIM_CHROMIUM nor chromium or "
                     "chromium-browser on the PATH): install Debian's chromium "
                     "(apt-get install chromium) to check how the report renders";
    return r;
  }
  const fs::path dom = dir / (name + "-dom.html");
  const fs::path log = dir / (name + "-chromium.log");
  const fs::path profile = dir / (name + "-profile");
  if (!runChromium(chromium, profile,
                   "--dump-dom --window-size=" + std::to_string(kWindowWidth) + ",1000", probe, dom,
                   log)) {
    ADD_FAILURE() << chromium << " --dump-dom failed; see " << log;
    return r;
  }
  r.boxes = parseBoxes(test_support::readFile(dom));
  const int height = static_cast<int>(std::ceil(r.boxes["page"].height));
  if (r.boxes.size() != std::size(kProbed) + 1 || height <= 0) {
    ADD_FAILURE() << "the probe found " << r.boxes.size() << " of " << std::size(kProbed) + 1
                  << " boxes in " << dom;
    return r;
  }
  if (!runChromium(chromium, profile,
                   "--screenshot='" + png.string() + "' --window-size=" +
                       std::to_string(kWindowWidth) + "," + std::to_string(height),
                   noScript, dir / (name + "-screenshot.txt"), log)) {
    ADD_FAILURE() << chromium << " --screenshot failed; see " << log;
    return r;
  }
  r.image = readPng(png);
  EXPECT_EQ(r.image.width, kWindowWidth) << png;
  EXPECT_EQ(r.image.height, height) << png;
  return r;
}

// ---- Pixels.

bool near(const unsigned char* p, int r, int g, int b, int tolerance) {
  return std::abs(p[0] - r) + std::abs(p[1] - g) + std::abs(p[2] - b) <= tolerance;
}
// The kept samples' blue (#0072b2), in the core of a dot.
bool sampleBlue(const unsigned char* p) {
  return near(p, 0x00, 0x72, 0xb2, 60);
}
// Any mark of data: kept samples, the faint other samples, rejected crosses, histogram bars.
bool dataInk(const unsigned char* p) {
  return sampleBlue(p) || near(p, 0xc4, 0xc9, 0xcf, 12) || near(p, 0xd5, 0x5e, 0x00, 60);
}
// The hatching of empty coverage cells: a neutral grey from #9a9a9a to #dcdcdc and the blends
// between them.
bool hatch(const unsigned char* p) {
  const int high = std::max({p[0], p[1], p[2]});
  const int low = std::min({p[0], p[1], p[2]});
  return high - low <= 6 && low >= 0x8c && high <= 0xe4;
}

// Pixels strictly inside the box (its outline left out) for which the predicate holds.
template <typename Predicate>
std::size_t countInside(const Image& image, const Box& box, Predicate predicate, double yFrom = 0.0,
                        double yTo = 1.0) {
  std::size_t count = 0;
  const int x0 = static_cast<int>(std::ceil(box.x)) + 1;
  const int x1 = static_cast<int>(std::floor(box.x + box.width)) - 1;
  const int y0 = static_cast<int>(std::ceil(box.y + yFrom * box.height)) + 1;
  const int y1 = static_cast<int>(std::floor(box.y + yTo * box.height)) - 1;
  for (int y = std::max(y0, 0); y < std::min(y1, image.height); ++y) {
    for (int x = std::max(x0, 0); x < std::min(x1, image.width); ++x) {
      count += predicate(image.at(x, y)) ? 1 : 0;
    }
  }
  return count;
}

double area(const Box& box) {
  return box.width * box.height;
}

// Every plot area holds data: at least a few hundred pixels of sample or bar colours.
void expectPlotsHoldData(const Rendering& r) {
  for (const char* plot : {"raw-xy", "raw-yz", "raw-xz", "corrected-xy", "corrected-yz",
                           "corrected-xz", "magnitudes", "coverage"}) {
    const Box& box = r.boxes.at(plot);
    EXPECT_GT(countInside(r.image, box, dataInk), 300u) << plot << " looks blank";
  }
}

// Share of the coverage map's pixels in the vertical slice [from, to] (0 top, 1 bottom) that are
// hatched as empty.
double hatchedShare(const Rendering& r, double from, double to) {
  const Box& map = r.boxes.at("coverage");
  return countInside(r.image, map, hatch, from, to) / (area(map) * (to - from));
}

class ReportInBrowser : public ::testing::Test {};

// The corrected samples near each plane lie on the fitted circle: the blue pixels sit in a thin
// ring about the circle's centre, none inside it. The whole sphere is covered, nothing hatched.
TEST_F(ReportInBrowser, GoodTumbleLiesOnItsCircle) {
  const report_test::Calibrated c = report_test::calibrated(Recording::kTumble);
  ASSERT_EQ(c.result.diagnostics.verdict, fluxtrim::Verdict::Pass);
  const Rendering r = render(c, "tumble");
  ASSERT_GT(r.image.width, 0);
  expectPlotsHoldData(r);
  for (const char* plane : {"xy", "yz", "xz"}) {
    const Box& circle = r.boxes.at(std::string("circle-") + plane);
    const double cx = circle.x + circle.width / 2.0;
    const double cy = circle.y + circle.height / 2.0;
    const double radius = circle.width / 2.0;
    std::size_t blue = 0, onRing = 0, inside = 0;
    const Box& frame = r.boxes.at(std::string("corrected-") + plane);
    for (int y = static_cast<int>(frame.y) + 1; y < frame.y + frame.height - 1; ++y) {
      for (int x = static_cast<int>(frame.x) + 1; x < frame.x + frame.width - 1; ++x) {
        if (!sampleBlue(r.image.at(x, y))) {
          continue;
        }
        const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy) / radius;
        ++blue;
        onRing += d > 0.93 && d < 1.05 ? 1 : 0;
        inside += d < 0.85 ? 1 : 0;
      }
    }
    EXPECT_GT(blue, 500u) << plane;
    EXPECT_GT(onRing, 0.97 * blue) << plane << ": blue pixels off the circle";
    EXPECT_LT(inside, 0.005 * blue) << plane << ": blue pixels inside the circle";
  }
  EXPECT_LT(hatchedShare(r, 0.0, 1.0), 0.01);
}

// A flat spin covers a band of directions: its plots hold data and most of the map is hatched.
TEST_F(ReportInBrowser, FlatSpinShowsItsBand) {
  const report_test::Calibrated c = report_test::calibrated(Recording::kFlatSpin);
  ASSERT_NE(c.result.diagnostics.verdict, fluxtrim::Verdict::Pass);
  const Rendering r = render(c, "flat-spin");
  ASSERT_GT(r.image.width, 0);
  expectPlotsHoldData(r);
  EXPECT_GT(hatchedShare(r, 0.0, 1.0), 0.6);
}

// The samples of a hemisphere above the X-Y plane leave the map's lower half hatched and its
// upper half clear.
TEST_F(ReportInBrowser, HemisphereShowsItsEmptyHalf) {
  const report_test::Calibrated c = report_test::calibrated(Recording::kHemisphere);
  const Rendering r = render(c, "hemisphere");
  ASSERT_GT(r.image.width, 0);
  expectPlotsHoldData(r);
  EXPECT_GT(hatchedShare(r, 0.5, 1.0), 0.6);
  EXPECT_LT(hatchedShare(r, 0.0, 0.5), 0.02);
}

}  // namespace
