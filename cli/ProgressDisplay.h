#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "cli/Flasher.h"

namespace korv::cli {

// Shows the transfer's progress: on a terminal one line redrawn in place,
// with percent, bytes, rate and time left; elsewhere (a log, a pipe) a plain
// line at each quarter, so a log stays short.
class ProgressDisplay {
public:
    ProgressDisplay(std::FILE* out, bool terminal, std::size_t total);

    void update(const Progress& progress);
    // The last state; ends the redrawn line.
    void finish(const Progress& progress);

    // "[#####.....]  42%  54784/130048 bytes  3.8 kB/s  0:20 left"
    static std::string barLine(const Progress& progress, std::size_t total);
    // "progress: 50% (65024 of 130048 bytes, 3.8 kB/s, 0:17 left)"
    static std::string plainLine(const Progress& progress, std::size_t total);

private:
    std::FILE* out_;
    bool terminal_;
    std::size_t total_;
    int quartersShown_ = 0;
    bool drawn_ = false;
};

} // namespace korv::cli
