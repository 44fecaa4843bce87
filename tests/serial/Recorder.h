#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "link/Delivery.h"
#include "serial/SerialPortChannel.h"

namespace korv::test {

// Listens to a channel's events and keeps what they carried; the received
// texts come from the reader thread, the rest from the test's own.
class Recorder {
public:
    explicit Recorder(SerialPortChannel& channel)
    {
        channel.openResult.connect([this](TData v) { add(results_, v.toInt()); });
        channel.portFound.connect([this](TData v) { add(found_, v.toText()); });
        channel.receivedText.connect([this](TData v) {
            std::lock_guard lock(mutex_);
            kindsAllText_ = kindsAllText_ && v.kind() == TData::Kind::Text;
            received_ += v.toText();
            ++texts_;
            changed_.notify_all();
        });
    }

    std::vector<int> results() const { return copy(results_); }
    std::vector<std::string> found() const { return copy(found_); }
    std::string received() const { return copy(received_); }
    int texts() const { return copy(texts_); }
    bool allTexts() const { return copy(kindsAllText_); }

    // Waits, within limit, until at least count bytes have been received.
    bool waitForBytes(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return received_.size() >= count; });
    }

private:
    template <typename T, typename V>
    void add(std::vector<T>& to, V value)
    {
        std::lock_guard lock(mutex_);
        to.push_back(value);
    }
    template <typename T>
    T copy(const T& what) const
    {
        std::lock_guard lock(mutex_);
        return what;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> results_;
    std::vector<std::string> found_;
    std::string received_;
    int texts_ = 0;
    bool kindsAllText_ = true;
};

// Event delivery on for the length of a test.
class DeliveryOn {
public:
    DeliveryOn()
    {
        delivery::reset();
        delivery::switchOn();
    }
    ~DeliveryOn() { delivery::reset(); }
    DeliveryOn(const DeliveryOn&) = delete;
    DeliveryOn& operator=(const DeliveryOn&) = delete;
};

} // namespace korv::test
