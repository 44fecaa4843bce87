#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "link/Link.h"

namespace korv {

// n inputs, m outputs: a value at any input fires outputs 0 to m-1 in this
// order, each with its own copy.
class FanOut {
public:
    FanOut(int inputs, int outputs);

    Operation in(int k);
    EventOut& out(int k) { return outs_.at(static_cast<std::size_t>(k)); }

    void take(const TData& value) const;

private:
    int inputs_;
    std::vector<EventOut> outs_;
};

// Triggered by any value, which it discards; fires its data input's value
// when that is connected and yields a value, else its fixed value.
class FixedSource {
public:
    explicit FixedSource(TData fixed) : fixed_(std::move(fixed)) {}

    Operation in();
    DataIn& data() { return data_; }
    EventOut& out() { return out_; }

    void trigger() const;

private:
    TData fixed_;
    DataIn data_;
    EventOut out_;
};

// Keeps a copy of the last value stored, chain and all; a read hands out a
// copy (empty before the first store). Stores and reads may come from
// different threads.
class ValueCell {
public:
    Operation store();
    Getter read();

    void put(TData value);
    TData get() const;

private:
    mutable std::mutex mutex_;
    TData value_;
};

// For each value, reads a route number from its data input and fires that
// one route with the value; a number outside the routes fires nothing.
class RoutingSwitch {
public:
    explicit RoutingSwitch(int routes);

    Operation in();
    DataIn& route() { return route_; }
    EventOut& out(int k) { return outs_.at(static_cast<std::size_t>(k)); }

    void take(TData value) const;

private:
    DataIn route_;
    std::vector<EventOut> outs_;
};

// An enclosed graph seen from outside through numbered ports: inputs,
// events, data inputs (read from inside) and value outputs (read from
// outside).
class SubScheme {
public:
    SubScheme(int inputs, int events, int dataInputs, int valueOutputs);
    virtual ~SubScheme() = default;
    SubScheme(const SubScheme&) = delete;
    SubScheme& operator=(const SubScheme&) = delete;

    Operation input(int k);
    EventOut& event(int k) { return events_.at(static_cast<std::size_t>(k)); }
    DataIn& dataInput(int k) { return dataInputs_.at(static_cast<std::size_t>(k)); }
    Getter valueOutput(int k);

    // Delivers a value to input k, as a link would.
    virtual void onInput(int k, const TData& value) = 0;
    virtual TData value(int k) const;

protected:
    const EventOut& eventOut(int k) const { return events_.at(static_cast<std::size_t>(k)); }
    const DataIn& dataIn(int k) const { return dataInputs_.at(static_cast<std::size_t>(k)); }

private:
    int inputs_;
    int valueOutputs_;
    std::vector<EventOut> events_;
    std::vector<DataIn> dataInputs_;
};

} // namespace korv
