#pragma once

#include <cstdio>
#include <cstdlib>

namespace korv::fuzz {

// A broken rule is a finding: it ends the run the way a crash does, so that
// libFuzzer keeps the input that showed it.
inline void require(bool holds, const char* rule)
{
    if (!holds) {
        std::fprintf(stderr, "rule broken: %s\n", rule);  // NOLINT(cert-err33-c): the abort says enough
        std::abort();
    }
}

} // namespace korv::fuzz
