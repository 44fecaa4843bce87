#include "serial/win32/Win32Error.h"

#include <windows.h>

namespace korv {

SerialError errorFromWin32(unsigned long code)
{
    switch (code) {
    case ERROR_SUCCESS:
        return SerialError::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_NETPATH:
        return SerialError::NotFound;
    // Windows refuses a serial port that another program holds with "access
    // denied"; a port has no permissions of its own to refuse.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return SerialError::Busy;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return SerialError::NotATerminal;
    case ERROR_INVALID_PARAMETER:
        return SerialError::SettingsRefused;
    case ERROR_TIMEOUT:
    case WAIT_TIMEOUT:
    case ERROR_SEM_TIMEOUT:
        return SerialError::TimedOut;
    case ERROR_OPERATION_ABORTED:
        return SerialError::Cancelled;
    case ERROR_NOT_READY:
    case ERROR_BROKEN_PIPE:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_HANDLE_EOF:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return SerialError::Gone;
    default:
        return SerialError::Io;
    }
}

} // namespace korv
