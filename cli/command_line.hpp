// The command line of fluxtrim: subcommands and options parsed with CLI11, errors turned into one
// line on standard error and an exit status.
#ifndef FLUXTRIM_CLI_COMMAND_LINE_HPP
#define FLUXTRIM_CLI_COMMAND_LINE_HPP

namespace fluxtrim_cli {

// Parses the arguments, runs the subcommand and returns the exit status (exit_status.hpp).
// Bad arguments give one line on standard error and a usage hint, status kExitNoRun; --help and
// --version print on standard output, status 0. Never throws.
int runCommandLine(int argc, char** argv);

}  // namespace fluxtrim_cli

#endif
