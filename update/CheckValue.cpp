#include "update/CheckValue.h"

#include "update/Ascii.h"

namespace korv {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// The hex rendering of the letters "FZ" that end the finished reply.
constexpr std::string_view kFinishedSuffix = "465A";

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::string valueText(std::uint16_t value)
{
    std::string text(4, '0');
    for (int i = 3; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = kHexDigits[value & 0xFu];
        value = static_cast<std::uint16_t>(value >> 4);
    }
    return text;
}

std::uint16_t parseHexValue(std::string_view text)
{
    if (!text.empty() && text.front() == '$')
        text.remove_prefix(1);
    std::uint32_t v = 0;
    for (char c : text) {
        const int digit = hexDigitValue(c);
        if (digit < 0)
            break;
        v = v * 16u + static_cast<std::uint32_t>(digit);
    }
    return static_cast<std::uint16_t>(v & 0xFFFFu);
}

std::string hexRendering(std::string_view bytes)
{
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        hex.push_back(kHexDigits[b >> 4]);
        hex.push_back(kHexDigits[b & 0xFu]);
    }
    return hex;
}

void CheckValue::update(std::uint8_t b, const DataIn& field, const EventOut& store)
{
    const std::uint16_t c = crc16::step(parseHexValue(field.read().toText()), b);
    std::string text = valueText(c);
    store.fire(TData(text));
    const std::string readBack = field.read().toText();
    expectedFinished_.assign(readBack).append(kFinishedSuffix);
    expectedAck_ = std::move(text);
}

Verdict CheckValue::judge(std::string_view reply, std::string& hex) const
{
    hex = hexRendering(reply);
    if (equalIgnoringCase(hex, expectedFinished_))
        return Verdict::Finished;
    if (equalIgnoringCase(hex, expectedAck_))
        return Verdict::Acknowledgement;
    return Verdict::Rejected;
}

} // namespace korv
