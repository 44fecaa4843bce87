// korvantemis-flash: the firmware update from a terminal, for production
// lines, scripts and work over SSH.

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "cli/ExitCode.h"
#include "cli/FlashCommand.h"
#include "cli/InterruptWatcher.h"
#include "cli/Options.h"
#include "version/Version.h"

namespace {

// A standard descriptor the program was started without is taken by
// /dev/null, so that the serial port, opened later, cannot become standard
// output and receive the program's messages. Returns whether standard output
// was open.
bool reserveStandardDescriptors()
{
    bool outputOpen = true;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        outputOpen = outputOpen && fd != STDOUT_FILENO;
        const int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null != fd && null >= 0)
            close(null);
    }
    return outputOpen;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace korv::cli;
    StandardOutput out(stdout, reserveStandardDescriptors() ? 0 : EBADF);
    // NOLINTNEXTLINE(concurrency-mt-unsafe,cert-err33-c): one thread yet; else the C locale
    std::setlocale(LC_ALL, "");
    // A reader that went away (a closed pipe) must not end the program with the port open.
    std::signal(SIGPIPE, SIG_IGN);  // NOLINT(cert-err33-c): cannot fail for SIGPIPE
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
