#pragma once

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

    void onInput(int k, TData value) override;
    TData value(int k) const override;
};

using Identification = TClassMultiElementEx_24E88F0;

} // namespace korv
