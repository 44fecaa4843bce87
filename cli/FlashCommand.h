#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "cli/InterruptWatcher.h"
#include "cli/Options.h"

namespace korv::cli {

// Standard output for the summary, the messages, the listing and the help
// text: each write flushed at once and the first failure kept, so that output
// that never arrived is not passed off as a success.
class StandardOutput {
public:
    // errorAtStart: why the stream cannot be written at all (0 when it can).
    explicit StandardOutput(std::FILE* out, int errorAtStart = 0) : out_(out), error_(errorAtStart) {}

    // Nothing more is written after a failure.
    void write(std::string_view text);
    bool failed() const { return error_ != 0; }

    // The exit status once all is written: after a failure, says so on
    // standard error with what was lost, and turns a success into kOutputFailed.
    int settle(int status, const std::string& lost);

private:
    std::FILE* out_;
    int error_;
};

// Identifies the device on the chosen port and, unless only identification
// was asked for, writes the image: prints what happens and returns the exit status.
int runFlash(const Options& options, InterruptWatcher& interrupts, StandardOutput& out);

// Prints the port listing: exit status 0 unless it could not be written.
int runList(StandardOutput& out);

} // namespace korv::cli
