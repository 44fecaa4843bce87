#pragma once

#include "image/ImageStore.h"
#include "link/Elements.h"
#include "ui/WindowDispatcher.h"
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
    TClassMultiElementEx_24E8DC0(WindowDispatcher& dispatcher, ImageStore image,
                                 const ReplyTimerFactory& makeTimer);
    ~TClassMultiElementEx_24E8DC0() override;

    void onInput(int k, TData value) override;
    // One tick of the reply timer.
    void tick();
};

using Transfer = TClassMultiElementEx_24E8DC0;

} // namespace korv
