#include "sampleWords.hpp"

#include <algorithm>
#include <initializer_list>

namespace fluxtrim::detail {

namespace {

bool isIn(std::string_view word, std::initializer_list<std::string_view> words) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

// Words that make a name a magnetometer's, alone or before an axis letter (magx, bx).
bool isMagnetometerWord(std::string_view word) {
  return isIn(word, {"mag", "magn", "magnet", "magnetic", "magnetometer", "magnetom", "compass",
                     "field", "bfield", "mf", "b", "m", "h"});
}

bool isAccelerometerWord(std::string_view word) {
  return isIn(word, {"a", "acc", "accel", "acceleration", "accelerometer", "accl"});
}

// Words of other sensors and quantities that come in X, Y and Z too: a gyroscope, gravity or
// linear acceleration computed by a fusion filter, orientation, position.
bool isOtherSensorWord(std::string_view word) {
  return isIn(word, {"g",          "gyr",      "gyro",   "gyroscope",   "w",     "omega",
                     "rot",        "rotation", "rate",   "ang",         "angle", "angular",
                     "grav",       "gravity",  "lin",    "linear",      "q",     "quat",
                     "quaternion", "euler",    "orient", "orientation", "p",     "pos",
                     "position",   "v",        "vel",    "velocity",    "speed", "r"});
}

// Words of time stamp and counter columns.
bool isTimeWord(std::string_view word) {
  return isIn(word,
              {"time",        "t",        "timestamp", "stamp",        "ts",     "date",
               "datetime",    "clock",    "ms",        "msec",         "millis", "milliseconds",
               "us",          "usec",     "micros",    "microseconds", "ns",     "nanos",
               "nanoseconds", "s",        "sec",       "secs",         "second", "seconds",
               "elapsed",     "epoch",    "utc",       "unix",         "tick",   "ticks",
               "counter",     "count",    "cnt",       "index",        "idx",    "i",
               "n",           "no",       "nr",        "num",          "number", "sample",
               "seq",         "sequence", "frame",     "id",           "row",    "line"});
}

int axisOf(char letter) {
  return letter == 'x' ? 0 : letter == 'y' ? 1 : letter == 'z' ? 2 : -1;
}

// The sensors a word names, alone or as the prefix of an axis letter.
struct SensorWords {
  bool magnetometer = false;
  bool accelerometer = false;
  bool other = false;

  void add(std::string_view word) {
    magnetometer = magnetometer || isMagnetometerWord(word);
    accelerometer = accelerometer || isAccelerometerWord(word);
    other = other || isOtherSensorWord(word);
  }
  bool any(std::string_view word) const {
    return isMagnetometerWord(word) || isAccelerometerWord(word) || isOtherSensorWord(word);
  }
  Sensor sensor() const {
    const int named = (magnetometer ? 1 : 0) + (accelerometer ? 1 : 0);
    if (other || named > 1) {
      return Sensor::Other;
    }
    return magnetometer    ? Sensor::Magnetometer
           : accelerometer ? Sensor::Accelerometer
                           : Sensor::Unknown;
  }
};

}  // namespace

std::vector<std::string> nameWords(std::string_view name) {
  std::vector<std::string> words;
  std::string word;
  int depth = 0;
  char previous = ' ';
  for (const char c : name) {
    if (c == '(' || c == '[' || c == '{') {
      ++depth;
    } else if ((c == ')' || c == ']' || c == '}') && depth > 0) {
      --depth;
    }
    const bool upper = c >= 'A' && c <= 'Z';
    const bool lower = c >= 'a' && c <= 'z';
    const bool digit = c >= '0' && c <= '9';
    const bool inWord = depth == 0 && (upper || lower || digit);
    if (!word.empty() && (!inWord || (upper && previous >= 'a' && previous <= 'z'))) {
      words.push_back(word);
      word.clear();
    }
    if (inWord) {
      word += upper ? static_cast<char>(c - 'A' + 'a') : c;
    }
    previous = c;
  }
  if (!word.empty()) {
    words.push_back(word);
  }
  return words;
}

NameInfo classifyName(std::string_view name) {
  NameInfo info;
  SensorWords sensors;
  bool time = false;
  int axes = 0;
  for (const std::string& word : nameWords(name)) {
    if (word.size() == 1 && axisOf(word[0]) >= 0) {
      info.axis = axisOf(word[0]);
      ++axes;
    } else if (word.size() >= 2 && axisOf(word.back()) >= 0) {
      const std::string_view prefix(word.data(), word.size() - 1);
      if (sensors.any(prefix)) {
        info.axis = axisOf(word.back());
        ++axes;
        sensors.add(prefix);
      }
    }
    sensors.add(word);
    time = time || isTimeWord(word);
  }
  if (axes != 1) {
    info.axis = -1;
  }
  info.sensor = sensors.sensor();
  info.time = time && axes == 0;
  return info;
}

WrittenUnit unitOfWord(std::string_view word) {
  WrittenUnit unit;
  // Symbols as written (case matters: mG is milligauss, mg milli-g), then words in any case.
  const std::pair<std::string_view, Unit> symbols[] = {
      {"uT", Unit::Microtesla},
      {"\xC2\xB5T", Unit::Microtesla},  // micro sign
      {"\xCE\xBCT", Unit::Microtesla},  // Greek mu
      {"mG", Unit::Milligauss},
      {"G", Unit::Gauss},
      {"Ga", Unit::Gauss},
      {"nT", Unit::Nanotesla},
  };
  const std::pair<std::string_view, Unit> words[] = {
      {"gauss", Unit::Gauss},
      {"milligauss", Unit::Milligauss},
      {"utesla", Unit::Microtesla},
      {"microtesla", Unit::Microtesla},
      {"micro-tesla", Unit::Microtesla},
      {"nanotesla", Unit::Nanotesla},
      {"nano-tesla", Unit::Nanotesla},
      {"milli-gauss", Unit::Milligauss},
  };
  for (const auto& [text, value] : symbols) {
    if (word == text) {
      unit.sensor = Sensor::Magnetometer;
      unit.magnetometer = SampleUnit{value};
      return unit;
    }
  }
  for (const auto& [text, value] : words) {
    if (equalIgnoringCase(word, text)) {
      unit.sensor = Sensor::Magnetometer;
      unit.magnetometer = SampleUnit{value};
      return unit;
    }
  }
  if (isIn(word, {"m/s^2", "m/s2", "m/s\xC2\xB2"})) {  // superscript two in UTF-8
    unit.sensor = Sensor::Accelerometer;
    unit.accelerometer = AccelerometerUnit{AccelUnit::MetresPerSecondSquared};
  } else if (word == "g") {
    unit.sensor = Sensor::Accelerometer;
    unit.accelerometer = AccelerometerUnit{AccelUnit::StandardGravity};
  } else if (word == "mg") {
    unit.sensor = Sensor::Accelerometer;  // milli-g: a thousand counts per g
    unit.accelerometer = AccelerometerUnit::counts(1000.0);
  } else if (isIn(word, {"dps", "deg/s", "\xC2\xB0/s", "rad/s"})) {  // degree sign
    unit.sensor = Sensor::Other;
  }
  return unit;
}

WrittenUnit unitInName(std::string_view name) {
  const std::size_t open = name.find_last_of("([{");
  if (open != std::string_view::npos) {
    const std::size_t close = name.find_first_of(")]}", open);
    if (close != std::string_view::npos) {
      std::string_view inside = name.substr(open + 1, close - open - 1);
      while (!inside.empty() && inside.front() == ' ') {
        inside.remove_prefix(1);
      }
      while (!inside.empty() && inside.back() == ' ') {
        inside.remove_suffix(1);
      }
      return unitOfWord(inside);
    }
  }
  const std::size_t separator = name.find_last_of(" _.");
  return separator == std::string_view::npos ? WrittenUnit{}
                                             : unitOfWord(name.substr(separator + 1));
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t k = 0; k < a.size(); ++k) {
    const char x = a[k] >= 'A' && a[k] <= 'Z' ? static_cast<char>(a[k] - 'A' + 'a') : a[k];
    const char y = b[k] >= 'A' && b[k] <= 'Z' ? static_cast<char>(b[k] - 'A' + 'a') : b[k];
    if (x != y) {
      return false;
    }
  }
  return true;
}

bool sameUnit(const SampleUnit& a, const SampleUnit& b) {
  return a.unit == b.unit && (a.unit != Unit::Counts || a.countsPerGauss == b.countsPerGauss);
}

}  // namespace fluxtrim::detail
