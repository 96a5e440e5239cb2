#include "labelledValues.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "lineKinds.hpp"
#include "numparse.hpp"
#include "sampleWords.hpp"

namespace fluxtrim::detail {

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Bytes of UTF-8 sequences count as letters: the micro sign and the Greek mu of "µT".
bool startsName(char c) {
  return isLetter(c) || c == '_' || c == '%' || static_cast<unsigned char>(c) >= 0x80;
}

bool continuesName(char c) {
  return startsName(c) || isDigit(c);
}

const char* skipBlanks(const char* p, const char* last) {
  while (p != last && isBlank(*p)) {
    ++p;
  }
  return p;
}

const char* skipDigits(const char* p, const char* last) {
  while (p != last && isDigit(*p)) {
    ++p;
  }
  return p;
}

// After "HH:MM:SS" with an optional fraction, or p itself.
const char* afterTimeOfDay(const char* p, const char* last) {
  const char* q = p;
  for (int part = 0; part < 3; ++part) {
    const char* end = skipDigits(q, last);
    if (end == q || (part < 2 && (end == last || *end != ':'))) {
      return p;
    }
    q = part < 2 ? end + 1 : end;
  }
  return q != last && *q == '.' ? skipDigits(q + 1, last) : q;
}

// After "[12345]", "[12.345]" or "[12:00:01.123]", or p itself.
const char* afterBracketedStamp(const char* p, const char* last) {
  if (p == last || *p != '[') {
    return p;
  }
  const char* q = afterTimeOfDay(p + 1, last);
  if (q == p + 1) {
    q = skipDigits(p + 1, last);
    if (q != last && *q == '.') {
      q = skipDigits(q + 1, last);
    }
  }
  return q != p + 1 && q != last && *q == ']' ? q + 1 : p;
}

// After a log level and a tick count, "I (1234) ", or p itself.
const char* afterLogLevel(const char* p, const char* last) {
  if (last - p < 5 || std::string_view("EWIDV").find(*p) == std::string_view::npos || p[1] != ' ' ||
      p[2] != '(') {
    return p;
  }
  const char* q = skipDigits(p + 3, last);
  return q != p + 3 && q != last && *q == ')' ? q + 1 : p;
}

}  // namespace

const char* afterLinePrefix(const char* first, const char* last) {
  const char* p = skipBlanks(first, last);
  for (;;) {
    const char* q = afterLogLevel(p, last);
    q = afterBracketedStamp(q, last);
    const char* time = afterTimeOfDay(q, last);
    // A time of day stands before a label or an arrow, never before a delimiter: "12:00:01,5"
    // is no prefix.
    q = time != q && time != last && !isBlank(*time) ? q : time;
    q = skipBlanks(q, last);
    if (q != p && last - q >= 2 && q[0] == '-' && q[1] == '>') {
      q = skipBlanks(q + 2, last);
    }
    if (q == p) {
      return p;
    }
    p = q;
  }
}

namespace {

enum class TokenType { Number, Name, Quoted, Open, Close, Assign, Separator, End };

struct Token {
  TokenType type = TokenType::End;
  const char* first = nullptr;
  const char* last = nullptr;
};

bool startsNumber(const char* p, const char* last) {
  if (isDigit(*p)) {
    return true;
  }
  const char* q = (*p == '+' || *p == '-') ? p + 1 : p;
  if (q != last && *q == '.') {
    ++q;
  }
  return q != p && q != last && isDigit(*q);
}

// The name starting at p: letters, digits, '_' and the joints of compound names and units
// ("field.magnetic_field.x", "micro-tesla", "m/s^2") between them.
const char* nameEnd(const char* p, const char* last) {
  const char* end = p;
  while (end != last) {
    if (continuesName(*end)) {
      ++end;
    } else if ((*end == '.' || *end == '-' || *end == '/' || *end == '^') && end + 1 != last &&
               continuesName(end[1])) {
      end += 2;
    } else {
      break;
    }
  }
  return end;
}

class Tokens {
 public:
  Tokens(const char* first, const char* last) : p_(first), last_(last) { advance(); }

  const Token& peek() const { return token_; }
  Token take() {
    const Token token = token_;
    advance();
    return token;
  }

 private:
  void advance() {
    p_ = skipBlanks(p_, last_);
    token_.first = p_;
    if (p_ == last_) {
      token_ = Token{TokenType::End, p_, p_};
      return;
    }
    const char c = *p_;
    token_.type = TokenType::Separator;
    const char* end = p_ + 1;
    if (c == '"' || c == '\'') {
      const void* close = std::memchr(p_ + 1, c, static_cast<std::size_t>(last_ - p_ - 1));
      end = close != nullptr ? static_cast<const char*>(close) : last_;
      token_ = quoted(p_ + 1, end);
      p_ = end == last_ ? end : end + 1;
      return;
    }
    if (c == '{' || c == '[' || c == '(') {
      token_.type = TokenType::Open;
    } else if (c == '}' || c == ']' || c == ')') {
      token_.type = TokenType::Close;
    } else if (c == ':' || c == '=') {
      token_.type = TokenType::Assign;
    } else if (startsNumber(p_, last_)) {
      double value = 0.0;
      numparse::toDouble(p_, last_, value, &end);
      end = end > p_ ? end : p_ + 1;
      token_.type = TokenType::Number;
    } else if (startsName(c)) {
      end = nameEnd(p_, last_);
      const std::string_view word(p_, static_cast<std::size_t>(end - p_));
      // NaN and Infinity as JSON writers print them are values, not finite ones.
      const bool notFinite = equalIgnoringCase(word, "nan") || equalIgnoringCase(word, "inf") ||
                             equalIgnoringCase(word, "infinity");
      token_.type = notFinite ? TokenType::Number : TokenType::Name;
    }
    token_.last = end;
    p_ = end;
  }

  // Quoted text, a number when it is one ("12.5" in JSON written by hand).
  static Token quoted(const char* first, const char* last) {
    double value = 0.0;
    const char* end = first;
    if (first != last && startsNumber(first, last) &&
        numparse::toDouble(first, last, value, &end) != numparse::Status::NoNumber && end == last) {
      return Token{TokenType::Number, first, last};
    }
    return Token{TokenType::Quoted, first, last};
  }

  const char* p_;
  const char* last_;
  Token token_;
};

std::string_view textOf(const Token& token) {
  return std::string_view(token.first, static_cast<std::size_t>(token.last - token.first));
}

bool isUnitKey(std::string_view name) {
  return equalIgnoringCase(name, "unit") || equalIgnoringCase(name, "units");
}

// Keys are given to numbers in runs: the numbers after one name, or in one group, get that name,
// with .x, .y and .z when they are three ("mag: 1, 2, 3"), or .1, .2, ... when more.
class LineParser {
 public:
  explicit LineParser(LabelledLine& line) : line_(line) { frames_.push_back(Frame{}); }

  void parse(const char* first, const char* last) {
    Tokens tokens(first, last);
    while (tokens.peek().type != TokenType::End) {
      const Token token = tokens.take();
      switch (token.type) {
        case TokenType::Number:
          addNumber(token);
          break;
        case TokenType::Name:
        case TokenType::Quoted:
          name(token, tokens);
          break;
        case TokenType::Open:
          open(std::string(pending_));
          break;
        case TokenType::Close:
          close();
          break;
        case TokenType::Assign:
        case TokenType::Separator:
        case TokenType::End:
          break;
      }
    }
    endRun();
  }

 private:
  struct Frame {
    std::string name;   // the group's name, empty for none
    std::string label;  // a label inside it that names what follows ("Mag" of "Mag: x=1")
    std::size_t values = 0;
  };

  void name(const Token& token, Tokens& tokens) {
    const std::string_view text = textOf(token);
    if (tokens.peek().type != TokenType::Assign) {
      if (unitOfWord(text).sensor != Sensor::Unknown) {
        line_.units.push_back(text);  // "12.3 uT", "Mag (uT)", "40.1 uTesla"
        return;
      }
      // A name without ':' before numbers ("MAG | 1 | 2", "mag 1 2 3"); a second one makes the
      // first a label ("Mag X: 1").
      endRun();
      if (!pending_.empty() && runValues_ == 0) {
        frames_.back().label = std::string(pending_);
      }
      pending_ = text;
      return;
    }
    tokens.take();  // the ':' or '='
    const Token& next = tokens.peek();
    if (next.type == TokenType::Quoted || (next.type == TokenType::Name && isUnitKey(text))) {
      const std::string_view value = textOf(tokens.take());
      if (isUnitKey(text) && unitOfWord(value).sensor != Sensor::Unknown) {
        line_.units.push_back(value);
      } else if (classifyName(value).sensor != Sensor::Unknown) {
        frames_.back().label = std::string(value);  // {"sensor": "mag", "x": ...}
      }
      return;
    }
    endRun();
    if (next.type == TokenType::Number || next.type == TokenType::Open) {
      if (!pending_.empty() && runValues_ == 0) {
        frames_.back().label = std::string(pending_);
      }
      pending_ = text;
      return;
    }
    frames_.back().label = std::string(text);  // "Mag: x=1 y=2"
    pending_ = {};
  }

  void addNumber(const Token& token) {
    if (runValues_ == 0) {
      runStart_ = line_.values.size();
    }
    line_.values.push_back(LabelledValue{std::string(), Cell{token.first, token.last}});
    ++runValues_;
    ++frames_.back().values;
  }

  // Groups deeper than this are read as if they were not there: no logger nests so deep.
  static constexpr std::size_t kDeepestGroup = 16;

  void open(std::string name) {
    endRun();
    pending_ = {};
    if (frames_.size() < kDeepestGroup) {
      frames_.push_back(Frame{std::move(name), std::string(), 0});
    } else {
      ++unopened_;
    }
  }

  void close() {
    endRun();
    if (unopened_ > 0) {
      --unopened_;
    } else if (frames_.size() > 1) {
      Frame frame = std::move(frames_.back());
      frames_.pop_back();
      frames_.back().values += frame.values;
      // "Mag (uT) [1, 2, 3]": a group with no number passes its name to the next.
      closedName_ = frame.values == 0 ? std::move(frame.name) : std::string();
      pending_ = closedName_;
    }
  }

  // The names the run is written under, joined by '.', each cut to its first 64 bytes, so that
  // a line of many numbers after a long name holds no more than a line's bytes in its keys.
  std::string prefix() const {
    std::string text;
    const auto add = [&text](std::string_view part) {
      if (!part.empty()) {
        text.append(text.empty() ? "" : ".").append(part.substr(0, 64));
      }
    };
    for (const Frame& frame : frames_) {
      add(frame.name);
      add(frame.label);
    }
    add(pending_);
    return text;
  }

  void endRun() {
    if (runValues_ == 0) {
      return;
    }
    const std::string base = prefix();
    for (std::size_t k = 0; k < runValues_; ++k) {
      std::string& key = line_.values[runStart_ + k].key;
      if (base.empty()) {
        key = "#" + std::to_string(runStart_ + k + 1);
      } else if (runValues_ == 1) {
        key = base;
      } else if (runValues_ == 3) {
        key = base + "." + "xyz"[k];
      } else {
        key = base + "." + std::to_string(k + 1);
      }
    }
    runValues_ = 0;
    pending_ = {};
  }

  LabelledLine& line_;
  std::vector<Frame> frames_;
  std::string_view pending_;  // the name the next numbers are written under
  std::string closedName_;    // storage of pending_ after a group without numbers
  std::size_t runStart_ = 0;
  std::size_t runValues_ = 0;
  std::size_t unopened_ = 0;  // groups opened beyond kDeepestGroup, not yet closed
};

}  // namespace

void readLabelledLine(const char* first, const char* last, LabelledLine& line) {
  line.values.clear();
  line.units.clear();
  LineParser(line).parse(first, last);
}

const LabelledValue* findValue(const LabelledLine& line, std::string_view key) {
  for (const LabelledValue& value : line.values) {
    if (value.key == key) {
      return &value;
    }
  }
  return nullptr;
}

namespace {

// A first line that is no comment, read for its named values.
struct ParsedLine {
  const FirstLine* text = nullptr;
  LabelledLine values;
  bool data = false;  // three or more numbers
};

bool holdsAll(const LabelledLine& line, const std::array<std::string, 3>& keys) {
  return std::all_of(keys.begin(), keys.end(),
                     [&](const std::string& key) { return findValue(line, key) != nullptr; });
}

// A key that is an axis letter alone ("X", "x"), without another word.
bool bareAxis(const std::string& key) {
  const std::vector<std::string> words = nameWords(key);
  return words.size() == 1 && words[0].size() == 1 && classifyName(key).axis >= 0;
}

// Keys looked at to find the magnetometer's: the first lines of a recording hold a few dozen.
constexpr std::size_t kMostKeys = 1024;

class LabelledChooser {
 public:
  LabelledChooser(const std::vector<FirstLine>& lines, const ReadOptions& options, Layout base)
      : options_(options), layout_(std::move(base)) {
    for (const FirstLine& line : lines) {
      if (!line.comment) {
        ParsedLine parsed;
        parsed.text = &line;
        readLabelledLine(afterLinePrefix(line.first, line.last), line.last, parsed.values);
        parsed.data = parsed.values.values.size() >= 3;
        lines_.push_back(std::move(parsed));
      }
    }
  }

  std::optional<Layout> choose(bool strongOnly) {
    std::size_t firstData = 0;
    while (firstData < lines_.size() && !lines_[firstData].data) {
      ++firstData;
    }
    if (firstData == lines_.size()) {
      return std::nullopt;
    }
    headerLines_ = options_.header == HeaderMode::Present  ? 1
                   : options_.header == HeaderMode::Absent ? 0
                                                           : firstData;
    collectKeys();
    std::array<std::string, 3> keys;
    std::string rule;
    if (!keysOf(Sensor::Magnetometer, keys)) {
      // Values not named for the magnetometer are not taken beside another sensor's unit
      // ("X: 0.1 Y: 0.2 Z: 9.8 m/s^2", "12 -3 980 mg").
      if (strongOnly || !(bareAxes(keys) || unnamedThree(keys)) || otherSensorUnit(keys)) {
        return std::nullopt;
      }
    }
    if (!keepKinds(keys)) {
      return std::nullopt;
    }
    layout_.labelled = true;
    layout_.readsSamples = true;
    layout_.headerLines = headerLines_;
    layout_.header.clear();
    layout_.firstCellLabel.clear();
    layout_.tenthsOfMicrotesla = false;
    for (std::size_t axis = 0; axis < 3; ++axis) {
      layout_.keys[axis] = keys[axis];
    }
    layout_.columnRule = keys[0][0] == '#'
                             ? "the only three values of each line"
                             : "the values labelled '" + printableText(keys[0]) + "', '" +
                                   printableText(keys[1]) + "', '" + printableText(keys[2]) + "'";
    chooseAccelerometer();
    statedUnit(keys);
    return layout_;
  }

 private:
  // The keys of the data lines after the header, in order of their first appearance.
  void collectKeys() {
    for (std::size_t k = headerLines_; k < lines_.size(); ++k) {
      if (!lines_[k].data) {
        continue;
      }
      for (const LabelledValue& value : lines_[k].values.values) {
        if (keys_.size() < kMostKeys &&
            std::find(keys_.begin(), keys_.end(), value.key) == keys_.end()) {
          keys_.push_back(value.key);
        }
      }
    }
  }

  // The first key of each axis that names the sensor; true when all three are found.
  bool keysOf(Sensor sensor, std::array<std::string, 3>& keys) const {
    std::array<std::string, 3> found;
    for (const std::string& key : keys_) {
      const NameInfo info = classifyName(key);
      if (key[0] != '#' && info.sensor == sensor && info.axis >= 0 && found[info.axis].empty()) {
        found[info.axis] = key;
      }
    }
    if (found[0].empty() || found[1].empty() || found[2].empty()) {
      return false;
    }
    keys = found;
    return true;
  }

  // "X: 1 Y: 2 Z: 3": keys that are axis letters alone.
  bool bareAxes(std::array<std::string, 3>& keys) const {
    std::array<std::string, 3> found;
    for (const std::string& key : keys_) {
      if (bareAxis(key) && found[classifyName(key).axis].empty()) {
        found[classifyName(key).axis] = key;
      }
    }
    if (found[0].empty() || found[1].empty() || found[2].empty()) {
      return false;
    }
    keys = found;
    return true;
  }

  // Three numbers that no name precedes, and no other on the data lines: "1.0, 2.0, 3.0 uT".
  bool unnamedThree(std::array<std::string, 3>& keys) const {
    if (keys_.size() != 3 || !std::all_of(keys_.begin(), keys_.end(),
                                          [](const std::string& key) { return key[0] == '#'; })) {
      return false;
    }
    keys = {{keys_[0], keys_[1], keys_[2]}};
    return true;
  }

  bool otherSensorUnit(const std::array<std::string, 3>& keys) const {
    for (const ParsedLine& line : lines_) {
      if (line.data && holdsAll(line.values, keys)) {
        for (const std::string_view word : line.values.units) {
          const Sensor sensor = unitOfWord(word).sensor;
          if (sensor == Sensor::Accelerometer || sensor == Sensor::Other) {
            return true;
          }
        }
      }
    }
    return false;
  }

  // The kinds of line, by label and unit as serial logs are told apart, those whose lines hold
  // the keys kept. False when no data line holds all three.
  bool keepKinds(const std::array<std::string, 3>& keys) {
    std::vector<LineKind> kinds;
    bool labelled = false;
    bool any = false;
    for (std::size_t k = headerLines_; k < lines_.size(); ++k) {
      const ParsedLine& line = lines_[k];
      const bool holds = holdsAll(line.values, keys);
      if (holds && !any) {
        any = true;
        for (std::size_t axis = 0; axis < 3; ++axis) {
          layout_.columns[axis] =
              static_cast<int>(findValue(line.values, keys[axis]) - line.values.values.data());
        }
      }
      if (!line.data) {
        continue;
      }
      const LineSignature signature = lineSignature(line.text->first, line.text->last);
      labelled = labelled || !signature.plain();
      int index = findKind(kinds, signature);
      if (index < 0) {
        index = static_cast<int>(kinds.size());
        kinds.push_back(kindOf(signature));
      }
      kinds[static_cast<std::size_t>(index)].kept |= holds;
    }
    layout_.kinds.clear();
    layout_.keptKind = -1;
    if (labelled) {
      layout_.kinds = kinds;
      for (std::size_t k = 0; k < kinds.size() && layout_.keptKind < 0; ++k) {
        layout_.keptKind = kinds[k].kept ? static_cast<int>(k) : -1;
      }
    }
    return any;
  }

  void chooseAccelerometer() {
    layout_.accelerometerColumns = {{-1, -1, -1}};
    layout_.accelerometerColumnRule.clear();
    std::array<std::string, 3> keys;
    if (!options_.accelerometerColumnIndices.empty() ||
        !options_.accelerometerColumnNames.empty() || !keysOf(Sensor::Accelerometer, keys)) {
      return;
    }
    const std::array<std::string, 3> magnetometer{
        {layout_.keys[0], layout_.keys[1], layout_.keys[2]}};
    for (const ParsedLine& line : lines_) {
      if (line.data && holdsAll(line.values, keys) && holdsAll(line.values, magnetometer)) {
        for (std::size_t axis = 0; axis < 3; ++axis) {
          layout_.keys[axis + 3] = keys[axis];
          layout_.accelerometerColumns[axis] =
              static_cast<int>(findValue(line.values, keys[axis]) - line.values.values.data());
        }
        layout_.accelerometerColumnRule = "the values labelled '" + printableText(keys[0]) +
                                          "', '" + printableText(keys[1]) + "', '" +
                                          printableText(keys[2]) + "'";
        return;
      }
    }
  }

  // The one magnetometer unit the kept lines write; a lower-case mg is an accelerometer's.
  void statedUnit(const std::array<std::string, 3>& keys) {
    std::optional<SampleUnit> unit;
    std::optional<AccelerometerUnit> accelerometer;
    bool conflict = false;
    bool milliG = false;
    for (std::size_t k = headerLines_; k < lines_.size(); ++k) {
      if (!lines_[k].data || !holdsAll(lines_[k].values, keys)) {
        continue;
      }
      for (const std::string_view word : lines_[k].values.units) {
        const WrittenUnit written = unitOfWord(word);
        if (written.sensor == Sensor::Magnetometer) {
          conflict = conflict || (unit && !sameUnit(*unit, written.magnetometer));
          unit = written.magnetometer;
        } else if (written.sensor == Sensor::Accelerometer) {
          accelerometer = written.accelerometer;
          milliG = milliG || word == "mg";
        }
      }
    }
    if (unit && !conflict) {
      layout_.statedUnit = unit;
      layout_.statedSource = UnitSource::Detected;
      layout_.statedRule = "written in the lines";
    }
    if (layout_.accelerometerColumns[0] >= 0 && accelerometer) {
      layout_.accelerometerUnit = accelerometer;
    } else if (milliG && !unit) {
      layout_.warnings.push_back(
          "the lines write 'mg', milli-g, an accelerometer's unit, beside the magnetometer's "
          "values: if they are milligauss, give the unit (mG)");
    }
  }

  const ReadOptions& options_;
  Layout layout_;
  std::vector<ParsedLine> lines_;
  std::size_t headerLines_ = 0;
  std::vector<std::string> keys_;
};

}  // namespace

std::optional<Layout> chooseLabelledLayout(const std::vector<FirstLine>& lines,
                                           const ReadOptions& options, const std::string&,
                                           const Layout& base, bool strongOnly) {
  if (!options.columnIndices.empty() || !options.columnNames.empty()) {
    return std::nullopt;
  }
  return LabelledChooser(lines, options, base).choose(strongOnly);
}

}  // namespace fluxtrim::detail
