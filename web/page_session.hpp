// What the page's C interface shares between its files: the settings as the page sends them, the
// session that holds a recording's text and its last calibration, and the replies.
#ifndef FLUXTRIM_WEB_PAGE_SESSION_HPP
#define FLUXTRIM_WEB_PAGE_SESSION_HPP

#include <cstddef>
#include <exception>
#include <new>
#include <optional>
#include <streambuf>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "fluxtrim/calibration.hpp"
#include "fluxtrim/live.hpp"
#include "fluxtrim/samples.hpp"

namespace fluxtrim_page {

// The page's settings, as typed in its fields: the command's options by another name.
struct Settings {
  std::string source;  // the recording's name, as the documents record it
  fluxtrim_cli::ReferenceArgs reference;
  fluxtrim_cli::ReadArgs read;
  std::string until;    // watch's --until, for a live session; empty for "pass"
  bool device = false;  // a live session reads a serial port: its first, partial line is dropped
};

Settings parseSettings(const char* json);

// Text as a stream, without a copy of it.
class TextBuffer : public std::streambuf {
 public:
  explicit TextBuffer(std::string& text) {
    setg(text.data(), text.data(), text.data() + text.size());
  }
};

// A live session over the session's text: the bytes pushed so far went into `live`.
struct Live {
  explicit Live(const fluxtrim::LiveOptions& options, const std::string& source)
      : session(options, source) {}
  fluxtrim::LiveSession session;
  std::size_t fed = 0;       // bytes of the text pushed into the session
  std::size_t received = 0;  // bytes received, those dropped with the first line too
  bool dropping = false;     // still dropping a serial port's first, partial line
};

// A recording arriving in chunks, and what its last calibration gave.
struct Session {
  // Every byte pushed since the last clear; for a serial port, from its first line end on, and
  // after a live end cut short, up to the last complete line: the text the session read.
  std::string text;
  std::optional<fluxtrim::SampleSet> samples;
  fluxtrim::Reference reference;
  fluxtrim::CalibrationOptions options;
  std::optional<fluxtrim::CalibrationResult> result;
  std::vector<double> points;  // the drawn samples, seven numbers each (see ft_session_points)
  std::vector<double> times;   // a replay's time of each line, in seconds (see ft_replay_plan)
  std::optional<Live> live;
};

// Forgets the session's samples, calibration and live state, and takes the reference and the
// calibration options the settings give.
void restart(Session& session, const Settings& settings);

// The session's calibration made from samples and their result, and the reply the page shows it
// from (see ft_session_refit).
std::string adoptFit(Session& session, fluxtrim::SampleSet samples,
                     const fluxtrim::CalibrationResult& result);

// The reply of the last call, kept until the next one so that JavaScript can copy it out of the
// heap, and whether it is an error message.
const char* reply(std::string text, bool failed = false);

// Runs the work and turns whatever it throws into an error reply.
template <typename Work>
const char* answer(Work work) {
  try {
    return reply(work());
  } catch (const std::bad_alloc&) {
    return reply("out of memory: the recording is too large for this page", true);
  } catch (const std::exception& e) {
    return reply(e.what(), true);
  }
}

}  // namespace fluxtrim_page

#endif
