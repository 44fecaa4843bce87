#include "cli/Console.h"

#include <cstdlib>
#include <windows.h>

#include "cli/TerminalText.h"

namespace korv::cli {
namespace {

UINT g_consoleCodePage = 0;  // the console's own output code page, to give back at exit
DWORD g_errorMode = 0;       // standard error's console mode before, likewise

void restoreConsoleCodePage()
{
    SetConsoleOutputCP(g_consoleCodePage);
}

void restoreErrorMode()
{
    SetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), g_errorMode);
}

bool isConsole(DWORD stream)
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(stream), &mode) != 0;
}

} // namespace

bool prepareStandardStreams()
{
    // The console shows the program's UTF-8 as it is; the code page belongs
    // to the console, not to the program, so it is given back at exit.
    if (isConsole(STD_OUTPUT_HANDLE) || isConsole(STD_ERROR_HANDLE)) {
        const UINT previous = GetConsoleOutputCP();
        if (previous != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
            g_consoleCodePage = previous;
            std::atexit(restoreConsoleCodePage);  // NOLINT(cert-err33-c): at worst the console keeps UTF-8
        }
    }
    // The progress line is redrawn in place with a terminal's control
    // sequence, which the console takes once asked to (Windows 10 on).
    DWORD mode = 0;
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (GetConsoleMode(error, &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0
        && SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        g_errorMode = mode;
        std::atexit(restoreErrorMode);  // NOLINT(cert-err33-c): at worst the console keeps the mode
    }
    // The serial port is opened as a handle of its own, never as a C
    // descriptor: a missing standard stream cannot be taken over by it.
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    return output != nullptr && output != INVALID_HANDLE_VALUE;
}

bool terminalTakesUtf8()
{
    // The console has been switched to UTF-8, and files and pipes take it too.
    return true;
}

} // namespace korv::cli
