// The transfer's judging of replies during a transfer, driven through its
// inputs: starts, ticks, received texts (right acknowledgements and finished
// replies, near misses and noise) and changes of the check-value field. A
// model written apart from the code says what each stimulus must do.

#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "Require.h"
#include "update/ManualReplyTimer.h"
#include "update/Transfer.h"

using korv::TData;
using korv::fuzz::require;

namespace {

// Three blocks, so that a run of inputs also reads past the end of the image.
constexpr std::size_t kImageSize = 3 * 256;

std::vector<std::uint8_t> image()
{
    std::vector<std::uint8_t> bytes(kImageSize);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 89 + i / 256 + 7);
    return bytes;
}

// CRC-16/MODBUS bit by bit.
std::uint16_t crcStep(std::uint16_t crc, std::uint8_t byte)
{
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 1u) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u) : static_cast<std::uint16_t>(crc >> 1);
    return crc;
}

// The field's text as the rule reads it: one "$" skipped, then hex digits;
// only the last four digits matter to a 16-bit value.
std::uint16_t fieldValue(const std::string& text)
{
    std::size_t i = !text.empty() && text[0] == '$' ? 1 : 0;
    std::string digits;
    while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])))
        digits.push_back(text[i++]);
    if (digits.size() > 4)
        digits = digits.substr(digits.size() - 4);
    return digits.empty() ? 0 : static_cast<std::uint16_t>(std::strtoul(digits.c_str(), nullptr, 16));
}

std::string upperHex(const std::string& bytes)
{
    static const char* digits = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char b : bytes) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 15]);
    }
    return hex;
}

std::string valueBytes(std::uint16_t v)
{
    return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

struct Fired {
    int event;
    TData value;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    korv::delivery::switchOn();
    FuzzedDataProvider input(data, size);

    const std::vector<std::uint8_t> bytes = image();
    korv::WindowDispatcher dispatcher;
    korv::testing::ManualTimers timers;
    std::string field = "FFFF";
    std::string wire;  // image bytes and "PUSK", as written
    std::vector<Fired> fired;
    timers.observe = [&fired](const char* what) { fired.push_back({-1, TData(what)}); };
    korv::Transfer transfer(dispatcher, korv::ImageStore(bytes), timers.factory());
    transfer.dataInput(0).connect([&field] { return TData(field); });
    for (int k = 0; k < 6; ++k)
        transfer.event(k).connect([&, k](TData v) {
            if (k == 1)
                wire += v.toText();
            else if (k == 4)
                field = v.toText();
            if (k != 4 && !(k == 1 && v.toText().size() == 1))
                fired.push_back({k, std::move(v)});
        });

    // The model. The value replies are judged against is the one of the
    // last byte sent; the next byte starts from whatever the field holds.
    std::optional<std::uint16_t> judged;
    std::size_t sent = 0;  // image bytes sent
    int blocks = 0;
    int silence = 0;
    bool running = false;

    const auto expectBlock = [&](std::size_t wireBefore, std::uint16_t crc) {
        require(wire.size() == wireBefore + 256, "a block is 256 single-byte writes");
        for (std::size_t i = 0; i < 256; ++i) {
            const std::uint8_t b = sent < bytes.size() ? bytes[sent] : 0;
            require(static_cast<std::uint8_t>(wire[wireBefore + i]) == b,
                    "blocks carry the image in order, then zero bytes past its end");
            crc = crcStep(crc, b);
            ++sent;
        }
        require(field == upperHex(valueBytes(crc)), "the field holds the running check value");
        judged = crc;
    };

    while (input.remaining_bytes() > 0) {
        fired.clear();
        const std::size_t wireBefore = wire.size();
        const std::uint16_t start = fieldValue(field);
        switch (input.ConsumeIntegralInRange(0, 6)) {
        case 0:
            transfer.onInput(1, TData(std::int32_t{0}));
            expectBlock(wireBefore, start);
            running = true;
            require(fired.size() == 1 && fired[0].event == -1 && fired[0].value == TData("timer start"),
                    "a start starts the timer and fires no event of its own");
            break;
        case 1:
            timers.timer->tick();
            if (running) {
                silence = silence == 100 ? 0 : silence + 1;
            }
            require(fired.size() == (running && silence == 3 ? 1u : 0u)
                        && (fired.empty() || (fired[0].event == 3 && fired[0].value == TData(std::int32_t{3}))),
                    "the third tick of silence, and only it, reports the timeout with 3");
            break;
        case 2:
            field = input.ConsumeRandomLengthString(8);
            break;
        default: {
            const std::uint16_t crc = judged.value_or(0xFFFF);
            std::string reply;
            const int kind = input.ConsumeIntegralInRange(0, 3);
            if (kind == 0)
                reply = valueBytes(crc);
            else if (kind == 1)
                reply = valueBytes(crc) + "FZ";
            else if (kind == 2)
                reply = valueBytes(static_cast<std::uint16_t>(crc ^ input.ConsumeIntegral<std::uint16_t>()))
                        + input.ConsumeRandomLengthString(3);
            else
                reply = input.ConsumeRandomLengthString(6);
            // The device's rule: its value high byte first, "FZ" added when finished.
            const bool finished = judged && reply == valueBytes(crc) + "FZ";
            const bool acknowledged = judged && reply == valueBytes(crc);
            transfer.onInput(0, TData(reply));
            std::size_t next = 0;
            if (finished) {
                require(wire.substr(wireBefore) == "PUSK", "the finished reply writes \"PUSK\" and nothing else");
                require(fired.size() >= 2 && fired[0].event == 1 && fired[1].event == 2
                            && fired[1].value == TData(upperHex(reply)),
                        "the finished reply: \"PUSK\", then success with its rendering");
                next = 2;
                require(fired.size() > next && fired[next].event == -1 && fired[next].value == TData("timer stop"),
                        "the finished reply stops the timer");
                ++next;
                running = false;
            } else if (acknowledged) {
                blocks = blocks == 507 ? 0 : blocks + 1;
                require(!fired.empty() && fired[0].event == 0 && fired[0].value == TData(std::int32_t{blocks}),
                        "an acknowledgement moves the progress on by one, 507 wrapping to 0");
                expectBlock(wireBefore, start);
                next = 1;
            } else {
                require(wire.size() == wireBefore, "a rejected reply writes nothing");
                require(!fired.empty() && fired[0].event == 3 && fired[0].value == TData(upperHex(reply)),
                        "a rejected reply reports failure with its rendering");
                next = 1;
            }
            require(fired.size() == next + 1 && fired[next].event == 5 && fired[next].value == TData(reply),
                    "every reply is handed on unchanged once judged, and nothing else fires");
            silence = 0;
            break;
        }
        }
        require(timers.timer->isRunning() == running, "the timer runs from a start until the finished reply");
    }
    return 0;
}
