// Earth's main magnetic field from the World Magnetic Model, degree and order 12, evaluated
// entirely in single precision. Header only: small inline functions with no state, no heap
// and no error reporting. Positions are metres, field vectors tesla in Earth-centred
// Earth-fixed axes (x to latitude 0 / longitude 0, y to longitude 90 east, z to the north
// pole); the local elements are nanotesla in north-east-down axes and degrees.
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

// Model coefficients for unnormalised associated Legendre functions, nanotesla (secular
// variation in nanotesla per year), stored by coefficientIndex. Entry 0 and every sine entry
// of order 0 hold 0.
struct ConstModel {
  float epoch;  // decimal year of the main-field coefficients
  float Main_Field_Coeff_C[NUMCOF];
  float Main_Field_Coeff_S[NUMCOF];
  float Secular_Var_Coeff_C[NUMCOF];
  float Secular_Var_Coeff_S[NUMCOF];

  // Cosine and sine coefficients of degree n, order m at the decimal year dyear, nanotesla:
  // main field plus (dyear - epoch) years of secular variation. Linear in time with no limit
  // on dyear; n and m are not checked.
  float C(int n, int m, float dyear) const {
    const int index = coefficientIndex(n, m);
    return Main_Field_Coeff_C[index] + (dyear - epoch) * Secular_Var_Coeff_C[index];
  }
  float S(int n, int m, float dyear) const {
    const int index = coefficientIndex(n, m);
    return Main_Field_Coeff_S[index] + (dyear - epoch) * Secular_Var_Coeff_S[index];
  }
};

// Three components in Earth-centred Earth-fixed axes: a position (metres) or a field (tesla).
struct Vector {
  float x;
  float y;
  float z;
};

// Local field elements: components in nanotesla in north-east-down axes (down positive
// towards the Earth's centre), horizontal and total intensity in nanotesla, inclination
// (positive when the field points down) and declination (positive east of north) in degrees.
struct Elements {
  float north;
  float east;
  float down;
  float horizontal;
  float total;
  float inclination;
  float declination;
};

// Earth-centred Earth-fixed position, metres, of a point at geodetic latitude lat and
// longitude lon (degrees) and height h (metres above the WGS-84 ellipsoid). Nothing is
// checked; latitudes beyond +-90 degrees are evaluated as given.
inline Vector geodetic2ecef(float lat, float lon, float h) {
  const float degToRad = 0.017453292f;  // pi / 180 in single precision
  const float phi = lat * degToRad;
  const float lam = lon * degToRad;
  const float a = 6378137.0f;    // WGS-84 semi-major axis, metres
  const float e2 = 0.00669438f;  // WGS-84 first eccentricity squared
  const float e2m = 0.9933056f;  // 1 - e2, kept as its own rounded constant
  const float sphi = std::sin(phi);
  const float cphi = std::cos(phi);
  const float slam = std::sin(lam);
  const float clam = std::cos(lam);
  const float n = a / std::sqrt(1.0f - sphi * sphi * e2);  // prime-vertical radius, metres
  const float z = (e2m * n + h) * sphi;
  const float r = (n + h) * cphi;  // distance from the polar axis, metres
  return Vector{r * clam, r * slam, z};
}

// Field of the model, tesla in Earth-centred axes, at position_itrs (metres, Earth-centred)
// and decimal year dyear, as minus the gradient of the scalar potential. The potential is
// expanded in unnormalised solid spherical harmonics V(n,m) + i W(n,m), which are carried to
// degree and order NMAX + 1 by recursion so that every coefficient (degree n - 1) enters
// through the gradient identities. A position at the Earth's centre divides by zero.
inline Vector GeoMag(float dyear, Vector position_itrs, const ConstModel& WMM) {
  const float x = position_itrs.x;
  const float y = position_itrs.y;
  const float z = position_itrs.z;
  const float rsqrd = x * x + y * y + z * z;
  const float temp = EARTH_R / rsqrd;
  const float a = x * temp;
  const float b = y * temp;
  const float f = z * temp;
  const float g = EARTH_R * temp;

  float Vtop = EARTH_R / std::sqrt(rsqrd);  // V(m,m), W(m,m): top of the current order
  float Wtop = 0.0f;
  float Vprev = 0.0f;  // V(n-1,m), W(n-1,m)
  float Wprev = 0.0f;
  float Vnm = Vtop;  // V(n,m), W(n,m)
  float Wnm = Wtop;
  float px = 0.0f;  // gradient of the potential, nanotesla, Earth-centred axes
  float py = 0.0f;
  float pz = 0.0f;

  for (int m = 0; m <= NMAX + 1; ++m) {
    for (int n = m; n <= NMAX + 1; ++n) {
      if (n == m) {
        // Sectoral harmonic from the previous one; V(0,0) = EARTH_R / r, W(0,0) = 0.
        if (m > 0) {
          const float Vold = Vtop;
          Vtop = static_cast<float>(2 * m - 1) * (a * Vtop - b * Wtop);
          Wtop = static_cast<float>(2 * m - 1) * (a * Wtop + b * Vold);
        }
        Vprev = 0.0f;
        Wprev = 0.0f;
        Vnm = Vtop;
        Wnm = Wtop;
      } else {
        // Next degree of the same order from the two before it.
        const float invs_temp = 1.0f / static_cast<float>(n - m);
        const float Vnext =
            (static_cast<float>(2 * n - 1) * f * Vnm - static_cast<float>(n + m - 1) * g * Vprev) *
            invs_temp;
        const float Wnext =
            (static_cast<float>(2 * n - 1) * f * Wnm - static_cast<float>(n + m - 1) * g * Wprev) *
            invs_temp;
        Vprev = Vnm;
        Wprev = Wnm;
        Vnm = Vnext;
        Wnm = Wnext;
      }

      // Contributions of V(n,m), W(n,m) to the gradient of the degree n - 1 terms.
      if (m < NMAX && n >= m + 2) {
        const float k = 0.5f * static_cast<float>(n - m) * static_cast<float>(n - m - 1);
        const float c = WMM.C(n - 1, m + 1, dyear);
        const float s = WMM.S(n - 1, m + 1, dyear);
        px += k * (c * Vnm + s * Wnm);
        py += k * (s * Vnm - c * Wnm);
      }
      if (n >= 2 && m >= 2) {
        const float c = WMM.C(n - 1, m - 1, dyear);
        const float s = WMM.S(n - 1, m - 1, dyear);
        px += 0.5f * (-c * Vnm - s * Wnm);
        py += 0.5f * (-c * Wnm + s * Vnm);
      }
      if (m == 1 && n >= 2) {
        const float c = WMM.C(n - 1, 0, dyear);
        px += -c * Vnm;
        py += -c * Wnm;
      }
      if (n >= 2 && n > m) {
        const float c = WMM.C(n - 1, m, dyear);
        const float s = WMM.S(n - 1, m, dyear);
        pz += static_cast<float>(n - m) * (-c * Vnm - s * Wnm);
      }
    }
  }

  const float nanoteslaToTesla = 1e-9f;
  return Vector{-px * nanoteslaToTesla, -py * nanoteslaToTesla, -pz * nanoteslaToTesla};
}

// Local elements of the field mag_field_itrs (tesla, Earth-centred axes) at geodetic
// latitude lat and longitude lon (degrees): north, east, down, horizontal and total in
// nanotesla, inclination and declination in degrees. Nothing is checked.
inline Elements magField2Elements(Vector mag_field_itrs, float lat, float lon) {
  const float teslaToNanotesla = 1e9f;
  const float degToRad = 0.017453292f;  // pi / 180 in single precision
  const float radToDeg = 57.29578f;     // 180 / pi in single precision
  const float x = mag_field_itrs.x * teslaToNanotesla;
  const float y = mag_field_itrs.y * teslaToNanotesla;
  const float z = mag_field_itrs.z * teslaToNanotesla;
  const float phi = lat * degToRad;
  const float lam = lon * degToRad;
  const float sphi = std::sin(phi);
  const float cphi = std::cos(phi);
  const float slam = std::sin(lam);
  const float clam = std::cos(lam);

  Elements out;
  const float x1 = slam * y + clam * x;  // horizontal-plane component away from the polar axis
  out.east = clam * y - slam * x;
  out.north = -sphi * x1 + cphi * z;
  out.down = -sphi * z - cphi * x1;
  out.horizontal = std::sqrt(out.north * out.north + out.east * out.east);
  out.total = std::sqrt(out.horizontal * out.horizontal + out.down * out.down);
  out.inclination = std::atan2(out.down, out.horizontal) * radToDeg;
  out.declination = std::atan2(out.east, out.north) * radToDeg;
  return out;
}

}  // namespace geomag

#include "geomag_wmm2020.hpp"

#endif
