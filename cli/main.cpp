// korvantemis-flash: the firmware update from a terminal, for production
// lines, scripts and work over SSH.

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Console.h"
#include "cli/ExitCode.h"
#include "cli/FlashCommand.h"
#include "cli/InterruptWatcher.h"
#include "cli/Options.h"
#include "version/Version.h"

int main(int argc, char** argv)
{
    using namespace korv::cli;
    StandardOutput out(stdout, prepareStandardStreams() ? 0 : EBADF);
    // NOLINTNEXTLINE(concurrency-mt-unsafe,cert-err33-c): one thread yet; else the C locale
    std::setlocale(LC_ALL, "");
    InterruptWatcher interrupts;  // before any other thread

    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const ParsedOptions parsed = parseOptions(args);
    if (!parsed.options) {
        // NOLINTNEXTLINE(cert-err33-c): nowhere to report
        std::fprintf(stderr, "korvantemis-flash: %s\nTry 'korvantemis-flash --help'.\n", parsed.error.c_str());
        return kUsageError;
    }
    switch (parsed.options->action) {
    case Options::Action::Help:
        out.write(kUsageText);
        return out.settle(kUpdated, "the help text is lost");
    case Options::Action::Version:
        out.write(std::string("korvantemis-flash ") + korv::kProjectVersion + "\n");
        return out.settle(kUpdated, "the version is lost");
    case Options::Action::List:
        return runList(out);
    default:
        return runFlash(*parsed.options, interrupts, out);
    }
}
