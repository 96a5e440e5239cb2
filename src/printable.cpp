#include "printable.hpp"

std::string printableText(const char* first, const char* last, std::size_t maxBytes) {
  const bool cut = static_cast<std::size_t>(last - first) > maxBytes;
  if (cut) {
    last = first + maxBytes;
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(static_cast<std::size_t>(last - first) + (cut ? 3 : 0));
  for (const char* p = first; p != last; ++p) {
    const unsigned char byte = static_cast<unsigned char>(*p);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7f) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    } else {
      out += static_cast<char>(byte);
    }
  }
  if (cut) {
    out += "...";
  }
  return out;
}
