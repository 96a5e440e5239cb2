// The fast reader of the tool object: the first three comma-separated cells of every line of a
// regular file into three columns, read once in chunks, the two halves of a long file parsed on
// two threads.
#ifndef CSV_COLUMNS_HPP
#define CSV_COLUMNS_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace csvcolumns {

using Columns = std::array<std::vector<double>, 3>;

// Messages past this many are only counted; the count is the last message.
constexpr std::size_t kMaxMessages = 40;

struct Options {
  std::size_t chunkBytes = 256 * 1024;  // bytes per read, at least 1; a longer line grows it
  std::uint64_t splitBytes = 1 << 20;   // files at least this long are parsed as two halves
  // How the second half is parsed: on a second thread when the machine has two cores or more
  // (Auto), always on a second thread (Thread), or after the first half on the calling thread
  // (SameThread). Auto parses a file in one piece on a single core.
  enum class SecondHalf { Auto, Thread, SameThread } secondHalf = SecondHalf::Auto;
};

// Reads the regular file open on fd from offset 0 to its end (positional reads; the descriptor's
// offset is not used) and parses it. Lines are separated by '\n', so there is one row more than
// there are newlines; a '\r' that ends a line belongs to its line end. Row k gets the first three
// cells of line k, each converted as strtod converts it (numparse::toDouble); cells after the
// third are not read. Rows below the columns' previous length keep their values where a cell
// does not convert, new rows start at 0; complete[k] is 1 when all three cells of line k
// converted. messages receives, in file order, "Header : <cell>" for every cell that does not
// convert and "Line <n> : fewer than 3 comma-separated cells : <line>" for every line that is not
// blank and has fewer than three cells (n from 1), echoed text escaped and cut by printableText,
// the first kMaxMessages of them and then "(<count> more messages not shown)". sizeHint, the
// size fstat gave, only splits the file and sizes the columns; the file is read to its end.
// Throws std::system_error with the errno of a failed read, std::bad_alloc when memory runs out;
// the outputs are then unspecified.
void read(int fd, std::uint64_t sizeHint, Columns& columns, std::vector<std::uint8_t>& complete,
          std::string& messages, const Options& options = {});

}  // namespace csvcolumns

#endif
