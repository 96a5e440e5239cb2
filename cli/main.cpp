// The fluxtrim command: calibrate, field and apply over the fluxtrim library.
#include "command_line.hpp"

int main(int argc, char** argv) {
  return fluxtrim_cli::runCommandLine(argc, argv);
}
