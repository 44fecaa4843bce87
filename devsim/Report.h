#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// What the emulator received in one update, for the log and for --report.
namespace korv::devsim {

struct UpdateReport {
    bool identified = false;       // "VERS" was answered
    std::size_t bytes = 0;         // image bytes received
    std::size_t blocks = 0;        // complete blocks among them
    std::string sha256;            // of those bytes, lowercase hex
    std::optional<double> seconds; // from the first image byte to "PUSK", when it came
};

UpdateReport describeUpdate(bool identified, std::string_view image,
                            std::optional<double> seconds);

// One JSON object on one line, keys in a fixed order.
std::string toJson(const UpdateReport& report);
// A line for the log.
std::string toText(const UpdateReport& report);

// Replaces the file at `path` with `text` in one step, so that a reader sees
// either the old report or the new one: written to path.tmp, then renamed.
bool replaceFile(const std::string& path, std::string_view text);

} // namespace korv::devsim
