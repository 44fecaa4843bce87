#pragma once

#include <cstdint>
#include <span>

namespace korv {

// The firmware image that the program carries, as the build embedded it;
// empty when the program carries none.
std::span<const std::uint8_t> embeddedImage();

} // namespace korv
