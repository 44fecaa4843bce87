#include "update/Transfer.h"

namespace korv {
namespace {

enum Event { Progress = 0, Send = 1, Finished = 2, Failed = 3, CheckText = 4, Judged = 5 };

constexpr const char* kStartCommand = "PUSK";

} // namespace

TClassMultiElementEx_24E8DC0::TClassMultiElementEx_24E8DC0(WindowDispatcher& dispatcher,
                                                           ImageStore image,
                                                           const ReplyTimerFactory& makeTimer)
    : SubScheme(2, 6, 1, 0),
      dispatcher_(dispatcher),
      image_(std::move(image)),
      timer_(makeTimer ? makeTimer(kReplyPeriod, [this] { tick(); }) : nullptr)
{
}

TClassMultiElementEx_24E8DC0::~TClassMultiElementEx_24E8DC0()
{
    release();
}

void TClassMultiElementEx_24E8DC0::release()
{
    if (!timer_)
        return;
    {
        // Taking the turn waits out a tick that is inside it, serving its
        // window requests meanwhile; any later tick finds ticking_ cleared.
        WindowSafeLock turn(dispatcher_, turn_);
        stopTimer();
    }
    timer_.reset();
}

void TClassMultiElementEx_24E8DC0::onInput(int k, const TData& value)
{
    if (k != 0 && k != 1)
        return;
    WindowSafeLock turn(dispatcher_, turn_);
    if (k == 0)
        received(value);
    else
        start();
}

void TClassMultiElementEx_24E8DC0::tick()
{
    const unsigned stopsBefore = stops_.load();
    WindowSafeLock turn(dispatcher_, turn_);
    if (!ticking_ || stops_.load() != stopsBefore)
        return;
    silence_ = silence_ == kSilenceMax ? 0 : silence_ + 1;
    if (silence_ == kTimeoutTicks)
        eventOut(Failed).fire(TData(std::int32_t{kTimeoutTicks}));
}

void TClassMultiElementEx_24E8DC0::start()
{
    sendBlock();
    ticking_ = true;
    if (timer_)
        timer_->start();
}

void TClassMultiElementEx_24E8DC0::stopTimer()
{
    ticking_ = false;
    ++stops_;
    if (timer_)
        timer_->stop();
}

void TClassMultiElementEx_24E8DC0::received(const TData& value)
{
    switch (check_.judge(value.toText(), hex_)) {
    case Verdict::Finished:
        eventOut(Send).fire(TData(kStartCommand));
        eventOut(Finished).fire(TData(hex_));
        stopTimer();
        break;
    case Verdict::Acknowledgement:
        blockCounter_ = blockCounter_ == kBlocks - 1 ? 0 : blockCounter_ + 1;
        eventOut(Progress).fire(TData(std::int32_t{blockCounter_}));
        sendBlock();
        break;
    case Verdict::Rejected:
        eventOut(Failed).fire(TData(hex_));
        break;
    }
    eventOut(Judged).fire(value);
    silence_ = 0;
}

void TClassMultiElementEx_24E8DC0::sendBlock()
{
    for (int i = 0; i < kBlockSize; ++i) {
        const std::uint8_t b = image_.readNext();
        eventOut(Send).fire(TData(std::string(1, static_cast<char>(b))));
        check_.update(b, dataIn(0), eventOut(CheckText));
    }
}

} // namespace korv
