// fluxtrim watch: the options checked, the input read as it arrives into a live session, the
// recording saved as it grows, and the calibration written as calibrate writes it.
#include "watch_command.hpp"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "exit_status.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/live.hpp"
#include "fluxtrim/text.hpp"
#include "interrupt.hpp"
#include "live_screen.hpp"
#include "output.hpp"
#include "serial_port.hpp"

namespace fluxtrim_cli {

namespace {

const char* const kPrefix = "fluxtrim watch: ";
// The longest wait for bytes before the screen is shown again, milliseconds.
constexpr int kPollInterval_ms = 100;

struct WatchSettings {
  CalibrateSettings calibrate;
  std::string source;
  std::optional<speed_t> speed;  // for a serial device
  std::string baud;
  fluxtrim::StopRule until;
  std::string rule;  // as typed
  std::string save;  // empty when not saved
};

// How the reading ended.
enum class Ending {
  Rule,          // the session's stop rule
  Interrupted,   // Ctrl-C
  Ended,         // the end of standard input
  DeviceClosed,  // the serial device went away: unplugged, reset
};

std::string inputName(const std::string& source) {
  return source == "-" ? std::string("standard input")
                       : "'" + fluxtrim::printableText(source, 120) + "'";
}

WatchSettings checkWatchArgs(const WatchArgs& args) {
  if (args.source.empty()) {
    throw fluxtrim::UsageError("no input: give a serial device, or - for standard input");
  }
  WatchSettings settings;
  settings.source = args.source;
  CalibrateArgs calibrate = args.calibrate;
  calibrate.inputs = {args.source};
  settings.calibrate = checkCalibrateArgs(calibrate);
  settings.until = fluxtrim::parseStopRule(args.until);
  settings.rule = args.until;
  if (args.source != "-") {
    settings.speed = parseBaud(args.baud);
    settings.baud = args.baud;
  }
  settings.save = args.save;
  if (!settings.save.empty()) {
    std::vector<NamedFile> outputs{{"-o", settings.calibrate.output}, {"--save", settings.save}};
    if (settings.calibrate.reportPath)
      outputs.push_back({"--report", *settings.calibrate.reportPath});
    checkOutputs({{"the input", args.source}}, outputs);
  }
  return settings;
}

// The recording, written as the samples are taken: its header once the layout is known, then a
// line per sample, into a temporary file that replaces the target only when closed.
class Recorder {
 public:
  explicit Recorder(const std::string& path) {
    if (!path.empty()) out_ = std::make_unique<Output>(path);
  }

  void write(const fluxtrim::LiveSession& session) {
    if (!out_ || !session.decided()) return;
    if (!started_) {
      out_->write(session.recordingHeader());
      started_ = true;
    }
    for (; written_ < session.sampleCount(); ++written_) {
      out_->write(session.recordingLine(written_));
    }
  }

  // Puts the recording in place when it holds samples; otherwise the old file stays. Returns a
  // message for standard error.
  std::string close(const fluxtrim::LiveSession& session, const std::string& path) {
    if (!out_) return std::string();
    write(session);
    if (written_ == 0) return std::string();
    out_->close();
    return kPrefix + fluxtrim::formatText("%zu samples saved to ", written_) + "'" +
           fluxtrim::printableText(path, 120) + "'\n";
  }

 private:
  std::unique_ptr<Output> out_;
  bool started_ = false;
  std::size_t written_ = 0;
};

// Whether a failed read means that the device went away.
bool deviceGone(int error) {
  return error == EIO || error == ENXIO || error == ENODEV;
}

// The bytes of a serial port after the first line end: a port that was already sending when it
// was opened starts in the middle of a line, whose end would read as a sample of other values.
class FirstLineDrop {
 public:
  explicit FirstLineDrop(bool device) : dropping_(device) {}
  // The bytes of buffer [0, size) to read: all of them once a line end has passed.
  std::size_t skip(const char* buffer, std::size_t size) {
    if (!dropping_) return 0;
    for (std::size_t k = 0; k < size; ++k) {
      if (buffer[k] == '\n' || buffer[k] == '\r') {
        dropping_ = false;
        return k + 1;
      }
    }
    return size;
  }

 private:
  bool dropping_;
};

// Reads fd as bytes arrive until the session stops, the input ends or Ctrl-C comes, updating the
// session, the recording and the screen at least every kPollInterval_ms.
Ending watchInput(int fd, bool device, fluxtrim::LiveSession& session, LiveScreen& screen,
                  Recorder& recorder) {
  const StandardInputInterrupt interrupt;
  const auto start = std::chrono::steady_clock::now();
  FirstLineDrop firstLine(device);
  char buffer[4096];
  for (;;) {
    const double now =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (interrupt.interrupted()) {
      session.stop(now);
      return Ending::Interrupted;
    }
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, kPollInterval_ms) > 0) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got > 0) {
        const std::size_t skipped = firstLine.skip(buffer, static_cast<std::size_t>(got));
        session.push(buffer + skipped, static_cast<std::size_t>(got) - skipped, now);
      } else if (got == 0 || deviceGone(errno)) {
        session.finish(now, device);
        return device ? Ending::DeviceClosed : Ending::Ended;
      } else if (errno != EAGAIN && errno != EINTR) {
        throw fluxtrim::IoError("read error in " + inputName(session.read().source) + ": " +
                                std::strerror(errno));
      }
    }
    session.update(now);
    recorder.write(session);
    screen.show(session, now);
    if (session.stopped()) return Ending::Rule;
  }
}

// What stopped the reading, for standard error.
std::string endingText(Ending ending, const fluxtrim::LiveSession& session,
                       const WatchSettings& settings) {
  const std::string after = fluxtrim::formatText(" after %.1f s", session.time_s());
  const std::string calibrating =
      session.sampleCount() == 0
          ? std::string(": nothing to calibrate\n")
          : fluxtrim::formatText(": calibrating %zu samples\n", session.sampleCount());
  const fluxtrim::StopRule& rule = settings.until;
  switch (ending) {
    case Ending::Interrupted:
      return kPrefix + std::string("interrupted") + after + calibrating;
    case Ending::Ended:
      return kPrefix + inputName(settings.source) + " ended" + after + calibrating;
    case Ending::DeviceClosed:
      return kPrefix + inputName(settings.source) + " closed" + after + " (unplugged?)" +
             calibrating;
    case Ending::Rule:
      break;
  }
  std::string why;
  switch (rule.kind) {
    case fluxtrim::StopRule::Kind::Pass:
      why = fluxtrim::formatText("the verdict passed for %.1f s with %.0f %% coverage",
                                 session.options().passHold_s,
                                 100.0 * session.fit().result.coverage.fraction);
      break;
    case fluxtrim::StopRule::Kind::Coverage:
      why = fluxtrim::formatText("the coverage reached %.0f %%",
                                 100.0 * session.fit().result.coverage.fraction);
      break;
    case fluxtrim::StopRule::Kind::Samples:
    case fluxtrim::StopRule::Kind::Never:
      why = fluxtrim::formatText("%zu samples read", session.sampleCount());
      break;
  }
  return kPrefix + std::string("stopped") + after + ": " + why + "\n";
}

fluxtrim::LiveOptions liveOptions(const WatchSettings& settings) {
  fluxtrim::LiveOptions options;
  options.read = settings.calibrate.read;
  options.calibration = settings.calibrate.calibration;
  options.until = settings.until;
  return options;
}

// The calibration of the samples read, written as calibrate writes it; status 2 when none was
// read.
int writeCalibration(const WatchSettings& settings, const fluxtrim::LiveSession& session) {
  const fluxtrim::SampleSet asRead = session.samplesAsRead();
  if (asRead.values.empty()) {
    std::fprintf(stderr, "%sno samples in %s (%s)\n", kPrefix, inputName(settings.source).c_str(),
                 fluxtrim::noSamplesText(asRead).c_str());
    return kExitNoRun;
  }
  const CalibrateSettings& calibrate = settings.calibrate;
  const bool toStandardOutput = calibrate.output.empty() || calibrate.output == "-";
  const Style style = toStandardOutput ? Style(stdout) : Style();
  const InputOutcome outcome = calibratedOutcome(calibrate, asRead, session.options().calibration,
                                                 session.finalResult(), style);
  return writeOutcome(calibrate, outcome);
}

}  // namespace

int runWatch(const WatchArgs& args) {
  const WatchSettings settings = checkWatchArgs(args);
  const fluxtrim::Reference& reference = settings.calibrate.reference;
  if (reference.kind() == fluxtrim::Reference::Kind::Field && !reference.field().withinValidity) {
    std::fprintf(stderr, "%swarning: %s\n", kPrefix, reference.field().validityNote.c_str());
  }
  fluxtrim::LiveSession session(liveOptions(settings), settings.source);
  Recorder recorder(settings.save);
  std::optional<SerialPort> port;
  if (settings.speed) port.emplace(settings.source, *settings.speed);
  const std::string title =
      port ? inputName(settings.source) + " at " + settings.baud + " baud" : "standard input";
  LiveScreen screen(title, settings.rule);
  const Ending ending =
      watchInput(port ? port->fd() : STDIN_FILENO, port.has_value(), session, screen, recorder);
  screen.close(session);
  port.reset();
  std::fputs(endingText(ending, session, settings).c_str(), stderr);
  int status = kExitUsable;
  try {
    std::fputs(recorder.close(session, settings.save).c_str(), stderr);
  } catch (const fluxtrim::Error& e) {
    std::fprintf(stderr, "%s--save: %s\n", kPrefix, fluxtrim::printableText(e.what(), 400).c_str());
    status = kExitNoRun;
  }
  return std::max(status, writeCalibration(settings, session));
}

}  // namespace fluxtrim_cli
