#include "app/run.h"
#include "sys/se_exception.h"

int main(int argc, char** argv) {
    // The process status of -1 is 255 on POSIX.
    const int exitCode = app::Run(argc, argv);
    // After a fault on a frame server's thread its threads may hold its locks: the process
    // ends without unloading the library or running destructors.
    if (sys::ForeignThreadFaulted()) sys::EndProcessAfterForeignFault(exitCode);
    return exitCode;
}
