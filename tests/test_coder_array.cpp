// Growth, shrink, reuse and ownership rules of the core's dynamic array.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include <gtest/gtest.h>

#include "coder_array.h"

namespace {

TEST(CoderArray, EmptyStateAndZeroExtentAllocatesNothing) {
  coder::array<double, 2> a;
  EXPECT_EQ(a.size(0), 0);
  EXPECT_EQ(a.size(1), 0);
  EXPECT_EQ(a.numel(), 0);
  EXPECT_EQ(a.data(), nullptr);
  EXPECT_EQ(a.capacity(), 0);
  EXPECT_FALSE(a.is_owner());

  a.set_size(0, 3);
  EXPECT_EQ(a.size(0), 0);
  EXPECT_EQ(a.size(1), 3);
  EXPECT_EQ(a.numel(), 0);
  EXPECT_EQ(a.data(), nullptr);
  EXPECT_EQ(a.capacity(), 0);
  EXPECT_EQ(a.begin(), a.end());
  // Destroying arrays that never allocated must release nothing (checked under ASan).
  { coder::array<creal_T, 1> never; }
}

TEST(CoderArray, GrowthDoublesFromSixteenAndZeroFills) {
  coder::array<double, 1> v;
  v.set_size(5);
  EXPECT_EQ(v.capacity(), 16);
  EXPECT_TRUE(v.is_owner());
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(v[i], 0.0);
  }

  v.set_size(17);
  EXPECT_EQ(v.capacity(), 32);
  for (int i = 0; i < 17; ++i) {
    v[i] = i + 1.5;
  }
  v.set_size(33);
  EXPECT_EQ(v.capacity(), 64);
  for (int i = 0; i < 17; ++i) {
    EXPECT_EQ(v[i], i + 1.5);
  }
  for (int i = 17; i < 33; ++i) {
    EXPECT_EQ(v[i], 0.0);
  }

  coder::array<int, 1> w;
  w.set_size(16);
  EXPECT_EQ(w.capacity(), 16);
  w[15] = 7;
  w.set_size(100);  // one jump, 16 -> 128
  EXPECT_EQ(w.capacity(), 128);
  EXPECT_EQ(w[15], 7);
  EXPECT_EQ(w[99], 0);
}

TEST(CoderArray, CapacityArithmeticUpToTheIntLimit) {
  using coder::detail::grownCapacity;
  EXPECT_EQ(grownCapacity(0, 1), 16);
  EXPECT_EQ(grownCapacity(0, 16), 16);
  EXPECT_EQ(grownCapacity(16, 17), 32);
  EXPECT_EQ(grownCapacity(32, 64), 64);
  EXPECT_EQ(grownCapacity(16, 100), 128);
  EXPECT_EQ(grownCapacity(0, 1 << 30), 1 << 30);
  EXPECT_EQ(grownCapacity(0, (1 << 30) + 1), INT_MAX);
  EXPECT_EQ(grownCapacity(1 << 30, (1 << 30) + 1), INT_MAX);
  EXPECT_EQ(grownCapacity(16, INT_MAX), INT_MAX);
  // A capacity that is not a power of two still doubles without overflowing.
  EXPECT_EQ(grownCapacity(1073741823, 1073741824), INT_MAX - 1);
  EXPECT_EQ(grownCapacity(1073741824, INT_MAX), INT_MAX);
}

TEST(CoderArray, ShrinkKeepsBufferAndRegrowthReadsZero) {
  coder::array<double, 1> v;
  v.set_size(10);
  for (int i = 0; i < 10; ++i) {
    v[i] = -1.0 - i;
  }
  const double* buffer = v.data();
  v.set_size(4);
  EXPECT_EQ(v.capacity(), 16);
  EXPECT_EQ(v.data(), buffer);
  v.set_size(10);
  EXPECT_EQ(v.data(), buffer);
  EXPECT_EQ(v.capacity(), 16);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(v[i], -1.0 - i);
  }
  for (int i = 4; i < 10; ++i) {
    EXPECT_EQ(v[i], 0.0);
  }

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
  for (int k = 0; k < 12; ++k) {
    m[k] = k + 1.0;
  }
  m.set_size(6, 3);
  EXPECT_EQ(m.size(0), 6);
  EXPECT_EQ(m.size(1), 3);
  EXPECT_EQ(m.numel(), 18);
  for (int k = 0; k < 12; ++k) {
    EXPECT_EQ(m[k], k + 1.0);
  }
  for (int k = 12; k < 18; ++k) {
    EXPECT_EQ(m[k], 0.0);
  }
  // Element (0, 1) of the 4-by-3 matrix (value 5) now sits at (4, 0).
  EXPECT_EQ(m[4 + 0 * m.size(0)], 5.0);

  // The hand-off passes an unsigned 64-bit row count.
  const std::uint64_t rows = 7;
  m.set_size(rows, 3);
  EXPECT_EQ(m.size(0), 7);
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
  EXPECT_EQ(m.numel(), 4);
  EXPECT_EQ(m[3], 4.0);
}

TEST(CoderArray, CallerStorageIsNeverReleasedAndGrowthCopiesOut) {
  double storage[4] = {1.0, 2.0, 3.0, 4.0};
  const int extents[2] = {2, 2};
  {
    coder::array<double, 2> view(storage, extents);
    EXPECT_FALSE(view.is_owner());
    EXPECT_EQ(view.data(), storage);
    EXPECT_EQ(view.numel(), 4);
    view[0] = 10.0;
    view.set_size(3, 3);  // beyond the caller's 4 elements: an owned copy
    EXPECT_TRUE(view.is_owner());
    EXPECT_NE(view.data(), storage);
    EXPECT_EQ(view[0], 10.0);
    EXPECT_EQ(view[3], 4.0);
    EXPECT_EQ(view[8], 0.0);
  }
  EXPECT_EQ(storage[0], 10.0);
  EXPECT_EQ(storage[3], 4.0);
}

TEST(CoderArray, CopiesAreDeepAndIndependent) {
  coder::array<double, 2> a;
  a.set_size(2, 3);
  for (int k = 0; k < 6; ++k) {
    a[k] = k;
  }
  coder::array<double, 2> b(a);
  EXPECT_TRUE(b.is_owner());
  EXPECT_NE(b.data(), a.data());
  b[0] = 99.0;
  EXPECT_EQ(a[0], 0.0);
  EXPECT_EQ(b.size(0), 2);
  EXPECT_EQ(b.size(1), 3);

  coder::array<double, 2> c;
  c.set_size(1, 1);
  c = a;
  const coder::array<double, 2>& alias = c;
  c = alias;  // self-assignment keeps the contents
  EXPECT_EQ(c.numel(), 6);
  EXPECT_EQ(c[5], 5.0);
  c.set_size(2, 4);  // the copy grows by the usual rule, zero-filling
  EXPECT_EQ(c[5], 5.0);
  EXPECT_EQ(c[7], 0.0);

  coder::array<double, 2> empty;
  coder::array<double, 2> d(empty);
  EXPECT_EQ(d.data(), nullptr);
  EXPECT_FALSE(d.is_owner());
}

TEST(CoderArray, VectorConversionsListsAndSizeHelpers) {
  const std::vector<double> values = {1.0, 2.0, 3.0};
  coder::array<double, 1> v(values);
  EXPECT_EQ(v.size(0), 3);
  EXPECT_EQ(static_cast<std::vector<double>>(v), values);

  coder::array<double, 2> col;
  col = values;
  EXPECT_EQ(col.size(0), 3);
  EXPECT_EQ(col.size(1), 1);
  std::vector<double> back = col;
  EXPECT_EQ(back, values);

  coder::array<int, 1> list = {4, 5, 6, 7};
  int sum = 0;
  for (int x : list) {
    sum += x;
  }
  EXPECT_EQ(sum, 22);

  coder::array<double, 2> m;
  const int dims[1] = {5};
  m.set_size_ones(dims, 1);
  EXPECT_EQ(m.size(0), 5);
  EXPECT_EQ(m.size(1), 1);
  m.set_size_dim(4, 1);
  EXPECT_EQ(m.numel(), 20);
  m.set_size_dim(9, 2);  // no such dimension: ignored
  EXPECT_EQ(m.numel(), 20);
  m.clear();
  EXPECT_EQ(m.numel(), 0);
  EXPECT_EQ(m.data(), nullptr);
  EXPECT_EQ(m.capacity(), 0);
  m.reserve(40);
  EXPECT_EQ(m.capacity(), 40);
  m.set_size(3, 3);
  EXPECT_EQ(m.capacity(), 40);
  EXPECT_EQ(m[8], 0.0);
}

}  // namespace
