#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Cp1251ForTest.h"
#include "update/Identification.h"
#include "update/IdentificationTexts.h"

using korv::TData;
using korv::testing::cp1251ToUtf8;
using namespace std::string_literals;

namespace {

const std::string kNoDeviceUtf8 = "На этом порту устройств не найдено.";

struct Fired {
    int event;
    TData value;
    std::int32_t flag;  // the identified flag while the event was handled

    friend bool operator==(const Fired&, const Fired&) = default;
};

std::ostream& operator<<(std::ostream& os, const Fired& f)
{
    return os << "event " << f.event << " [" << f.value.toText() << "] flag " << f.flag;
}

class IdentificationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        korv::delivery::switchOn();
        for (int k = 0; k < 5; ++k)
            ident.event(k).connect([this, k](const TData& v) {
                log.push_back({k, v, ident.value(0).toInt()});
            });
    }

    korv::Identification ident;
    std::vector<Fired> log;
};

TEST(IdentificationTexts, AreWindows1251)
{
    EXPECT_EQ(cp1251ToUtf8(korv::texts::kDeviceLineFormat.str()),
              "Устройство: %1   Текущая версия ПО: %2");
    EXPECT_EQ(cp1251ToUtf8(korv::texts::kNoDevice.str()), kNoDeviceUtf8);
}

TEST_F(IdentificationTest, FailedOpeningFiresRejectedWithoutValueThenNoDeviceMessage)
{
    ident.onInput(0, TData(std::int32_t{0}));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], (Fired{3, TData(), 0}));
    EXPECT_EQ(log[1].event, 1);
    EXPECT_EQ(cp1251ToUtf8(log[1].value.toText()), kNoDeviceUtf8);
}

TEST_F(IdentificationTest, EachSuccessfulOpeningSendsVersOnce)
{
    for (std::int32_t port = 1; port <= 255; ++port) {
        log.clear();
        ident.onInput(0, TData(port));
        ASSERT_EQ(log, (std::vector<Fired>{{0, TData("VERS"), 0}})) << "port " << port;
    }
}

TEST_F(IdentificationTest, PortChoiceIsPassedOnUnchanged)
{
    TData chained("COM3");
    chained.append(TData(std::int32_t{7}));
    ident.onInput(1, chained);
    ident.onInput(1, TData(std::int32_t{0}));
    EXPECT_EQ(log, (std::vector<Fired>{{2, chained, 0}, {2, TData(std::int32_t{0}), 0}}));
}

struct ReplyCase {
    const char* name;
    std::string text;
    bool accepted;
    // Accepted: words 2 and 3 as the device line shows them, and word 1.
    // Rejected: the value of event 3 in word1.
    std::string word1;
    std::string lineUtf8;
};

std::string line(const std::string& w2, const std::string& w3)
{
    return "Устройство: " + w2 + "   Текущая версия ПО: " + w3;
}

const std::vector<ReplyCase> kReplies = {
    {"accepted", "KORVANTEMIS V2 1.05", true, "KORVANTEMIS", line("V2", "1.05")},
    {"lowerCaseToken", "korvantemis V2 1.05", true, "korvantemis", line("V2", "1.05")},
    {"mixedCaseToken", "KorvAntemiS V2 1.05", true, "KorvAntemiS", line("V2", "1.05")},
    {"tokenWithDigit", "KORVANTEMIS1 V2 1.05", false, "KORVANTEMIS1", ""},
    {"tokenPrefixOnly", "KORVANTEMI V2 1.05", false, "KORVANTEMI", ""},
    {"leadingSpace", " KORVANTEMIS V2 1.05", false, "", ""},
    {"lineEndBeforeToken", "\r\nKORVANTEMIS V2 1.05", false, "\r\nKORVANTEMIS", ""},
    {"noSpace", "KORVANTEMIS", false, "KORVANTEMIS", ""},
    {"tokenAndOneSpace", "KORVANTEMIS ", true, "KORVANTEMIS", line("", "")},
    {"fourWords", "KORVANTEMIS V2 1.05 extra", true, "KORVANTEMIS", line("V2", "1.05")},
    {"twoSpaces", "KORVANTEMIS  V2 1.05", true, "KORVANTEMIS", line("", "V2")},
    {"lineEndAfterTwoWords", "KORVANTEMIS V2\r\n", true, "KORVANTEMIS", line("V2\r\n", "")},
    {"lineEndAfterThreeWords", "KORVANTEMIS V2 1.05\r\n", true, "KORVANTEMIS",
     line("V2", "1.05\r\n")},
    {"lineEndAfterFourWords", "KORVANTEMIS V2 1.05 x\r\n", true, "KORVANTEMIS", line("V2", "1.05")},
    {"tabIsNoSeparator", "KORVANTEMIS\tV2 1.05", false, "KORVANTEMIS\tV2", ""},
    {"empty", "", false, "", ""},
    {"zeroByteBeforeFirstSpace", "KORVANTEMIS\0 V2 1.05"s, false, "KORVANTEMIS\0 V2 1.05"s, ""},
    {"zeroByteInsideToken", "KORV\0ANTEMIS V2 1.05"s, false, "KORV\0ANTEMIS V2 1.05"s, ""},
    {"zeroByteInWord2TakesTheRest", "KORVANTEMIS A\0B C"s, true, "KORVANTEMIS", line("A%B C", "")},
    {"bytes01Dropped00AsPercent", "KORVANTEMIS V\x01" "2 1\0.05"s, true, "KORVANTEMIS",
     line("V2", "1%.05")},
    {"percent2InWord2TakesWord3", "KORVANTEMIS a%2b 1.05", true, "KORVANTEMIS",
     line("a1.05b", "1.05")},
    {"percentMarkerBeforeDigitStays", "KORVANTEMIS a%23%1 1.05", true, "KORVANTEMIS",
     line("a%23%1", "1.05")},
    {"markersInWord3Stay", "KORVANTEMIS V2 %1%2", true, "KORVANTEMIS", line("V2", "%1%2")},
    {"bytes01DroppedEverywhere", "KORVANTEMIS \x01V\x01 x\x01\x01y", true, "KORVANTEMIS",
     line("V", "xy")},
    {"zeroThenDigitIsNoMarker", "KORVANTEMIS V2 x\0" "2"s, true, "KORVANTEMIS", line("V2", "x%2")},
};

class IdentificationReplies : public IdentificationTest,
                              public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(IdentificationReplies, JudgedWithEventsInOrder)
{
    const ReplyCase& c = GetParam();
    ident.onInput(2, TData(c.text));
    ASSERT_EQ(log.size(), 2u);
    if (c.accepted) {
        EXPECT_EQ(log[0].event, 1);
        EXPECT_EQ(log[0].flag, 0);
        EXPECT_EQ(cp1251ToUtf8(log[0].value.toText()), c.lineUtf8);
        EXPECT_EQ(log[1], (Fired{4, TData(c.word1), 1}));
        EXPECT_EQ(ident.value(0), TData(std::int32_t{1}));
    } else {
        EXPECT_EQ(log[0], (Fired{3, TData(c.word1), 0}));
        EXPECT_EQ(log[1].event, 1);
        EXPECT_EQ(cp1251ToUtf8(log[1].value.toText()), kNoDeviceUtf8);
        EXPECT_EQ(ident.value(0), TData(std::int32_t{0}));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, IdentificationReplies, ::testing::ValuesIn(kReplies),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(IdentificationTest, StaysReadyAfterRejectionsAndAcceptsALaterReply)
{
    ident.onInput(2, TData("KORVAN"));
    ident.onInput(2, TData("TEMIS V2 1.05"));
    EXPECT_EQ(ident.value(0), TData(std::int32_t{0}));
    log.clear();
    ident.onInput(2, TData("KORVANTEMIS V2 1.05"));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].event, 4);
    EXPECT_EQ(ident.value(0), TData(std::int32_t{1}));
}

TEST_F(IdentificationTest, OpeningsDoNotLookAtTheFlag)
{
    ident.onInput(2, TData("KORVANTEMIS V2 1.05"));
    log.clear();
    ident.onInput(0, TData(std::int32_t{4}));
    EXPECT_EQ(log, (std::vector<Fired>{{0, TData("VERS"), 1}}));
}

TEST_F(IdentificationTest, FlagStartsAtZero)
{
    EXPECT_EQ(ident.value(0), TData(std::int32_t{0}));
    EXPECT_TRUE(log.empty());
}

} // namespace
