// Exit statuses of the fluxtrim command, the same for every subcommand, so that a script can tell
// a usable result from an unusable one and both from a run that could not be made.
#ifndef FLUXTRIM_CLI_EXIT_STATUS_HPP
#define FLUXTRIM_CLI_EXIT_STATUS_HPP

namespace fluxtrim_cli {

// Usable: every calibration passed or warned (its warnings shown), the field was printed, the
// samples were corrected with a usable calibration.
constexpr int kExitUsable = 0;
// Unusable: the run was made, but a calibration failed, or apply was given a calibration whose
// verdict is fail (the corrected samples are written all the same) or that holds none.
constexpr int kExitUnusable = 1;
// No run: bad arguments, an input or calibration file that cannot be read or holds no samples,
// an output that cannot be written. With several inputs, the highest status of any input wins.
constexpr int kExitNoRun = 2;

}  // namespace fluxtrim_cli

#endif
