// The serial port channel on a stand-in device: any name asked for, a device
// that may refuse its settings or its queue discard, then bytes arriving in
// any pieces and a write. The device is opened only for a name the port map
// knows, the open result is its number exactly when every step succeeded,
// the received texts carry every byte once and in order, writes reach the
// device unchanged, and close leaves no device behind.

#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Require.h"
#include "link/Delivery.h"
#include "serial/PortName.h"
#include "serial/SerialPortChannel.h"

using korv::SerialError;
using korv::TData;
using korv::fuzz::require;
using namespace std::chrono_literals;

namespace {

// What the stand-in device does and what was done to it.
struct Line {
    SerialError configureGives = SerialError::None;
    SerialError discardGives = SerialError::None;

    std::mutex mutex;
    std::condition_variable changed;
    int alive = 0;
    bool cancelled = false;
    std::string incoming;
    std::string written;
    std::string received;  // what the channel reported as received text
};

class StandIn : public korv::SerialDevice {
public:
    explicit StandIn(Line& line) : line_(line)
    {
        std::lock_guard lock(line_.mutex);
        ++line_.alive;
    }
    ~StandIn() override
    {
        std::lock_guard lock(line_.mutex);
        --line_.alive;
    }
    SerialError configure(const korv::LineSettings&) override { return line_.configureGives; }
    SerialError discardQueues() override { return line_.discardGives; }
    SerialError discardInput() override { return line_.discardGives; }
    Wake waitForInput() override
    {
        std::unique_lock lock(line_.mutex);
        line_.changed.wait(lock, [&] { return line_.cancelled || !line_.incoming.empty(); });
        return line_.cancelled ? Wake::Stopped : Wake::Input;
    }
    std::optional<std::string> readWaiting() override
    {
        std::lock_guard lock(line_.mutex);
        return std::exchange(line_.incoming, {});
    }
    SerialError write(std::string_view bytes, std::chrono::milliseconds) override
    {
        std::lock_guard lock(line_.mutex);
        line_.written += bytes;
        return SerialError::None;
    }
    SerialError drain(std::chrono::milliseconds) override { return SerialError::None; }
    void cancel() override
    {
        std::lock_guard lock(line_.mutex);
        line_.cancelled = true;
        line_.changed.notify_all();
    }

private:
    Line& line_;
};

// The port map's names: exactly COM<n>, any letter case, n without leading zeros.
int mappedNumber(const std::string& name, const std::map<int, std::string>& ports)
{
    if (name.size() < 4 || name.size() > 6 || (name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o'
        || (name[2] | 0x20) != 'm' || name[3] == '0')
        return 0;
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + (name[i] - '0');
    }
    return ports.contains(n) ? n : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    korv::delivery::reset();
    korv::delivery::switchOn();
    FuzzedDataProvider input(data, size);
    const std::map<int, std::string> ports = {{1, "/stand-in/1"}, {3, "/stand-in/3"}, {200, "/stand-in/200"},
                                              {255, "/stand-in/255"}};
    const std::string name = input.ConsumeRandomLengthString(8);
    Line line;
    line.configureGives = input.ConsumeBool() ? SerialError::None : SerialError::SettingsRefused;
    line.discardGives = input.ConsumeIntegralInRange(0, 7) != 0 ? SerialError::None : SerialError::Io;

    std::vector<std::string> opened;
    std::vector<int> results;
    {
        korv::SerialPortChannel channel(korv::PortMap(ports), korv::SerialPortChannel::ReaderWrites::EachAtOnce,
                                        [&](const std::string& path) {
                                            opened.push_back(path);
                                            return korv::OpenedDevice{std::make_unique<StandIn>(line),
                                                                      SerialError::None};
                                        });
        channel.portName.connect([&name] { return TData(name); });
        channel.openResult.connect([&results](TData v) { results.push_back(v.toInt()); });
        channel.receivedText.connect([&line](TData v) {
            std::lock_guard lock(line.mutex);
            line.received += v.toText();
            line.changed.notify_all();
        });
        channel.open();

        const int number = mappedNumber(name, ports);
        require(opened == (number != 0 ? std::vector<std::string>{ports.at(number)} : std::vector<std::string>{}),
                "only a name the port map knows opens a device, the one it stands for");
        const bool opens = number != 0 && line.configureGives == SerialError::None
                           && line.discardGives == SerialError::None;
        require(results == std::vector<int>{opens ? number : 0}, "one open result: the number, or 0 on any failure");
        require(line.alive == (opens ? 1 : 0), "a device that failed a step is closed again at once");
        if (!opens)
            return 0;

        std::string sent;
        while (input.remaining_bytes() > 1) {
            const std::string piece = input.ConsumeRandomLengthString(64);
            sent += piece;
            std::lock_guard lock(line.mutex);
            line.incoming += piece;
            line.changed.notify_all();
        }
        {
            std::unique_lock lock(line.mutex);
            require(line.changed.wait_for(lock, 10s, [&] { return line.received.size() >= sent.size(); }),
                    "every byte that arrives is reported");
            require(line.received == sent, "received texts carry every byte once, in order");
        }
        const std::string text = input.ConsumeRemainingBytesAsString();
        channel.write(TData(text));
        {
            std::lock_guard lock(line.mutex);
            require(line.written == text, "a write reaches the device byte for byte");
        }
        channel.close();
        require(line.alive == 0 && line.cancelled, "close cancels the device and lets it go");
        channel.write(TData("PUSK"));
        std::lock_guard lock(line.mutex);
        require(line.written == text, "nothing is written after close");
    }
    return 0;
}
