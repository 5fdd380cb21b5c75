// Blocks kept between frames: reused by size and zeroed, bounded, freed when
// the frame size changes or at release; images of later frames start zeroed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/blockpool.h"
#include "image/image.h"

namespace {

constexpr size_t kFrame = size_t(1) << 20;

bool AllZero(const void* block, size_t bytes) {
    const uint8_t* p = static_cast<const uint8_t*>(block);
    return std::all_of(p, p + bytes, [](uint8_t b) { return b == 0; });
}

TEST(BlockPool, ReuseBySizeZeroedAndBounded) {
    ReleaseBlocks();
    GiveBlock(TakeZeroedBlock(100), 100); // small blocks go back to the system
    EXPECT_EQ(KeptBlocks(), 0u);
    void* a = TakeZeroedBlock(kFrame);
    std::memset(a, 0xAB, kFrame);
    GiveBlock(a, kFrame);
    void* b = TakeZeroedBlock(kFrame); // the kept block, zeroed
    EXPECT_EQ(std::vector<long long>({b == a, AllZero(b, kFrame), (long long)KeptBlocks()}),
              std::vector<long long>({1, 1, 0}));
    GiveBlock(b, kFrame);
    GiveBlock(TakeZeroedBlock(2 * kFrame), 2 * kFrame); // a new frame size frees the old
    EXPECT_EQ(KeptBytes(), 2 * kFrame);
    std::vector<void*> blocks;
    for (size_t i = 0; i < kPoolBlocks + 3; ++i)
        blocks.push_back(TakeZeroedBlock(kFrame));
    for (void* block : blocks)
        GiveBlock(block, kFrame);
    EXPECT_EQ(KeptBlocks(), kPoolBlocks);
    EXPECT_LE(KeptBytes(), kPoolBytes);
    for (int frame = 0; frame < 3; ++frame) {
        CImageBaseClass image;
        ASSERT_EQ(image.Create(1024, 1024, 1, nullptr), 1);
        EXPECT_TRUE(AllZero(image.pixels, kFrame)) << "frame " << frame;
        std::memset(image.pixels, 0x5A, kFrame);
    }
    ReleaseBlocks();
    EXPECT_EQ(KeptBlocks() + KeptBytes(), 0u);
}

} // namespace
