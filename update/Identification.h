#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "link/Elements.h"

namespace korv {

// Device identification: asks the device who it is ("VERS") and judges each
// received text until one starts with the word "KORVANTEMIS".
//   input 0: open result      input 1: port chosen      input 2: received text
//   value output 0: the identified flag (0, then 1)
//   event 0: send request  1: status text  2: open port  3: rejected  4: identified
class TClassMultiElementEx_24E88F0 : public SubScheme {
public:
    TClassMultiElementEx_24E88F0();

    void onInput(int k, const TData& value) override;
    TData value(int k) const override;

private:
    void openResult(const TData& result) const;
    void received(const std::string& text);

    // Written while a received text is handled, read by the routing of
    // received text: both on the reader thread, but readable from anywhere.
    std::atomic<std::int32_t> identified_{0};
};

using Identification = TClassMultiElementEx_24E88F0;

// The first three words of a reply: each word ends at the first space before
// the first zero byte, and the last word found takes the rest of the text.
struct ReplyWords {
    std::string_view first, second, third;
};
ReplyWords replyWords(std::string_view text);

// The device line: "%1" becomes word 2, then "%2" (also one inside word 2)
// becomes word 3, each only where no decimal digit follows; then bytes 01 are
// dropped and zero bytes shown as "%".
std::string deviceLine(std::string_view word2, std::string_view word3);

} // namespace korv
