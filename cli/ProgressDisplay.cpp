#include "cli/ProgressDisplay.h"

#include <algorithm>
#include <cmath>

namespace korv::cli {
namespace {

constexpr int kBarWidth = 30;
// A rate from less than this is mostly start-up noise: no time left is guessed.
constexpr double kShortestRatedSeconds = 0.5;

int percentOf(std::size_t bytes, std::size_t total)
{
    return total == 0 ? 100 : static_cast<int>(std::min<std::size_t>(bytes, total) * 100 / total);
}

std::string rateText(const Progress& p)
{
    if (p.seconds < kShortestRatedSeconds || p.bytes == 0)
        return "-- kB/s";
    char text[32];
    // NOLINTNEXTLINE(cert-err33-c): fits
    std::snprintf(text, sizeof text, "%.1f kB/s", static_cast<double>(p.bytes) / p.seconds / 1000);
    return text;
}

std::string timeLeftText(const Progress& p, std::size_t total)
{
    if (p.bytes >= total)
        return "0:00 left";
    if (p.seconds < kShortestRatedSeconds || p.bytes == 0)
        return "-:-- left";
    const double rate = static_cast<double>(p.bytes) / p.seconds;
    const auto left = static_cast<long long>(std::ceil(static_cast<double>(total - p.bytes) / rate));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld left", left / 60, left % 60);  // NOLINT(cert-err33-c): fits
    return text;
}

} // namespace

ProgressDisplay::ProgressDisplay(std::FILE* out, bool terminal, std::size_t total)
    : out_(out), terminal_(terminal), total_(total)
{
}

std::string ProgressDisplay::barLine(const Progress& p, std::size_t total)
{
    const int percent = percentOf(p.bytes, total);
    const int filled = percent * kBarWidth / 100;
    std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#')
                       + std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] ";
    char numbers[64];
    // NOLINTNEXTLINE(cert-err33-c): fits
    std::snprintf(numbers, sizeof numbers, "%3d%%  %zu/%zu bytes  ", percent, p.bytes, total);
    return line + numbers + rateText(p) + "  " + timeLeftText(p, total);
}

std::string ProgressDisplay::plainLine(const Progress& p, std::size_t total)
{
    char text[64];
    // NOLINTNEXTLINE(cert-err33-c): fits
    std::snprintf(text, sizeof text, "progress: %d%% (%zu of %zu bytes, ", percentOf(p.bytes, total),
                  p.bytes, total);
    return text + rateText(p) + ", " + timeLeftText(p, total) + ")";
}

void ProgressDisplay::update(const Progress& p)
{
    if (terminal_) {
        // Return to the line's start and clear it, so a shorter line leaves nothing behind.
        std::fprintf(out_, "\r\x1b[K%s", barLine(p, total_).c_str());  // NOLINT(cert-err33-c): progress only
        drawn_ = true;
    } else {
        const int quarter = percentOf(p.bytes, total_) / 25;
        if (quarter <= quartersShown_)
            return;
        quartersShown_ = quarter;
        std::fprintf(out_, "%s\n", plainLine(p, total_).c_str());  // NOLINT(cert-err33-c): progress only
    }
    std::fflush(out_);  // NOLINT(cert-err33-c): progress only
}

void ProgressDisplay::finish(const Progress& p)
{
    update(p);
    if (terminal_ && drawn_)
        std::fputc('\n', out_);  // NOLINT(cert-err33-c): progress only
    std::fflush(out_);  // NOLINT(cert-err33-c): progress only
}

} // namespace korv::cli
