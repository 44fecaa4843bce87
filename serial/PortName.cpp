#include "serial/PortName.h"

namespace korv {
namespace {

constexpr std::size_t kMaxNameLength = 6;
constexpr int kFirstPort = 1;
constexpr int kLastPort = 255;

char asciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

int portNumberFromName(std::string_view name)
{
    if (name.size() > kMaxNameLength || name.size() < 3)
        return 0;
    if (asciiUpper(name[0]) != 'C' || asciiUpper(name[1]) != 'O' || asciiUpper(name[2]) != 'M')
        return 0;
    int number = 0;
    for (std::size_t i = 3; i < name.size() && isDigit(name[i]); ++i)
        number = number * 10 + (name[i] - '0');  // at most 3 digits: no overflow
    return number >= kFirstPort && number <= kLastPort ? number : 0;
}

int exactPortNumber(std::string_view name)
{
    const int number = portNumberFromName(name);
    if (number == 0 || name.substr(3) != std::to_string(number))
        return 0;
    return number;
}

std::string portNameOf(int number)
{
    return "COM" + std::to_string(number);
}

} // namespace korv
