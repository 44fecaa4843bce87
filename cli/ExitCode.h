#pragma once

namespace korv::cli {

// The flasher's exit status, as its help text and the README list them.
enum ExitCode : int {
    kUpdated = 0,         // also: identified (--identify), listed (--list), help shown
    kTransferFailed = 1,  // a reply did not match, or the device fell silent
    kUsageError = 2,
    kOpenFailed = 3,
    kNotIdentified = 4,
    kFinishedEarly = 5,   // the device declared the update finished before the last block
    kOutputFailed = 6,    // standard output could not be written, in a run that otherwise succeeded
    kInterrupted = 130,   // Ctrl-C or a termination signal, as shells count it
};

} // namespace korv::cli
