// Directions on the unit sphere: the cell of a direction in an equal-area grid, the largest cap
// that no occupied cell reaches, and the shape of a set of occupied cells.
#ifndef FLUXTRIM_LIB_SPHERE_GEOMETRY_HPP
#define FLUXTRIM_LIB_SPHERE_GEOMETRY_HPP

#include <algorithm>
#include <cstdint>
#include <vector>

#include "fluxtrim/diagnostics.hpp"
#include "constants.hpp"
#include "fluxtrim/types.hpp"
#include "pairMath.h"

namespace fluxtrim {
namespace detail {

// The grid of the coverage map, and the finer grid that measures gaps and the motion's shape.
// A coverage cell, and the one past the last for a sample without a direction, fits in a byte.
constexpr int kCoverageBands = 8;
constexpr int kCoverageSectors = 16;
static_assert(kCoverageBands * kCoverageSectors < 255, "coverage cells are counted in bytes");
inline SphereGrid coverageGrid() {
  return SphereGrid(kCoverageBands, kCoverageSectors);
}
constexpr int kFineBands = 24;
constexpr int kFineSectors = 48;
inline SphereGrid fineGrid() {
  return SphereGrid(kFineBands, kFineSectors);
}

// atan2(y, x) in radians, in [-pi, pi], from arithmetic and division alone (a reduction to
// |u| <= tan(pi/16) and a series), so that the cell of a direction is the same on every platform;
// within 2e-9 rad of the exact angle. 0 for x = y = 0. Two at once, lane by lane, each the double
// of its own call: the reduction's cases are selected, not branched on, since directions come in
// no order.
inline coder::internal::Pair longitudes(coder::internal::Pair y, coder::internal::Pair x) {
  using coder::internal::Pair;
  using coder::internal::PairMask;
  using coder::internal::select;
  using coder::internal::splat;
  // The octant's angle atan(t), t in [0, 1], is atan(c) + atan((t - c) / (1 + t c)) for the
  // nearest of c = tan(0), tan(pi/8), tan(pi/4); that leaves |u| <= tan(pi/16).
  const double kTanPiOver16 = 0.198912367379658;
  const double kTan3PiOver16 = 0.6681786379192989;
  const double kTanPiOver8 = 0.41421356237309503;
  const Pair ax = coder::internal::absPair(x);
  const Pair ay = coder::internal::absPair(y);
  const Pair larger = select(ax < ay, ay, ax);
  const Pair smaller = select(ay < ax, ay, ax);
  const Pair t = smaller / larger;
  const PairMask high = t > kTan3PiOver16;
  const PairMask middle = t > kTanPiOver16;
  const Pair c = select(high, splat(1.0), select(middle, splat(kTanPiOver8), splat(0.0)));
  const Pair base = select(high, splat(kPi / 4.0), select(middle, splat(kPi / 8.0), splat(0.0)));
  const Pair u = (t - c) / (1.0 + t * c);
  // atan(u) by its series up to u^9; the first term left out is below 2e-9.
  const Pair u2 = u * u;
  const Pair series =
      u * (1.0 + u2 * (-1.0 / 3.0 + u2 * (1.0 / 5.0 + u2 * (-1.0 / 7.0 + u2 / 9.0))));
  Pair angle = base + series;
  angle = select(ay > ax, kPi / 2.0 - angle, angle);
  angle = select(x < 0.0, kPi - angle, angle);
  angle = select(y < 0.0, -angle, angle);
  return select(larger == 0.0, splat(0.0), angle);
}
inline double longitude(double y, double x) {
  return longitudes(coder::internal::splat(y), coder::internal::splat(x))[0];
}

// Cell of a direction given by its z (unit Z component, in [-1, 1]) and its longitude
// longitude(y, x) in radians, in a grid of the given size; the same cell as SphereGrid::cellOf.
inline int cellOfAngles(double z, double longitude_rad, int bands, int sectors) {
  // Both scaled positions are >= 0 up to rounding, so truncation is the floor (and a position a
  // rounding below 0 truncates to 0, where the clamp would put it anyway).
  const double kTurnsPerRadian = 0.5 / kPi;
  int band = static_cast<int>((z + 1.0) * 0.5 * bands);
  int sector = static_cast<int>((longitude_rad + kPi) * kTurnsPerRadian * sectors);
  band = std::min(std::max(band, 0), bands - 1);
  sector = std::min(std::max(sector, 0), sectors - 1);
  return band * sectors + sector;
}

// The largest cap of the sphere that contains no centre of an occupied cell of grid (occupied
// has one entry per cell, non-zero for occupied): its angular radius in degrees and its centre.
// The cap is searched from 1000 near-uniform probe directions and refined from the best one by
// a shrinking pattern search. No occupied cell: 180 degrees, centre (0, 0, 0).
struct Cap {
  double angle_deg = 180.0;
  Vec3 centre{{0.0, 0.0, 0.0}};
};
Cap largestEmptyCap(const SphereGrid& grid, const std::vector<std::uint8_t>& occupied);

// The shape of the centres of the occupied cells of grid (one entry per cell, non-zero for
// occupied): scatter, the axis of least scatter and the pattern it shows (see Motion).
// planarityTumbled: the planarity at and above which the pattern is Tumbled.
Motion analyseMotion(const SphereGrid& grid, const std::vector<std::uint8_t>& occupied,
                     double planarityTumbled);

}  // namespace detail
}  // namespace fluxtrim

#endif
