#pragma once

#include <functional>
#include <utility>

#include "link/Delivery.h"
#include "link/TData.h"

namespace korv {

// The target of a link: an element's operation with the input index already
// bound, called with the receiver's own copy of the value.
using Operation = std::function<void(TData)>;
// The getter behind a data input.
using Getter = std::function<TData()>;

// Pushes values: firing calls the linked operation synchronously, so it
// returns only after the target and everything it fires have finished.
class EventOut {
public:
    void connect(Operation target) { target_ = std::move(target); }

    void fire(TData value = {}) const
    {
        if (target_ && delivery::isOn())
            target_(std::move(value));
    }

private:
    Operation target_;
};

// Pulls values: reading calls the linked getter; unconnected yields the
// no-value marker.
class DataIn {
public:
    void connect(Getter getter) { getter_ = std::move(getter); }
    bool isConnected() const { return static_cast<bool>(getter_); }

    TData read() const
    {
        if (!delivery::isOn())
            return {};
        if (!getter_)
            return TData::noValue();
        return getter_();
    }

private:
    Getter getter_;
};

// One connection, written as a line of the wiring.
inline void connect(EventOut& from, Operation to) { from.connect(std::move(to)); }
inline void connect(DataIn& reader, Getter source) { reader.connect(std::move(source)); }

// Where an operation takes the value it needs: its data input when connected
// and yielding a value, else its own default when that is not empty (not 0
// for integers), else the first value of the incoming chain, which moves on.
TData takeValue(const DataIn& input, const TData& ownDefault, TData& incoming);

} // namespace korv
