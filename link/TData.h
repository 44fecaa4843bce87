#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace korv {

// A reference to a byte stream carried along a link. Nothing in the program's
// own graph produces one; the kind exists so that every value kind has a home.
using ByteStream = std::shared_ptr<const std::vector<std::uint8_t>>;

// The value that travels along every link. Texts are single-byte strings
// (Windows-1251 for the program's own texts, raw bytes from the device); a
// std::string keeps zero bytes and its own length.
class TData {
public:
    enum class Kind { Empty, Integer, Text, Real, Stream, NoValue };

    TData() = default;
    TData(std::int32_t value) : value_(value) {}
    TData(std::string text) : value_(std::move(text)) {}
    TData(const char* text) : value_(std::string(text)) {}
    TData(double value) : value_(value) {}
    TData(ByteStream stream) : value_(std::move(stream)) {}

    // The marker that a read of an unconnected data input yields.
    static TData noValue();

    TData(const TData& other);
    TData& operator=(const TData& other);
    TData(TData&&) noexcept = default;
    TData& operator=(TData&&) noexcept = default;

    Kind kind() const;
    bool isEmpty() const { return kind() == Kind::Empty; }
    bool isNoValue() const { return kind() == Kind::NoValue; }

    std::int32_t toInt() const;
    std::string toText() const;

    // Off only for the integer 0; every other value, also empty or an empty
    // text, counts as on.
    bool isSet() const;

    // The chain behind the value: almost always absent.
    const TData* next() const { return next_.get(); }
    // This value alone, without the chain behind it.
    TData head() const;
    void append(TData value);
    // Drops the first value and moves the chain up by one.
    void advance();

    friend bool operator==(const TData& a, const TData& b);

private:
    struct NoValueTag {
        friend bool operator==(NoValueTag, NoValueTag) { return true; }
    };
    using Value = std::variant<std::monostate, std::int32_t, std::string, double, ByteStream,
                               NoValueTag>;
    Value value_;
    std::unique_ptr<TData> next_;
};

// The text-to-integer rule of the link model: optional sign, decimal digits up
// to the first non-digit, no blanks skipped, 32-bit wrap-around.
std::int32_t textToInt(const std::string& text);
// The nearest integer, 32-bit wrap-around; not-a-number gives 0.
std::int32_t realToInt(double value);
std::string realToText(double value);

} // namespace korv
