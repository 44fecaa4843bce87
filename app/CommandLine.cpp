#include "app/CommandLine.h"

namespace korv {

bool asksForInfo(int argc, const char* const* argv)
{
    if (argc < 2 || argv[1] == nullptr)
        return false;
    std::string_view arg(argv[1]);
    if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"')
        arg = arg.substr(1, arg.size() - 2);
    return arg == "/ih";
}

} // namespace korv
