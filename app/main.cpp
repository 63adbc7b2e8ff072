#include "app/run.h"

int main(int argc, char** argv) {
    // The process status of -1 is 255 on POSIX.
    return app::Run(argc, argv);
}
