#pragma once

#include <string_view>

namespace korv {

// The first argument after the program's name, enclosing double quotes
// removed, is exactly "/ih": same letters, same case, nothing more.
bool asksForInfo(int argc, const char* const* argv);

} // namespace korv
