#include "link/Delivery.h"

#include <atomic>

namespace korv::delivery {
namespace {
std::atomic<State> g_state{State::Building};
}

State state() { return g_state.load(std::memory_order_acquire); }
bool isOn() { return state() == State::On; }

void switchOn()
{
    State expected = State::Building;
    g_state.compare_exchange_strong(expected, State::On, std::memory_order_acq_rel);
}

void switchOffForGood() { g_state.store(State::OffForGood, std::memory_order_release); }
void reset() { g_state.store(State::Building, std::memory_order_release); }

} // namespace korv::delivery
