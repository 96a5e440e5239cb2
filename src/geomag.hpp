// Earth's main magnetic field from the World Magnetic Model, degree and order 12. Header only:
// small inline functions with no state, no heap and no error reporting. Every function is a
// template on the floating type T and evaluates entirely in T; float is the precision of
// fluxtrim.out's reference field, double the accurate one. ConstModel, Vector, Elements and
// geodetic2ecef without a template argument are single precision; GeoMag and
// magField2Elements take the precision of the model and vector they are given. Positions are
// metres, field vectors tesla in Earth-centred Earth-fixed axes (x to latitude 0 / longitude 0, y
// to longitude 90 east, z to the north pole); the local elements are nanotesla in north-east-down
// axes and degrees.
#ifndef GEOMAG_HPP
#define GEOMAG_HPP

#include <cmath>

namespace geomag {

constexpr int NMAX = 12;                             // maximum degree and order of the model
constexpr int NUMCOF = (NMAX + 1) * (NMAX + 2) / 2;  // 91 entries per coefficient array
constexpr float EARTH_R = 6371200.0f;                // reference radius of the model, metres

// Position of degree n and order m (0 <= m <= n <= NMAX) in a coefficient array: the orders
// one after the other, each by increasing degree (order 0 at 0..12, order 1 at 13..24, ...).
constexpr int coefficientIndex(int n, int m) {
  return m * (2 * NMAX - m + 1) / 2 + n;
}

// The constants of each precision. Single precision has its own rounded literals (1 - e2 is a
// constant of its own, not computed from e2); they fix the digits of fluxtrim.out's reference.
// Double precision takes every constant correctly rounded.
template <typename T>
struct Constants;

template <>
struct Constants<float> {
  static constexpr float earthRadius = EARTH_R;       // reference radius of the model, metres
  static constexpr float degToRad = 0.017453292f;     // pi / 180
  static constexpr float radToDeg = 57.29578f;        // 180 / pi
  static constexpr float semiMajorAxis = 6378137.0f;  // WGS-84, metres
  static constexpr float e2 = 0.00669438f;            // WGS-84 first eccentricity squared
  static constexpr float e2m = 0.9933056f;            // 1 - e2
  static constexpr float nanoteslaToTesla = 1e-9f;
  static constexpr float teslaToNanotesla = 1e9f;
};

template <>
struct Constants<double> {
  static constexpr double earthRadius = 6371200.0;
  static constexpr double degToRad = 0.017453292519943295;
  static constexpr double radToDeg = 57.29577951308232;
  static constexpr double semiMajorAxis = 6378137.0;
  // f (2 - f) and 1 - f (2 - f) with the WGS-84 flattening f = 1 / 298.257223563.
  static constexpr double e2 = 0.006694379990141317;
  static constexpr double e2m = 0.9933056200098587;
  static constexpr double nanoteslaToTesla = 1e-9;
  static constexpr double teslaToNanotesla = 1e9;
};

// T itself, in a form from which no template argument is deduced: the angles and the decimal
// year take the precision of the vector or model they come with (float for geodetic2ecef
// unless asked otherwise), so a double argument to a float function is rounded to float.
template <typename T>
struct Exactly {
  using type = T;
};
template <typename T>
using NotDeduced = typename Exactly<T>::type;

// Model coefficients for unnormalised associated Legendre functions, nanotesla (secular
// variation in nanotesla per year), stored by coefficientIndex. Entry 0 and every sine entry
// of order 0 hold 0.
template <typename T>
struct BasicConstModel {
  T epoch;  // decimal year of the main-field coefficients
  T Main_Field_Coeff_C[NUMCOF];
  T Main_Field_Coeff_S[NUMCOF];
  T Secular_Var_Coeff_C[NUMCOF];
  T Secular_Var_Coeff_S[NUMCOF];

  // Cosine and sine coefficients of degree n, order m at the decimal year dyear, nanotesla:
  // main field plus (dyear - epoch) years of secular variation. Linear in time with no limit
  // on dyear; n and m are not checked.
  T C(int n, int m, T dyear) const {
    const int index = coefficientIndex(n, m);
    return Main_Field_Coeff_C[index] + (dyear - epoch) * Secular_Var_Coeff_C[index];
  }
  T S(int n, int m, T dyear) const {
    const int index = coefficientIndex(n, m);
    return Main_Field_Coeff_S[index] + (dyear - epoch) * Secular_Var_Coeff_S[index];
  }
};
using ConstModel = BasicConstModel<float>;

// Three components in Earth-centred Earth-fixed axes: a position (metres) or a field (tesla).
template <typename T>
struct BasicVector {
  T x;
  T y;
  T z;
};
using Vector = BasicVector<float>;

// Local field elements: components in nanotesla in north-east-down axes (down positive
// towards the Earth's centre), horizontal and total intensity in nanotesla, inclination
// (positive when the field points down) and declination (positive east of north) in degrees.
template <typename T>
struct BasicElements {
  T north;
  T east;
  T down;
  T horizontal;
  T total;
  T inclination;
  T declination;
};
using Elements = BasicElements<float>;

// Earth-centred Earth-fixed position, metres, of a point at geodetic latitude lat and
// longitude lon (degrees) and height h (metres above the WGS-84 ellipsoid), in precision T
// (float unless given: geodetic2ecef<double>(...)). Nothing is checked; latitudes beyond
// +-90 degrees are evaluated as given.
template <typename T = float>
inline BasicVector<T> geodetic2ecef(NotDeduced<T> lat, NotDeduced<T> lon, NotDeduced<T> h) {
  using K = Constants<T>;
  const T phi = lat * K::degToRad;
  const T lam = lon * K::degToRad;
  const T sphi = std::sin(phi);
  const T cphi = std::cos(phi);
  const T slam = std::sin(lam);
  const T clam = std::cos(lam);
  const T n = K::semiMajorAxis / std::sqrt(T(1) - sphi * sphi * K::e2);  // prime vertical, metres
  const T z = (K::e2m * n + h) * sphi;
  const T r = (n + h) * cphi;  // distance from the polar axis, metres
  return BasicVector<T>{r * clam, r * slam, z};
}

// Field of the model, tesla in Earth-centred axes, at position_itrs (metres, Earth-centred)
// and decimal year dyear, as minus the gradient of the scalar potential, in the precision of
// the model and the position. The potential is expanded in unnormalised solid spherical
// harmonics V(n,m) + i W(n,m), which are carried to degree and order NMAX + 1 by recursion so
// that every coefficient (degree n - 1) enters through the gradient identities. A position at
// the Earth's centre divides by zero.
template <typename T>
inline BasicVector<T> GeoMag(NotDeduced<T> dyear, BasicVector<T> position_itrs,
                             const BasicConstModel<T>& WMM) {
  const T R = Constants<T>::earthRadius;
  const T x = position_itrs.x;
  const T y = position_itrs.y;
  const T z = position_itrs.z;
  const T rsqrd = x * x + y * y + z * z;
  const T temp = R / rsqrd;
  const T a = x * temp;
  const T b = y * temp;
  const T f = z * temp;
  const T g = R * temp;

  T Vtop = R / std::sqrt(rsqrd);  // V(m,m), W(m,m): top of the current order
  T Wtop = T(0);
  T Vprev = T(0);  // V(n-1,m), W(n-1,m)
  T Wprev = T(0);
  T Vnm = Vtop;  // V(n,m), W(n,m)
  T Wnm = Wtop;
  T px = T(0);  // gradient of the potential, nanotesla, Earth-centred axes
  T py = T(0);
  T pz = T(0);

  for (int m = 0; m <= NMAX + 1; ++m) {
    for (int n = m; n <= NMAX + 1; ++n) {
      if (n == m) {
        // Sectoral harmonic from the previous one; V(0,0) = R / r, W(0,0) = 0.
        if (m > 0) {
          const T Vold = Vtop;
          Vtop = static_cast<T>(2 * m - 1) * (a * Vtop - b * Wtop);
          Wtop = static_cast<T>(2 * m - 1) * (a * Wtop + b * Vold);
        }
        Vprev = T(0);
        Wprev = T(0);
        Vnm = Vtop;
        Wnm = Wtop;
      } else {
        // Next degree of the same order from the two before it.
        const T invs_temp = T(1) / static_cast<T>(n - m);
        const T Vnext =
            (static_cast<T>(2 * n - 1) * f * Vnm - static_cast<T>(n + m - 1) * g * Vprev) *
            invs_temp;
        const T Wnext =
            (static_cast<T>(2 * n - 1) * f * Wnm - static_cast<T>(n + m - 1) * g * Wprev) *
            invs_temp;
        Vprev = Vnm;
        Wprev = Wnm;
        Vnm = Vnext;
        Wnm = Wnext;
      }

      // Contributions of V(n,m), W(n,m) to the gradient of the degree n - 1 terms.
      if (m < NMAX && n >= m + 2) {
        const T k = T(0.5) * static_cast<T>(n - m) * static_cast<T>(n - m - 1);
        const T c = WMM.C(n - 1, m + 1, dyear);
        const T s = WMM.S(n - 1, m + 1, dyear);
        px += k * (c * Vnm + s * Wnm);
        py += k * (s * Vnm - c * Wnm);
      }
      if (n >= 2 && m >= 2) {
        const T c = WMM.C(n - 1, m - 1, dyear);
        const T s = WMM.S(n - 1, m - 1, dyear);
        px += T(0.5) * (-c * Vnm - s * Wnm);
        py += T(0.5) * (-c * Wnm + s * Vnm);
      }
      if (m == 1 && n >= 2) {
        const T c = WMM.C(n - 1, 0, dyear);
        px += -c * Vnm;
        py += -c * Wnm;
      }
      if (n >= 2 && n > m) {
        const T c = WMM.C(n - 1, m, dyear);
        const T s = WMM.S(n - 1, m, dyear);
        pz += static_cast<T>(n - m) * (-c * Vnm - s * Wnm);
      }
    }
  }

  const T nanoteslaToTesla = Constants<T>::nanoteslaToTesla;
  return BasicVector<T>{-px * nanoteslaToTesla, -py * nanoteslaToTesla, -pz * nanoteslaToTesla};
}

// Local elements of the field mag_field_itrs (tesla, Earth-centred axes) at geodetic
// latitude lat and longitude lon (degrees), in the precision of the field: north, east, down,
// horizontal and total in nanotesla, inclination and declination in degrees. Nothing is
// checked.
template <typename T>
inline BasicElements<T> magField2Elements(BasicVector<T> mag_field_itrs, NotDeduced<T> lat,
                                          NotDeduced<T> lon) {
  using K = Constants<T>;
  const T x = mag_field_itrs.x * K::teslaToNanotesla;
  const T y = mag_field_itrs.y * K::teslaToNanotesla;
  const T z = mag_field_itrs.z * K::teslaToNanotesla;
  const T phi = lat * K::degToRad;
  const T lam = lon * K::degToRad;
  const T sphi = std::sin(phi);
  const T cphi = std::cos(phi);
  const T slam = std::sin(lam);
  const T clam = std::cos(lam);

  BasicElements<T> out;
  const T x1 = slam * y + clam * x;  // horizontal-plane component away from the polar axis
  out.east = clam * y - slam * x;
  out.north = -sphi * x1 + cphi * z;
  out.down = -sphi * z - cphi * x1;
  out.horizontal = std::sqrt(out.north * out.north + out.east * out.east);
  out.total = std::sqrt(out.horizontal * out.horizontal + out.down * out.down);
  out.inclination = std::atan2(out.down, out.horizontal) * K::radToDeg;
  out.declination = std::atan2(out.east, out.north) * K::radToDeg;
  return out;
}

}  // namespace geomag

#include "geomag_wmm2020.hpp"
#include "geomag_wmm2020_double.hpp"
#include "geomag_wmm2025.hpp"
#include "geomag_wmm2025_double.hpp"

#endif
