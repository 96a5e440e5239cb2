// The samples that the calibration fits read, held as three coordinate columns with an optional
// byte per row that says whether the row takes part, and the two-way split of passes over them.
#ifndef SAMPLECOLUMNS_H
#define SAMPLECOLUMNS_H

#include "coreThreads.h"

namespace coder {

// Sample k of a fit is row i = (x[i], y[i], z[i]) of the k-th row, in increasing i, whose keep
// byte is 1; with keep null every row takes part. Nothing is owned: the columns and the bytes
// belong to the caller and must outlive the view. Use makeSampleColumns to fill one in.
struct SampleColumns {
  const double* x;
  const double* y;
  const double* z;
  int rows;                   // rows in each column (and bytes in keep)
  const unsigned char* keep;  // 0 or 1 per row; null: every row
  int count;                  // rows that take part
  // Where passes split between two parts: the samples of ranks [0, splitRank) form the first
  // part, those from splitRank on the second, whose first row is splitRow. splitRank is a
  // multiple of kSplitAlignment; splitRank = count (no second part) below the split threshold.
  int splitRank;
  int splitRow;
};

// Ranks at which the two parts of a pass may meet: a multiple of the block length of the blocked
// mean, so that no block straddles the parts.
constexpr int kSplitAlignment = 1024;

// The view of rows rows whose keep bytes (0 or 1; null for all) mark count rows, with its split.
inline SampleColumns makeSampleColumns(const double* x, const double* y, const double* z, int rows,
                                       const unsigned char* keep, int count) {
  SampleColumns s{x, y, z, rows, keep, count, count, rows};
  if (internal::splitPays(count)) {
    const int rank = count / 2 / kSplitAlignment * kSplitAlignment;
    int row = rank;
    if (keep != nullptr) {
      // The row of the sample of that rank: whole blocks of bytes first, then byte by byte.
      constexpr int kChunk = 4096;
      int seen = 0;
      row = 0;
      while (row + kChunk <= rows) {
        int inChunk = 0;
        for (int i = row; i < row + kChunk; ++i) {
          inChunk += keep[i];
        }
        if (seen + inChunk > rank) {
          break;
        }
        seen += inChunk;
        row += kChunk;
      }
      while (seen + keep[row] <= rank) {
        seen += keep[row];
        ++row;
      }
    }
    s.splitRank = rank;
    s.splitRow = row;
  }
  return s;
}

// Calls visit(i, k) for the samples of ranks first .. last-1, i being the row of the sample of
// rank k and startRow the row of the sample of rank first (or any row between it and the row
// after the previous sample), in increasing k.
template <typename Visit>
inline void forSamples(const SampleColumns& s, int first, int last, int startRow, Visit&& visit) {
  if (s.keep == nullptr) {
    for (int k = first; k < last; ++k) {
      visit(k, k);
    }
    return;
  }
  int i = startRow;
  for (int k = first; k < last; ++k, ++i) {
    while (s.keep[i] == 0) {
      ++i;
    }
    visit(i, k);
  }
}

// Samples per chunk of forSampleChunks.
constexpr int kSampleChunk = 256;

// Calls chunk(x, y, z, count, firstRank) for the samples of ranks first .. last-1 in runs of at
// most kSampleChunk, in increasing rank, with their coordinates in contiguous arrays (gathered
// when rows are left out); startRow as for forSamples.
template <typename Chunk>
inline void forSampleChunks(const SampleColumns& s, int first, int last, int startRow,
                            Chunk&& chunk) {
  if (s.keep == nullptr) {
    for (int k0 = first; k0 < last; k0 += kSampleChunk) {
      const int count = last - k0 < kSampleChunk ? last - k0 : kSampleChunk;
      chunk(s.x + k0, s.y + k0, s.z + k0, count, k0);
    }
    return;
  }
  double x[kSampleChunk];
  double y[kSampleChunk];
  double z[kSampleChunk];
  int i = startRow;
  for (int k0 = first; k0 < last; k0 += kSampleChunk) {
    const int count = last - k0 < kSampleChunk ? last - k0 : kSampleChunk;
    for (int j = 0; j < count; ++j, ++i) {
      while (s.keep[i] == 0) {
        ++i;
      }
      x[j] = s.x[i];
      y[j] = s.y[i];
      z[j] = s.z[i];
    }
    chunk(x, y, z, count, k0);
  }
}

// Runs part(which, first, last, startRow) over the two parts of the samples: which = 0 for the
// ranks [0, splitRank) from row 0, which = 1 for [splitRank, count) from splitRow, on a thread of
// its own when there are two threads. Without a split only the first part runs, over every
// sample.
template <typename Part>
inline void forSampleParts(const SampleColumns& s, const Part& part) {
  const bool split = s.splitRank < s.count;
  internal::runTwoParts(split, [&](int which) {
    if (which == 0) {
      part(0, 0, s.splitRank, 0);
    } else if (split) {
      part(1, s.splitRank, s.count, s.splitRow);
    }
  });
}

}  // namespace coder

#endif
