// Prints the library's version: the smallest program built against an installed fluxtrim.
#include <cstdio>

#include <fluxtrim/fluxtrim.hpp>

int main() {
  std::printf("fluxtrim %s\n", fluxtrim::version());
  return 0;
}
