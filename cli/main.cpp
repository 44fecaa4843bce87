// korvantemis-flash: the firmware update from a terminal, for production
// lines, scripts and work over SSH.

#include <clocale>
#include <csignal>
#include <cstdio>
#include <string_view>
#include <vector>

#include "cli/ExitCode.h"
#include "cli/FlashCommand.h"
#include "cli/InterruptWatcher.h"
#include "cli/Options.h"

int main(int argc, char** argv)
{
    using namespace korv::cli;
    std::setlocale(LC_ALL, "");
    // A reader that went away (a closed pipe) must not end the program with the port open.
    std::signal(SIGPIPE, SIG_IGN);
    InterruptWatcher interrupts;  // before any other thread

    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const ParsedOptions parsed = parseOptions(args);
    if (!parsed.options) {
        std::fprintf(stderr, "korvantemis-flash: %s\nTry 'korvantemis-flash --help'.\n", parsed.error.c_str());
        return kUsageError;
    }
    switch (parsed.options->action) {
    case Options::Action::Help:
        std::fputs(kUsageText, stdout);
        return kUpdated;
    case Options::Action::List:
        return runList();
    default:
        return runFlash(*parsed.options, interrupts);
    }
}
