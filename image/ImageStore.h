#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korv {

// The firmware image with a forward-only read position. Reads past the end
// deliver 0 and leave the position where it is.
class ImageStore {
public:
    ImageStore() = default;
    explicit ImageStore(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    // The image embedded in the program, copied into the store's own
    // buffer; an empty store when the program carries none.
    static ImageStore loadEmbedded();

    std::uint8_t readNext();
    std::size_t position() const { return position_; }
    std::size_t size() const { return bytes_.size(); }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

} // namespace korv
