// Directions on the unit sphere: the cell of a direction in an equal-area grid, the largest cap
// that no occupied cell reaches, and the shape of a set of occupied cells.
#ifndef FLUXTRIM_LIB_SPHERE_GEOMETRY_HPP
#define FLUXTRIM_LIB_SPHERE_GEOMETRY_HPP

#include <cstdint>
#include <vector>

#include "fluxtrim/diagnostics.hpp"
#include "fluxtrim/types.hpp"

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
inline SphereGrid fineGrid() {
  return SphereGrid(24, 48);
}

// atan2(y, x) in radians, in [-pi, pi], from arithmetic and division alone (a reduction to
// |u| <= tan(pi/16) and a series), so that the cell of a direction is the same on every platform;
// within 2e-9 rad of the exact angle. 0 for x = y = 0.
double longitude(double y, double x);

// Cell of a direction given by its z (unit Z component, in [-1, 1]) and its longitude
// longitude(y, x) in radians, in a grid of the given size; the same cell as SphereGrid::cellOf.
int cellOfAngles(double z, double longitude_rad, int bands, int sectors);

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
