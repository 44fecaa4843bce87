#pragma once

namespace korv::delivery {

// Event delivery as a whole: off while the graph is built, on from the
// start-up step, off for good from right after the main window's close event.
// While it is off, firing an event output does nothing and reading a data
// input yields an empty value, whichever thread does it.
enum class State { Building, On, OffForGood };

State state();
bool isOn();
void switchOn();
void switchOffForGood();
// Back to the state at program start: for a test that builds a second graph.
void reset();

} // namespace korv::delivery
