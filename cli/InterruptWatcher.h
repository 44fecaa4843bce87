#pragma once

#include <functional>
#include <memory>

namespace korv::cli {

// Turns Ctrl-C and termination requests into a call on a thread of its own,
// so the program can close the port and say what happened instead of dying
// with the port open and the transfer half done.
class InterruptWatcher {
public:
    // Holds those signals back from the calling thread and every thread it
    // starts afterwards: construct it before any other thread exists.
    InterruptWatcher();
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // From now on each such signal calls onInterrupt on the watcher's thread.
    // A later call replaces it; an empty one stops the calls, and returns
    // only once a call already running has ended.
    void watch(std::function<void()> onInterrupt);
    bool interrupted() const;

private:
    void giveUp();

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace korv::cli
