#include "cli/Console.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <langinfo.h>
#include <strings.h>
#include <unistd.h>

#include "cli/TerminalText.h"

namespace korv::cli {

bool prepareStandardStreams()
{
    // A standard descriptor the program was started without is taken by
    // /dev/null, so that the serial port, opened later, cannot become
    // standard output and receive the program's messages.
    bool outputOpen = true;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        outputOpen = outputOpen && fd != STDOUT_FILENO;
        const int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null != fd && null >= 0)
            close(null);
    }
    // A reader that went away (a closed pipe) must not end the program with the port open.
    std::signal(SIGPIPE, SIG_IGN);  // NOLINT(cert-err33-c): cannot fail for SIGPIPE
    return outputOpen;
}

bool terminalTakesUtf8()
{
    const char* codeset = nl_langinfo(CODESET);
    return codeset != nullptr
           && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
}

} // namespace korv::cli
