#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "CrcReference.h"
#include "update/CheckValue.h"

using korv::CheckValue;
using korv::TData;
using korv::Verdict;
using korv::testing::acknowledgement;
using korv::testing::finishedReply;
using korv::testing::modbusCrc;
using namespace std::string_literals;

namespace {

static_assert(korv::crc16::kTable[0] == 0x0000);
static_assert(korv::crc16::kTable[1] == 0xC0C1);
static_assert(korv::crc16::kTable[128] == 0xA001);
static_assert(korv::crc16::kTable[255] == 0x4040);

TEST(Crc16Table, AgreesWithTheBitwiseCrcForEverySingleByte)
{
    for (unsigned start : {0x0000u, 0xFFFFu, 0x1234u, 0x8001u})
        for (unsigned b = 0; b < 256; ++b) {
            const std::string one(1, static_cast<char>(b));
            ASSERT_EQ(korv::crc16::step(static_cast<std::uint16_t>(start), static_cast<std::uint8_t>(b)),
                      modbusCrc(one, static_cast<std::uint16_t>(start)))
                << "start " << start << " byte " << b;
        }
}

struct ParseCase {
    std::string text;
    std::uint16_t value;
};

class ParseHex : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseHex, ReadsUpToTheFirstNonHexCharacter)
{
    EXPECT_EQ(korv::parseHexValue(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Table, ParseHex,
                         ::testing::Values(ParseCase{"FFFF", 0xFFFF}, ParseCase{"$FFFF", 0xFFFF},
                                           ParseCase{"ffff", 0xFFFF}, ParseCase{"0A3F", 0x0A3F},
                                           ParseCase{"12G4", 0x12}, ParseCase{"", 0},
                                           ParseCase{"$", 0}, ParseCase{"$$12", 0},
                                           ParseCase{"G1", 0}, ParseCase{" 12", 0},
                                           ParseCase{"12345", 0x2345},
                                           ParseCase{"FFFFFFFFF1", 0xFFF1},
                                           ParseCase{"4b37\r\n", 0x4B37}));

TEST(CheckValueText, FourUpperCaseDigitsWithLeadingZeros)
{
    EXPECT_EQ(korv::valueText(0x0A3F), "0A3F");
    EXPECT_EQ(korv::valueText(0x0000), "0000");
    EXPECT_EQ(korv::valueText(0x000B), "000B");
    EXPECT_EQ(korv::valueText(0xFFFF), "FFFF");
    EXPECT_EQ(korv::valueText(0x4b37), "4B37");
}

TEST(HexRendering, TwoUpperCaseDigitsPerByte)
{
    EXPECT_EQ(korv::hexRendering(""), "");
    EXPECT_EQ(korv::hexRendering(std::string("\x00\xFF\x4B\x0a", 4)), "00FF4B0A");
    EXPECT_EQ(korv::hexRendering("FZ"), "465A");
}

// The check-value field as the window keeps it, logging every access.
struct Field {
    std::string text = "FFFF";
    std::vector<std::string> log;
    korv::DataIn read;
    korv::EventOut store;

    explicit Field(std::string start = "FFFF") : text(std::move(start))
    {
        korv::delivery::switchOn();
        read.connect([this] {
            log.push_back("read " + text);
            return TData(text);
        });
        store.connect([this](TData v) {
            log.push_back("store " + v.toText());
            text = v.toText();
        });
    }

    void feed(CheckValue& check, std::string_view bytes)
    {
        for (char c : bytes)
            check.update(static_cast<std::uint8_t>(c), read, store);
    }
};

Verdict judge(const CheckValue& check, const std::string& reply)
{
    std::string hex;
    return check.judge(reply, hex);
}

TEST(CheckValue, AsciiDigitsFromFFFFGive4B37)
{
    Field field;
    CheckValue check;
    field.feed(check, "123456789");
    EXPECT_EQ(field.text, "4B37");
    EXPECT_EQ(judge(check, "\x4B\x37"), Verdict::Acknowledgement);
    EXPECT_EQ(judge(check, "\x4B\x37" "FZ"), Verdict::Finished);
}

TEST(CheckValue, UpdateReadsStoresAndReadsBackInThisOrder)
{
    Field field;
    // A field that keeps something else than it was given shows where each
    // expected text comes from.
    field.store.connect([&](TData v) {
        field.log.push_back("store " + v.toText());
        field.text = "ABCD";
    });
    CheckValue check;
    check.update('1', field.read, field.store);
    const std::string value = korv::valueText(modbusCrc("1"));
    EXPECT_EQ(field.log, (std::vector<std::string>{"read FFFF", "store " + value, "read ABCD"}));
    EXPECT_EQ(check.expectedAcknowledgement(), value);
    EXPECT_EQ(check.expectedFinished(), "ABCD465A");
}

TEST(CheckValue, ValueBelow1000KeepsItsLeadingZero)
{
    // The field value that one zero byte takes to 0x0A3F.
    std::uint16_t before = 0;
    while (modbusCrc(std::string(1, '\0'), before) != 0x0A3F)
        ++before;
    Field field(korv::valueText(before));
    CheckValue check;
    field.feed(check, std::string(1, '\0'));
    EXPECT_EQ(field.text, "0A3F");
    EXPECT_EQ(judge(check, "\x0A\x3F"), Verdict::Acknowledgement);
    EXPECT_EQ(judge(check, "\x3F\x0A"), Verdict::Rejected);
}

TEST(CheckValue, DollarAndLowerCaseFieldsStartFromFFFF)
{
    for (const char* start : {"$FFFF", "ffff"}) {
        Field field(start);
        CheckValue check;
        field.feed(check, "123456789");
        EXPECT_EQ(field.text, "4B37") << start;
    }
}

TEST(CheckValue, NonHexFieldIsReadUpToItsFirstNonHexCharacter)
{
    Field field("12G4");
    CheckValue check;
    field.feed(check, "A");
    EXPECT_EQ(field.text, korv::valueText(modbusCrc("A", 0x12)));
}

TEST(CheckValue, SwappedBytesAndAsciiHexAreRejected)
{
    Field field;
    CheckValue check;
    field.feed(check, "123456789");
    EXPECT_EQ(judge(check, "\x37\x4B"), Verdict::Rejected);
    EXPECT_EQ(judge(check, "4B37"), Verdict::Rejected);
    EXPECT_EQ(judge(check, "\x4B\x37\x00"s), Verdict::Rejected);
    EXPECT_EQ(judge(check, "\x00\x4B\x37"s), Verdict::Rejected);
    EXPECT_EQ(judge(check, "\x4B"), Verdict::Rejected);
    EXPECT_EQ(judge(check, ""), Verdict::Rejected);
}

TEST(CheckValue, SzAndFzBeforeTheFirstByteAreRejected)
{
    CheckValue check;
    EXPECT_EQ(check.expectedAcknowledgement(), "SZ");
    EXPECT_EQ(check.expectedFinished(), "FZ");
    // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): ends the hex escape
    for (const char* reply : {"SZ", "FZ", "sz", "", "\xFF\xFF", "\xFF\xFF" "FZ"})
        EXPECT_EQ(judge(check, reply), Verdict::Rejected) << reply;
}

TEST(CheckValue, FinishedIsJudgedBeforeAcknowledgementAndCarriesItsRendering)
{
    Field field;
    CheckValue check;
    field.feed(check, "123456789");
    std::string hex;
    EXPECT_EQ(check.judge(finishedReply(0x4B37), hex), Verdict::Finished);
    EXPECT_EQ(hex, "4B37465A");
    EXPECT_EQ(check.judge(acknowledgement(0x4B37), hex), Verdict::Acknowledgement);
    EXPECT_EQ(hex, "4B37");
    EXPECT_EQ(check.judge("\x01\x02", hex), Verdict::Rejected);
    EXPECT_EQ(hex, "0102");
}

TEST(CheckValue, ComparisonIgnoresLetterCaseOfTheFieldText)
{
    Field field;
    field.store.connect([&](TData v) {
        std::string lower = v.toText();
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        field.text = lower;
    });
    CheckValue check;
    field.feed(check, "123456789");
    ASSERT_EQ(field.text, "4b37");
    EXPECT_EQ(check.expectedFinished(), "4b37465A");
    EXPECT_EQ(judge(check, "\x4B\x37" "FZ"), Verdict::Finished);
    EXPECT_EQ(judge(check, "\x4B\x37"), Verdict::Acknowledgement);
}

TEST(CheckValue, RejectionChangesNothing)
{
    Field field;
    CheckValue check;
    field.feed(check, "123456789");
    EXPECT_EQ(judge(check, "xx"), Verdict::Rejected);
    EXPECT_EQ(check.expectedAcknowledgement(), "4B37");
    EXPECT_EQ(check.expectedFinished(), "4B37465A");
    EXPECT_EQ(judge(check, "\x4B\x37"), Verdict::Acknowledgement);
}

TEST(CheckValue, SzCountsAsAcknowledgementOnlyWhenTheValueIsThoseBytes)
{
    // The field value that one byte 0x00 takes to 0x535A ("SZ").
    std::uint16_t before = 0;
    while (modbusCrc(std::string(1, '\0'), before) != 0x535A)
        ++before;
    Field field(korv::valueText(before));
    CheckValue check;
    field.feed(check, std::string(1, '\0'));
    EXPECT_EQ(judge(check, "SZ"), Verdict::Acknowledgement);
    EXPECT_EQ(judge(check, "FZ"), Verdict::Rejected);
}

} // namespace
