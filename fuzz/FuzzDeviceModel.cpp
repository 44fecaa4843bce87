// The emulator's device model fed the same bytes in random cuts and in one
// whole feed: the replies, the events and the state must not depend on how
// the line cut the bytes. Each complete block's value is the CRC-16/MODBUS
// of all image bytes so far, and an unfaulted block is answered with exactly
// that value, high byte first.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Require.h"
#include "devsim/DeviceModel.h"
#include "update/CheckValue.h"

using namespace korv::devsim;
using korv::fuzz::require;

namespace {

DeviceOptions someOptions(FuzzedDataProvider& input)
{
    DeviceOptions options;
    // The first blocks, which short inputs reach, or the last one.
    const int block = input.ConsumeBool() ? input.ConsumeIntegralInRange(0, 3) : kBlockCount - 1;
    switch (input.ConsumeIntegralInRange(0, 9)) {
    case 0: options.wrongCrcAt = block; break;
    case 1: options.silentAt = block; break;
    case 2: options.hangupAt = block; break;
    case 3: options.splitReplies = true; break;
    case 4: options.splitAckAt = block; break;
    case 5: options.junkBeforeAckAt = block; break;
    case 6: options.splitFinished = true; break;
    case 7: options.noIdentity = true; break;
    case 8: options.splitIdentity = true; break;
    default: break;
    }
    return options;
}

// What the program sends, with the protocol's words often enough to matter.
std::string someBytes(FuzzedDataProvider& input)
{
    std::string bytes;
    // At most one whole image's worth in one run, so that runs stay quick
    // and still reach the finished reply.
    bool wholeImage = false;
    while (input.remaining_bytes() > 0 && bytes.size() < kImageSize + 4096) {
        switch (input.ConsumeIntegralInRange(0, 5)) {
        case 0: bytes += "VERS"; break;
        case 1: bytes += "PUSK"; break;
        case 2: bytes += std::string(input.ConsumeIntegralInRange<std::size_t>(1, 600), static_cast<char>(bytes.size())); break;
        case 3:
            if (!wholeImage) {
                wholeImage = true;
                bytes += std::string(kImageSize - input.ConsumeIntegralInRange(0, 600), static_cast<char>(bytes.size()));
            }
            break;
        default: bytes += input.ConsumeRandomLengthString(16); break;
        }
    }
    return bytes;
}

// One feed's results gathered: the replies' writes, the events other than
// the dropped bytes (which a feed reports at its end) and the dropped bytes.
struct Gathered {
    std::vector<std::string> writes;
    std::vector<Event> events;
    std::string unexpected;
    bool hangUp = false;

    void add(const Output& out)
    {
        writes.insert(writes.end(), out.writes.begin(), out.writes.end());
        for (const Event& e : out.events) {
            if (e.kind == EventKind::Unexpected)
                unexpected += e.bytes;
            else
                events.push_back(e);
        }
        hangUp = hangUp || out.hangUp;
    }
};

bool sameEvents(const std::vector<Event>& a, const std::vector<Event>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].kind != b[i].kind || a[i].block != b[i].block || a[i].crc != b[i].crc || a[i].bytes != b[i].bytes)
            return false;
    return true;
}

std::uint16_t tableCrc(std::string_view bytes)
{
    std::uint16_t crc = korv::crc16::kStart;
    for (char c : bytes)
        crc = korv::crc16::step(crc, static_cast<std::uint8_t>(c));
    return crc;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const DeviceOptions options = someOptions(input);
    const std::string cutsSeed = input.ConsumeBytesAsString(16);
    const std::string bytes = someBytes(input);

    DeviceModel whole(options);
    Gathered once;
    once.add(whole.feed(bytes));

    DeviceModel cut(options);
    Gathered pieces;
    FuzzedDataProvider cuts(reinterpret_cast<const std::uint8_t*>(cutsSeed.data()), cutsSeed.size());
    for (std::size_t at = 0; at < bytes.size();) {
        // Once the cuts are used up, the rest goes in one piece.
        const std::size_t left = bytes.size() - at;
        const std::size_t n = cuts.remaining_bytes() > 0 ? std::min(left, cuts.ConsumeIntegralInRange<std::size_t>(0, 700)) : left;
        pieces.add(cut.feed(std::string_view(bytes).substr(at, n)));
        at += n;
    }

    require(pieces.writes == once.writes, "the replies do not depend on the cuts");
    require(sameEvents(pieces.events, once.events), "the events do not depend on the cuts");
    require(pieces.unexpected == once.unexpected, "the dropped bytes do not depend on the cuts");
    require(pieces.hangUp == once.hangUp && cut.stage() == whole.stage() && cut.image() == whole.image()
                && cut.crc() == whole.crc(),
            "the state does not depend on the cuts");

    require(whole.crc() == tableCrc(whole.image()), "the value is the CRC of the image bytes received");
    // The blocks since the last identity request are those of the image kept.
    std::size_t current = 0;
    for (std::size_t i = 0; i < once.events.size(); ++i)
        if (once.events[i].kind == EventKind::Identified)
            current = i;
    std::uint16_t running = korv::crc16::kStart;
    std::size_t summed = 0;  // image bytes in running
    for (std::size_t i = current; i < once.events.size(); ++i) {
        const Event& e = once.events[i];
        if (e.kind != EventKind::BlockReceived)
            continue;
        const auto end = static_cast<std::size_t>(e.block + 1) * kBlockSize;
        for (; summed < end; ++summed)
            running = korv::crc16::step(running, static_cast<std::uint8_t>(whole.image()[summed]));
        require(e.crc == running, "a block's value is the CRC of every byte up to its end");
    }

    // Without a fault the replies are exactly the protocol's.
    if (!options.wrongCrcAt && !options.silentAt && !options.hangupAt && !options.splitReplies && !options.splitAckAt
        && !options.junkBeforeAckAt && !options.splitFinished && !options.noIdentity && !options.splitIdentity) {
        std::vector<std::string> expected;
        for (const Event& e : once.events) {
            if (e.kind == EventKind::Identified)
                expected.push_back("KORVANTEMIS KV-12 8.6");
            if (e.kind == EventKind::BlockReceived)
                expected.push_back(std::string{static_cast<char>(e.crc >> 8), static_cast<char>(e.crc & 0xFF)}
                                   + (e.block == kBlockCount - 1 ? "FZ" : ""));
        }
        require(once.writes == expected, "an unfaulted device answers the identity and each block's value, FZ after the last");
    }
    return 0;
}
