// What watch shows on standard error while it reads. On a terminal: a screen redrawn in place a
// few times a second, with the counts, the coverage and its largest gap, the live fit and its
// verdict, and an equal-area map of the directions seen; the cursor hidden meanwhile. Elsewhere
// (a log, a pipe): one plain line every few seconds.
#ifndef FLUXTRIM_CLI_LIVE_SCREEN_HPP
#define FLUXTRIM_CLI_LIVE_SCREEN_HPP

#include <string>
#include <vector>

#include "fluxtrim/live.hpp"
#include "terminal.hpp"

namespace fluxtrim_cli {

// The lines of the screen for the session at its latest time, without line ends, each of at most
// width display columns (cut there): a title line naming the input (title) and the stop rule
// (rule), the samples and the other lines, the coverage with the pose that fills its largest
// gap, the fit with its residual and verdict; then, with rowsPerBand 2 or 1, the coverage map of
// 8 bands of 16 cells, 4 columns a cell, Z up the side and the direction around Z across, the
// cells reached filled, the largest gap boxed; and a line on Ctrl-C.
std::vector<std::string> liveFrame(fluxtrim::LiveSession& session, const std::string& title,
                                   const std::string& rule, const Style& style, int rowsPerBand,
                                   std::size_t width);

// One line of progress for a log: the time, the samples and their rate, the coverage and the
// largest gap with its pose, the residual and the verdict.
std::string progressLine(fluxtrim::LiveSession& session);

class LiveScreen {
 public:
  // On standard error: a terminal (checked here) gets the redrawn screen, anything else the
  // plain lines.
  LiveScreen(std::string title, std::string rule);
  ~LiveScreen();  // the cursor shown again
  LiveScreen(const LiveScreen&) = delete;
  LiveScreen& operator=(const LiveScreen&) = delete;

  bool terminal() const { return terminal_; }
  // Shows the session at now_s: on a terminal at most eight times a second, elsewhere every five
  // seconds.
  void show(fluxtrim::LiveSession& session, double now_s);
  // The last screen left in place (on a terminal), the cursor shown.
  void close(fluxtrim::LiveSession& session);

 private:
  void draw(fluxtrim::LiveSession& session);

  std::string title_;
  std::string rule_;
  bool terminal_ = false;
  Style style_;
  double shown_s_;
  std::size_t lines_ = 0;  // lines of the screen drawn last, the cursor below them
  bool cursorHidden_ = false;
};

}  // namespace fluxtrim_cli

#endif
