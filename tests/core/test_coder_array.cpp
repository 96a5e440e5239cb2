// Growth, shrink, reuse and ownership rules of the core's dynamic array.
#include <climits>
#include <cstdint>
#include <new>
#include <vector>

#include <gtest/gtest.h>

#include "coder_array.h"

namespace {

template <typename A>
std::vector<double> contents(const A& a) {
  return std::vector<double>(a.data(), a.data() + a.numel());
}

TEST(CoderArray, ZeroExtentAllocatesNothing) {
  coder::array<double, 2> a;
  EXPECT_EQ(a.numel(), 0);
  EXPECT_FALSE(a.is_owner());
  a.set_size(0, 3);
  EXPECT_EQ(a.size(0), 0);
  EXPECT_EQ(a.size(1), 3);
  EXPECT_EQ(a.numel(), 0);
  EXPECT_EQ(a.data(), nullptr);
  EXPECT_EQ(a.capacity(), 0);
  // Destroying arrays that never allocated must release nothing (checked under ASan).
  { coder::array<creal_T, 1> never; }
}

TEST(CoderArray, GrowthDoublesFromSixteenKeepsOldAndZeroFillsNew) {
  coder::array<double, 1> v;
  v.set_size(5);
  EXPECT_EQ(v.capacity(), 16);
  EXPECT_EQ(contents(v), std::vector<double>(5, 0.0));
  v.set_size(17);
  EXPECT_EQ(v.capacity(), 32);
  std::vector<double> expected(33, 0.0);
  for (int i = 0; i < 17; ++i) {
    v[i] = expected[i] = i + 1.5;
  }
  v.set_size(33);
  EXPECT_EQ(v.capacity(), 64);
  EXPECT_EQ(contents(v), expected);

  coder::array<int, 1> w;
  w.set_size(16);
  w[15] = 7;
  w.set_size(100);  // a single jump from 16 to 128
  EXPECT_EQ(w.capacity(), 128);
  EXPECT_EQ(w[15], 7);
  EXPECT_EQ(w[99], 0);
}

TEST(CoderArray, CapacityArithmeticUpToTheIntLimit) {
  using coder::detail::grownCapacity;
  EXPECT_EQ(grownCapacity(0, 1), 16);
  EXPECT_EQ(grownCapacity(16, 100), 128);
  EXPECT_EQ(grownCapacity(0, 1 << 30), 1 << 30);
  EXPECT_EQ(grownCapacity(0, (1 << 30) + 1), INT_MAX);
  EXPECT_EQ(grownCapacity(1 << 30, INT_MAX), INT_MAX);
  // A capacity that is not a power of two still doubles without overflowing.
  EXPECT_EQ(grownCapacity(1073741823, 1073741824), INT_MAX - 1);
}

TEST(CoderArray, ShrinkKeepsBufferAndRegrownPositionsReadZero) {
  coder::array<double, 1> v;
  v.set_size(10);
  for (int i = 0; i < 10; ++i) {
    v[i] = -1.0 - i;
  }
  const double* buffer = v.data();
  v.set_size(4);
  v.set_size(10);
  EXPECT_EQ(v.data(), buffer);
  EXPECT_EQ(v.capacity(), 16);
  EXPECT_EQ(contents(v), (std::vector<double>{-1, -2, -3, -4, 0, 0, 0, 0, 0, 0}));

  coder::array<creal_T, 1> z;
  z.set_size(3);
  z[2] = {1.0, -2.0};
  z.set_size(2);
  z.set_size(3);
  EXPECT_EQ(z[2].re, 0.0);
  EXPECT_EQ(z[2].im, 0.0);
}

TEST(CoderArray, ReshapeKeepsStoragePositionsNotRowColumnPlaces) {
  coder::array<double, 2> m;
  m.set_size(4, 3);
  std::vector<double> expected(18, 0.0);
  for (int k = 0; k < 12; ++k) {
    m[k] = expected[k] = k + 1.0;
  }
  m.set_size(6, 3);
  EXPECT_EQ(m.numel(), 18);
  EXPECT_EQ(contents(m), expected);  // element (0, 1), value 5, now sits at (4, 0)

  const std::uint64_t rows = 7;  // the hand-off passes an unsigned 64-bit row count
  m.set_size(rows, 3);
  EXPECT_EQ(m.numel(), 21);
}

TEST(CoderArray, UnrepresentableSizesAreRefusedWithoutChange) {
  coder::array<double, 2> m;
  m.set_size(2, 2);
  m[3] = 4.0;
  EXPECT_THROW(m.set_size(-1, 2), std::bad_alloc);
  EXPECT_THROW(m.set_size(std::uint64_t{1} << 31, 1), std::bad_alloc);
  EXPECT_THROW(m.set_size(std::uint64_t{1} << 32, 1), std::bad_alloc);  // would wrap to 0
  EXPECT_THROW(m.set_size(70000, 70000), std::bad_alloc);               // product above INT_MAX
  EXPECT_EQ(m.size(0), 2);
  EXPECT_EQ(m.size(1), 2);
  EXPECT_EQ(m[3], 4.0);
}

TEST(CoderArray, CallerStorageIsNeverReleasedAndGrowthCopiesOut) {
  double storage[4] = {1.0, 2.0, 3.0, 4.0};
  const int extents[2] = {2, 2};
  {
    coder::array<double, 2> view(storage, extents);
    EXPECT_FALSE(view.is_owner());
    view[0] = 10.0;
    view.set_size(3, 3);  // beyond the caller's 4 elements: an owned copy
    EXPECT_TRUE(view.is_owner());
    EXPECT_NE(view.data(), storage);
    EXPECT_EQ(contents(view), (std::vector<double>{10, 2, 3, 4, 0, 0, 0, 0, 0}));
  }
  EXPECT_EQ(storage[0], 10.0);
}

TEST(CoderArray, CopiesAreDeepAndIndependent) {
  coder::array<double, 2> a;
  a.set_size(2, 3);
  for (int k = 0; k < 6; ++k) {
    a[k] = k;
  }
  coder::array<double, 2> b(a);
  b[0] = 99.0;
  EXPECT_EQ(a[0], 0.0);
  EXPECT_EQ(b.size(1), 3);

  coder::array<double, 2> c;
  c.set_size(1, 1);
  c = a;
  const coder::array<double, 2>& alias = c;
  c = alias;  // self-assignment keeps the contents
  c.set_size(2, 4);
  EXPECT_EQ(contents(c), (std::vector<double>{0, 1, 2, 3, 4, 5, 0, 0}));

  coder::array<double, 2> empty;
  coder::array<double, 2> d(empty);
  EXPECT_EQ(d.data(), nullptr);
}

TEST(CoderArray, VectorConversionsAndClear) {
  const std::vector<double> values = {1.0, 2.0, 3.0};
  coder::array<double, 2> col;
  col = values;
  EXPECT_EQ(col.size(1), 1);
  EXPECT_EQ(static_cast<std::vector<double>>(col), values);
  EXPECT_EQ(static_cast<std::vector<double>>(coder::array<double, 1>(values)), values);

  col.set_size_dim(4, 1);  // 3-by-4
  EXPECT_EQ(col[11], 0.0);
  col.clear();
  EXPECT_EQ(col.numel(), 0);
  EXPECT_EQ(col.data(), nullptr);
  col.set_size(3, 3);  // allocates afresh by the usual rule
  EXPECT_EQ(col.capacity(), 16);
}

}  // namespace
