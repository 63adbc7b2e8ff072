// The measuring of a script in a process of its own, watched by the process that started it.
// Whatever the frame server does to the measuring process (a stack overflow on one of its
// threads, a fault inside the allocator, exit or abort, the kernel's kill), the watcher still
// has every sample taken: it restores the terminal, says what happened, writes the files and
// ends with 255. Where the system cannot split the process, the run stays in one.
#pragma once

#include "app/command_line.h"
#include "app/script_run.h"
#include "app/settings.h"
#include "bench/run_mirror.h"
#include "sys/process.h"
#include "sys/terminal.h"

namespace app {

class MeasuringWatch {
  public:
    MeasuringWatch();  // splits the process
    MeasuringWatch(const MeasuringWatch&) = delete;
    MeasuringWatch& operator=(const MeasuringWatch&) = delete;

    // True in the watching process, which only watches.
    bool Watching() const { return pid_ > 0; }
    // The measuring process's mirror; null when the run stays in one process.
    bench::RunMirror* Mirror() const { return pid_ == 0 ? mirror_ : nullptr; }
    // In the measuring process: all is done, nothing is left for the watcher to rescue.
    void Finish() const;
    // In the watcher: waits for the measuring process and ends as it ended, or, when it died
    // before finishing, reports and writes its files. pauseDone: the measuring process paused.
    int Watch(const ScriptJob& job, const RunSettings& settings, const CommandLineRequest& request,
              bool& pauseDone) const;

  private:
    sys::SavedTerminalMode terminal_;  // as it was before the measuring process changed it
    sys::SharedMemory memory_;
    bench::RunMirror* mirror_ = nullptr;
    int pid_ = -1;
};

// Why the measuring process ended without finishing: its fault (code), the signal that
// ended it, or its exit code.
std::string DeathText(uint32_t faultCode, const sys::ProcessEnd& end);

}  // namespace app
