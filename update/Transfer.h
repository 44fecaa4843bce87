#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "image/ImageStore.h"
#include "link/Elements.h"
#include "ui/WindowDispatcher.h"
#include "update/CheckValue.h"
#include "update/ReplyTimer.h"

namespace korv {

// Firmware transfer: sends the image in blocks of 256 bytes, each answered by
// the device's running check value, and ends with "PUSK" on the finished reply.
//   input 0: received text    input 1: start
//   data input 0: the check-value field's text
//   event 0: progress  1: send  2: finished  3: failed  4: check-value text
//   event 5: received text, after it has been judged
// Its three operations (start, a received text, a tick) never overlap.
class TClassMultiElementEx_24E8DC0 : public SubScheme {
public:
    static constexpr std::chrono::milliseconds kReplyPeriod{1000};
    static constexpr int kBlockSize = 256;
    static constexpr int kBlocks = 508;
    // The timeout fires when the silence count reaches exactly this.
    static constexpr int kTimeoutTicks = 3;
    // The silence count runs 0 to this and then wraps to 0.
    static constexpr int kSilenceMax = 100;

    TClassMultiElementEx_24E8DC0(WindowDispatcher& dispatcher, ImageStore image,
                                 const ReplyTimerFactory& makeTimer);
    ~TClassMultiElementEx_24E8DC0() override;

    void onInput(int k, const TData& value) override;
    // One tick of the reply timer.
    void tick();
    // Stops the reply timer and waits for its thread, so that no tick runs
    // any more; the owner calls it before releasing what the ticks reach.
    void release();

private:
    void start();
    void stopTimer();
    void received(const TData& value);
    void sendBlock();

    WindowDispatcher& dispatcher_;
    // The turn that start, a received text and a tick take in turns.
    std::mutex turn_;
    ImageStore image_;
    CheckValue check_;
    int blockCounter_ = 0;
    int silence_ = 0;
    // Whether ticks count: cleared when the timer is stopped, so a tick that
    // was already waiting for the turn then is dropped.
    bool ticking_ = false;
    // Counts the stops, so that a tick that was waiting for the turn across a
    // stop and a new start is dropped too instead of counting in the new run.
    std::atomic<unsigned> stops_{0};
    std::string hex_;
    std::unique_ptr<ReplyTimer> timer_;  // last: its ticks use everything above
};

using Transfer = TClassMultiElementEx_24E8DC0;

} // namespace korv
