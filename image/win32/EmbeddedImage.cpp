#include "image/EmbeddedImage.h"

#include <windows.h>

namespace korv {

std::span<const std::uint8_t> embeddedImage()
{
    // The image is the resource "STREAM0" of the private type 100 in the
    // program's own file. A loaded resource stays mapped for the life of the
    // module; freeing it is a no-op on every Windows since 32-bit.
    const HMODULE program = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceA(program, "STREAM0", MAKEINTRESOURCEA(100));
    if (found == nullptr)
        return {};
    const HGLOBAL loaded = LoadResource(program, found);
    if (loaded == nullptr)
        return {};
    const DWORD size = SizeofResource(program, found);
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr)
        return {};
    return {static_cast<const std::uint8_t*>(bytes), size};
}

} // namespace korv
