// Reference field: the generated coefficient table, the single-precision model against an
// independent double-precision synthesis, and the reference members of the calibration result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include "FERROKIT.hpp"
#include "geomag.hpp"

namespace {

constexpr double kPi = 3.141592653589793;

// Published coefficients as read from the coefficient file: Schmidt semi-normalised,
// nanotesla and nanotesla per year, indexed [n][m].
struct Published {
  double epoch = 0.0;
  double g[13][13] = {}, h[13][13] = {}, gdot[13][13] = {}, hdot[13][13] = {};
  int rows = 0;
};

Published readPublished() {
  Published model;
  std::ifstream file(std::string(FLUXTRIM_SOURCE_DIR) + "/data/WMM2020.COF");
  std::string line;
  if (std::getline(file, line)) std::istringstream(line) >> model.epoch;
  int n = 0, m = 0;
  double g, h, gdot, hdot;
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    if (!(fields >> n >> m >> g >> h >> gdot >> hdot) || n < 1 || n > 12 || m < 0 || m > n) break;
    model.g[n][m] = g, model.h[n][m] = h, model.gdot[n][m] = gdot, model.hdot[n][m] = hdot;
    ++model.rows;
  }
  return model;
}

struct Ned {
  double north, east, down;  // nanotesla, geodetic north-east-down
};

// Classical synthesis in double: geocentric spherical coordinates, Schmidt semi-normalised
// Legendre functions P(n,m)(cos theta) and their theta derivatives by the standard
// recursions, field components in the spherical frame, rotated to the geodetic frame.
Ned classicalField(const Published& p, double latDeg, double lonDeg, double height, double year) {
  const double a = 6378137.0, flattening = 1.0 / 298.257223563;
  const double e2 = flattening * (2.0 - flattening);
  const double phi = latDeg * kPi / 180.0, lambda = lonDeg * kPi / 180.0;
  const double nu = a / std::sqrt(1.0 - e2 * std::sin(phi) * std::sin(phi));
  const double axial = (nu + height) * std::cos(phi);
  const double polar = (nu * (1.0 - e2) + height) * std::sin(phi);
  const double r = std::hypot(axial, polar);
  const double ct = polar / r, st = axial / r;  // cosine and sine of the geocentric colatitude

  double P[13][13] = {}, dP[13][13] = {};
  P[0][0] = 1.0;
  for (int n = 1; n <= 12; ++n) {
    for (int m = 0; m <= n; ++m) {
      if (n == m) {
        const double k = n == 1 ? 1.0 : std::sqrt((2.0 * n - 1.0) / (2.0 * n));
        P[n][n] = k * st * P[n - 1][n - 1];
        dP[n][n] = k * (st * dP[n - 1][n - 1] + ct * P[n - 1][n - 1]);
      } else {
        const double scale = std::sqrt(double(n * n - m * m));
        const double back = n - 2 >= m ? std::sqrt(double((n - 1) * (n - 1) - m * m)) : 0.0;
        const double P2 = n - 2 >= m ? P[n - 2][m] : 0.0, dP2 = n - 2 >= m ? dP[n - 2][m] : 0.0;
        P[n][m] = ((2 * n - 1) * ct * P[n - 1][m] - back * P2) / scale;
        dP[n][m] = ((2 * n - 1) * (ct * dP[n - 1][m] - st * P[n - 1][m]) - back * dP2) / scale;
      }
    }
  }

  const double R = 6371200.0, dt = year - p.epoch;
  double Br = 0.0, Btheta = 0.0, Bphi = 0.0;
  for (int n = 1; n <= 12; ++n) {
    const double ratio = std::pow(R / r, n + 2);
    for (int m = 0; m <= n; ++m) {
      const double g = p.g[n][m] + dt * p.gdot[n][m], h = p.h[n][m] + dt * p.hdot[n][m];
      const double cm = std::cos(m * lambda), sm = std::sin(m * lambda);
      Br += ratio * (n + 1) * (g * cm + h * sm) * P[n][m];
      Btheta -= ratio * (g * cm + h * sm) * dP[n][m];
      Bphi += ratio * m * (g * sm - h * cm) * P[n][m] / st;
    }
  }
  const double X = -Btheta, Z = -Br;
  const double psi = std::atan2(polar, axial) - phi;  // geocentric minus geodetic latitude
  return Ned{X * std::cos(psi) - Z * std::sin(psi), Bphi, X * std::sin(psi) + Z * std::cos(psi)};
}

geomag::Elements modelElements(float lat, float lon, float height) {
  const geomag::Vector position = geomag::geodetic2ecef(lat, lon, height);
  return geomag::magField2Elements(geomag::GeoMag(2024.0f, position, geomag::WMM2020), lat, lon);
}

TEST(GeomagTable, CheckRowsAreStoredToTheLastBit) {
  struct Row {
    int n, m;
    float c, s, cdot, sdot;
  };
  const Row rows[] = {
      {1, 0, -29404.5f, 0.0f, 6.7f, 0.0f},
      {1, 1, -1450.7f, 4652.9f, 7.7f, -25.1f},
      {2, 1, 1721.65845f, -1727.20105f, -4.0991869f, -17.4359779f},
      {2, 2, 484.050476f, -212.118484f, -0.635085285f, -6.89933586f},
      {12, 12, -5.38621177e-13f, 8.97701943e-13f, -1.79540383e-13f, -1.79540383e-13f},
  };
  const geomag::ConstModel& wmm = geomag::WMM2020;
  EXPECT_EQ(wmm.epoch, 2020.0f);
  for (const Row& row : rows) {
    const int i = geomag::coefficientIndex(row.n, row.m);
    SCOPED_TRACE("n=" + std::to_string(row.n) + " m=" + std::to_string(row.m));
    EXPECT_EQ(wmm.Main_Field_Coeff_C[i], row.c);
    EXPECT_EQ(wmm.Main_Field_Coeff_S[i], row.s);
    EXPECT_EQ(wmm.Secular_Var_Coeff_C[i], row.cdot);
    EXPECT_EQ(wmm.Secular_Var_Coeff_S[i], row.sdot);
  }
  EXPECT_EQ(geomag::coefficientIndex(12, 12), geomag::NUMCOF - 1);
}

// Every stored value is the published one times its normalisation, rounded once to float;
// the unused entries (n = m = 0, and the sine terms of order 0) are zero.
TEST(GeomagTable, WholeTableIsThePublishedOneNormalised) {
  const Published p = readPublished();
  ASSERT_EQ(p.rows, 90);
  const geomag::ConstModel& wmm = geomag::WMM2020;
  for (int n = 0; n <= 12; ++n) {
    for (int m = 0; m <= n; ++m) {
      double factorial_ratio = 1.0;  // (n - m)! / (n + m)!
      for (int k = n - m + 1; k <= n + m; ++k) factorial_ratio /= k;
      const double factor = m == 0 ? 1.0 : std::sqrt(2.0 * factorial_ratio);
      const int i = geomag::coefficientIndex(n, m);
      SCOPED_TRACE("n=" + std::to_string(n) + " m=" + std::to_string(m));
      EXPECT_EQ(wmm.Main_Field_Coeff_C[i], static_cast<float>(p.g[n][m] * factor));
      EXPECT_EQ(wmm.Main_Field_Coeff_S[i], static_cast<float>(p.h[n][m] * factor));
      EXPECT_EQ(wmm.Secular_Var_Coeff_C[i], static_cast<float>(p.gdot[n][m] * factor));
      EXPECT_EQ(wmm.Secular_Var_Coeff_S[i], static_cast<float>(p.hdot[n][m] * factor));
    }
  }
}

TEST(GeomagTable, CoefficientsAreLinearInTime) {
  const geomag::ConstModel& wmm = geomag::WMM2020;
  EXPECT_EQ(wmm.C(1, 0, 2024.0f), -29404.5f + 4.0f * 6.7f);
  EXPECT_NEAR(wmm.C(1, 0, 2024.0f), -29377.7f, 0.01f);
  EXPECT_EQ(wmm.S(1, 0, 2024.0f), 0.0f);
  EXPECT_NEAR(wmm.S(1, 1, 2030.0f), 4652.9f - 251.0f, 0.01f);  // no clamp beyond the epoch
}

TEST(GeomagField, WorkedValuesAndTheEquator) {
  struct Case {
    float lat, lon, height;
    double north, east, down, inclination, declination;
  };
  const Case cases[] = {
      {48.5578f, 3.2914f, 89.0f, 21048.5, 747.6, 43508.7, 64.17, 2.03},
      {-33.9f, 151.2f, 0.0f, 24008.5, 5459.8, -51493.0, -64.45, 12.81},
      // On the equator the field points upwards; the angles follow from the components.
      {0.0f, 0.0f, 0.0f, 27517.0, -1932.0, -16110.0, -30.29, -4.02},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("lat " + std::to_string(c.lat) + " lon " + std::to_string(c.lon));
    const geomag::Elements e = modelElements(c.lat, c.lon, c.height);
    EXPECT_NEAR(e.north, c.north, 0.1);
    EXPECT_NEAR(e.east, c.east, 0.1);
    EXPECT_NEAR(e.down, c.down, 0.1);
    EXPECT_NEAR(e.inclination, c.inclination, 0.01);
    EXPECT_NEAR(e.declination, c.declination, 0.01);
    EXPECT_NEAR(e.horizontal, std::hypot(c.north, c.east), 0.2);
    EXPECT_NEAR(e.total, std::sqrt(c.north * c.north + c.east * c.east + c.down * c.down), 0.2);
  }
}

// Poles, equator, date line (both signs), a lat/lon grid and heights from 0 to 100 km: the
// single-precision field agrees with the double-precision classical synthesis within 1 nT.
TEST(GeomagField, AgreesWithClassicalDoubleSynthesis) {
  const Published p = readPublished();
  ASSERT_EQ(p.rows, 90);
  const double heights[] = {0.0, 89.0, 1000.0, 10000.0, 50000.0, 100000.0};
  double largest = 0.0;
  int positions = 0;
  for (double height : heights) {
    for (double lat = -90.0; lat <= 90.0; lat += 7.5) {
      for (double lon = -180.0; lon <= 180.0; lon += 22.5) {
        const double lats[] = {lat, lat == 90.0 ? 89.99 : lat + 0.37};
        for (double latitude : lats) {
          const float flat = static_cast<float>(latitude), flon = static_cast<float>(lon);
          const geomag::Elements e = modelElements(flat, flon, static_cast<float>(height));
          const Ned ref = classicalField(p, flat, flon, height, 2024.0);
          SCOPED_TRACE("lat " + std::to_string(latitude) + " lon " + std::to_string(lon) + " h " +
                       std::to_string(height));
          const double d[] = {e.north - ref.north, e.east - ref.east, e.down - ref.down};
          for (double diff : d) {
            EXPECT_LT(std::fabs(diff), 1.0);
            largest = std::max(largest, std::fabs(diff));
          }
          ++positions;
        }
      }
    }
  }
  std::printf("largest single/double difference: %.4f nT over %d positions\n", largest, positions);
  RecordProperty("largest_difference_nT", std::to_string(largest));
}

// The synthesis uses only multiplications, additions, divisions and one square root, so its
// float results are the same on every IEEE platform. Any change in the order of its operations
// (a regrouped sum, a product distributed over a bracket, a division instead of the reciprocal)
// changes some last bits over these 342 positions: the directions of a 7x7x7 integer grid at
// radii from 6371.2 to 7226.2 km. The fingerprint is FNV-1a over the bits of x, y, z in turn.
TEST(GeomagField, SynthesisIsReproducibleToTheLastBit) {
  std::uint64_t fingerprint = 14695981039346656037ull;
  int positions = 0;
  for (int dx = -3; dx <= 3; ++dx) {
    for (int dy = -3; dy <= 3; ++dy) {
      for (int dz = -3; dz <= 3; ++dz) {
        if (dx == 0 && dy == 0 && dz == 0) continue;
        const float radius = 6371200.0f + 2500.0f * static_cast<float>(dx * 49 + dy * 7 + dz + 171);
        const float scale = radius / std::sqrt(static_cast<float>(dx * dx + dy * dy + dz * dz));
        const geomag::Vector position{static_cast<float>(dx) * scale,
                                      static_cast<float>(dy) * scale,
                                      static_cast<float>(dz) * scale};
        const geomag::Vector field = geomag::GeoMag(2024.0f, position, geomag::WMM2020);
        if (dx == 1 && dy == 0 && dz == 0) {
          // On the x axis at 6921.2 km: spelled out, so a mismatch shows where it starts.
          EXPECT_EQ(field.x, 0x1.61dc08p-17f);
          EXPECT_EQ(field.y, -0x1.c02966p-20f);
          EXPECT_EQ(field.z, 0x1.63397ap-16f);
        }
        for (const float component : {field.x, field.y, field.z}) {
          std::uint32_t bits;
          std::memcpy(&bits, &component, sizeof bits);
          for (int byte = 0; byte < 4; ++byte) {
            fingerprint ^= (bits >> (8 * byte)) & 0xffu;
            fingerprint *= 1099511628211ull;
          }
        }
        ++positions;
      }
    }
  }
  EXPECT_EQ(positions, 342);
  EXPECT_EQ(fingerprint, 0x2032b99302e273e4ull);
}

// The driver stores the model's field in gauss with norms recomputed in double and the
// angles in radians, independently of any samples.
TEST(ReferenceMembers, DriverStoresTheFieldInGauss) {
  FERROKIT tool;
  tool.magCalibration(48.5578, 3.2914, 89.0, 0.2);
  const FERROKIT::MAGRESULT& r = tool.getMagCalibResult();
  EXPECT_NEAR(r.WMMRef[0], 0.210485, 1e-6);
  EXPECT_NEAR(r.WMMRef[1], 0.007476, 1e-6);
  EXPECT_NEAR(r.WMMRef[2], 0.435086, 1e-6);
  EXPECT_NEAR(r.inclination * 180.0 / kPi, 64.17, 0.01);
  EXPECT_NEAR(r.declination * 180.0 / kPi, 2.03, 0.01);
  EXPECT_EQ(r.WMMRefVerticalNorm, r.WMMRef[2]);
  EXPECT_DOUBLE_EQ(r.WMMRefNorm, std::hypot(r.WMMRefHorizNorm, r.WMMRefVerticalNorm));
  EXPECT_DOUBLE_EQ(r.WMMRefHorizNorm, std::hypot(r.WMMRef[0], r.WMMRef[1]));

  // Widened to double before the division, so the gauss values carry the float exactly.
  const geomag::Elements e = modelElements(48.5578f, 3.2914f, 89.0f);
  EXPECT_EQ(r.WMMRef[0], static_cast<double>(e.north) / 100000.0);
  EXPECT_EQ(r.inclination, static_cast<double>(e.inclination) * kPi / 180.0);

  FERROKIT again;
  again.magCalibration(48.5578, 3.2914, 89.0, 0.2);
  again.magCalibration(48.5578, 3.2914, 89.0, 0.2);
  const FERROKIT::MAGRESULT& s = again.getMagCalibResult();
  for (int k = 0; k < 3; ++k) EXPECT_EQ(s.WMMRef[k], r.WMMRef[k]);
  EXPECT_EQ(s.WMMRefNorm, r.WMMRefNorm);
  EXPECT_EQ(s.WMMRefHorizNorm, r.WMMRefHorizNorm);
  EXPECT_EQ(s.inclination, r.inclination);
  EXPECT_EQ(s.declination, r.declination);
}

TEST(ReferenceMembers, SouthOfTheMagneticEquatorTheFieldPointsUp) {
  FERROKIT tool;
  tool.magCalibration(-33.9, 151.2, 0.0, 0.2);
  const FERROKIT::MAGRESULT& r = tool.getMagCalibResult();
  EXPECT_LT(r.WMMRefVerticalNorm, 0.0);
  EXPECT_LT(r.inclination, 0.0);
  EXPECT_NEAR(r.inclination * 180.0 / kPi, -64.45, 0.01);
  EXPECT_DOUBLE_EQ(r.WMMRefNorm, std::hypot(r.WMMRefHorizNorm, r.WMMRefVerticalNorm));
}

}  // namespace
