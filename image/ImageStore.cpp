#include "image/ImageStore.h"

#include "image/EmbeddedImage.h"

namespace korv {

ImageStore ImageStore::loadEmbedded()
{
    const std::span<const std::uint8_t> image = embeddedImage();
    return ImageStore(std::vector<std::uint8_t>(image.begin(), image.end()));
}

std::uint8_t ImageStore::readNext()
{
    if (position_ >= bytes_.size())
        return 0;
    return bytes_[position_++];
}

} // namespace korv
