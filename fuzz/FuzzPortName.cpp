// Port-name parsing. An open request accepts a name of at most 6 characters
// whose first three are "COM" in any letter case, with the decimal number
// that follows (up to the first non-digit) from 1 to 255; the port map knows
// only the exact spelling "COM<n>" without leading zeros or anything after.

#include <algorithm>
#include <regex>
#include <string>

#include "Require.h"
#include "serial/PortName.h"

using korv::fuzz::require;

namespace {

int ruleOpenNumber(const std::string& name)
{
    static const std::regex rule("([cC][oO][mM])([0-9]*).*", std::regex::extended);
    std::smatch m;
    if (name.size() > 6 || !std::regex_match(name, m, rule))
        return 0;
    const std::string digits = m[2].str();
    const int n = digits.empty() ? 0 : std::stoi(digits);
    return n >= 1 && n <= 255 ? n : 0;
}

int ruleExactNumber(const std::string& name)
{
    static const std::regex rule("[cC][oO][mM]([1-9][0-9]{0,2})", std::regex::extended);
    std::smatch m;
    if (!std::regex_match(name, m, rule))
        return 0;
    const int n = std::stoi(m[1].str());
    return n <= 255 ? n : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string name(reinterpret_cast<const char*>(data), size);
    // POSIX regular expressions do not match a zero byte; an "x" decides the
    // same, since neither is a letter of "COM" nor a digit.
    std::string spelled = name;
    std::replace(spelled.begin(), spelled.end(), '\0', 'x');
    const int opened = korv::portNumberFromName(name);
    const int exact = korv::exactPortNumber(name);
    require(opened == ruleOpenNumber(spelled), "an open request takes exactly the names of the rule");
    require(exact == ruleExactNumber(spelled), "the port map knows exactly the names COM1 to COM255");
    require(exact == 0 || exact == opened, "an exact name opens the same number");
    if (exact != 0)
        require(korv::portNameOf(exact).size() == name.size() && korv::exactPortNumber(korv::portNameOf(exact)) == exact,
                "an exact name and the reported name of its number differ only in letter case");
    if (opened != 0)
        require(korv::exactPortNumber(korv::portNameOf(opened)) == opened, "a reported name is exact");
    return 0;
}
