#include "link/TData.h"

#include <cmath>
#include <cstdio>

namespace korv {

TData TData::noValue()
{
    TData v;
    v.value_ = NoValueTag{};
    return v;
}

TData::TData(const TData& other)
    : value_(other.value_), next_(other.next_ ? std::make_unique<TData>(*other.next_) : nullptr)
{
}

TData& TData::operator=(const TData& other)
{
    if (this != &other) {
        value_ = other.value_;
        next_ = other.next_ ? std::make_unique<TData>(*other.next_) : nullptr;
    }
    return *this;
}

TData::Kind TData::kind() const
{
    return static_cast<Kind>(value_.index());
}

std::int32_t textToInt(const std::string& text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    std::uint32_t v = 0;  // unsigned: wrap-around is defined
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        v = v * 10u + static_cast<std::uint32_t>(text[i] - '0');
    if (negative)
        v = 0u - v;
    return static_cast<std::int32_t>(v);
}

std::int32_t realToInt(double value)
{
    if (!std::isfinite(value))
        return 0;
    const double r = std::nearbyint(value);
    // Reduce modulo 2^32 before converting, so huge values wrap instead of being undefined.
    const double m = std::fmod(r, 4294967296.0);
    const auto u = static_cast<std::uint32_t>(static_cast<std::int64_t>(m));
    return static_cast<std::int32_t>(u);
}

std::string realToText(double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);  // NOLINT(cert-err33-c): fits: %.15g is at most 24 bytes
    return buf;
}

std::int32_t TData::toInt() const
{
    switch (kind()) {
    case Kind::Integer: return std::get<std::int32_t>(value_);
    case Kind::Text: return textToInt(std::get<std::string>(value_));
    case Kind::Real: return realToInt(std::get<double>(value_));
    default: return 0;
    }
}

std::string TData::toText() const
{
    switch (kind()) {
    case Kind::Integer: return std::to_string(std::get<std::int32_t>(value_));
    case Kind::Text: return std::get<std::string>(value_);
    case Kind::Real: return realToText(std::get<double>(value_));
    default: return {};
    }
}

bool TData::isSet() const
{
    return !(kind() == Kind::Integer && std::get<std::int32_t>(value_) == 0);
}

TData TData::head() const
{
    TData v;
    v.value_ = value_;
    return v;
}

void TData::append(TData value)
{
    TData* last = this;
    while (last->next_)
        last = last->next_.get();
    last->next_ = std::make_unique<TData>(std::move(value));
}

void TData::advance()
{
    if (!next_) {
        value_ = std::monostate{};
        return;
    }
    std::unique_ptr<TData> rest = std::move(next_);
    value_ = std::move(rest->value_);
    next_ = std::move(rest->next_);
}

bool operator==(const TData& a, const TData& b)
{
    if (a.value_ != b.value_)
        return false;
    if (!a.next_ || !b.next_)
        return !a.next_ && !b.next_;
    return *a.next_ == *b.next_;
}

} // namespace korv
