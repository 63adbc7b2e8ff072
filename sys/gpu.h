// GPU-Z, the monitoring program that publishes the graphics card's sensors (Windows only).
#pragma once

namespace sys {

// True when GPU-Z's main window exists; never on systems without GPU-Z.
bool GpuzRunning();

}  // namespace sys
