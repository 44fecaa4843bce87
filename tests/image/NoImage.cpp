#include "image/EmbeddedImage.h"

// A program that carries no image.
std::span<const std::uint8_t> korv::embeddedImage()
{
    return {};
}
