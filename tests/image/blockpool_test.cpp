// Blocks kept between frames: zeroed on reuse, reused by size, bounded, and
// freed when the size changes or at release.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "image/blockpool.h"
#include "image/image.h"

namespace {

constexpr size_t kFrame = size_t(1) << 20;

bool AllZero(const void* block, size_t bytes) {
    const uint8_t* p = static_cast<const uint8_t*>(block);
    for (size_t i = 0; i < bytes; ++i)
        if (p[i]) return false;
    return true;
}

TEST(BlockPool, ReuseBySizeZeroedAndBounded) {
    ReleaseBlocks();
    void* small = TakeZeroedBlock(100);
    GiveBlock(small, 100);
    EXPECT_EQ(KeptBlocks(), 0u) << "small blocks go back to the system";
    void* a = TakeZeroedBlock(kFrame);
    std::memset(a, 0xAB, kFrame);
    GiveBlock(a, kFrame);
    EXPECT_EQ(KeptBytes(), kFrame);
    void* b = TakeZeroedBlock(kFrame);
    EXPECT_EQ(b, a) << "a kept block of the asked size is reused";
    EXPECT_TRUE(AllZero(b, kFrame));
    EXPECT_EQ(KeptBlocks(), 0u);
    GiveBlock(b, kFrame);
    void* other = TakeZeroedBlock(2 * kFrame); // the frame size changed
    EXPECT_EQ(KeptBlocks(), 0u) << "blocks of the old size are freed";
    GiveBlock(other, 2 * kFrame);

    std::vector<void*> blocks;
    for (size_t i = 0; i < kPoolBlocks + 3; ++i)
        blocks.push_back(TakeZeroedBlock(kFrame));
    for (void* block : blocks)
        GiveBlock(block, kFrame);
    EXPECT_EQ(KeptBlocks(), kPoolBlocks);
    EXPECT_LE(KeptBytes(), kPoolBytes);
    ReleaseBlocks();
    EXPECT_EQ(KeptBlocks() + KeptBytes(), 0u);
}

TEST(BlockPool, ImagesTakeZeroedPixelsAfterAFrameWroteThem) {
    ReleaseBlocks();
    for (int frame = 0; frame < 3; ++frame) {
        CImageBaseClass image;
        ASSERT_EQ(image.Create(1024, 512, 3, nullptr), 1);
        EXPECT_TRUE(AllZero(image.pixels, 1024 * 512 * 3)) << "frame " << frame;
        std::memset(image.pixels, 0x5A, 1024 * 512 * 3);
        ASSERT_EQ(image.Resize(512, 512, 0), 1);
        EXPECT_TRUE(AllZero(image.pixels, 512 * 512 * 3)) << "frame " << frame;
        std::memset(image.pixels, 0x33, 512 * 512 * 3);
    }
    EXPECT_EQ(KeptBlocks(), 1u);
    ReleaseBlocks();
}

} // namespace
