// fluxtrim field: the model field at a place and date, as a person or a program wants it.
#ifndef FLUXTRIM_CLI_FIELD_COMMAND_HPP
#define FLUXTRIM_CLI_FIELD_COMMAND_HPP

#include <string>

#include "arguments.hpp"

namespace fluxtrim_cli {

struct FieldArgs {
  ReferenceArgs reference;  // --lat and --lon given; no --field-strength
  std::string format = "text";
  std::string output;  // -o, empty for standard output
};

// Prints the field: the seven elements with their units and signs, the model, the date used and
// the model's validity note. Returns kExitUsable; throws the library's errors for bad arguments.
int runField(const FieldArgs& args);

}  // namespace fluxtrim_cli

#endif
