#include <gtest/gtest.h>

#include <csignal>

#include "support/Process.h"
#include "support/Pty.h"

namespace korv {
namespace {

using namespace std::chrono_literals;

// The program as the user starts it, with toolkit options after the first
// argument: they are not looked at. Given to the toolkit, "-platform" with a
// platform that does not exist would end the program at once, and the
// others would mirror the window or change its style.
TEST(WindowProgram, ArgumentsBeyondTheFirstAreNotGivenToTheToolkit)
{
    test::TempDir ports;
    test::Process program(KORV_WINDOW_PROGRAM,
                          {"-x", "-platform", "no-such-platform", "-reverse", "-style", "no-such-style"},
                          {"QT_QPA_PLATFORM=offscreen", "KORVANTEMIS_PORT_MAP=" + ports.path()});
    ASSERT_TRUE(program.started());
    const std::optional<int> ended = program.wait(3s);
    EXPECT_FALSE(ended) << "the program ended with status " << *ended << ":\n" << program.err();
    program.signal(SIGTERM);
    ASSERT_TRUE(program.wait(20s));
    EXPECT_EQ(program.err().find("no-such"), std::string::npos) << program.err();
}

} // namespace
} // namespace korv
