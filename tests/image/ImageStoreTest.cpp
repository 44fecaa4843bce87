#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include "image/ImageStore.h"

namespace {

constexpr std::size_t kImageSize = 130048;

std::vector<std::uint8_t> readFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(ImageStore, EmbeddedImageEqualsTheFirmwareFile)
{
    const std::vector<std::uint8_t> file = readFile(KORV_FIRMWARE_FILE);
    ASSERT_EQ(file.size(), kImageSize);

    korv::ImageStore store = korv::ImageStore::loadEmbedded();
    ASSERT_EQ(store.size(), kImageSize);
    std::vector<std::uint8_t> read;
    for (std::size_t i = 0; i < kImageSize; ++i)
        read.push_back(store.readNext());
    EXPECT_EQ(read, file);
}

TEST(ImageStore, ReadsInOrderThenZeroWithoutMoving)
{
    std::vector<std::uint8_t> bytes(kImageSize);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 256) | 1u);  // never 0
    korv::ImageStore store(bytes);

    for (std::size_t i = 0; i < kImageSize; ++i) {
        ASSERT_EQ(store.position(), i);
        ASSERT_EQ(store.readNext(), bytes[i]) << "offset " << i;
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(store.readNext(), 0);
        EXPECT_EQ(store.position(), kImageSize);
    }
}

TEST(ImageStore, EmptyStoreReadsZeroAndStaysAtZero)
{
    korv::ImageStore store;
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(store.readNext(), 0);
    EXPECT_EQ(store.position(), 0u);
    EXPECT_EQ(store.size(), 0u);
}
