#pragma once
// `quenforth config` and `quenforth user`: the configuration and user windows for a prefix whose player
// is not running, driven from the command line through the same models the windows use.

namespace host {

// Runs `quenforth config ...` or `quenforth user ...` (argv[1] names which); the process's exit status.
int RunEditor(int argc, char** argv);

// Held (shared) by `quenforth run` for its whole life, so that the editors can tell the player runs.
// The lock goes with the process, however it ends. Returns the descriptor, or -1 when it failed.
int HoldRunLock(const char* prefix);

}  // namespace host
