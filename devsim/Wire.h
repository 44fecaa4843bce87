#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

// The serial line at 38462 bit/s, 8N1, as the emulator's clock for --pace: each
// direction carries one byte after another at line speed, independently of
// the other (full duplex), so a reply can reach the program no sooner than it
// would from a real device.
namespace korv::devsim {

class Wire {
public:
    using Clock = std::chrono::steady_clock;

    // 10 bits a byte: start, 8 data, stop.
    static constexpr double kBytesPerSecond = 38462.0 / 10.0;

    // The line time of `bytes` bytes, rounded up.
    static Clock::duration time(std::size_t bytes);

    // `count` bytes read from the program at `readAt`: the line carries them
    // from when it has finished the bytes before, but not before they were
    // read, so a program slow to send stays slow. Returns when each of them
    // has fully arrived.
    std::vector<Clock::time_point> receive(Clock::time_point readAt, std::size_t count);

    // A reply in pieces: the first starts once the device is `ready` and the
    // line is free, each later one `pause` after the one before has gone out.
    // Returns when each piece has fully arrived at the program, which is when
    // it is to be written.
    std::vector<Clock::time_point> transmit(Clock::time_point ready,
                                            const std::vector<std::string>& pieces,
                                            Clock::duration pause);

private:
    Clock::time_point received_{};    // the end of the last byte from the program
    Clock::time_point transmitted_{}; // the end of the last byte to the program
};

} // namespace korv::devsim
