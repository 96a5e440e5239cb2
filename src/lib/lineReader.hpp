// The reader's line rules applied to bytes as they arrive: held until the layout is decided from
// the first lines, then each complete line read into a sample or counted by what it is. The one
// home of the rules of readSamples (a file or a stream read front to back) and of SampleStream
// (bytes pushed as a serial port delivers them). Not installed.
#ifndef FLUXTRIM_LINE_READER_HPP
#define FLUXTRIM_LINE_READER_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fluxtrim/samples.hpp"
#include "labelledValues.hpp"
#include "sampleLayout.hpp"

namespace fluxtrim::detail {

// The one read buffer: lines are examined in it, so it is also the longest line examined whole.
constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

// Where the samples go while they are read.
enum class SampleStorage {
  // Straight into the set's vectors, so that a caller sees each sample as soon as it is read.
  Live,
  // Into the set's vectors reserved ahead for an input of known size, or in fixed blocks copied
  // into vectors of the exact size at the end, so that memory never holds more than twice the
  // samples; the set's vectors are complete only after finish().
  Whole,
};

class LineReader {
 public:
  // options and name (the input in messages) must outlive the reader; the samples and the
  // summary go into set. totalBytes: the bytes the input holds, 0 when unknown.
  LineReader(const ReadOptions& options, const std::string& name, SampleSet& set,
             SampleStorage storage, std::uint64_t totalBytes = 0);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Room for the next bytes: at least one byte at space(), room() bytes long.
  char* space();
  std::size_t room() const { return kBufferBytes - end_; }
  // The size bytes just written at space(). Before the layout is decided they are held, until
  // the buffer is full; after it, every complete line is read, and a line that fills the buffer
  // is read in its first kBufferBytes bytes and the rest of it passed over. Throws as
  // readSamples does: IoError for text that is no recording (UTF-16, no line end in the first
  // MiB, a line beyond 16 MiB), the layout's errors when it is decided.
  void commit(std::size_t size);
  // Decides the layout from the lines held, complete ones only. Throws as commit does.
  void decide();
  // Decides it only when the lines held name or show the magnetometer's three columns (no error,
  // no ambiguity, three numeric columns); returns whether it is decided.
  bool tryDecide();
  // The end of the input: the layout decided if it is not yet, from every line held, the last
  // line read even without its line end, and the set's vectors completed. Nothing after it.
  // cutShort: an input ended early (an interrupt); the bytes after the last line end are
  // dropped, as if they had never come.
  void finish(bool cutShort = false);

  // A reader of the rest of a whole input, from the start of a line after those earlier has
  // read, for another thread: the layout and line rules of earlier, its header lines passed. Its
  // samples are kept in blocks until earlier's finishWith appends them. Only for an earlier reader
  // that canHandOff().
  LineReader(const LineReader& earlier, SampleSet& set);
  // Whether the lines after those read so far may be read by another reader and appended: a
  // whole input, its layout decided, its header lines passed, and no kinds of line (whose order
  // of appearance numbers them).
  bool canHandOff() const;
  // Whether every byte committed has been handled and the last one ended a line.
  bool atLineStart() const { return decided_ && !skipping_ && pos_ == end_; }
  char lineEnd() const { return lineEnd_; }
  // The end of a reader made to read the rest of an input, its last line read even without its
  // line end; finishWith takes its samples.
  void finishRest();
  // The end of the input, whose rest later has read, from where this reader stopped at a line
  // start: as finish() would end it had this reader read that rest itself. later is emptied.
  void finishWith(LineReader& later);

  bool decided() const { return decided_; }
  // Lines held that are neither blank nor comments and hold the text matched, complete ones
  // only: the first lines the layout will be decided from.
  std::size_t heldLines();
  std::uint64_t bytes() const { return summary_.bytes; }

 private:
  class Store;

  void readLast(bool cutShort);
  void dropIncompleteLine();
  char heldLineEnd() const;
  void startText();
  void adoptLayout(Layout layout);
  void useLayout();
  void chooseUnit();
  void readHeld();
  const char* contentEnd(const char* first, const char* last) const;
  bool matches(const char* first, const char* last) const;
  bool contentLine(const char* first, const char* last) const;
  std::vector<FirstLine> firstLines() const;
  void handleCompleteLines();
  void cutLine();
  void skipRestOfLine();
  void chooseStore();
  void handleLine(const char* first, const char* last, bool cut);
  bool ofKeptKind(const char* first, const char* last);
  Cell cellOf(const Cell& raw, int column) const;
  void readSample(const char* first, const char* last, bool cut);
  void readLabelledSample(const char* first, const char* last, bool cut);
  bool readPlainSample(const char* first, const char* last);
  Vec3 accelerometerOf(const Cell cells[6], const char* last, bool cut) const;
  int findCells(const char* p, const char* last, Cell cells[6]) const;
  void skip(const char* first, const char* last, LineProblem problem, int column);
  void checkIndicesReached() const;

  const ReadOptions& options_;
  const std::string& name_;
  SampleSet& set_;
  ReadSummary& summary_;
  SampleStorage storage_;
  std::uint64_t totalBytes_;
  std::unique_ptr<Store> store_;
  Layout layout_;
  bool decided_ = false;
  std::array<int, 6> columns_{};  // the magnetometer's X, Y, Z, then the accelerometer's or -1
  int cellsRead_ = 3;             // 6 with the accelerometer's columns
  int maxColumn_ = 0;             // the highest of the magnetometer's columns
  int scanEnd_ = 0;               // the highest column read
  bool tenths_ = false;           // values in tenths of the unit, divided by 10
  bool matching_ = false;         // only lines holding options_.match are read
  bool ofKinds_ = false;          // lines are told apart by kind
  bool plainCells_ = false;       // cells split at one character, without a label to pass over
  char separator_ = ',';
  char lineEnd_ = '\n';

  std::unique_ptr<char[]> buffer_;
  std::size_t pos_ = 0;          // first byte of buffer_ not yet handled
  std::size_t end_ = 0;          // end of the bytes read into buffer_
  std::size_t searchedEnd_ = 0;  // the incomplete line at pos_ has no line end before this
  bool atEnd_ = false;
  bool skipping_ = false;            // passing over the rest of a line longer than the buffer
  std::uint64_t skippedLength_ = 0;  // its length so far
  std::uint64_t contentLines_ = 0;   // lines neither blank, comments nor left out so far
  int maxCellsSeen_ = 0;             // most cells on a line with too few
  // Held lines counted so far: the end of the last one counted, their number, and the line end
  // they were counted at (a line feed unless the bytes held have carriage returns and none).
  std::size_t countedEnd_ = 0;
  std::size_t heldLines_ = 0;
  char countedLineEnd_ = '\n';
  LabelledLine labelled_;  // the values of the last line read by name
};

}  // namespace fluxtrim::detail

#endif
