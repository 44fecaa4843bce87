// The port map read from a directory of odd entries (files, directories,
// links that lead nowhere, names in any case, with leading zeros or trailing
// bytes) and from a sysfs tree of tty entries with and without a device link.
// Every name COM<n> that is exactly spelled is mapped, the first spelling in
// byte order winning, and nothing else; a kernel name gets the number of its
// kind's block or none.

#include <fuzzer/FuzzedDataProvider.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "Require.h"
#include "serial/PortMap.h"
#include "serial/PortName.h"

namespace fs = std::filesystem;
using korv::fuzz::require;

namespace {

// Made once per run and removed at its end.
struct Scratch {
    Scratch()
    {
        std::string pattern = (fs::temp_directory_path() / "korv-fuzz-portmap-XXXXXX").string();
        require(mkdtemp(pattern.data()) != nullptr, "a scratch directory can be made");
        path = pattern;
    }
    ~Scratch()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

const fs::path& scratch()
{
    static const Scratch made;
    return made.path;
}

// A file name: no "/" and no zero byte, not "." or "..".
std::string entryName(FuzzedDataProvider& input)
{
    static const std::string pieces[] = {"COM", "com", "Com", "cOM", "tty", "ttyS", "ttyUSB", "ttyACM",
                                         "ttyAMA", "ttyXRUSB", "ttymxc", "ttySC", "ttyTHS", "ttyMSM"};
    std::string name = pieces[input.ConsumeIntegralInRange<std::size_t>(0, std::size(pieces) - 1)];
    for (char c : input.ConsumeRandomLengthString(5))
        if (c != '/' && c != '\0')
            name.push_back(c);
    return name;
}

// Kernel names by the README's table, worked out apart from the code.
int ruleKernelNumber(const std::string& name)
{
    struct Block { const char* prefix; int first; int size; };
    static const Block blocks[] = {{"ttyS", 1, 32}, {"ttyUSB", 33, 32}, {"ttyACM", 65, 32},
                                   {"ttyAMA", 97, 16}, {"ttyXRUSB", 113, 16}, {"ttymxc", 129, 16},
                                   {"ttySC", 145, 16}, {"ttyTHS", 161, 16}, {"ttyMSM", 177, 16}};
    for (const Block& block : blocks) {
        const std::string prefix = block.prefix;
        if (name.rfind(prefix, 0) != 0)
            continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos
            || (digits.size() > 1 && digits[0] == '0'))
            continue;
        const int k = std::stoi(digits);
        if (k < block.size)
            return block.first + k;
    }
    return 0;
}

void make(const fs::path& at, int kind)
{
    std::error_code ec;
    switch (kind) {
    case 0: std::ofstream(at).put('x'); break;
    case 1: fs::create_directory(at, ec); break;
    case 2: fs::create_symlink("/nonexistent/korv-fuzz", at, ec); break;
    default: fs::create_symlink("/dev/null", at, ec); break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const fs::path ports = scratch() / "ports";
    const fs::path sysfs = scratch() / "sysfs";
    std::error_code ec;
    fs::remove_all(ports, ec);
    fs::remove_all(sysfs, ec);
    fs::create_directories(ports);
    fs::create_directories(sysfs);

    std::set<std::string> portNames;
    std::set<std::string> withDevice;
    std::set<std::string> sysfsNames;
    for (int i = 0; i < 12 && input.remaining_bytes() > 0; ++i) {
        const std::string name = entryName(input);
        if (name == "." || name == ".." || name.size() > 200)
            continue;
        if (input.ConsumeBool()) {
            if (portNames.insert(name).second)
                make(ports / name, input.ConsumeIntegralInRange(0, 3));
        } else if (sysfsNames.insert(name).second) {
            fs::create_directory(sysfs / name, ec);
            if (input.ConsumeBool()) {
                make(sysfs / name / "device", input.ConsumeIntegralInRange(1, 3));
                withDevice.insert(name);
            }
        }
    }

    std::map<int, std::string> expected;
    for (const std::string& name : portNames)  // a set: byte order
        if (const int n = korv::exactPortNumber(name))
            expected.emplace(n, (ports / name).string());
    const korv::PortMap fromDirectory = korv::PortMap::fromDirectory(ports.string());
    require(fromDirectory.entries() == expected,
            "the port directory maps every exact COM<n> entry, the first spelling winning, and nothing else");
    for (const std::string& name : portNames) {
        const auto device = fromDirectory.deviceFor(name);
        const int n = korv::exactPortNumber(name);
        require(n == 0 ? !device : device == expected.at(n), "a port name stands for its entry's path");
    }

    std::map<int, std::string> kernel;
    for (const std::string& name : withDevice)
        if (const int n = ruleKernelNumber(name))
            kernel.emplace(n, "/dev/" + name);
    require(korv::PortMap::fromSysfs(sysfs.string()).entries() == kernel,
            "sysfs ttys with a device link get their block's number, the others none");

    require(korv::PortMap::fromDirectory((scratch() / "missing").string()).entries().empty(),
            "a missing directory gives an empty map");
    return 0;
}
