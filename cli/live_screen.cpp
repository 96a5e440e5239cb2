// The live screen: composed as lines, then written over the previous screen in one write so that
// nothing flickers; the map drawn from the coverage of the live fit.
#include "live_screen.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <limits>

#include "fluxtrim/text.hpp"
#include "interrupt.hpp"

namespace fluxtrim_cli {

namespace {

using fluxtrim::formatText;

constexpr std::size_t kMostColumns = 80;
// The map: cells four columns wide, after a label column of three.
constexpr int kCellColumns = 4;
constexpr std::size_t kLabelColumns = 3;
// The largest gap is boxed on the map from this size on, degrees: a smaller one lies within a
// cell.
constexpr double kMarkedGap_deg = 20.0;
// Bytes without a line end, and lines without a sample, that say the input is not read right:
// a wrong speed gives noise, wrong columns or a wrong match give no sample.
constexpr std::uint64_t kBytesWithoutLines = 2000;
constexpr std::uint64_t kLinesWithoutSamples = 20;
// Seconds between two screens on a terminal, and between two lines elsewhere.
constexpr double kScreenInterval_s = 0.125;
constexpr double kLineInterval_s = 5.0;

const char* const kShowCursor = "\x1b[?25h";
const char* const kHideCursor = "\x1b[?25l";

extern "C" void showCursorOnExit() {
  const ssize_t written = ::write(STDERR_FILENO, kShowCursor, 6);
  (void)written;
}

// Display columns of UTF-8 text without escape sequences: one per character.
std::size_t columnsOf(const std::string& text) {
  std::size_t columns = 0;
  for (const char c : text) {
    columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  }
  return columns;
}

// The text cut after width display columns; colour sequences, which take none, are kept whole.
std::string cut(const std::string& text, std::size_t width) {
  std::string out;
  std::size_t columns = 0;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const unsigned char c = static_cast<unsigned char>(text[k]);
    if (c == 0x1b) {
      const std::size_t end = text.find('m', k);
      out += text.substr(k, end - k + 1);
      k = end;
      continue;
    }
    if ((c & 0xC0) != 0x80 && columns++ == width) break;
    out += text[k];
  }
  return out + (text.find('\x1b') != std::string::npos ? "\x1b[0m" : "");
}

// The samples and the other lines, after the screen's "samples" label.
std::string samplesText(fluxtrim::LiveSession& session) {
  if (!session.decided()) {
    const std::size_t held = session.heldLines();
    const std::uint64_t bytes = session.read().summary.bytes;
    if (held == 0 && bytes >= kBytesWithoutLines) {
      return formatText("none: %llu bytes without a line end; is --baud right?",
                        static_cast<unsigned long long>(bytes));
    }
    return formatText("none yet: %zu lines held until the columns are known", held);
  }
  const fluxtrim::ReadSummary& s = session.read().summary;
  std::string other;
  const std::pair<std::uint64_t, const char*> counts[] = {{s.headerLines, "header"},
                                                          {s.commentLines, "comment"},
                                                          {s.blankLines, "blank"},
                                                          {s.skippedLines, "skipped"},
                                                          {s.leftOutLines, "other kinds"}};
  std::uint64_t total = 0;
  for (const auto& [count, name] : counts) {
    if (count == 0) continue;
    other += formatText("%s%llu %s", other.empty() ? "" : ", ",
                        static_cast<unsigned long long>(count), name);
    total += count;
  }
  const double rate = session.rate_Hz();
  if (session.sampleCount() == 0 && total >= kLinesWithoutSamples) {
    return formatText("none in %llu lines (", static_cast<unsigned long long>(total)) + other +
           "); check --baud, --columns, --match";
  }
  return formatText("%zu", session.sampleCount()) +
         (std::isnan(rate) ? std::string() : formatText(" at %.1f Hz", rate)) +
         (total == 0
              ? std::string()
              : formatText("; %llu lines not samples (", static_cast<unsigned long long>(total)) +
                    other + ")");
}

std::string gapText(const fluxtrim::LiveSession& session) {
  const fluxtrim::Coverage& c = session.fit().result.coverage;
  const std::string pose =
      fluxtrim::poseText(c.largestGapDirection, session.options().calibration.reference);
  return formatText("largest gap %.0f deg", c.largestGap_deg) +
         (pose.empty() ? std::string() : ": " + pose);
}

std::string coverageLine(const fluxtrim::LiveSession& session) {
  const fluxtrim::LiveFit& fit = session.fit();
  if (std::isnan(fit.time_s))
    return "coverage  none yet: turn the device slowly in every direction";
  if (std::isnan(fit.result.coverage.fraction)) {
    return "coverage  not judged: the device has not been turned yet";
  }
  return formatText("coverage  %.0f %% of directions, ", 100.0 * fit.result.coverage.fraction) +
         gapText(session);
}

std::string verdictText(const fluxtrim::Verdict verdict, const Style& style) {
  const char* name = fluxtrim::verdictName(verdict);
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
  switch (verdict) {
    case fluxtrim::Verdict::Pass:
      return style.good(upper);
    case fluxtrim::Verdict::Warn:
      return style.warn(upper);
    case fluxtrim::Verdict::Fail:
      break;
  }
  return style.fault(upper);
}

// The verdict with the codes of its first two reasons: "WARN (gap, coverage, +1)".
std::string judged(const fluxtrim::CalibrationResult& result, const Style& style) {
  std::string text = verdictText(result.diagnostics.verdict, style);
  const std::vector<fluxtrim::Check>& reasons = result.diagnostics.reasons;
  for (std::size_t k = 0; k < reasons.size() && k < 2; ++k) {
    text += std::string(k == 0 ? " (" : ", ") + fluxtrim::checkCodeName(reasons[k].code);
  }
  if (reasons.size() > 2) text += formatText(", +%zu", reasons.size() - 2);
  return text + (reasons.empty() ? "" : ")");
}

std::string fitLine(const fluxtrim::LiveSession& session, const Style& style) {
  const fluxtrim::LiveFit& fit = session.fit();
  if (std::isnan(fit.time_s)) return "fit       none yet";
  const fluxtrim::Figures& f = fit.result.figures;
  std::string line = "fit       ";
  if (fit.calibrated() && fluxtrim::judgeable(f.residual_mG)) {
    line += formatText("residual %.2f mG", f.residual_mG) +
            (fluxtrim::judgeable(f.residualToField)
                 ? formatText(" (%.2f %%)", 100.0 * f.residualToField)
                 : std::string()) +
            ", ";
  }
  line += "verdict " + judged(fit.result, style);
  const double since = session.passSince_s();
  if (!std::isnan(since)) line += formatText(" for %.1f s", session.time_s() - since);
  if (session.disagreement()) {
    line += "; all samples " + judged(*session.disagreement(), style);
  }
  return line;
}

// The glyphs of one row of a map cell: filled, empty, or the box around the largest gap.
std::string cellGlyphs(bool filled, bool gap, int row, int rowsPerBand, const Style& style) {
  if (gap) {
    if (rowsPerBand == 1) return style.warn("[  ]");
    return style.warn(row == 0 ? "┌──┐" : "└──┘");
  }
  return filled ? "████" : "░░░░";
}

void appendMap(std::vector<std::string>& lines, const fluxtrim::Coverage& coverage, bool judged,
               const Style& style, int rowsPerBand) {
  const fluxtrim::SphereGrid& grid = coverage.grid;
  const int gapCell = judged && coverage.largestGap_deg >= kMarkedGap_deg
                          ? grid.cellOf(coverage.largestGapDirection)
                          : -1;
  const int rows = grid.bands() * rowsPerBand;
  for (int row = 0; row < rows; ++row) {
    const int band = grid.bands() - 1 - row / rowsPerBand;
    std::string line = row == 0 ? "+Z " : row == rows - 1 ? "-Z " : "   ";
    for (int sector = 0; sector < grid.sectors(); ++sector) {
      const int cell = band * grid.sectors() + sector;
      const bool filled = judged &&
                          static_cast<std::size_t>(cell) < coverage.samplesPerCell.size() &&
                          coverage.samplesPerCell[static_cast<std::size_t>(cell)] > 0;
      line += cellGlyphs(filled, cell == gapCell, row % rowsPerBand, rowsPerBand, style);
    }
    lines.push_back(line);
  }
  // The direction around Z, from -X through -Y, +X and +Y back to -X.
  std::string axis(kLabelColumns + static_cast<std::size_t>(grid.sectors() * kCellColumns), ' ');
  const char* const names[] = {"-X", "-Y", "+X", "+Y", "-X"};
  for (std::size_t k = 0; k < 5; ++k) {
    const std::size_t at = std::min(axis.size() - 2, kLabelColumns + k * (axis.size() - 3) / 4);
    axis.replace(at, 2, names[k]);
  }
  lines.push_back(axis);
}

}  // namespace

std::vector<std::string> liveFrame(fluxtrim::LiveSession& session, const std::string& title,
                                   const std::string& rule, const Style& style, int rowsPerBand,
                                   std::size_t width) {
  const double now = session.time_s();
  std::vector<std::string> lines{
      "fluxtrim watch " + title + formatText(", %.1f s, until ", std::isnan(now) ? 0.0 : now) +
          rule,
      "samples   " + samplesText(session), coverageLine(session), fitLine(session, style)};
  if (rowsPerBand > 0) {
    const fluxtrim::LiveFit& fit = session.fit();
    appendMap(lines, fit.result.coverage,
              !std::isnan(fit.time_s) && !std::isnan(fit.result.coverage.fraction), style,
              rowsPerBand);
  }
  lines.push_back("Ctrl-C stops and calibrates what was read; twice, quits without writing.");
  for (std::string& line : lines) {
    if (columnsOf(line) > width || line.find('\x1b') != std::string::npos) line = cut(line, width);
  }
  return lines;
}

std::string progressLine(fluxtrim::LiveSession& session) {
  if (session.sampleCount() == 0) {
    return formatText("fluxtrim watch: %.0f s, samples ", session.time_s()) + samplesText(session);
  }
  std::string line =
      formatText("fluxtrim watch: %.0f s, %zu samples", session.time_s(), session.sampleCount());
  const double rate = session.rate_Hz();
  if (!std::isnan(rate)) line += formatText(" at %.1f Hz", rate);
  const fluxtrim::LiveFit& fit = session.fit();
  if (std::isnan(fit.time_s)) return line;
  const fluxtrim::Coverage& c = fit.result.coverage;
  if (!std::isnan(c.fraction)) {
    line += formatText(", coverage %.0f %%, ", 100.0 * c.fraction) + gapText(session);
  }
  if (fit.calibrated() && fluxtrim::judgeable(fit.result.figures.residual_mG)) {
    line += formatText(", residual %.2f mG", fit.result.figures.residual_mG);
  }
  return line + ", verdict " + judged(fit.result, Style());
}

LiveScreen::LiveScreen(std::string title, std::string rule)
    : title_(std::move(title)),
      rule_(std::move(rule)),
      terminal_(isatty(STDERR_FILENO) == 1),
      style_(stderr),
      shown_s_(terminal_ ? -std::numeric_limits<double>::infinity() : 0.0) {}

LiveScreen::~LiveScreen() {
  if (cursorHidden_) {
    std::fputs(kShowCursor, stderr);
    std::fflush(stderr);
    removeSignalExitHook(showCursorOnExit);
  }
}

void LiveScreen::show(fluxtrim::LiveSession& session, double now_s) {
  if (now_s - shown_s_ < (terminal_ ? kScreenInterval_s : kLineInterval_s)) return;
  shown_s_ = now_s;
  if (terminal_) {
    draw(session);
  } else {
    std::fprintf(stderr, "%s\n", progressLine(session).c_str());
    std::fflush(stderr);
  }
}

void LiveScreen::close(fluxtrim::LiveSession& session) {
  if (terminal_) draw(session);
  if (cursorHidden_) {
    std::fputs(kShowCursor, stderr);
    std::fflush(stderr);
    removeSignalExitHook(showCursorOnExit);
    cursorHidden_ = false;
  }
}

// The screen written over the last one: the cursor moved up to its first line, each line
// rewritten and the rest of it cleared, all in one write. The map is halved on a terminal too
// short for it, and left out on a very short one, so that the screen never scrolls.
void LiveScreen::draw(fluxtrim::LiveSession& session) {
  struct winsize size {};
  std::size_t width = kMostColumns;
  int height = 24;
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    width = std::min<std::size_t>(width, size.ws_col - 1u);
    height = size.ws_row;
  }
  // The screen holds 6 lines besides the map's 8 bands, and the cursor rests below it.
  const int rowsPerBand = height >= 23 ? 2 : height >= 15 ? 1 : 0;
  const std::vector<std::string> lines =
      liveFrame(session, title_, rule_, style_, rowsPerBand, width);
  std::string screen;
  if (!cursorHidden_) {
    screen += kHideCursor;
    cursorHidden_ = true;
    addSignalExitHook(showCursorOnExit);
  }
  if (lines_ > 0) screen += formatText("\r\x1b[%zuA", lines_);
  for (const std::string& line : lines) screen += line + "\x1b[K\n";
  for (std::size_t k = lines.size(); k < lines_; ++k) screen += "\x1b[K\n";
  lines_ = std::max(lines_, lines.size());
  std::fwrite(screen.data(), 1, screen.size(), stderr);
  std::fflush(stderr);
}

}  // namespace fluxtrim_cli
