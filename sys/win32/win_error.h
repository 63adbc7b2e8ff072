// Windows error codes as the tool's last-error text.
#pragma once

#include <string>

namespace sys::win32 {

// The system's message for a GetLastError code, without its trailing line end.
std::string ErrorText(unsigned long code);
// Sets the tool's last error from GetLastError().
void TakeLastError();

}  // namespace sys::win32
