#pragma once

namespace korv::cli {

// Readies the standard streams before anything else runs, the way the
// system needs it: a missing standard stream cannot be taken over by the
// serial port, a reader that went away does not end the program with the
// port open, and text for people goes out in the character set that
// terminalTakesUtf8() reports. Returns whether standard output was open.
bool prepareStandardStreams();

} // namespace korv::cli
