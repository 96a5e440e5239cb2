// The words of recordings: column names and line labels split into words and classified by the
// sensor they name, and the units a logger writes after its values or in a column name. Shared by
// the layout of delimited text and the kinds of line; not installed.
#ifndef FLUXTRIM_SAMPLE_WORDS_HPP
#define FLUXTRIM_SAMPLE_WORDS_HPP

#include <string>
#include <string_view>
#include <vector>

#include "fluxtrim/samples.hpp"
#include "fluxtrim/units.hpp"

namespace fluxtrim::detail {

// The lower-case words of a column name: split at characters other than ASCII letters and digits
// and where a lower-case letter is followed by an upper-case one; text in brackets (a unit,
// usually) is dropped.
std::vector<std::string> nameWords(std::string_view name);

// What a column name or a line's label says.
struct NameInfo {
  int axis = -1;                    // 0, 1, 2 for X, Y, Z; -1 for none or several
  Sensor sensor = Sensor::Unknown;  // Other also when words of two sensors meet
  bool time = false;                // a time stamp or counter name, without an axis
};
NameInfo classifyName(std::string_view name);

// A unit as loggers write it. Symbols are recognised exactly as written (case matters: G is gauss,
// g standard gravity, mG milligauss, mg milli-g): uT, µT, μT (micro sign or Greek mu), mG, G, Ga,
// nT for a magnetometer; m/s^2, m/s2, m/s², g, mg (as counts at 1000 per g) for an
// accelerometer; dps, deg/s, °/s, rad/s for a gyroscope (Other). Words in any case: gauss,
// milligauss, uTesla, microtesla, micro-tesla, nanotesla. Tesla and counts are never taken from
// text: a bare T or a number of counts says too little.
struct WrittenUnit {
  Sensor sensor = Sensor::Unknown;  // Unknown: the word is no unit
  SampleUnit magnetometer;          // for Magnetometer
  AccelerometerUnit accelerometer;  // for Accelerometer
};
WrittenUnit unitOfWord(std::string_view word);

// The unit in a column name: the text in its last pair of brackets ("Magnetometer X (uT)",
// "acc_x [g]"), else its last word after a blank, '_' or '.' ("mag_x_uT").
WrittenUnit unitInName(std::string_view name);

// Whether two texts are equal when ASCII letters are compared without regard to case.
bool equalIgnoringCase(std::string_view a, std::string_view b);

// Whether two units are the same: the same Unit, and for counts the same scale.
bool sameUnit(const SampleUnit& a, const SampleUnit& b);

}  // namespace fluxtrim::detail

#endif
