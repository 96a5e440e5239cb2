#include "lineReader.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "constants.hpp"
#include "hugePages.hpp"
#include "labelledValues.hpp"
#include "lineKinds.hpp"
#include "numparse.hpp"
#include "sampleWords.hpp"

namespace fluxtrim::detail {

namespace {

// A line longer than this ends the read: no recording writes one, an endless input does.
constexpr std::uint64_t kLongestLineBytes = std::uint64_t{16} << 20;
// Kinds of line counted one by one; lines of further kinds are read as plain lines.
constexpr std::size_t kMostKinds = 32;

// One column of the result as it is read: straight into its vector; or, for a whole input once
// its first buffer is read, either still there, reserved ahead for an input of known size, or in
// fixed blocks copied into a vector of the exact size at the end. Memory thus never holds more
// than twice the samples, where vector growth alone would hold three times.
template <typename T>
class BlockedColumn {
 public:
  explicit BlockedColumn(std::vector<T>& values) : values_(values) {}

  void expect(std::size_t count) { reserveLarge(values_, count); }
  void useBlocks() { blocks_ = true; }

  void add(const T& value) {
    if (!blocks_) {
      values_.push_back(value);
      return;
    }
    if (filled_.empty() || used_ == kBlockSize) {
      filled_.emplace_back(new T[kBlockSize]);  // uninitialised: every element used is written
      adviseHugePages(filled_.back().get(), kBlockSize * sizeof(T));
      used_ = 0;
    }
    filled_.back()[used_] = value;
    ++used_;
  }

  // Appends the blocks to the vector.
  void complete() {
    if (filled_.empty()) {
      return;
    }
    reserveLarge(values_, values_.size() + (filled_.size() - 1) * kBlockSize + used_);
    for (std::size_t b = 0; b < filled_.size(); ++b) {
      const std::size_t used = b + 1 == filled_.size() ? used_ : kBlockSize;
      values_.insert(values_.end(), filled_[b].get(), filled_[b].get() + used);
      filled_[b].reset();
    }
    filled_.clear();
  }

  // Appends the values of later, which keeps them in blocks, each as shift gives it, to the
  // vector (whose own blocks were completed), freeing each block once copied.
  template <typename Shift>
  void appendFrom(BlockedColumn& later, const Shift& shift) {
    const std::size_t count =
        later.filled_.empty() ? 0 : (later.filled_.size() - 1) * kBlockSize + later.used_;
    reserveLarge(values_, values_.size() + count);
    for (std::size_t b = 0; b < later.filled_.size(); ++b) {
      const std::size_t used = b + 1 == later.filled_.size() ? later.used_ : kBlockSize;
      const T* const block = later.filled_[b].get();
      for (std::size_t k = 0; k < used; ++k) {
        values_.push_back(shift(block[k]));
      }
      later.filled_[b].reset();
    }
    later.filled_.clear();
  }

 private:
  // 6 MiB of samples, 2 MiB of line numbers: room for whole huge pages.
  static constexpr std::size_t kBlockSize = std::size_t{1} << 18;

  std::vector<T>& values_;
  bool blocks_ = false;
  std::vector<std::unique_ptr<T[]>> filled_;
  std::size_t used_ = 0;  // elements in the last block
};

}  // namespace

// The samples, their line numbers and, for an input with accelerometer columns, the
// accelerometer's samples.
class LineReader::Store {
 public:
  explicit Store(SampleSet& set)
      : values_(set.values), lines_(set.lineNumbers), accelerometer_(set.accelerometer) {}

  void expect(std::size_t count, bool accelerometer) {
    values_.expect(count);
    lines_.expect(count);
    if (accelerometer) {
      accelerometer_.expect(count);
    }
  }
  void useBlocks() {
    values_.useBlocks();
    lines_.useBlocks();
    accelerometer_.useBlocks();
  }
  void add(const Vec3& value, std::uint64_t line) {
    values_.add(value);
    lines_.add(line);
  }
  void addAccelerometer(const Vec3& value) { accelerometer_.add(value); }
  void complete() {
    values_.complete();
    lines_.complete();
    accelerometer_.complete();
  }
  // Appends the samples of later, which keeps them in blocks, their line numbers counted on by
  // lineOffset; complete() first.
  void appendFrom(Store& later, std::uint64_t lineOffset) {
    const auto same = [](const Vec3& v) { return v; };
    values_.appendFrom(later.values_, same);
    lines_.appendFrom(later.lines_, [lineOffset](std::uint64_t line) { return line + lineOffset; });
    accelerometer_.appendFrom(later.accelerometer_, same);
  }

 private:
  BlockedColumn<Vec3> values_;
  BlockedColumn<std::uint64_t> lines_;
  BlockedColumn<Vec3> accelerometer_;
};

LineReader::LineReader(const ReadOptions& options, const std::string& name, SampleSet& set,
                       SampleStorage storage, std::uint64_t totalBytes)
    : options_(options),
      name_(name),
      set_(set),
      summary_(set.summary),
      storage_(storage),
      totalBytes_(totalBytes),
      store_(std::make_unique<Store>(set)),
      buffer_(new char[kBufferBytes]) {}

LineReader::~LineReader() = default;

char* LineReader::space() {
  // The incomplete line moves to the front once the buffer has little room left after it; a
  // line that fills the buffer alone was handled by commit().
  if (decided_ && pos_ > 0 && room() < kBufferBytes / 4) {
    std::memmove(buffer_.get(), buffer_.get() + pos_, end_ - pos_);
    end_ -= pos_;
    searchedEnd_ = searchedEnd_ > pos_ ? searchedEnd_ - pos_ : 0;
    pos_ = 0;
  }
  return buffer_.get() + end_;
}

void LineReader::commit(std::size_t size) {
  end_ += size;
  summary_.bytes += size;
  if (!decided_) {
    if (end_ == kBufferBytes) {
      decide();
    }
    return;
  }
  if (skipping_) {
    skipRestOfLine();
    if (skipping_) {
      return;
    }
  }
  handleCompleteLines();
  if (pos_ == 0 && end_ == kBufferBytes) {
    cutLine();
  }
}

void LineReader::decide() {
  startText();
  adoptLayout(chooseLayout(firstLines(), options_, name_));
}

bool LineReader::tryDecide() {
  if (decided_) {
    return true;
  }
  startText();
  std::optional<Layout> layout;
  try {
    layout = chooseLayout(firstLines(), options_, name_);
  } catch (const Error&) {
    return false;  // decided again, and reported, once the first lines are all there
  }
  if (!layout->readsSamples) {
    return false;
  }
  adoptLayout(std::move(*layout));
  return true;
}

void LineReader::finish(bool cutShort) {
  readLast(cutShort);
  checkIndicesReached();
  store_->complete();
}

// The lines held at the end of the input, the last even without its line end.
void LineReader::readLast(bool cutShort) {
  if (cutShort) {
    dropIncompleteLine();
  }
  atEnd_ = true;
  if (!decided_) {
    decide();
  } else if (!skipping_) {
    handleCompleteLines();
  }
  if (!skipping_ && pos_ < end_) {
    handleLine(buffer_.get() + pos_, buffer_.get() + end_, false);
  }
  pos_ = end_;
}

std::size_t LineReader::heldLines() {
  if (decided_) {
    return 0;
  }
  const char* const base = buffer_.get();
  const char lineEnd = heldLineEnd();
  if (lineEnd != countedLineEnd_) {
    countedLineEnd_ = lineEnd;
    countedEnd_ = 0;
    heldLines_ = 0;
  }
  if (countedEnd_ == 0 && end_ >= 3 && std::memcmp(base, "\xEF\xBB\xBF", 3) == 0) {
    countedEnd_ = 3;
  }
  for (;;) {
    const char* const first = base + countedEnd_;
    const void* found = std::memchr(first, lineEnd, end_ - countedEnd_);
    if (found == nullptr) {
      return heldLines_;
    }
    const char* const last = static_cast<const char*>(found);
    const char* const content = lineEnd == '\n' ? contentEnd(first, last) : last;
    heldLines_ += contentLine(first, content) ? 1 : 0;
    countedEnd_ = static_cast<std::size_t>(last + 1 - base);
  }
}

// The bytes after the last line end, passed over as if they never came; before the layout is
// decided, the line end is the one it would choose.
void LineReader::dropIncompleteLine() {
  if (skipping_) {
    return;  // the rest of a long line, passed over anyway
  }
  const char lineEnd = decided_ ? lineEnd_ : heldLineEnd();
  std::size_t complete = end_;
  while (complete > pos_ && buffer_[complete - 1] != lineEnd) {
    --complete;
  }
  summary_.bytes -= end_ - complete;
  end_ = complete;
  // The search for a line end resumes within the bytes kept, never past them.
  searchedEnd_ = std::min(searchedEnd_, end_);
}

// The line end of the bytes held: a line feed, unless they hold carriage returns and no line
// feed.
char LineReader::heldLineEnd() const {
  const char* const first = buffer_.get() + pos_;
  const std::size_t size = end_ - pos_;
  return std::memchr(first, '\n', size) == nullptr && std::memchr(first, '\r', size) != nullptr
             ? '\r'
             : '\n';
}

// The byte order mark and the line end, from the bytes held.
void LineReader::startText() {
  const unsigned char* text = reinterpret_cast<const unsigned char*>(buffer_.get());
  if (end_ >= 2 && ((text[0] == 0xFF && text[1] == 0xFE) || (text[0] == 0xFE && text[1] == 0xFF))) {
    throw IoError("cannot read " + name_ + ": it is UTF-16 text; save it as UTF-8 or ASCII");
  }
  pos_ = end_ >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF ? 3 : 0;
  const char* first = buffer_.get() + pos_;
  const std::size_t size = end_ - pos_;
  lineEnd_ = heldLineEnd();
  if (!atEnd_ && end_ == kBufferBytes && std::memchr(first, lineEnd_, size) == nullptr) {
    throw IoError("cannot read " + name_ + ": its first MiB holds no line end; it is no text " +
                  "recording");
  }
}

void LineReader::adoptLayout(Layout layout) {
  layout_ = std::move(layout);
  decided_ = true;
  useLayout();
  chooseUnit();
  readHeld();
}

// The lines held since the start: the complete ones; then, for a whole input whose first buffer
// is full, the store chosen.
void LineReader::readHeld() {
  handleCompleteLines();
  if (!atEnd_ && end_ == kBufferBytes) {
    chooseStore();
    if (pos_ == 0) {
      cutLine();
    }
  }
}

// The layout's columns, kinds and store.
void LineReader::useLayout() {
  summary_.delimiter = layout_.delimiter;
  summary_.columns = layout_.columns;
  summary_.columnRule = layout_.columnRule;
  summary_.header = layout_.header;
  summary_.accelerometerColumns = layout_.accelerometerColumns;
  summary_.accelerometerColumnRule = layout_.accelerometerColumnRule;
  summary_.kinds = layout_.kinds;
  summary_.warnings = layout_.warnings;
  summary_.form = layout_.labelled ? LineForm::Labelled : LineForm::Delimited;
  set_.accelerometerUnit = layout_.accelerometerUnit;
  for (std::size_t k = 0; k < 3; ++k) {
    columns_[k] = layout_.columns[k];
    columns_[k + 3] = layout_.accelerometerColumns[k];
  }
  cellsRead_ = layout_.accelerometerColumns[0] >= 0 ? 6 : 3;
  matching_ = !options_.match.empty();
  ofKinds_ = !layout_.kinds.empty();
  for (std::size_t k = 0; k < 6; ++k) {
    maxColumn_ = k < 3 ? std::max(maxColumn_, columns_[k]) : maxColumn_;
    scanEnd_ = std::max(scanEnd_, columns_[k]);
  }
  separator_ = layout_.delimiter == Delimiter::Semicolon ? ';'
               : layout_.delimiter == Delimiter::Tab     ? '\t'
                                                         : ',';
  plainCells_ = layout_.delimiter != Delimiter::Blanks && layout_.firstCellLabel.empty();
}

// The unit given wins over the one the input states, which wins over the one assumed.
void LineReader::chooseUnit() {
  const std::optional<SampleUnit>& stated = layout_.statedUnit;
  summary_.statedUnit = stated;
  if (options_.unit) {
    set_.unit = *options_.unit;
    set_.unitSource = UnitSource::Given;
    summary_.unitRule = "given";
    if (stated && !sameUnit(*stated, *options_.unit)) {
      summary_.warnings.push_back("the unit is given as " + options_.unit->name() +
                                  ", but the input states " + stated->name() + " (" +
                                  layout_.statedRule + "): " + options_.unit->name() + " is used");
    }
  } else if (stated) {
    tenths_ = layout_.tenthsOfMicrotesla;
    set_.unit = tenths_ ? SampleUnit{Unit::Microtesla} : *stated;
    set_.unitSource = layout_.statedSource;
    summary_.unitRule = tenths_ ? layout_.statedRule + ", divided by 10" : layout_.statedRule;
  } else {
    set_.unit = options_.assumedUnit.value_or(SampleUnit{});
    set_.unitSource = UnitSource::Default;
    summary_.unitRule = "assumed";
  }
  set_.unitGiven = set_.unitSource != UnitSource::Default;
}

// The line [first, last) without a carriage return before its line feed.
const char* LineReader::contentEnd(const char* first, const char* last) const {
  return lineEnd_ == '\n' && last != first && last[-1] == '\r' ? last - 1 : last;
}

bool LineReader::matches(const char* first, const char* last) const {
  return options_.match.empty() ||
         std::string_view(first, static_cast<std::size_t>(last - first)).find(options_.match) !=
             std::string_view::npos;
}

// Whether a line [first, last) without its line end is one of the first lines: not blank, and a
// comment or holding the text matched.
bool LineReader::contentLine(const char* first, const char* last) const {
  const char* text = first;
  while (text != last && isBlank(*text)) {
    ++text;
  }
  return text != last && (*text == '#' || matches(first, last));
}

// The first lines that are not blank and hold the text matched, in the bytes held: complete
// lines only, until the end, up to kFirstLineCount that are not comments.
std::vector<FirstLine> LineReader::firstLines() const {
  std::vector<FirstLine> lines;
  std::size_t content = 0;
  const char* p = buffer_.get() + pos_;
  const char* const end = buffer_.get() + end_;
  while (p != end && content < kFirstLineCount) {
    const char* lineEnd = static_cast<const char*>(std::memchr(p, lineEnd_, end - p));
    if (lineEnd == nullptr && !atEnd_) {
      break;
    }
    const char* const last = contentEnd(p, lineEnd != nullptr ? lineEnd : end);
    if (contentLine(p, last)) {
      const char* text = p;
      while (isBlank(*text)) {
        ++text;
      }
      const bool comment = *text == '#';
      lines.push_back(FirstLine{p, last, comment});
      content += comment ? 0 : 1;
    }
    p = lineEnd != nullptr ? lineEnd + 1 : end;
  }
  return lines;
}

void LineReader::handleCompleteLines() {
  const char* const base = buffer_.get();
  for (;;) {
    const char* const first = base + pos_;
    const std::size_t from = std::max(pos_, searchedEnd_);
    const void* found = std::memchr(base + from, lineEnd_, end_ - from);
    if (found == nullptr) {
      searchedEnd_ = end_;
      return;
    }
    const char* const last = static_cast<const char*>(found);
    handleLine(first, last, false);
    pos_ = static_cast<std::size_t>(last + 1 - base);
  }
}

// Reads the line that fills the buffer in its first kBufferBytes bytes, and passes over the rest
// of it as it arrives.
void LineReader::cutLine() {
  handleLine(buffer_.get(), buffer_.get() + end_, true);
  skipping_ = true;
  skippedLength_ = kBufferBytes;
  pos_ = 0;
  end_ = 0;
  searchedEnd_ = 0;
}

// Passes over the bytes held up to and with the line end of a line longer than the buffer; a
// line longer than kLongestLineBytes ends the read.
void LineReader::skipRestOfLine() {
  const void* found = std::memchr(buffer_.get(), lineEnd_, end_);
  if (found != nullptr) {
    pos_ = static_cast<std::size_t>(static_cast<const char*>(found) + 1 - buffer_.get());
    skipping_ = false;
    return;
  }
  skippedLength_ += end_;
  pos_ = 0;
  end_ = 0;
  if (skippedLength_ > kLongestLineBytes) {
    throw IoError("cannot read " + name_ + ": line " + std::to_string(summary_.lines) +
                  " is longer than 16 MiB; it is no text recording");
  }
}

// After the first buffer of a whole input: an input of known size has its result reserved from
// the samples per byte of that buffer, with a little to spare (reserved memory never written
// costs nothing); any other keeps its samples in blocks. Live samples stay in their vectors.
void LineReader::chooseStore() {
  if (storage_ == SampleStorage::Live) {
    return;
  }
  const std::uint64_t total = totalBytes_;
  const std::uint64_t samples = summary_.sampleLines;
  const std::uint64_t consumed = pos_;
  if (total <= consumed || samples == 0) {
    store_->useBlocks();
    return;
  }
  // A sample line has at least six bytes: "1,2,3" and a line end.
  const double estimate = static_cast<double>(samples) * static_cast<double>(total) /
                              static_cast<double>(consumed) * 1.0625 +
                          1024.0;
  const std::uint64_t mostLines = total / 6 + 1;  // whole lines of six bytes
  const double most = static_cast<double>(mostLines);
  store_->expect(static_cast<std::size_t>(estimate < most ? estimate : most), cellsRead_ == 6);
}

// One line [first, last) without its line end; cut when it is the first kBufferBytes bytes of a
// longer line. This and the functions it calls per line are inline, so that the compiler keeps
// the path of a line in one piece.
inline void LineReader::handleLine(const char* first, const char* last, bool cut) {
  ++summary_.lines;
  if (!cut) {
    last = contentEnd(first, last);
  }
  const char* text = first;
  while (text != last && isBlank(*text)) {
    ++text;
  }
  if (text == last) {
    ++summary_.blankLines;
    return;
  }
  if (*text == '#') {
    ++summary_.commentLines;
    return;
  }
  if (matching_ && !matches(first, last)) {
    ++summary_.leftOutLines;
    ++summary_.unmatchedLines;
    return;
  }
  if (contentLines_++ < layout_.headerLines) {
    ++summary_.headerLines;
    return;
  }
  if (ofKinds_ && !ofKeptKind(first, last)) {
    ++summary_.leftOutLines;
    return;
  }
  if (layout_.labelled) {
    readLabelledSample(first, last, cut);
    return;
  }
  if (plainCells_ && !cut && readPlainSample(first, last)) {
    return;
  }
  readSample(first, last, cut);
}

// Whether a line is of the kind kept, counted under its kind. A line of a kind not met in the
// first lines is a kind of its own, left out; but a plain one beside a kind kept, or one beyond
// the kinds counted, is read, and most likely skipped for its cells.
inline bool LineReader::ofKeptKind(const char* first, const char* last) {
  const LineSignature signature = lineSignature(first, last);
  int index = findKind(summary_.kinds, signature);
  if (index < 0) {
    if ((signature.plain() && layout_.keptKind >= 0) || summary_.kinds.size() >= kMostKinds) {
      return true;
    }
    index = static_cast<int>(summary_.kinds.size());
    summary_.kinds.push_back(kindOf(signature));
  }
  LineKind& kind = summary_.kinds[static_cast<std::size_t>(index)];
  ++kind.lines;
  return kind.kept;
}

// The cell of a column, trimmed, without the label of the kept lines before the first number.
inline Cell LineReader::cellOf(const Cell& raw, int column) const {
  const Cell cell = trimCell(raw.first, raw.last);
  return column == 0 ? withoutLabel(cell, layout_.firstCellLabel) : cell;
}

namespace {

// Why a cell that was meant to hold a sample's value did not.
LineProblem problemOf(CellKind kind) {
  return kind == CellKind::OutOfRange  ? LineProblem::OutOfRange
         : kind == CellKind::NotFinite ? LineProblem::NotFinite
                                       : LineProblem::NotANumber;
}

}  // namespace

inline void LineReader::readSample(const char* first, const char* last, bool cut) {
  Cell cells[6];
  const int cellCount = findCells(first, last, cells);
  if (cellCount <= maxColumn_) {
    if (!cut) {
      maxCellsSeen_ = std::max(maxCellsSeen_, cellCount);
      skip(first, last, LineProblem::TooFewCells, -1);
      return;
    }
    for (int axis = 0; axis < 3; ++axis) {
      if (cells[axis].first == nullptr) {
        skip(first, last, LineProblem::NotANumber, columns_[axis]);
        return;
      }
    }
  }
  Vec3 value{};
  for (int axis = 0; axis < 3; ++axis) {
    const Cell raw = cells[axis];
    const CellKind kind = cut && raw.last == last
                              ? CellKind::NotANumber
                              : readCell(cellOf(raw, columns_[axis]), value[axis]);
    if (kind != CellKind::Number) {
      skip(first, last, problemOf(kind), columns_[axis]);
      return;
    }
  }
  if (tenths_) {
    value = {{value[0] / 10.0, value[1] / 10.0, value[2] / 10.0}};
  }
  ++summary_.sampleLines;
  store_->add(value, summary_.lines);
  if (cellsRead_ == 6) {
    store_->addAccelerometer(accelerometerOf(cells, last, cut));
  }
}

// A line that names its values: the values of the layout's keys, wherever the line has them.
void LineReader::readLabelledSample(const char* first, const char* last, bool cut) {
  readLabelledLine(afterLinePrefix(first, last), last, labelled_);
  Vec3 value{};
  for (std::size_t axis = 0; axis < 3; ++axis) {
    const LabelledValue* found = findValue(labelled_, layout_.keys[axis]);
    if (found == nullptr) {
      skip(first, last, LineProblem::TooFewCells, -1);
      return;
    }
    const CellKind kind =
        cut && found->cell.last == last ? CellKind::NotANumber : readCell(found->cell, value[axis]);
    if (kind != CellKind::Number) {
      skip(first, last, problemOf(kind), columns_[axis]);
      return;
    }
  }
  ++summary_.sampleLines;
  store_->add(value, summary_.lines);
  if (cellsRead_ == 6) {
    Vec3 accelerometer{{kNaN, kNaN, kNaN}};
    for (std::size_t axis = 0; axis < 3; ++axis) {
      const LabelledValue* found = findValue(labelled_, layout_.keys[axis + 3]);
      double number = 0.0;
      if (found != nullptr && !(cut && found->cell.last == last) &&
          readCell(found->cell, number) == CellKind::Number) {
        accelerometer[axis] = number;
      }
    }
    store_->addAccelerometer(accelerometer);
  }
}

// The common line read in one scan: every cell up to the last column read is split at the
// separator, and each of the magnetometer's and the accelerometer's cells holds one number in the
// exact short form (numparse), with blanks about it. Returns false, having changed nothing, for
// any other line, which readSample then reads by the general rules to the same sample or skip.
inline bool LineReader::readPlainSample(const char* first, const char* last) {
  double values[6] = {};
  const char* p = first;
  for (int column = 0; column <= scanEnd_; ++column) {
    bool read = false;
    for (int k = 0; k < cellsRead_; ++k) {
      read = read || columns_[k] == column;
    }
    if (!read) {
      const void* found = std::memchr(p, separator_, static_cast<std::size_t>(last - p));
      if (found == nullptr) {
        return false;
      }
      p = static_cast<const char*>(found) + 1;
      continue;
    }
    while (p != last && *p != separator_ && isBlank(*p)) {
      ++p;
    }
    double number = 0.0;
    if (!numparse::exactShortDecimal(p, last, number, &p)) {
      return false;
    }
    for (int k = 0; k < cellsRead_; ++k) {
      values[k] = columns_[k] == column ? number : values[k];
    }
    while (p != last && *p != separator_ && isBlank(*p)) {
      ++p;
    }
    if (p != last && *p != separator_) {
      return false;
    }
    if (column < scanEnd_) {
      if (p == last) {
        return false;
      }
      ++p;
    }
  }
  Vec3 value{{values[0], values[1], values[2]}};
  if (tenths_) {
    value = {{value[0] / 10.0, value[1] / 10.0, value[2] / 10.0}};
  }
  ++summary_.sampleLines;
  store_->add(value, summary_.lines);
  if (cellsRead_ == 6) {
    store_->addAccelerometer({{values[3], values[4], values[5]}});
  }
  return true;
}

// The accelerometer's values in the line, NaN where a cell is missing or holds no finite number.
Vec3 LineReader::accelerometerOf(const Cell cells[6], const char* last, bool cut) const {
  Vec3 value{{kNaN, kNaN, kNaN}};
  for (int axis = 0; axis < 3; ++axis) {
    const Cell raw = cells[axis + 3];
    double number = 0.0;
    if (raw.first != nullptr && !(cut && raw.last == last) &&
        readCell(cellOf(raw, columns_[axis + 3]), number) == CellKind::Number) {
      value[axis] = number;
    }
  }
  return value;
}

// Finds the untrimmed cells of the magnetometer's and the accelerometer's columns in the line,
// scanning no further than the last of them, and returns the number of cells scanned: more than
// maxColumn_ when the magnetometer's three were found.
inline int LineReader::findCells(const char* p, const char* last, Cell cells[6]) const {
  int column = 0;
  for (;;) {
    const char* end;
    if (layout_.delimiter == Delimiter::Blanks) {
      while (p != last && isBlank(*p)) {
        ++p;
      }
      if (p == last) {
        return column;
      }
      end = p;
      while (end != last && !isBlank(*end)) {
        ++end;
      }
    } else {
      const void* found = std::memchr(p, separator_, static_cast<std::size_t>(last - p));
      end = found != nullptr ? static_cast<const char*>(found) : last;
    }
    for (int k = 0; k < cellsRead_; ++k) {
      if (columns_[k] == column) {
        cells[k] = Cell{p, end};
      }
    }
    ++column;
    if (column > scanEnd_ || end == last) {
      return column;
    }
    p = layout_.delimiter == Delimiter::Blanks ? end : end + 1;
  }
}

void LineReader::skip(const char* first, const char* last, LineProblem problem, int column) {
  ++summary_.skippedLines;
  ++summary_.skippedByProblem[static_cast<std::size_t>(problem)];
  if (summary_.skipped.size() < options_.maxListedLines) {
    summary_.skipped.push_back(SkippedLine{
        summary_.lines, problem, column,
        printableText(std::string_view(first, static_cast<std::size_t>(last - first)))});
  }
}

// Column indices given by the caller that no line reaches are a usage error, not a data problem.
void LineReader::checkIndicesReached() const {
  const std::uint64_t tooFew =
      summary_.skippedByProblem[static_cast<std::size_t>(LineProblem::TooFewCells)];
  if (!options_.columnIndices.empty() && summary_.sampleLines == 0 && tooFew > 0 &&
      tooFew == summary_.skippedLines) {
    throw UsageError("column " + std::to_string(maxColumn_ + 1) + " (0-based index " +
                     std::to_string(maxColumn_) + ") is beyond every line of " + name_ +
                     ", which has at most " + std::to_string(maxCellsSeen_) + " cells per line");
  }
}

// ---- The rest of a whole input read by a second reader, on another thread, and appended.

LineReader::LineReader(const LineReader& earlier, SampleSet& set)
    : LineReader(earlier.options_, earlier.name_, set, SampleStorage::Whole) {
  layout_ = earlier.layout_;
  decided_ = true;
  useLayout();
  chooseUnit();
  lineEnd_ = earlier.lineEnd_;
  contentLines_ = earlier.contentLines_;
  store_->useBlocks();
}

bool LineReader::canHandOff() const {
  return decided_ && storage_ == SampleStorage::Whole && !ofKinds_ &&
         contentLines_ >= layout_.headerLines;
}

void LineReader::finishRest() {
  readLast(false);
}

void LineReader::finishWith(LineReader& later) {
  ReadSummary& s = summary_;
  const ReadSummary& t = later.summary_;
  const std::uint64_t lineOffset = s.lines;
  for (const SkippedLine& line : t.skipped) {
    if (s.skipped.size() >= options_.maxListedLines) {
      break;
    }
    s.skipped.push_back(line);
    s.skipped.back().line += lineOffset;
  }
  s.lines += t.lines;
  s.headerLines += t.headerLines;
  s.commentLines += t.commentLines;
  s.blankLines += t.blankLines;
  s.sampleLines += t.sampleLines;
  s.skippedLines += t.skippedLines;
  s.leftOutLines += t.leftOutLines;
  s.unmatchedLines += t.unmatchedLines;
  for (std::size_t p = 0; p < s.skippedByProblem.size(); ++p) {
    s.skippedByProblem[p] += t.skippedByProblem[p];
  }
  s.bytes += t.bytes;
  maxCellsSeen_ = std::max(maxCellsSeen_, later.maxCellsSeen_);
  atEnd_ = true;
  checkIndicesReached();
  store_->complete();
  store_->appendFrom(*later.store_, lineOffset);
}

}  // namespace fluxtrim::detail
