// Spheres through the samples and windows on the distance from a centre, both fed one sample at a
// time so that the passes over the samples can share them.
#ifndef FLUXTRIM_LIB_SPHERE_FIT_HPP
#define FLUXTRIM_LIB_SPHERE_FIT_HPP

#include <cstddef>
#include <limits>

#include "fluxtrim/types.hpp"
#include "vec3.hpp"

namespace fluxtrim {
namespace detail {

// A sphere in the samples' unit; radius NaN when it could not be fitted.
struct Sphere {
  Vec3 centre{{0.0, 0.0, 0.0}};
  double radius = std::numeric_limits<double>::quiet_NaN();
};

// Algebraic sphere fit |v - c|^2 = R^2 by linear least squares, fed in two passes over the same
// samples in the same order: their mean, then their scatter about it. With p = v - mean the
// normal equations separate: c - mean = (1/2) pinv(sum p p') sum p |p|^2, and
// R^2 = |c - mean|^2 + mean |p|^2. The pseudo-inverse leaves the centre in the plane of samples
// that lie on a circle instead of sending it off along the undetermined axis. Fewer than four
// samples: no sphere.
class SphereSums {
 public:
  void addToMean(const Vec3& v) {
    ++count_;
    for (int k = 0; k < 3; ++k) {
      mean_[k] += v[k];
    }
  }
  // Called once, between the passes of addToMean and addToScatter.
  void endMean();
  void addToScatter(const Vec3& v) {
    const double p[3] = {v[0] - mean_[0], v[1] - mean_[1], v[2] - mean_[2]};
    const double q = (p[0] * p[0] + p[1] * p[1]) + p[2] * p[2];
    for (int r = 0; r < 3; ++r) {
      for (int c = r; c < 3; ++c) {
        scatter_[r][c] += p[r] * p[c];
      }
      third_[r] += p[r] * q;
    }
    squares_ += q;
  }
  Sphere solve() const;

 private:
  std::size_t count_ = 0;
  Vec3 mean_{{0.0, 0.0, 0.0}};
  Matrix3 scatter_{};
  Vec3 third_{{0.0, 0.0, 0.0}};
  double squares_ = 0.0;
};

// The window [lower, upper] on |d|: accepts(d) is exactly whether lower <= norm(d) <= upper (so a
// NaN never passes), decided from the plain sum of squares where that lies clearly inside or
// outside the squared bounds, by a relative 1e-12 that no rounding of either side comes near, and
// from the core's norm otherwise.
class DistanceWindow {
 public:
  DistanceWindow(double lower, double upper);
  bool accepts(const Vec3& d) const {
    const double q = (d[0] * d[0] + d[1] * d[1]) + d[2] * d[2];
    if (q >= kSmallestSquare && q <= kLargestSquare) {
      if (q < outsideBelow_ || q > outsideAbove_) {
        return false;
      }
      if (q > insideFrom_ && q < insideTo_) {
        return true;
      }
    }
    const double n = norm(d);
    return n <= upper_ && n >= lower_;
  }

 private:
  // Sums of squares in this range hold every square to full precision.
  static constexpr double kSmallestSquare = 1e-270;
  static constexpr double kLargestSquare = 1e270;

  double lower_;
  double upper_;
  // Without a clear answer from q (the defaults), the norm decides.
  double outsideBelow_ = -std::numeric_limits<double>::infinity();
  double outsideAbove_ = std::numeric_limits<double>::infinity();
  double insideFrom_ = std::numeric_limits<double>::infinity();
  double insideTo_ = -std::numeric_limits<double>::infinity();
};

}  // namespace detail
}  // namespace fluxtrim

#endif
