// The run sequence: every phase of a start, from the configuration to the exit code.
#pragma once

namespace app {

// Returns the process's exit code: 0 after a report or a measurement, -1 after any error.
int Run(int argc, char** argv);

// The pause before exit; does nothing unless PauseBeforeExit is set.
void ExitPause();

}  // namespace app
