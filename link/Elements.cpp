#include "link/Elements.h"

#include <stdexcept>

namespace korv {

FanOut::FanOut(int inputs, int outputs) : inputs_(inputs), outs_(static_cast<std::size_t>(outputs))
{
}

Operation FanOut::in(int k)
{
    if (k < 0 || k >= inputs_)
        throw std::out_of_range("fan-out input");
    return [this](TData v) { take(v); };
}

void FanOut::take(const TData& value) const
{
    for (const EventOut& out : outs_)
        out.fire(value);
}

Operation FixedSource::in()
{
    return [this](TData) { trigger(); };
}

void FixedSource::trigger() const
{
    if (data_.isConnected()) {
        TData v = data_.read();
        if (!v.isNoValue()) {
            out_.fire(std::move(v));
            return;
        }
    }
    out_.fire(fixed_);
}

Operation ValueCell::store()
{
    return [this](TData v) { put(std::move(v)); };
}

Getter ValueCell::read()
{
    return [this] { return get(); };
}

void ValueCell::put(TData value)
{
    std::lock_guard lock(mutex_);
    value_ = std::move(value);
}

TData ValueCell::get() const
{
    std::lock_guard lock(mutex_);
    return value_;
}

RoutingSwitch::RoutingSwitch(int routes) : outs_(static_cast<std::size_t>(routes)) {}

Operation RoutingSwitch::in()
{
    return [this](TData v) { take(std::move(v)); };
}

void RoutingSwitch::take(TData value) const
{
    const std::int32_t k = route_.read().toInt();
    if (k >= 0 && static_cast<std::size_t>(k) < outs_.size())
        outs_[static_cast<std::size_t>(k)].fire(std::move(value));
}

SubScheme::SubScheme(int inputs, int events, int dataInputs, int valueOutputs)
    : inputs_(inputs),
      valueOutputs_(valueOutputs),
      events_(static_cast<std::size_t>(events)),
      dataInputs_(static_cast<std::size_t>(dataInputs))
{
}

Operation SubScheme::input(int k)
{
    if (k < 0 || k >= inputs_)
        throw std::out_of_range("sub-scheme input");
    return [this, k](TData v) { onInput(k, v); };
}

Getter SubScheme::valueOutput(int k)
{
    if (k < 0 || k >= valueOutputs_)
        throw std::out_of_range("sub-scheme value output");
    return [this, k] { return value(k); };
}

TData SubScheme::value(int) const
{
    return {};
}

} // namespace korv
