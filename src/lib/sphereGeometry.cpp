#include "sphereGeometry.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "constants.hpp"
#include "fluxtrim/error.hpp"
#include "symmetricEigen.hpp"
#include "vec3.hpp"

namespace fluxtrim {

using detail::kDegreesPerRadian;
using detail::kPi;

SphereGrid::SphereGrid(int bands, int sectors) : bands_(bands), sectors_(sectors) {
  if (bands < 1 || bands > 1024 || sectors < 1 || sectors > 1024) {
    throw UsageError("sphere grid: bands and sectors must lie in [1, 1024], not " +
                     std::to_string(bands) + " and " + std::to_string(sectors));
  }
}

int SphereGrid::cellOf(const Vec3& v) const {
  const double n = detail::norm(v);
  if (!(n > 0.0) || !std::isfinite(n)) {
    return -1;
  }
  return detail::cellOfAngles(v[2] / n, detail::longitude(v[1], v[0]), bands_, sectors_);
}

CellBounds SphereGrid::bounds(int cell) const {
  if (cell < 0 || cell >= cells()) {
    throw UsageError("sphere grid: no cell " + std::to_string(cell));
  }
  const int band = cell / sectors_;
  const int sector = cell % sectors_;
  CellBounds b;
  b.zLower = -1.0 + 2.0 * band / bands_;
  b.zUpper = -1.0 + 2.0 * (band + 1) / bands_;
  b.longitudeLower_deg = -180.0 + 360.0 * sector / sectors_;
  b.longitudeUpper_deg = -180.0 + 360.0 * (sector + 1) / sectors_;
  return b;
}

Vec3 SphereGrid::centre(int cell) const {
  const CellBounds b = bounds(cell);
  const double z = 0.5 * (b.zLower + b.zUpper);
  const double longitude = 0.5 * (b.longitudeLower_deg + b.longitudeUpper_deg) / kDegreesPerRadian;
  const double r = std::sqrt(std::max(0.0, 1.0 - z * z));
  return {{r * std::cos(longitude), r * std::sin(longitude), z}};
}

const char* motionPatternName(MotionPattern pattern) {
  switch (pattern) {
    case MotionPattern::Tumbled:
      return "tumbled";
    case MotionPattern::SpunAbout:
      return "spun about one axis";
    case MotionPattern::LyingFlat:
      return "lying flat";
    case MotionPattern::ShortArc:
      return "short arc";
    case MotionPattern::NoSamples:
      return "no samples";
    case MotionPattern::NotTurned:
      return "not turned";
  }
  return "no samples";
}

namespace detail {

namespace {

// Near-uniform directions: the Fibonacci lattice of n points, z = 1 - (2k + 1) / n and longitude
// advancing by the golden angle.
std::vector<Vec3> fibonacciDirections(int n) {
  std::vector<Vec3> directions(static_cast<std::size_t>(n));
  const double goldenAngle = kPi * (3.0 - std::sqrt(5.0));
  for (int k = 0; k < n; ++k) {
    const double z = 1.0 - (2.0 * k + 1.0) / n;
    const double r = std::sqrt(std::max(0.0, 1.0 - z * z));
    const double longitude = goldenAngle * k;
    directions[static_cast<std::size_t>(k)] = {
        {r * std::cos(longitude), r * std::sin(longitude), z}};
  }
  return directions;
}

// What the searches need of a grid, whatever the samples: the centre of every cell, and for each
// probe direction of the gap search its cell and the cosine of its angle to that cell's centre.
struct GridTable {
  std::vector<Vec3> centres;
  std::vector<Vec3> probes;
  std::vector<int> probeCell;
  std::vector<double> probeOwnCosine;
};

GridTable buildTable(const SphereGrid& grid) {
  GridTable table;
  for (int cell = 0; cell < grid.cells(); ++cell) {
    table.centres.push_back(grid.centre(cell));
  }
  table.probes = fibonacciDirections(1000);
  for (const Vec3& probe : table.probes) {
    const int cell = grid.cellOf(probe);
    table.probeCell.push_back(cell);
    table.probeOwnCosine.push_back(
        detail::dot(probe, table.centres[static_cast<std::size_t>(cell)]));
  }
  return table;
}

// The table of the grid: built once for the fine grid, which the diagnostics use, and into
// scratch for any other.
const GridTable& tableOf(const SphereGrid& grid, GridTable& scratch) {
  static const GridTable fine = buildTable(fineGrid());
  if (grid.bands() == fineGrid().bands() && grid.sectors() == fineGrid().sectors()) {
    return fine;
  }
  scratch = buildTable(grid);
  return scratch;
}

// The centres of the occupied cells, component by component, so that the scan over them is one
// simple loop.
struct Centres {
  std::vector<double> x, y, z;
  std::size_t size() const { return x.size(); }
};

Centres occupiedCentres(const GridTable& table, const std::vector<std::uint8_t>& occupied) {
  Centres centres;
  for (std::size_t cell = 0; cell < table.centres.size(); ++cell) {
    if (occupied[cell] != 0) {
      const Vec3& c = table.centres[cell];
      centres.x.push_back(c[0]);
      centres.y.push_back(c[1]);
      centres.z.push_back(c[2]);
    }
  }
  return centres;
}

// Cosine of the angle from direction d to the nearest centre. The scan stops early, returning a
// value >= stopAt, once some centre is at least that close: the caller only needs to know that
// this direction cannot beat the best so far.
double nearestCosine(const Centres& centres, const Vec3& d, double stopAt) {
  double best = -2.0;
  const std::size_t n = centres.size();
  const std::size_t kChunk = 64;
  for (std::size_t first = 0; first < n; first += kChunk) {
    const std::size_t last = std::min(n, first + kChunk);
    for (std::size_t k = first; k < last; ++k) {
      const double c = (d[0] * centres.x[k] + d[1] * centres.y[k]) + d[2] * centres.z[k];
      best = c > best ? c : best;
    }
    if (best >= stopAt) {
      break;
    }
  }
  return best;
}

}  // namespace

namespace {

// A direction and the cosine of its angle to the nearest centre.
struct Probe {
  Vec3 direction;
  double cosine;
};

// The probe whose nearest centre is furthest: the smallest nearest cosine. Probes in an empty
// cell are scanned first, since large gaps lie there. A probe in an occupied cell is no further
// from a centre than from its own cell's, so those probes are visited from the furthest from
// their own centre on, and the visit ends once that distance cannot beat the best found.
Probe bestProbe(const GridTable& table, const Centres& centres,
                const std::vector<std::uint8_t>& occupied) {
  const std::vector<Vec3>& probes = table.probes;
  Probe best{probes[0], 2.0};
  std::vector<std::pair<double, std::size_t>> inOccupied;
  for (std::size_t k = 0; k < probes.size(); ++k) {
    if (occupied[static_cast<std::size_t>(table.probeCell[k])] != 0) {
      inOccupied.push_back({table.probeOwnCosine[k], k});
      continue;
    }
    const double c = nearestCosine(centres, probes[k], best.cosine);
    if (c < best.cosine) {
      best = {probes[k], c};
    }
  }
  std::sort(inOccupied.begin(), inOccupied.end());
  for (const auto& [ownCosine, k] : inOccupied) {
    if (ownCosine >= best.cosine) {
      break;
    }
    const double c = nearestCosine(centres, probes[k], best.cosine);
    if (c < best.cosine) {
      best = {probes[k], c};
    }
  }
  return best;
}

// Pattern search from a probe: eight directions at a shrinking angle, moving to any that lies
// further from every centre.
Probe refineProbe(const Centres& centres, Probe best) {
  double step = 3.0 / kDegreesPerRadian;
  for (int round = 0; round < 6; ++round) {
    bool moved = true;
    for (int move = 0; moved && move < 50; ++move) {
      moved = false;
      // An orthonormal pair across the current direction.
      const Vec3& b = best.direction;
      const Vec3 helper = std::fabs(b[0]) < 0.9 ? Vec3{{1.0, 0.0, 0.0}} : Vec3{{0.0, 1.0, 0.0}};
      const Vec3 u = detail::normalised(detail::cross(b, helper));
      const Vec3 v = detail::cross(b, u);
      Probe candidate = best;
      for (int k = 0; k < 8; ++k) {
        const double a = k * kPi / 4.0;
        const double cu = std::cos(a) * std::sin(step);
        const double cv = std::sin(a) * std::sin(step);
        const double cb = std::cos(step);
        const Vec3 trial = detail::normalised(
            {{cb * b[0] + cu * u[0] + cv * v[0], cb * b[1] + cu * u[1] + cv * v[1],
              cb * b[2] + cu * u[2] + cv * v[2]}});
        const double c = nearestCosine(centres, trial, candidate.cosine);
        if (c < candidate.cosine) {
          candidate = {trial, c};
        }
      }
      if (candidate.cosine < best.cosine) {
        best = candidate;
        moved = true;
      }
    }
    step *= 0.5;
  }
  return best;
}

}  // namespace

Cap largestEmptyCap(const SphereGrid& grid, const std::vector<std::uint8_t>& occupied) {
  Cap cap;
  GridTable scratch;
  const GridTable& table = tableOf(grid, scratch);
  const Centres centres = occupiedCentres(table, occupied);
  if (centres.size() == 0) {
    return cap;
  }
  const Probe best = refineProbe(centres, bestProbe(table, centres, occupied));
  cap.angle_deg = std::acos(std::min(1.0, std::max(-1.0, best.cosine))) * kDegreesPerRadian;
  cap.centre = best.direction;
  return cap;
}

Motion analyseMotion(const SphereGrid& grid, const std::vector<std::uint8_t>& occupied,
                     double planarityTumbled) {
  Motion motion;
  GridTable scratch;
  const Centres centres = occupiedCentres(tableOf(grid, scratch), occupied);
  const std::size_t n = centres.size();
  if (n == 0) {
    return motion;
  }
  Vec3 mean{{0.0, 0.0, 0.0}};
  for (std::size_t k = 0; k < n; ++k) {
    mean[0] += centres.x[k];
    mean[1] += centres.y[k];
    mean[2] += centres.z[k];
  }
  for (double& m : mean) {
    m /= static_cast<double>(n);
  }
  motion.meanResultant = norm(mean);
  Matrix3 scatter{};
  for (std::size_t k = 0; k < n; ++k) {
    const double d[3] = {centres.x[k] - mean[0], centres.y[k] - mean[1], centres.z[k] - mean[2]};
    for (int r = 0; r < 3; ++r) {
      for (int c = r; c < 3; ++c) {
        scatter[r][c] += d[r] * d[c];
      }
    }
  }
  Vec3 values;
  Matrix3 vectors;
  detail::symmetricEigen3(scatter, values, vectors);
  const double trace = values[0] + values[1] + values[2];
  motion.planarity = trace > 0.0 ? std::max(0.0, values[0]) / trace : 0.0;
  motion.axis = {{vectors[0][0], vectors[1][0], vectors[2][0]}};
  motion.axisIndex = dominantAxis(motion.axis);
  // Show the axis with its largest component positive, so that it reads as +X, +Y or +Z.
  if (motion.axis[motion.axisIndex] < 0.0) {
    for (double& a : motion.axis) {
      a = -a;
    }
  }

  // The angle spanned about the axis: 360 degrees less the largest empty interval of the
  // directions' angles in the plane across it.
  const Vec3 e1 = {{vectors[0][2], vectors[1][2], vectors[2][2]}};
  const Vec3 e2 = {{vectors[0][1], vectors[1][1], vectors[2][1]}};
  std::vector<double> angles(n);
  for (std::size_t k = 0; k < n; ++k) {
    const Vec3 c = {{centres.x[k], centres.y[k], centres.z[k]}};
    angles[k] = longitude(dot(c, e2), dot(c, e1));
  }
  std::sort(angles.begin(), angles.end());
  double widestGap = angles.front() + 2.0 * kPi - angles.back();
  for (std::size_t k = 1; k < n; ++k) {
    widestGap = std::max(widestGap, angles[k] - angles[k - 1]);
  }
  motion.arc_deg = 360.0 - widestGap * kDegreesPerRadian;

  if (n < 3) {
    motion.planarity = 0.0;
    motion.pattern = MotionPattern::ShortArc;
  } else if (motion.planarity >= planarityTumbled) {
    motion.pattern = MotionPattern::Tumbled;
  } else if (motion.arc_deg < 180.0) {
    motion.pattern = MotionPattern::ShortArc;
  } else if (motion.meanResultant > 0.5) {
    motion.pattern = MotionPattern::LyingFlat;
  } else {
    motion.pattern = MotionPattern::SpunAbout;
  }
  return motion;
}

}  // namespace detail
}  // namespace fluxtrim
