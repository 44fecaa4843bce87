#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the emulator received in one update, for the log and for --report.
namespace korv::devsim {

// How long the program takes to answer an acknowledgement: from the
// acknowledgement written to the first byte of the next block read, over
// the blocks of one update, in microseconds.
struct Turnaround {
    std::size_t blocks = 0;  // acknowledgements followed by another block
    double median = 0;
    double p99 = 0;          // the 99th percentile
    double max = 0;
};

Turnaround describeTurnaround(std::vector<double> microseconds);

struct UpdateReport {
    bool identified = false;       // "VERS" was answered
    std::size_t bytes = 0;         // image bytes received
    std::size_t blocks = 0;        // complete blocks among them
    std::string sha256;            // of those bytes, lowercase hex
    std::optional<double> seconds; // from the first image byte to "PUSK", when it came
    Turnaround turnaround;
};

UpdateReport describeUpdate(bool identified, std::string_view image,
                            std::optional<double> seconds, std::vector<double> turnaroundMicroseconds = {});

// One JSON object on one line, keys in a fixed order.
std::string toJson(const UpdateReport& report);
// A line for the log.
std::string toText(const UpdateReport& report);

// Replaces the file at `path` with `text` in one step, so that a reader sees
// either the old report or the new one: written to path.tmp, then renamed.
bool replaceFile(const std::string& path, std::string_view text);

} // namespace korv::devsim
