// Fixed bit patterns of the decompositions and of the calibration core on deterministic inputs.
// The core's results go into firmware and must be reproducible to the last bit, so any change in
// the order of floating-point operations (a reordered sum, a fused pass that rounds differently, a
// dropped step) changes a 64-bit hash here even when every property test still passes. Every NaN
// counts as one value: when two NaNs meet, which one comes out depends on the operand order the
// compiler picks, not on the arithmetic. The constants were recorded from the reference
// implementation; they must never be regenerated to make a change pass.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "calibration_test_data.h"
#include "coder_array.h"
#include "coreThreads.h"
#include "magcal.h"
#include "mldivide.h"
#include "staticMagCalibration.h"
#include "svd.h"
#include "xgeqp3.h"

namespace {

using calibration_test::Coverage;
using calibration_test::Truth;
using calibration_test::Vec3;

// FNV-1a over the bytes of the values fed in, in order.
class BitHash {
 public:
  void addBytes(const void* bytes, std::size_t count) {
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    for (std::size_t k = 0; k < count; ++k) {
      value_ = (value_ ^ p[k]) * 0x100000001b3ULL;
    }
  }
  void add(double v) {
    const double value = std::isnan(v) ? std::numeric_limits<double>::quiet_NaN() : v;
    addBytes(&value, sizeof value);
  }
  void add(int v) { addBytes(&v, sizeof v); }
  void add(bool v) { add(static_cast<int>(v)); }
  void add(const double* values, int count) {
    for (int k = 0; k < count; ++k) {
      add(values[k]);
    }
  }
  std::uint64_t value() const { return value_; }

 private:
  std::uint64_t value_ = 0xcbf29ce484222325;
};

// ---- Decompositions.

typedef int (*SvdFunction)(const coder::array<double, 2>&, coder::array<double, 2>&, double*,
                           double*, int*);

// Hashes of one decomposition: the count k with the singular values and right vectors, and,
// separately, the left vectors.
struct SvdBits {
  std::uint64_t valuesAndRightVectors;
  std::uint64_t leftVectors;
};

SvdBits svdBits(SvdFunction run, int p, const coder::array<double, 2>& A) {
  double s[10];
  double V[100];
  int vSize[2] = {-1, -1};
  coder::array<double, 2> U;
  const int k = run(A, U, s, V, vSize);
  BitHash sv;
  sv.add(k);
  sv.add(vSize[0]);
  sv.add(vSize[1]);
  sv.add(s, k);
  sv.add(V, p * k);
  BitHash u;
  u.add(U.size(0));
  u.add(U.size(1));
  u.add(U.data(), U.numel());
  return {sv.value(), u.value()};
}

// The test matrices, n rows by p columns, each deterministic.
enum class Shape {
  kRandom,         // independent standard normal entries
  kGraded,         // normal entries, column j scaled by 100^-j
  kEllipsoid,      // design matrix of noisy samples on a rotated ellipsoid
  kEqualColumns,   // column 4 repeats column 1
  kDependent,      // column 5 = 2 column 0 - column 2
  kRepeatedRows,   // every row the same
  kZeroColumns,    // columns 0 and 3 and the last one all zero
  kZero,           // all zero
  kTiny,           // normal entries times 1e-300
  kHuge,           // normal entries times 1e300
  kGradedRows,     // row i scaled by 10^(i mod 17 - 8)
  kSmallIntegers,  // entries in {-1, 0, 1}: exact zeros and ties everywhere
  kSphereDesign,   // [x y z 1 x^2+y^2+z^2] of noisy samples on a sphere, zeros beyond
};

coder::array<double, 2> testMatrix(Shape shape, int n, int p, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> normal;
  coder::array<double, 2> A;
  A.set_size(n, p);
  auto at = [&](int i, int j) -> double& { return A[i + n * j]; };
  for (int j = 0; j < p; ++j) {
    for (int i = 0; i < n; ++i) {
      at(i, j) = normal(rng);
    }
  }
  switch (shape) {
    case Shape::kRandom:
      break;
    case Shape::kGraded:
      for (int j = 0; j < p; ++j) {
        for (int i = 0; i < n; ++i) {
          at(i, j) *= std::pow(100.0, -j);
        }
      }
      break;
    case Shape::kEllipsoid:
      for (int i = 0; i < n; ++i) {
        const double len =
            std::sqrt(at(i, 0) * at(i, 0) + at(i, 1) * at(i, 1) + at(i, 2) * at(i, 2));
        const double x = 0.05 + 0.45 * at(i, 0) / len + 1e-3 * at(i, 3);
        const double y = -0.1 + 0.50 * at(i, 1) / len + 0.02 * at(i, 0) / len + 1e-3 * at(i, 4);
        const double z = 0.2 + 0.40 * at(i, 2) / len + 1e-3 * at(i, 5);
        const double terms7[7] = {x * x, y * y, z * z, x, y, z, 1.0};
        const double terms10[10] = {x * x, 2 * x * y, 2 * x * z, y * y, 2 * y * z,
                                    z * z, x,         y,         z,     1.0};
        for (int j = 0; j < p; ++j) {
          at(i, j) = (p == 7) ? terms7[j] : terms10[j];
        }
      }
      break;
    case Shape::kEqualColumns:
      for (int i = 0; i < n; ++i) {
        at(i, 4) = at(i, 1);
      }
      break;
    case Shape::kDependent:
      for (int i = 0; i < n; ++i) {
        at(i, 5) = 2.0 * at(i, 0) - at(i, 2);
      }
      break;
    case Shape::kRepeatedRows:
      for (int j = 0; j < p; ++j) {
        for (int i = 1; i < n; ++i) {
          at(i, j) = at(0, j);
        }
      }
      break;
    case Shape::kZeroColumns:
      for (int i = 0; i < n; ++i) {
        at(i, 0) = 0.0;
        at(i, 3) = 0.0;
        at(i, p - 1) = 0.0;
      }
      break;
    case Shape::kZero:
      for (int k = 0; k < n * p; ++k) {
        A[k] = 0.0;
      }
      break;
    case Shape::kTiny:
      for (int k = 0; k < n * p; ++k) {
        A[k] *= 1e-300;
      }
      break;
    case Shape::kHuge:
      for (int k = 0; k < n * p; ++k) {
        A[k] *= 1e300;
      }
      break;
    case Shape::kGradedRows:
      for (int j = 0; j < p; ++j) {
        for (int i = 0; i < n; ++i) {
          at(i, j) *= std::pow(10.0, i % 17 - 8);
        }
      }
      break;
    case Shape::kSphereDesign:
      for (int i = 0; i < n; ++i) {
        const double len =
            std::sqrt(at(i, 0) * at(i, 0) + at(i, 1) * at(i, 1) + at(i, 2) * at(i, 2));
        const double x = 0.06 + 0.5 * at(i, 0) / len + 1e-3 * at(i, 3);
        const double y = -0.04 + 0.5 * at(i, 1) / len + 1e-3 * at(i, 4);
        const double z = 0.09 + 0.5 * at(i, 2) / len + 1e-3 * (at(i, 3) - at(i, 4));
        const double terms[5] = {x, y, z, 1.0, (x * x + y * y) + z * z};
        for (int j = 0; j < p; ++j) {
          at(i, j) = j < 5 ? terms[j] : 0.0;
        }
      }
      break;
    case Shape::kSmallIntegers:
      for (int k = 0; k < n * p; ++k) {
        A[k] = std::round(A[k]) < 0.0 ? -1.0 : (std::round(A[k]) > 0.0 ? 1.0 : 0.0);
      }
      break;
  }
  return A;
}

struct SvdCase {
  const char* name;
  Shape shape;
  int n;
  SvdBits bits7;
  SvdBits bits10;
};

// clang-format off
const SvdCase kSvdCases[] = {
    {"random, one row", Shape::kRandom, 1,
     {0x92881fe4927be372, 0x2c7c1e91a718a448}, {0xd5920775369735b9, 0x2c7c1e91a718a448}},
    {"random, two rows", Shape::kRandom, 2,
     {0x9955d2d6e7a04058, 0x0ab6c6e01bfca299}, {0x1978340099dcfbbb, 0xb977ca4835dac5af}},
    {"random, five rows", Shape::kRandom, 5,
     {0x68e3426353012431, 0xb61141816c9982d3}, {0x936aea11fcc82430, 0x8d5d74fa60d81025}},
    {"random, nine rows", Shape::kRandom, 9,
     {0xc335ff1ec98aa871, 0xec70ca52d4996054}, {0xb5574aa54a8efd34, 0x9e671604757cf996}},
    {"random, ten rows", Shape::kRandom, 10,
     {0x9454404ca3f3ce65, 0x5f79439c75158797}, {0xa645687f813e7923, 0xde6df0bf6be98ff0}},
    {"random, eleven rows", Shape::kRandom, 11,
     {0xbef4eb0a32ce8287, 0x2e1a356053dcbb51}, {0xb5843dc4911b0193, 0x0afb440ebaad99cc}},
    {"random, 37 rows", Shape::kRandom, 37,
     {0xd47a29c60246864d, 0x7baa198889a8a8d5}, {0x00cd2dc97a52403b, 0x7f9acdb7d1973378}},
    {"random, 1000 rows", Shape::kRandom, 1000,
     {0xb27fa79f77fb5964, 0xc1869087d75a4b0e}, {0x4326c30d1a40e077, 0x314faaaaf2dabc9f}},
    {"graded columns", Shape::kGraded, 200,
     {0x87162cf0d187511c, 0x3626f69f715f8461}, {0x65fd75c4bc8f9101, 0x59ee57120f3ee025}},
    {"ellipsoid design, 20 rows", Shape::kEllipsoid, 20,
     {0x10ebbf37406f2459, 0x4e1d5347cbe19d4d}, {0x066d10640a4faf4d, 0x7bc8fb630a3e560e}},
    {"ellipsoid design, 5000 rows", Shape::kEllipsoid, 5000,
     {0x4a5f99dcff91a0d3, 0x6bf7d780b81d7e9d}, {0xb4d7ed23e9d4f231, 0x109d8270600f2261}},
    {"equal columns", Shape::kEqualColumns, 100,
     {0xa9ccfcb0cb0383bb, 0xa21f32f8bc175ad5}, {0xacc789913ea461a0, 0xd73b8b885c814182}},
    {"dependent column", Shape::kDependent, 100,
     {0x9b705d6e413fb200, 0x20b7b5803d1025e6}, {0xfcb26d046c515eb5, 0xd5699b2940752cd1}},
    {"repeated rows", Shape::kRepeatedRows, 50,
     {0x5db15bed0b987631, 0x47a384b1063603eb}, {0x0e98c813bc187929, 0x9ec8529c966fe352}},
    {"zero columns", Shape::kZeroColumns, 80,
     {0x17530012dfa9a2ae, 0x4737f28a2bb60d39}, {0x8b27170a8c02bb66, 0x65bf5295c117ed06}},
    {"zero matrix", Shape::kZero, 30,
     {0x71de691a3f2a4a0b, 0xe29f27900af76df1}, {0x63d273548294ac3f, 0x2baebf2d469b8511}},
    {"tiny entries", Shape::kTiny, 40,
     {0x7bbe86044666b047, 0xe36509c443e74057}, {0x5a0016d70ff71f5b, 0xcefba9cc63e14609}},
    {"huge entries", Shape::kHuge, 40,
     {0x53cb5030164396a2, 0x38ff7147d1af72df}, {0x70b9f0aa772e0d99, 0x51f549a706f72fe9}},
    {"graded rows", Shape::kGradedRows, 120,
     {0xfd01244b969c6120, 0x90c70390b6a6070c}, {0xf518421fb11f65fd, 0xb7b5a4a7cbc2f5c7}},
    {"small integers", Shape::kSmallIntegers, 60,
     {0x04249759968c5823, 0x08dc96a73f0c352e}, {0xa2b21b27b08a2f69, 0xaac51f4345898ed2}},
    {"small integers, few rows", Shape::kSmallIntegers, 6,
     {0xab72c0a8619913a4, 0x139619e2b6f1aff7}, {0x951086d7f6ac2233, 0xe9f661c1d9ccc17f}},
};
// clang-format on

void expectDecompositionBits() {
  unsigned seed = 100;
  for (const SvdCase& c : kSvdCases) {
    ++seed;
    SCOPED_TRACE(c.name);
    const SvdBits b7 = svdBits(&coder::internal::svd, 7, testMatrix(c.shape, c.n, 7, seed));
    EXPECT_EQ(b7.valuesAndRightVectors, c.bits7.valuesAndRightVectors) << "7 columns, s and V";
    EXPECT_EQ(b7.leftVectors, c.bits7.leftVectors) << "7 columns, U";
    const SvdBits b10 = svdBits(&coder::internal::b_svd, 10, testMatrix(c.shape, c.n, 10, seed));
    EXPECT_EQ(b10.valuesAndRightVectors, c.bits10.valuesAndRightVectors) << "10 columns, s and V";
    EXPECT_EQ(b10.leftVectors, c.bits10.leftVectors) << "10 columns, U";
  }
}

TEST(CoreBits, DecompositionsKeepTheirBits) {
  expectDecompositionBits();
}

// ---- Least squares.

struct LeastSquaresCase {
  const char* name;
  Shape shape;
  int m;
  std::uint64_t factors;   // xgeqp3: A, tau, jpvt
  std::uint64_t solution;  // mldivide
};

// clang-format off
const LeastSquaresCase kLeastSquaresCases[] = {
    {"random, one row", Shape::kRandom, 1, 0x88cb3b4d78cf8f29, 0x6224cde4c5ddad2b},
    {"random, three rows", Shape::kRandom, 3, 0xfa21ab3aa14b472c, 0xd3d738ee68aa58a7},
    {"random, square", Shape::kRandom, 4, 0x7613c016ae107ca0, 0x4848335d3a029a44},
    {"random, five rows", Shape::kRandom, 5, 0xb925a672b8197147, 0x4de2829ed941d679},
    {"random, 1000 rows", Shape::kRandom, 1000, 0x532579c34c9b3234, 0xf34e303e2ece2ac8},
    {"graded columns", Shape::kGraded, 300, 0xc62c360671a35d59, 0xc84df85502917a49},
    {"sphere design", Shape::kSphereDesign, 500, 0xc760a5e5fd6c8160, 0x4ddda84d501adba9},
    {"sphere design, square", Shape::kSphereDesign, 4, 0x817acd52c75a2e9c, 0xb82b38ed43606450},
    {"equal columns", Shape::kEqualColumns, 60, 0x3c6513089a18c503, 0xbcef513930f3aacf},
    {"zero columns", Shape::kZeroColumns, 60, 0x6ed7d4223d6b0a7a, 0xcc1b8a5a7eef00b1},
    {"tiny entries", Shape::kTiny, 40, 0xfc41f691d8722dfd, 0x4b7b694a1447cb02},
    {"tiny entries, square", Shape::kTiny, 4, 0x0b2ca43fcf2f4c6f, 0x5cab60b1b1240be9},
    {"graded rows", Shape::kGradedRows, 90, 0x2315ef0b85e5d3d0, 0x404e6f1521bcbc54},
    {"small integers", Shape::kSmallIntegers, 50, 0x4109859843f5e520, 0x7b3b6ca8d34c5c63},
    {"repeated rows", Shape::kRepeatedRows, 30, 0x625db6caa49794de, 0x2194f18f5a0d01ee},
};
// clang-format on

void expectLeastSquaresBits() {
  unsigned seed = 300;
  for (const LeastSquaresCase& c : kLeastSquaresCases) {
    ++seed;
    SCOPED_TRACE(c.name);
    // Four columns and a right-hand side: the fifth column of the test matrix.
    const coder::array<double, 2> wide = testMatrix(c.shape, c.m, 5, seed);
    coder::array<double, 2> A;
    A.set_size(c.m, 4);
    coder::array<double, 1> B;
    B.set_size(c.m);
    for (int i = 0; i < c.m; ++i) {
      for (int j = 0; j < 4; ++j) {
        A[i + c.m * j] = wide[i + c.m * j];
      }
      B[i] = wide[i + c.m * 4];
    }
    coder::mldivide(A, B);
    BitHash solution;
    solution.add(B.size(0));
    solution.add(B.data(), B.size(0));
    EXPECT_EQ(solution.value(), c.solution) << "solution";

    double tau[4];
    int jpvt[4];
    int jpvtSize[2];
    const int k = coder::internal::lapack::xgeqp3(A, tau, jpvt, jpvtSize);
    BitHash factors;
    factors.add(k);
    factors.add(A.data(), A.numel());
    factors.add(tau, k);
    for (int j = 0; j < 4; ++j) {
      factors.add(jpvt[j]);
    }
    EXPECT_EQ(factors.value(), c.factors) << "factors";
  }
}

TEST(CoreBits, LeastSquaresKeepTheirBits) {
  expectLeastSquaresBits();
}

// ---- Calibration core.

const Truth kSphere{{0.06, -0.04, 0.09}, {1, 1, 1}, calibration_test::rotation(0, 0, 0), 0.5};
const Truth kAligned{
    {0.06, -0.04, 0.09}, {1.1, 0.95, 0.9}, calibration_test::rotation(0, 0, 0), 0.5};
const Truth kRotated{
    {0.06, -0.04, 0.09}, {1.07, 0.99, 0.93}, calibration_test::rotation(0.7, -0.6, 0.9), 0.5};

// Hash of the entry point's outputs on the rows and, separately, of the three candidates of
// magcalFits on the samples.
struct CoreBits {
  std::uint64_t entry;
  std::uint64_t candidates;
  int chosen;
};

CoreBits coreBits(const std::vector<Vec3>& rows, const std::vector<Vec3>& samples,
                  const Vec3& reference, double tolerance) {
  double offset[3];
  double matrix[9];
  double meanNorm;
  staticMagCalibration(calibration_test::sampleMatrix(rows), reference.data(), tolerance, offset,
                       matrix, &meanNorm);
  BitHash entry;
  entry.add(offset, 3);
  entry.add(matrix, 9);
  entry.add(meanNorm);

  coder::MagcalFits fits;
  coder::magcalFits(calibration_test::sampleMatrix(samples), fits);
  BitHash candidates;
  for (const coder::MagcalFit& f : fits.fit) {
    candidates.add(f.A, 9);
    candidates.add(f.b, 3);
    candidates.add(f.radius);
    candidates.add(f.error);
    candidates.add(f.positiveDefinite);
    candidates.add(f.exactlyReal);
  }
  candidates.add(fits.chosen);
  return {entry.value(), candidates.value(), fits.chosen};
}

// The samples with rows outside the acceptance window (zeros, as the reader leaves for a header,
// and far outliers) mixed in at fixed places.
std::vector<Vec3> withRejectedRows(const std::vector<Vec3>& samples) {
  std::vector<Vec3> rows;
  rows.push_back({0.0, 0.0, 0.0});
  for (std::size_t i = 0; i < samples.size(); ++i) {
    rows.push_back(samples[i]);
    if (i % 97 == 13) {
      rows.push_back({3.0, -2.0, 1.0});
    }
  }
  rows.push_back({0.0, 0.0, 0.0});
  return rows;
}

std::vector<Vec3> scaled(std::vector<Vec3> rows, double factor) {
  for (Vec3& r : rows) {
    for (double& v : r) {
      v *= factor;
    }
  }
  return rows;
}

// The entry point calibrates rows (the samples, with rejected rows mixed in where mixed is set);
// magcalFits fits the samples.
struct CoreCase {
  std::string name;
  std::vector<Vec3> samples;
  bool mixed;
  Vec3 reference;
  double tolerance;
  CoreBits expected;
};

std::vector<CoreCase> coreCases() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Vec3 down = {0.0, 0.0, 0.5};
  auto gen = [](const Truth& t, int n, Coverage c, double noise, unsigned seed) {
    return calibration_test::generate(t, n, c, noise, seed);
  };
  std::vector<CoreCase> cases;
  auto add = [&](std::string name, std::vector<Vec3> samples, bool mixed, Vec3 reference,
                 double tolerance, CoreBits expected) {
    cases.push_back({std::move(name), std::move(samples), mixed, reference, tolerance, expected});
  };
  add("sphere chosen, hemisphere, noisy, 200000",
      gen(kSphere, 200000, Coverage::kHemisphere, 0.002, 7), true, down, 0.5,
      {0x899fc34a0da17ebe, 0xf32f70e0180755ea, 0});
  add("axis-aligned chosen, exact, 200000", gen(kAligned, 200000, Coverage::kFullSphere, 0.0, 7),
      true, down, 0.5, {0x5b5ed9796cbdb6bd, 0xb3dd73f61e7c2e2a, 1});
  add("general chosen, noisy, 200000", gen(kRotated, 200000, Coverage::kFullSphere, 0.002, 7), true,
      down, 0.5, {0x39cc7c778cb02f74, 0x835bccb79ceecfca, 2});
  add("sphere chosen, exact, 1000", gen(kSphere, 1000, Coverage::kFullSphere, 0.0, 7), true, down,
      0.5, {0xe94a74758bba07e8, 0x11ce337a0f957066, 0});
  add("axis-aligned chosen, band, exact, 1000", gen(kAligned, 1000, Coverage::kBand, 0.0, 7), true,
      down, 0.5, {0x8997cdcbc499f0f6, 0xd1fe32794ef13be3, 1});
  add("general chosen, hemisphere, noisy, 1000",
      gen(kAligned, 1000, Coverage::kHemisphere, 0.002, 7), true, down, 0.5,
      {0x596f024313f6a7e0, 0xb99c09d7f655c3b5, 2});
  add("general chosen, band, 20", gen(kRotated, 20, Coverage::kBand, 0.002, 7), false, down, 0.5,
      {0x9ce1ad54d62f17ba, 0xd5c210cbffb32373, 2});
  const struct {
    int n;
    CoreBits expected;
  } few[] = {{1, {0xc10999f70da6f334, 0xdffa985d99bc2a8b, 0}},
             {2, {0x6d47b5e7f32ac63b, 0xe42cf40a6dfc3572, 0}},
             {3, {0x2049fab6192f9686, 0xf65aceb388ddfc78, 0}},
             {4, {0x1f31f3c145f29c95, 0x934611f5bc424bf2, 0}},
             {5, {0xc7d998ac092889a1, 0xf236a715694ecb88, 0}},
             {6, {0x16ef4da4bc41212a, 0x0c86d4227e765730, 0}},
             {9, {0x6a9f82e9ef701cce, 0x05d1355ca6c923c9, 1}}};
  for (const auto& f : few) {
    add("few samples, " + std::to_string(f.n), gen(kSphere, f.n, Coverage::kFullSphere, 0.001, 3),
        true, down, 0.5, f.expected);
  }
  add("no samples", {}, false, down, 0.2, {0x119eb4b5658746ad, 0xc0dfdb7d9eb3b48d, 0});
  add("all rejected", {{0.0, 0.0, 0.0}, {2.0, 0.0, 0.0}}, false, down, 0.2,
      {0x119eb4b5658746ad, 0xb774906f0b5dfe24, 0});
  add("negative tolerance", gen(kSphere, 50, Coverage::kFullSphere, 0.0, 5), false, down, -0.1,
      {0x119eb4b5658746ad, 0xeb9c96df491d9640, 0});
  add("zero tolerance",
      {{0.3, 0.0, 0.4},
       {0.5, 0.0, 0.0},
       {0.0, 0.3, 0.4},
       {0.0, -0.5, 0.0},
       {-0.3, -0.4, 0.0},
       {0.4, 0.0, -0.3},
       {0.0, 0.0, 0.5},
       {0.0, 0.4, -0.3},
       {0.0, 0.0, std::nextafter(0.5, 1.0)}},
      false, down, 0.0, {0x85c5e66f9af55a95, 0x1cefe3fb33082bcf, 0});
  {
    std::vector<Vec3> samples = gen(kAligned, 300, Coverage::kFullSphere, 0.001, 9);
    samples[100][2] = nan;
    samples[200][0] = inf;
    add("NaN and infinite coordinates", samples, false, down, 0.5,
        {0xf09ffa1065cf93b2, 0xc0dfdb7d9eb3b48d, 0});
  }
  add("repeated sample", std::vector<Vec3>(40, Vec3{0.1, 0.2, 0.4}), true, down, 0.5,
      {0xceae0dc4a190de13, 0xe36054e7315f47c5, 0});
  {
    std::vector<Vec3> samples = gen(kSphere, 400, Coverage::kBand, 0.0, 11);
    for (Vec3& r : samples) {
      r[2] = 0.09;  // turned in one plane only
    }
    add("planar turn", samples, true, down, 0.9, {0x09f375498c4e149b, 0x3ba851cbfbcd8ee3, 0});
  }
  add("huge coordinates", scaled(gen(kRotated, 500, Coverage::kFullSphere, 0.002, 13), 1e150),
      false, {0.0, 0.0, 0.5e150}, 0.5, {0x14cf15dcb2d8beb3, 0x8526b7aaefbef06c, 0});
  add("tiny coordinates", scaled(gen(kRotated, 500, Coverage::kFullSphere, 0.002, 13), 1e-150),
      false, {0.0, 0.0, 0.5e-150}, 0.5, {0x555361239ea98d5d, 0x1bde37625d2a6a1a, 0});
  return cases;
}

void expectCalibrationBits() {
  for (const CoreCase& c : coreCases()) {
    SCOPED_TRACE(c.name);
    const CoreBits bits = coreBits(c.mixed ? withRejectedRows(c.samples) : c.samples, c.samples,
                                   c.reference, c.tolerance);
    EXPECT_EQ(bits.entry, c.expected.entry) << "entry point outputs";
    EXPECT_EQ(bits.candidates, c.expected.candidates) << "candidates";
    EXPECT_EQ(bits.chosen, c.expected.chosen) << "chosen model";
  }
}

TEST(CoreBits, CalibrationKeepsItsBits) {
  expectCalibrationBits();
}

// The passes split between two threads from a few rows on, and the same splits run one after the
// other on one thread: a split that shared a sum or raced on a column would change the bits.
TEST(CoreBits, SplitPassesKeepTheBits) {
  for (int threads : {2, 1}) {
    SCOPED_TRACE(threads == 2 ? "two threads" : "one thread");
    coder::internal::setCoreThreads(threads, 3);
    expectDecompositionBits();
    expectLeastSquaresBits();
    expectCalibrationBits();
  }
  coder::internal::setCoreThreads(0, 0);
}

// The entry on three columns with a row mask reads exactly the rows the mask keeps: rows left out
// (in the window, or NaN, or far outside) must change nothing, whichever mask value marks a kept
// row and wherever the passes split.
TEST(CoreBits, RowMaskLeavesOutRowsAsIfAbsent) {
  const Vec3 down = {0.0, 0.0, 0.5};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Vec3 junk[] = {{0.0, 0.0, 0.45}, {nan, 0.1, 0.2}, {9.0, 9.0, 9.0}, {0.3, -0.2, 0.3}};
  const std::vector<std::vector<Vec3>> sets = {
      {},
      calibration_test::generate(kAligned, 5, Coverage::kFullSphere, 0.001, 3),
      calibration_test::generate(kRotated, 3000, Coverage::kHemisphere, 0.002, 8),
      calibration_test::generate(kRotated, 70000, Coverage::kFullSphere, 0.002, 9)};
  for (int threads : {0, 2}) {
    coder::internal::setCoreThreads(threads, threads == 2 ? 3 : 0);
    for (const std::vector<Vec3>& rows : sets) {
      SCOPED_TRACE(testing::Message() << rows.size() << " rows, threads " << threads);
      std::vector<double> x, y, z;
      std::vector<unsigned char> mask;
      for (std::size_t i = 0; i <= rows.size(); ++i) {
        const Vec3& extra = junk[i % 4];
        for (int j = 0; j < static_cast<int>(i % 3); ++j) {
          x.push_back(extra[0]);
          y.push_back(extra[1]);
          z.push_back(extra[2]);
          mask.push_back(0);
        }
        if (i < rows.size()) {
          x.push_back(rows[i][0]);
          y.push_back(rows[i][1]);
          z.push_back(rows[i][2]);
          mask.push_back(i % 2 ? 7 : 1);
        }
      }
      double offset[2][3];
      double matrix[2][9];
      double meanNorm[2];
      staticMagCalibration(calibration_test::sampleMatrix(rows), down.data(), 0.5, offset[0],
                           matrix[0], &meanNorm[0]);
      staticMagCalibrationColumns(x.data(), y.data(), z.data(), static_cast<int>(x.size()),
                                  mask.data(), down.data(), 0.5, offset[1], matrix[1],
                                  &meanNorm[1]);
      EXPECT_EQ(std::memcmp(offset[0], offset[1], sizeof offset[0]), 0);
      EXPECT_EQ(std::memcmp(matrix[0], matrix[1], sizeof matrix[0]), 0);
      EXPECT_EQ(std::memcmp(&meanNorm[0], &meanNorm[1], sizeof meanNorm[0]), 0);
    }
  }
  coder::internal::setCoreThreads(0, 0);
}

}  // namespace
