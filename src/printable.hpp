// Untrusted text made safe to echo on a terminal. Shared by the readers of the tool object and
// of the library, which quote cells and lines of input files in their messages.
#ifndef PRINTABLE_HPP
#define PRINTABLE_HPP

#include <cstddef>
#include <string>

// The bytes [first, last) with every byte below 0x20 except the tab, and 0x7f, written as \xNN
// (two upper-case hexadecimal digits), so that an escape sequence in a file cannot drive the
// terminal. Bytes from 0x80 up pass unchanged. When the text is longer than maxBytes, only its
// first maxBytes bytes are kept and "..." is appended.
std::string printableText(const char* first, const char* last, std::size_t maxBytes = 200);

#endif
