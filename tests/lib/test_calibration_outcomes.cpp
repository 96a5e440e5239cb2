// The outcome of the calibration on every kind of recording the tests use, in both modes: the
// verdict, the chosen model, the count of samples of each status, and the offset and matrix, held
// against values recorded once from the straightforward computation (every window, fit and
// diagnostic on lists of rows, and the core's own fits). However its passes over the samples are
// arranged, fused or split between threads, the calibration must give the same statuses, verdict
// and model, and an offset and matrix within 1e-9 of the largest element of each.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "calibration_test_data.h"
#include "coreThreads.h"
#include "fluxtrim/fluxtrim.hpp"

namespace {

namespace ct = calibration_test;
using fluxtrim::CalibrationOptions;
using fluxtrim::CalibrationResult;
using fluxtrim::Mode;
using fluxtrim::ModelKind;
using fluxtrim::Reference;
using fluxtrim::SampleSet;
using fluxtrim::SampleUnit;
using fluxtrim::Verdict;

constexpr double kField_G = 0.48;

ct::Truth truth(const ct::Vec3& offset = {0.06, -0.04, 0.09}) {
  return {offset, {1.08, 0.97, 0.94}, ct::rotation(0.3, -0.2, 0.5), kField_G};
}

SampleSet sampleSet(const std::vector<ct::Vec3>& values, double scale = 1.0,
                    SampleUnit unit = SampleUnit()) {
  SampleSet set;
  for (const ct::Vec3& v : values) {
    set.values.push_back({{v[0] * scale, v[1] * scale, v[2] * scale}});
  }
  set.unit = unit;
  return set;
}

// The recordings, each with the options it is calibrated with.
struct Case {
  std::string name;
  SampleSet samples;
  CalibrationOptions options;
};

CalibrationOptions options(Mode mode, bool strength) {
  CalibrationOptions o;
  o.mode = mode;
  if (strength) {
    o.reference = Reference::fromStrength(kField_G);
  }
  return o;
}

std::vector<ct::Vec3> withDisturbances(std::vector<ct::Vec3> samples) {
  samples[100] = {500.0, -3.0, 2.0};
  for (std::size_t k = 600; k < 700; ++k) {
    samples[k][k % 3] += (k % 2 == 0 ? 0.5 : 0.1) * kField_G;
  }
  samples[5] = {std::nan(""), 0.1, 0.2};
  samples[6] = {0.0, 0.0, 0.0};
  return samples;
}

std::vector<ct::Vec3> stuckAtALimit(double perGauss) {
  std::vector<ct::Vec3> samples =
      ct::toCounts(ct::generate(truth(), 3000, ct::Coverage::kFullSphere, 0.002, 81), perGauss);
  for (std::size_t k = 0; k < samples.size(); ++k) {
    samples[k][2] = k % 33 == 5 ? -4096.0 : samples[k][2];
  }
  return samples;
}

// A tumble, then nine samples in one pose for each of its samples.
std::vector<ct::Vec3> dwelling() {
  const ct::Truth t = truth();
  std::vector<ct::Vec3> samples = ct::generate(t, 1000, ct::Coverage::kFullSphere, 0.001, 31);
  const ct::Mat3 distortion = ct::symmetric(t.axes, {1.0 / 1.08, 1.0 / 0.97, 1.0 / 0.94});
  const ct::Vec3 u = {0.3, 0.5, std::sqrt(1.0 - 0.34)};
  std::mt19937_64 random(32);
  std::normal_distribution<double> gauss(0.0, 0.001);
  for (int k = 0; k < 9000; ++k) {
    ct::Vec3 m{};
    for (int c = 0; c < 3; ++c) {
      m[c] = t.offset[c] +
             kField_G *
                 ((u[0] * distortion[0][c] + u[1] * distortion[1][c]) + u[2] * distortion[2][c]) +
             gauss(random);
    }
    samples.push_back(m);
  }
  return samples;
}

// Directions in the plane across the axis, with a wobble of 2 degrees out of it.
std::vector<ct::Vec3> spunAbout(int axis) {
  std::vector<ct::Vec3> samples;
  const ct::Mat3 distortion = ct::symmetric(truth().axes, {1.0 / 1.08, 1.0 / 0.97, 1.0 / 0.94});
  for (int k = 0; k < 1000; ++k) {
    const double a = 0.0063 * k * 7.0;
    ct::Vec3 u{};
    u[(axis + 1) % 3] = std::cos(a);
    u[(axis + 2) % 3] = std::sin(a);
    u[axis] = 0.035 * std::sin(0.37 * k);
    ct::Vec3 m{};
    for (int c = 0; c < 3; ++c) {
      for (int j = 0; j < 3; ++j) {
        m[c] += u[j] * distortion[j][c];
      }
      m[c] = truth().offset[c] + kField_G * m[c];
    }
    samples.push_back(m);
  }
  return samples;
}

SampleSet example(const char* file, std::vector<std::string> columns) {
  fluxtrim::ReadOptions read;
  read.columnNames = std::move(columns);
  read.unit = SampleUnit{fluxtrim::Unit::Microtesla};
  return fluxtrim::readSamples(std::string(FLUXTRIM_SOURCE_DIR) + "/examples/" + file, read);
}

std::vector<Case> cases() {
  const ct::Truth t = truth();
  const std::vector<ct::Vec3> tumble = ct::generate(t, 2000, ct::Coverage::kFullSphere, 0.001, 11);
  std::vector<ct::Vec3> spikes = ct::generate(t, 1500, ct::Coverage::kFullSphere, 0.002, 43);
  for (std::size_t k = 300; k < 340; ++k) {
    spikes[k][k % 3] += 0.3 * kField_G;
  }
  std::vector<ct::Vec3> large = ct::generate(t, 200000, ct::Coverage::kFullSphere, 0.002, 9);
  for (std::size_t k = 999; k < large.size(); k += 1000) {
    large[k][0] += 0.1 * kField_G;
  }
  const double perGauss = 1090.0;
  const Mode automatic = Mode::Automatic;
  const Mode fixed = Mode::FixedWindow;
  return {
      {"tumble", sampleSet(tumble), options(automatic, true)},
      {"tumble in the fixed window", sampleSet(tumble), options(fixed, true)},
      {"tumble in microtesla", sampleSet(tumble, 100.0, SampleUnit{fluxtrim::Unit::Microtesla}),
       options(automatic, true)},
      {"tumble in nanotesla, no unit given", sampleSet(tumble, 1e5), options(automatic, true)},
      {"hemisphere", sampleSet(ct::generate(t, 2000, ct::Coverage::kHemisphere, 0.001, 12)),
       options(automatic, true)},
      {"band", sampleSet(ct::generate(t, 2000, ct::Coverage::kBand, 0.001, 13)),
       options(automatic, true)},
      {"large offset",
       sampleSet(ct::generate(truth({0.1728, -0.13824, 0.18432}), 3000, ct::Coverage::kFullSphere,
                              0.003, 1)),
       options(automatic, true)},
      {"large offset in the fixed window",
       sampleSet(ct::generate(truth({0.1728, -0.13824, 0.18432}), 3000, ct::Coverage::kFullSphere,
                              0.003, 1)),
       options(fixed, true)},
      {"offset beyond the field",
       sampleSet(ct::generate(truth({1.8 * kField_G, 2.4 * kField_G, 0.0}), 2000,
                              ct::Coverage::kFullSphere, 0.001, 4)),
       options(automatic, true)},
      {"disturbed, a glitch, a NaN and a zero", sampleSet(withDisturbances(tumble)),
       options(automatic, true)},
      {"disturbed in the fixed window", sampleSet(withDisturbances(tumble)), options(fixed, true)},
      {"spikes", sampleSet(spikes), options(automatic, true)},
      {"spikes in the fixed window", sampleSet(spikes), options(fixed, true)},
      {"counts stuck at a limit",
       sampleSet(stuckAtALimit(perGauss), 1.0, SampleUnit::counts(perGauss)),
       options(automatic, true)},
      {"dwelling in one pose", sampleSet(dwelling()), options(automatic, true)},
      {"held still", sampleSet(ct::heldStill({0.2, -0.1, 0.4}, 500, 0.035, 0.001, 3)),
       options(automatic, true)},
      {"spun about Z", sampleSet(spunAbout(2)), options(automatic, true)},
      {"spun about X", sampleSet(spunAbout(0)), options(automatic, false)},
      {"noise-free", sampleSet(ct::generate(t, 2000, ct::Coverage::kFullSphere, 0.0, 7)),
       options(automatic, true)},
      {"200,000 samples, one in a thousand disturbed", sampleSet(large), options(automatic, true)},
      {"examples/mag.csv", example("mag.csv", {}), options(automatic, false)},
      {"examples/imu.csv", example("imu.csv", {"mx", "my", "mz"}), options(automatic, false)},
  };
}

struct Outcome {
  Verdict verdict;
  ModelKind model;
  std::array<std::size_t, fluxtrim::kSampleStatusCount> byStatus;
  std::array<double, 3> offset;
  std::array<double, 9> matrix;
};

// The outcomes of the cases, in their order, as the straightforward computation gave them.
const std::vector<Outcome> kRecorded = {
    // tumble
    {Verdict(0),
     ModelKind(2),
     {{2000, 0, 0, 0, 0, 0}},
     {{0.059960610772490451, -0.04003124242164989, 0.090047818209099295}},
     {{1.0568637180624578, 0.04445480731460643, 0.01967029045347006, 0.044454807314606493,
       0.99574500090256102, 0.020095384197669486, 0.019670290453470057, 0.020095384197669486,
       0.95276650411135555}}},
    // tumble in the fixed window
    {Verdict(1),
     ModelKind(2),
     {{1590, 0, 410, 0, 0, 0}},
     {{0.059979160188626146, -0.040071192682161361, 0.090106184108265583}},
     {{1.0569216675649258, 0.044538193384778921, 0.019535554158041028, 0.04453819338477881,
       0.99582903602645279, 0.020227309460627063, 0.019535554158040976, 0.020227309460627063,
       0.95264069432109333}}},
    // tumble in microtesla
    {Verdict(0),
     ModelKind(2),
     {{2000, 0, 0, 0, 0, 0}},
     {{5.9958289767076316, -4.0030186740900806, 9.0044905654710963}},
     {{1.0568591162524579, 0.044452954749180845, 0.019666505534083032, 0.044452954749180741,
       0.99574686241228472, 0.020095105337507135, 0.019666505534083025, 0.02009510533750708,
       0.9527685813592025}}},
    // tumble in nanotesla, no unit given
    {Verdict(2),
     ModelKind(2),
     {{2000, 0, 0, 0, 0, 0}},
     {{5995.828787868023, -4003.0185777390157, 9004.490306263142}},
     {{1.0568591160383063, 0.04445295580828381, 0.019666502075643074, 0.044452955808283866,
       0.99574686451213457, 0.020095106634186344, 0.019666502075643074, 0.020095106634186399,
       0.952768579552141}}},
    // hemisphere
    {Verdict(1),
     ModelKind(2),
     {{2000, 0, 0, 0, 0, 0}},
     {{0.060049521095827146, -0.040016904447819884, 0.089936531129364977}},
     {{1.0565981861255107, 0.044416385509505038, 0.019657869858236379, 0.044416385509504983,
       0.99580619503976464, 0.020178929958353908, 0.019657869858236369, 0.020178929958353853,
       0.9529473739014187}}},
    // band
    {Verdict(1),
     ModelKind(2),
     {{2000, 0, 0, 0, 0, 0}},
     {{0.060010427387423994, -0.039956642284706766, 0.089987860374473427}},
     {{1.0569950464001776, 0.044449071198997055, 0.019595306008082358, 0.044449071198997048,
       0.99582649212485119, 0.020403029619774693, 0.019595306008082333, 0.020403029619774693,
       0.95257878265854334}}},
    // large offset
    {Verdict(0),
     ModelKind(2),
     {{3000, 0, 0, 0, 0, 0}},
     {{0.17297889069015557, -0.13836105378227451, 0.18438621117717954}},
     {{1.056717898830996, 0.044384633290526311, 0.019801346300117938, 0.044384633290526415,
       0.99596379911163524, 0.020211457844711789, 0.019801346300117945, 0.020211457844711733,
       0.95269211261285391}}},
    // large offset in the fixed window
    {Verdict(2),
     ModelKind(2),
     {{993, 0, 2007, 0, 0, 0}},
     {{0.16990358080310458, -0.13492017588673041, 0.18064048630422319}},
     {{1.0553641221395058, 0.037160862392752368, 0.027594523287976402, 0.037160862392752389,
       0.99469614859496425, 0.012921390134270266, 0.02759452328797643, 0.012921390134270141,
       0.95471268534272336}}},
    // offset beyond the field
    {Verdict(0),
     ModelKind(2),
     {{2000, 0, 0, 0, 0, 0}},
     {{0.86402303027446004, 1.1520587545381047, 5.9393431447664886e-05}},
     {{1.0567940987742634, 0.04435726844580809, 0.019700022725208266, 0.044357268445808201,
       0.99559410247807989, 0.0201923973503087, 0.019700022725208294, 0.020192397350308755,
       0.95297103798615423}}},
    // disturbed, a glitch, a NaN and a zero
    {Verdict(0),
     ModelKind(2),
     {{1911, 2, 0, 20, 67, 0}},
     {{0.059959880388568913, -0.040002772447048487, 0.090032221637747017}},
     {{1.0568859508853479, 0.04440379810532092, 0.01966193312728251, 0.044403798105320975,
       0.99566946396764355, 0.020130004437885596, 0.019661933127282514, 0.020130004437885596,
       0.95281579408531203}}},
    // disturbed in the fixed window
    {Verdict(1),
     ModelKind(2),
     {{1556, 1, 443, 0, 0, 0}},
     {{0.059794503428515985, -0.038956705315354598, 0.089256732855289539}},
     {{1.0558961222504804, 0.044418808551854441, 0.020108889726370868, 0.044418808551854448,
       0.99517781291107354, 0.019860204185789543, 0.020108889726370888, 0.019860204185789543,
       0.9541890609646253}}},
    // spikes
    {Verdict(0),
     ModelKind(2),
     {{1463, 0, 0, 5, 32, 0}},
     {{0.059846222346730558, -0.039988151064878547, 0.08989882999063134}},
     {{1.0565601502682611, 0.044656666718423818, 0.019312770416617879, 0.044656666718423707,
       0.99579144789347784, 0.020369075852141871, 0.019312770416617855, 0.020369075852141871,
       0.95301038953363726}}},
    // spikes in the fixed window
    {Verdict(1),
     ModelKind(2),
     {{1169, 0, 331, 0, 0, 0}},
     {{0.059332028371869676, -0.038567808569846734, 0.088565566182972552}},
     {{1.0558144818537913, 0.046203840600415096, 0.018940467935599965, 0.04620384060041504,
       0.99421707933255343, 0.020673452969553696, 0.018940467935599965, 0.020673452969553696,
       0.95532318831479346}}},
    // counts stuck at a limit
    {Verdict(1),
     ModelKind(2),
     {{2909, 0, 0, 0, 0, 91}},
     {{65.434722403835821, -43.575494812157991, 98.12735001667771}},
     {{1.0568236165468374, 0.044197734207095135, 0.019238503132080993, 0.044197734207095191,
       0.99566422559207735, 0.020264806325470897, 0.019238503132080965, 0.020264806325470897,
       0.9528510503395109}}},
    // dwelling in one pose
    {Verdict(0),
     ModelKind(2),
     {{10000, 0, 0, 0, 0, 0}},
     {{0.059938654370864278, -0.040044882512825924, 0.089911810582397028}},
     {{1.0567330655864515, 0.044220550959994984, 0.019499487384898779, 0.044220550959994866,
       0.99602601583455264, 0.020160147667056538, 0.019499487384898779, 0.020160147667056483,
       0.95259303098856907}}},
    // held still
    {Verdict(2), ModelKind(0), {{500, 0, 0, 0, 0, 0}}, {{0, 0, 0}}, {{1, 0, 0, 0, 1, 0, 0, 0, 1}}},
    // spun about Z
    {Verdict(2),
     ModelKind(2),
     {{1000, 0, 0, 0, 0, 0}},
     {{0.060032751210629211, -0.039963947742650364, 0.08815201698973768}},
     {{144.73352610441017, 6.0594200826763265, 2.6832780831554524, 6.0594200826763274,
       136.36578986488894, 2.7677451774180968, 2.6832780831554506, 2.7677451774181039,
       0.1016014780247874}}},
    // spun about X: noise-free, so that rounding decides the general ellipsoid, which the core
    // fits and keeps
    {Verdict(2),
     ModelKind(2),
     {{705, 0, 0, 0, 295, 0}},
     {{0.060311700517139945, -0.040013781376796329, 0.089993882694372182}},
     {{0.40370144549494208, 7.6349157595786936, 3.3680200135935023, 7.6349157595786963,
       171.17211013387822, 3.4035138038169066, 3.3680200135935023, 3.4035138038169137,
       163.94614761832923}}},
    // noise-free
    {Verdict(0),
     ModelKind(2),
     {{2000, 0, 0, 0, 0, 0}},
     {{0.060000000000000726, -0.039999999999999855, 0.09000000000000008}},
     {{1.0567558486824851, 0.044419757880371752, 0.019595129243780981, 0.044419757880371641,
       0.99569278137508477, 0.020212184329885918, 0.019595129243780946, 0.020212184329885918,
       0.95291302172987846}}},
    // 200,000 samples, one in a thousand disturbed
    {Verdict(0),
     ModelKind(2),
     {{199812, 0, 0, 0, 188, 0}},
     {{0.059992934669156985, -0.04001101465627098, 0.090015429591384644}},
     {{1.0568113507421302, 0.044419179197748168, 0.019595342441465467, 0.044419179197748113,
       0.99567843026587832, 0.020198836665417386, 0.019595342441465467, 0.02019883666541733,
       0.95287609908698956}}},
    // examples/mag.csv
    {Verdict(2),
     ModelKind(2),
     {{3000, 0, 0, 0, 0, 0}},
     {{0.05981593246684315, -0.039960960154099778, 0.090002819598030651}},
     {{0.98895109082489985, -0.036247293478969878, -0.012282842633481617, -0.036247293478969905,
       1.0091060878934615, -0.057633761021885277, -0.012282842633481561, -0.057633761021885388,
       1.0068688719891423}}},
    // examples/imu.csv: a warning for its mounting
    {Verdict(1),
     ModelKind(2),
     {{2339, 0, 0, 0, 1, 0}},
     {{13.989259256047538, -9.4966772923359724, 20.997699655691218}},
     {{0.94627066843598628, -0.020275279562528628, 0.029536165584611654, -0.020275279562528586,
       1.0345854600056419, -0.042709615961038339, 0.029536165584611612, -0.042709615961038394,
       1.0245156778607469}}},
};

Outcome outcomeOf(const CalibrationResult& r) {
  Outcome o{r.diagnostics.verdict, r.model, r.figures.byStatus, {}, {}};
  for (int i = 0; i < 3; ++i) {
    o.offset[i] = r.calibration.offset[i];
    for (int j = 0; j < 3; ++j) {
      o.matrix[3 * i + j] = r.calibration.matrix[i][j];
    }
  }
  return o;
}

template <std::size_t N>
double relativeDifference(const std::array<double, N>& expected, const std::array<double, N>& got) {
  double largest = 0.0;
  double difference = 0.0;
  for (std::size_t k = 0; k < N; ++k) {
    largest = std::max(largest, std::fabs(expected[k]));
    difference = std::max(difference, std::fabs(expected[k] - got[k]));
  }
  return difference == 0.0 ? 0.0 : difference / largest;
}

// Would catch a window applied to other samples than before, a quantile or median of other
// ranks, a refinement that drops or refits otherwise, a fit whose blocks or halves lose or
// repeat rows, and diagnostics counted over other samples; on one thread and on two.
TEST(CalibrationOutcomes, AsRecordedOnOneThreadAndTwo) {
  const std::vector<Case> all = cases();
  ASSERT_EQ(kRecorded.size(), all.size());
  for (int threads : {1, 2}) {
    coder::internal::setCoreThreads(threads, threads == 2 ? 3 : 0);
    for (std::size_t k = 0; k < all.size(); ++k) {
      SCOPED_TRACE(all[k].name + ", threads " + std::to_string(threads));
      const Outcome got = outcomeOf(fluxtrim::calibrate(all[k].samples, all[k].options));
      const Outcome& expected = kRecorded[k];
      EXPECT_EQ(got.verdict, expected.verdict);
      EXPECT_EQ(got.model, expected.model);
      EXPECT_EQ(got.byStatus, expected.byStatus);
      EXPECT_LE(relativeDifference(expected.offset, got.offset), 1e-9);
      EXPECT_LE(relativeDifference(expected.matrix, got.matrix), 1e-9);
    }
  }
  coder::internal::setCoreThreads(0, 0);
}

// The figures beyond the calibration, to the bit.
std::vector<double> figuresOf(const CalibrationResult& r) {
  std::vector<double> figures = {r.meanCorrectedMagnitude, r.coverage.largestGap_deg,
                                 r.coverage.fraction,      r.motion.planarity,
                                 r.motion.spread,          r.figures.scale};
  for (const fluxtrim::ModelFit& model : r.models) {
    figures.insert(figures.end(), {model.error, model.residual, model.radius});
  }
  for (std::uint32_t count : r.coverage.samplesPerCell) {
    figures.push_back(count);
  }
  return figures;
}

// Would catch a pass split between threads at a place that depends on them, or a part of the
// survey summed out of order: every figure of every case the same on one thread and on two.
TEST(CalibrationOutcomes, OneThreadAndTwoGiveTheSameFigures) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    std::vector<double> figures[2];
    for (int threads : {1, 2}) {
      coder::internal::setCoreThreads(threads, threads == 2 ? 3 : 0);
      figures[threads - 1] = figuresOf(fluxtrim::calibrate(c.samples, c.options));
    }
    ASSERT_EQ(figures[0].size(), figures[1].size());
    EXPECT_EQ(std::memcmp(figures[0].data(), figures[1].data(), figures[0].size() * sizeof(double)),
              0);
  }
  coder::internal::setCoreThreads(0, 0);
}

}  // namespace
