#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "link/TData.h"

namespace korv {
namespace {

struct ToIntCase {
    TData value;
    std::int32_t expected;
};

class ToInt : public ::testing::TestWithParam<ToIntCase> {};

TEST_P(ToInt, FollowsTheConversionTable)
{
    EXPECT_EQ(GetParam().value.toInt(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, ToInt,
    ::testing::Values(
        ToIntCase{TData(std::int32_t{-17}), -17},
        ToIntCase{TData("123"), 123},
        ToIntCase{TData("-45"), -45},
        ToIntCase{TData("+45"), 45},
        ToIntCase{TData("12ab34"), 12},       // digits up to the first non-digit
        ToIntCase{TData(" 12"), 0},           // no blanks skipped
        ToIntCase{TData("-"), 0},
        ToIntCase{TData(""), 0},
        ToIntCase{TData("abc"), 0},
        ToIntCase{TData("4294967297"), 1},    // 32-bit wrap-around
        ToIntCase{TData("2147483648"), std::numeric_limits<std::int32_t>::min()},
        ToIntCase{TData("-2147483649"), std::numeric_limits<std::int32_t>::max()},
        ToIntCase{TData(std::string("7\0" "9", 3)), 7},
        ToIntCase{TData(2.4), 2},
        ToIntCase{TData(-2.6), -3},
        ToIntCase{TData(2.5), 2},             // nearest, ties to even
        ToIntCase{TData(3.5), 4},
        ToIntCase{TData(4294967298.0), 2},
        ToIntCase{TData(std::nan("")), 0},
        ToIntCase{TData(), 0},
        ToIntCase{TData::noValue(), 0},
        ToIntCase{TData(ByteStream{}), 0}));

struct ToTextCase {
    TData value;
    std::string expected;
};

class ToText : public ::testing::TestWithParam<ToTextCase> {};

TEST_P(ToText, FollowsTheConversionTable)
{
    EXPECT_EQ(GetParam().value.toText(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, ToText,
    ::testing::Values(ToTextCase{TData(std::int32_t{0}), "0"},
                      ToTextCase{TData(std::int32_t{-2147483647 - 1}), "-2147483648"},
                      ToTextCase{TData(std::string("a\0b", 3)), std::string("a\0b", 3)},
                      ToTextCase{TData(1.5), "1.5"},
                      ToTextCase{TData(), ""},
                      ToTextCase{TData::noValue(), ""}));

TEST(IsSet, OnlyTheIntegerZeroIsOff)
{
    EXPECT_FALSE(TData(std::int32_t{0}).isSet());
    EXPECT_TRUE(TData(std::int32_t{1}).isSet());
    EXPECT_TRUE(TData(std::int32_t{-1}).isSet());
    EXPECT_TRUE(TData().isSet());
    EXPECT_TRUE(TData("").isSet());
    EXPECT_TRUE(TData("0").isSet());
    EXPECT_TRUE(TData(0.0).isSet());
}

TEST(Chain, CopiesCarryTheWholeChainAndAdvanceMovesItOn)
{
    TData v("first");
    v.append(TData(std::int32_t{2}));
    v.append(TData("third"));
    TData copy = v;
    v.advance();
    EXPECT_EQ(v.toInt(), 2);
    ASSERT_NE(v.next(), nullptr);
    EXPECT_EQ(v.next()->toText(), "third");
    EXPECT_EQ(copy.toText(), "first");
    ASSERT_NE(copy.next(), nullptr);
    EXPECT_EQ(copy.next()->toInt(), 2);
    EXPECT_EQ(copy.head().next(), nullptr);
    v.advance();
    v.advance();
    EXPECT_TRUE(v.isEmpty());
}

} // namespace
} // namespace korv
