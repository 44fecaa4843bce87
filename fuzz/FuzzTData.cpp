// The value type's conversions: text to integer by the link model's rule,
// integers and their text round trip, reals to the nearest integer with
// 32-bit wrap-around, the is-set rule, and chains that copy and move on whole.

#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "Require.h"
#include "link/TData.h"

using korv::TData;
using korv::fuzz::require;

namespace {

// Optional sign, decimal digits up to the first non-digit, no blanks
// skipped, wrap-around modulo 2^32: computed digit by digit in 64 bits.
std::int32_t ruleTextToInt(const std::string& text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    std::uint64_t v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        v = (v * 10 + static_cast<std::uint64_t>(text[i++] - '0')) % 4294967296ull;
    if (negative)
        v = (4294967296ull - v) % 4294967296ull;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

void checkReal(double d);

// Any bit pattern, so that infinities, not-a-number and subnormals come too.
double anyDouble(FuzzedDataProvider& input)
{
    return std::bit_cast<double>(input.ConsumeIntegral<std::uint64_t>());
}

TData someValue(FuzzedDataProvider& input)
{
    switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0: return TData(input.ConsumeIntegral<std::int32_t>());
    case 1: return TData(input.ConsumeRandomLengthString(24));
    case 2: {
        const double d = anyDouble(input);
        checkReal(d);
        // Not-a-number equals nothing, not even its copy.
        return TData(std::isnan(d) ? 0.5 : d);
    }
    case 3: return TData::noValue();
    default: return TData();
    }
}

void checkOne(const TData& v)
{
    require(v.isSet() == !(v.kind() == TData::Kind::Integer && v.toInt() == 0),
            "only the integer 0 is off");
    switch (v.kind()) {
    case TData::Kind::Integer: {
        const std::int32_t n = v.toInt();
        require(v.toText() == std::to_string(n), "an integer's text is its decimal digits");
        require(TData(v.toText()).toInt() == n, "an integer survives its text");
        break;
    }
    case TData::Kind::Text:
        require(v.toInt() == ruleTextToInt(v.toText()), "text to integer follows the rule");
        break;
    case TData::Kind::Real:
        break;  // checked where the real was made, with its number at hand
    default:
        require(v.toInt() == 0 && v.toText().empty(), "empty and no-value give 0 and empty text");
        break;
    }
}

void checkReal(double d)
{
    const TData v(d);
    if (!std::isfinite(d)) {
        require(v.toInt() == 0, "a real that is not finite gives 0");
        return;
    }
    // The nearest integer (ties to even), wrapped modulo 2^32.
    const double r = std::nearbyint(d);
    const double m = std::fmod(r, 4294967296.0);
    const std::int64_t wrapped = static_cast<std::int64_t>(m < 0 ? m + 4294967296.0 : m);
    require(v.toInt() == static_cast<std::int32_t>(static_cast<std::uint32_t>(wrapped)),
            "a real gives its nearest integer, wrapped to 32 bits");
    // Fifteen digits of the very largest reals round up past the largest one.
    const double back = std::strtod(v.toText().c_str(), nullptr);
    const bool roundedPastTheTop = std::isinf(back) && std::fabs(d) >= 1.79769313486231e308;
    require(roundedPastTheTop || std::fabs(back - d) <= std::fabs(d) * 1e-14,
            "a real's text reads back as the same number to 15 digits");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    checkReal(anyDouble(input));
    checkReal(static_cast<double>(input.ConsumeIntegral<std::int64_t>()) + 0.5);

    // A chain of values: a copy equals it, and moving on walks it in order.
    std::vector<TData> values;
    TData chain = someValue(input);
    values.push_back(chain.head());
    while (input.remaining_bytes() > 0 && values.size() < 16) {
        TData next = someValue(input);
        values.push_back(next);
        chain.append(std::move(next));
    }
    for (const TData& v : values)
        checkOne(v);
    TData copy = chain;
    require(copy == chain, "a copy keeps the whole chain");
    for (std::size_t i = 0; i < values.size(); ++i) {
        require(copy.head() == values[i], "the chain moves on in the order it was built");
        require((copy.next() != nullptr) == (i + 1 < values.size()), "the chain ends where it was built to");
        copy.advance();
    }
    require(copy.isEmpty() && copy.next() == nullptr, "moving past the end leaves an empty value");
    return 0;
}
