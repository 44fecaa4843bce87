#include <gtest/gtest.h>

#include "image/ImageStore.h"

TEST(ImageStoreWithoutResource, LoadsAnEmptyStoreThatReadsZero)
{
    korv::ImageStore store = korv::ImageStore::loadEmbedded();
    EXPECT_EQ(store.size(), 0u);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(store.readNext(), 0);
    EXPECT_EQ(store.position(), 0u);
}
