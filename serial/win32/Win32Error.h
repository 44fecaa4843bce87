#pragma once

#include "serial/SerialDevice.h"

namespace korv {

// The one place where Windows' error codes (GetLastError()) become ours.
SerialError errorFromWin32(unsigned long code);

} // namespace korv
