#include <gtest/gtest.h>

#include "serial/PortName.h"

namespace korv {
namespace {

struct NameCase {
    const char* name;
    int checked;  // what the open request's name check gives
    int exact;    // what the port map answers to
};

class PortNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortNameTest, CheckAndExactName)
{
    const NameCase& c = GetParam();
    EXPECT_EQ(portNumberFromName(c.name), c.checked) << '"' << c.name << '"';
    EXPECT_EQ(exactPortNumber(c.name), c.exact) << '"' << c.name << '"';
}

INSTANTIATE_TEST_SUITE_P(Names, PortNameTest,
                         ::testing::Values(NameCase{"COM3", 3, 3}, NameCase{"com3", 3, 3},
                                           NameCase{"Com5", 5, 5}, NameCase{"cOm12", 12, 12},
                                           NameCase{"COM1", 1, 1}, NameCase{"COM255", 255, 255},
                                           NameCase{"COM", 0, 0}, NameCase{"COM0", 0, 0},
                                           NameCase{"COM256", 0, 0}, NameCase{"COM1234", 0, 0},
                                           NameCase{"LPT1", 0, 0}, NameCase{"", 0, 0},
                                           NameCase{"CO", 0, 0}, NameCase{"COM 3", 0, 0},
                                           NameCase{"COM3X", 3, 0}, NameCase{"COM03", 3, 0},
                                           NameCase{"COM003", 3, 0}),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& c : n)
                                 c = c == ' ' ? '_' : c;
                             return n.empty() ? std::string("empty") : n;
                         });

TEST(PortNameOf, IsTheNameTheMapAnswersTo)
{
    for (int n : {1, 9, 10, 99, 255}) {
        EXPECT_EQ(exactPortNumber(portNameOf(n)), n);
    }
    EXPECT_EQ(portNameOf(34), "COM34");
}

} // namespace
} // namespace korv
