// The fast reader against the reference reader on generated inputs: CSV-like text built from
// number texts in every form, separators, line ends and stray bytes, and plain random bytes. Each
// input is read with chunks as small as one byte and with its halves parsed on two threads, on one
// thread and not split at all, from previous column contents of every length; the columns must
// agree bit for bit, the complete-row mask and the messages byte for byte.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "numparse_forms.h"
#include "reader_comparison.h"
#include "test_support.h"

namespace {

using csvcolumns::Options;

class ReaderDifferentialTest : public test_support::TempDirTest {
 protected:
  ReaderDifferentialTest() : TempDirTest("fluxtrim_reader_diff") {}
};

// Text of `lines` lines: mostly three cells of number texts, with other cell counts, separators,
// blank and long lines, CR line ends, NUL and control bytes mixed in.
std::string csvLike(std::mt19937_64& random, numparse_forms::Generator& numbers, int lines) {
  const auto below = [&random](std::uint64_t n) { return random() % n; };
  std::string text;
  for (int k = 0; k < lines; ++k) {
    const std::uint64_t kind = below(20);
    if (kind == 0) {
      text += below(2) ? "" : " \t ";
    } else if (kind == 1) {
      text += std::string(100 + below(400), static_cast<char>("9,x;"[below(4)]));
    } else {
      const int cells = kind == 2 ? static_cast<int>(below(6)) : 3;
      for (int c = 0; c < cells; ++c) {
        int form = 0;
        text += below(3) ? numbers.next(form) : std::to_string(random() % 1000) + ".5";
        if (c + 1 < cells) {
          text += below(25) ? "," : std::string(1, "; \t\0"[below(4)]);
        }
      }
    }
    if (below(30) == 0) {
      text += static_cast<char>(below(256));
    }
    if (k + 1 < lines || below(2)) {
      text += below(5) ? "\n" : "\r\n";
    }
  }
  return text;
}

// Previous contents of the columns: none, or rows of distinct values, fewer or more than the
// input has.
csvcolumns::Columns previousColumns(std::mt19937_64& random) {
  csvcolumns::Columns columns;
  const std::size_t rows = random() % 3 == 0 ? 0 : random() % 200;
  for (int c = 0; c < 3; ++c) {
    for (std::size_t k = 0; k < rows; ++k) {
      columns[c].push_back(1000.0 * c + static_cast<double>(k) + 0.25);
    }
  }
  return columns;
}

// Catches a row, a cell or a message lost, doubled or misnumbered where a line crosses a chunk
// or the middle of the file, and any difference in conversion, masks or previous values.
TEST_F(ReaderDifferentialTest, FastReaderMatchesTheReference) {
  std::mt19937_64 random(77);
  numparse_forms::Generator numbers(78);
  const std::string path = (dir_ / "input.csv").string();
  const Options variants[] = {
      {1, 2, Options::SecondHalf::SameThread},     {3, 2, Options::SecondHalf::Thread},
      {7, 40, Options::SecondHalf::SameThread},    {64, 1, Options::SecondHalf::Thread},
      {4096, 1u << 30, Options::SecondHalf::Auto}, {}};
  int inputs = 0;
  for (int round = 0; round < 400; ++round) {
    std::string bytes;
    if (round % 4 == 3) {
      bytes.resize(random() % 600);
      for (char& b : bytes) {
        b = static_cast<char>(random() % 256);
      }
    } else {
      bytes = csvLike(random, numbers, static_cast<int>(random() % (round % 50 == 0 ? 3000 : 40)));
    }
    const csvcolumns::Columns previous = previousColumns(random);
    const Options& options = variants[static_cast<std::size_t>(round) % 6];
    const std::string difference = reader_comparison::compare(path, bytes, previous, options);
    ASSERT_EQ(difference, "") << "round " << round << ", chunk " << options.chunkBytes
                              << ", split at " << options.splitBytes << ", input:\n"
                              << bytes;
    ++inputs;
  }
  EXPECT_EQ(inputs, 400);
}

}  // namespace
