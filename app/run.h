// The run sequence: every phase of a start, from the configuration to the exit code.
#pragma once

namespace app {

// Returns the process's exit code: 0 after a report or a measurement, -1 after any error.
// Every ending passes through the pause before exit (when PauseBeforeExit is set) once.
int Run(int argc, char** argv);

}  // namespace app
