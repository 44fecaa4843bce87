#include <gtest/gtest.h>

#include <vector>

#include "app/CommandLine.h"

namespace korv {
namespace {

TEST(CommandLine, OnlyAnExactFirstArgumentAsksForTheInfoBox)
{
    struct Case {
        std::vector<const char*> args;  // after the program's name
        bool info;
    } cases[] = {
        {{"/ih"}, true},
        {{"\"/ih\""}, true},   // enclosing quotes removed
        {{"/IH"}, false},
        {{"/Ih"}, false},
        {{"/ih2"}, false},
        {{"/ih "}, false},
        {{"\"/ih"}, false},
        {{"ih"}, false},
        {{""}, false},
        {{"-x", "/ih"}, false},  // only the first argument counts
        {{"/ih", "more"}, true},
        {{}, false},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"korvantemis-bootloader"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        EXPECT_EQ(asksForInfo(static_cast<int>(argv.size()), argv.data()), c.info);
    }
}

} // namespace
} // namespace korv
