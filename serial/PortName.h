#pragma once

#include <string>
#include <string_view>

namespace korv {

// The check an open request makes of a port name: at most 6 characters, the
// first three "COM" in any ASCII letter case, then decimal digits up to the
// first non-digit. Gives the number when it is 1..255, else 0. "COM3X" passes
// with 3; whether a device answers to that name is the port map's business.
int portNumberFromName(std::string_view name);

// The number when name is exactly "COM<n>" (any letter case, n = 1..255
// without leading zeros, nothing after), else 0: the names the port map knows.
int exactPortNumber(std::string_view name);

// "COM<n>": the name discovery reports for port n.
std::string portNameOf(int number);

} // namespace korv
