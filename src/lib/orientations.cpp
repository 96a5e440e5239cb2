// The 24 right-angle mountings, their names and numbers, and the nearest one to a rotation.
#include <cctype>
#include <sstream>
#include <vector>

#include "constants.hpp"
#include "fluxtrim/error.hpp"
#include "fluxtrim/vehicle.hpp"
#include "printable.hpp"
#include "vehicleMath.hpp"

namespace fluxtrim {

using namespace detail;

namespace {

// Rx, Ry or Rz by a multiple of 90 degrees, exactly (no rounded sines).
Matrix3 axisRotation(int axis, int degrees) {
  const int quarter = ((degrees / 90) % 4 + 4) % 4;
  const double c = quarter == 0 ? 1.0 : quarter == 2 ? -1.0 : 0.0;
  const double s = quarter == 1 ? 1.0 : quarter == 3 ? -1.0 : 0.0;
  const int i = (axis + 1) % 3;  // the two other axes, in cyclic order
  const int j = (axis + 2) % 3;
  Matrix3 r = identity3();
  r[i][i] = c;
  r[i][j] = -s;
  r[j][i] = s;
  r[j][j] = c;
  return r;
}

// The words of a name split at blanks and underscores, in lower case.
std::vector<std::string> nameWords(const std::string& name) {
  std::string spaced = name;
  for (char& c : spaced) {
    c = c == '_' ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  std::istringstream in(spaced);
  std::vector<std::string> words;
  for (std::string word; in >> word;) {
    words.push_back(word);
  }
  return words;
}

constexpr struct {
  const char* name;
  int number;
} kNames[kOrientationCount] = {
    {"none", 0},
    {"yaw 90", 2},
    {"yaw 180", 4},
    {"yaw 270", 6},
    {"roll 180", 8},
    {"roll 180 yaw 90", 10},
    {"pitch 180", 12},
    {"roll 180 yaw 270", 14},
    {"roll 90", 16},
    {"roll 90 yaw 90", 18},
    {"roll 270", 20},
    {"roll 270 yaw 90", 22},
    {"pitch 90", 24},
    {"pitch 270", 25},
    {"roll 90 pitch 90", 28},
    {"roll 180 pitch 90", 29},
    {"roll 270 pitch 90", 30},
    {"roll 90 pitch 180", 31},
    {"roll 270 pitch 180", 32},
    {"roll 90 pitch 270", 33},
    {"roll 180 pitch 270", 34},
    {"roll 270 pitch 270", 35},
    {"roll 90 pitch 180 yaw 90", 36},
    {"roll 90 yaw 270", 37},
};

}  // namespace

Matrix3 orientationMatrix(const std::string& name) {
  const std::vector<std::string> words = nameWords(name);
  if (words.size() == 1 && words[0] == "none") {
    return identity3();
  }
  static const char* const kAxes[3] = {"roll", "pitch", "yaw"};
  int angles[3] = {0, 0, 0};
  int nextAxis = 0;  // roll, pitch and yaw come in this order, each at most once
  bool valid = !words.empty() && words.size() % 2 == 0;
  for (std::size_t w = 0; valid && w < words.size(); w += 2) {
    int axis = nextAxis;
    while (axis < 3 && words[w] != kAxes[axis]) {
      ++axis;
    }
    const std::string& angle = words[w + 1];
    valid = axis < 3 && (angle == "90" || angle == "180" || angle == "270");
    if (valid) {
      angles[axis] = std::stoi(angle);
      nextAxis = axis + 1;
    }
  }
  if (!valid) {
    throw UsageError("unknown orientation '" +
                     printableText(name.data(), name.data() + name.size()) +
                     "'; expected none, or roll, pitch and yaw in this order, each followed by "
                     "90, 180 or 270 (for example 'roll 180 yaw 90')");
  }
  // Roll first, then pitch, then yaw, applied to the vector: Rz * Ry * Rx.
  return multiply(axisRotation(2, angles[2]),
                  multiply(axisRotation(1, angles[1]), axisRotation(0, angles[0])));
}

const std::array<NamedOrientation, kOrientationCount>& namedOrientations() {
  static const std::array<NamedOrientation, kOrientationCount> table = [] {
    std::array<NamedOrientation, kOrientationCount> built{};
    for (int k = 0; k < kOrientationCount; ++k) {
      built[k] =
          NamedOrientation{kNames[k].name, kNames[k].number, orientationMatrix(kNames[k].name)};
    }
    return built;
  }();
  return table;
}

OrientationMatch nearestOrientation(const Matrix3& rotation) {
  OrientationMatch best;
  double bestTrace = -std::numeric_limits<double>::infinity();
  const auto& table = namedOrientations();
  for (int k = 0; k < kOrientationCount; ++k) {
    // trace(P^T R) = 1 + 2 cos(angle of P^T R): the largest trace is the smallest angle.
    const Matrix3 relative = multiply(transpose(table[k].matrix), rotation);
    const double trace = relative[0][0] + relative[1][1] + relative[2][2];
    if (trace > bestTrace) {
      bestTrace = trace;
      best.index = k;
      best.angle_deg = rotationAngle(relative) * kDegreesPerRadian;
    }
  }
  return best;
}

}  // namespace fluxtrim
