// Times the per-byte path of a whole image: one write, one check-value update
// with its field read, store and read back, against trivial targets.
// A benchmark, not a test: it prints and asserts nothing.
#include <chrono>
#include <cstdio>
#include <string>

#include "update/Transfer.h"

int main()
{
    using Clock = std::chrono::steady_clock;
    korv::delivery::switchOn();
    korv::WindowDispatcher dispatcher;
    korv::Transfer transfer(dispatcher, korv::ImageStore(std::vector<std::uint8_t>(130048, 0xA5)),
                            [](std::chrono::milliseconds, korv::ReplyTimer::Tick) { return nullptr; });
    std::string field = "FFFF";
    std::size_t written = 0;
    transfer.dataInput(0).connect([&] { return korv::TData(field); });
    transfer.event(4).connect([&](korv::TData v) { field = v.toText(); });
    transfer.event(1).connect([&](korv::TData v) { written += v.toText().size(); });

    for (int run = 0; run < 5; ++run) {
        written = 0;
        const auto begin = Clock::now();
        for (int block = 0; block < 508; ++block)
            transfer.onInput(1, korv::TData(std::int32_t{0}));
        const auto took = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
        std::printf("%zu per-byte steps: %.1f ms (%.0f ns per byte)\n", written, took,
                    took * 1e6 / static_cast<double>(written));
    }
}
