#include "devsim/Wire.h"

#include <algorithm>

namespace korv::devsim {

Wire::Clock::duration Wire::time(std::size_t bytes) {
    return std::chrono::ceil<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / kBytesPerSecond));
}

std::vector<Wire::Clock::time_point> Wire::receive(Clock::time_point readAt, std::size_t count) {
    // Measured from the start of the read, so that rounding never adds up
    // from byte to byte.
    const Clock::time_point start = std::max(readAt, received_);
    std::vector<Clock::time_point> arrivals;
    arrivals.reserve(count);
    for (std::size_t i = 1; i <= count; ++i) {
        arrivals.push_back(start + time(i));
    }
    if (count > 0) {
        received_ = arrivals.back();
    }
    return arrivals;
}

std::vector<Wire::Clock::time_point> Wire::transmit(Clock::time_point ready,
                                                    const std::vector<std::string>& pieces,
                                                    Clock::duration pause) {
    std::vector<Clock::time_point> arrivals;
    arrivals.reserve(pieces.size());
    Clock::time_point start = std::max(ready, transmitted_);
    for (const std::string& piece : pieces) {
        if (!arrivals.empty()) {
            start = transmitted_ + pause;
        }
        transmitted_ = start + time(piece.size());
        arrivals.push_back(transmitted_);
    }
    return arrivals;
}

} // namespace korv::devsim
