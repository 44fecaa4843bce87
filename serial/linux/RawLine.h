#pragma once

// Kept apart from the rest of the backend: the termios2 structure that sets
// any bit rate exactly comes from <asm/termbits.h>, which cannot be included
// beside <termios.h>.

namespace korv::linux_tty {

// Puts the tty on fd into raw 8N1 at exactly bitRate bit/s with no flow
// control and reads that cannot wait, then reads the settings back. Returns 0,
// or an errno value (EINVAL when the read-back differs from what was asked).
int applyRawLine(int fd, unsigned bitRate);

} // namespace korv::linux_tty
