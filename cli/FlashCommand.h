#pragma once

#include "cli/InterruptWatcher.h"
#include "cli/Options.h"

namespace korv::cli {

// Identifies the device on the chosen port and, unless only identification
// was asked for, writes the image: prints what happens and returns the exit status.
int runFlash(const Options& options, InterruptWatcher& interrupts);

// Prints the port listing: always exit status 0.
int runList();

} // namespace korv::cli
