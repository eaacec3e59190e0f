#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "zel/platform/TarvoMemBlock.h"

namespace {

// The block and the capacity a caller keeps, freed at the end.
template <typename T>
struct Block {
    T* pointer = nullptr;
    uint64_t capacity = 0;
    ~Block() { std::free(pointer); }
};

}  // namespace

TEST(TarvoMemBlock, FailureLeavesEverythingUnchanged) {
    Block<uint64_t> block;
    ASSERT_TRUE(TarvoMemBlock_Realloc(&block.pointer, &block.capacity, 8));
    for (uint64_t i = 0; i < 8; ++i) block.pointer[i] = i * 3;
    uint64_t* const before = block.pointer;

    const auto expectUnchanged = [&](const char* what) {
        EXPECT_EQ(block.pointer, before) << what;
        EXPECT_EQ(block.capacity, 8u) << what;
        for (uint64_t i = 0; i < 8; ++i) EXPECT_EQ(block.pointer[i], i * 3) << what;
    };

    // 8 * (2^61 + 1) wraps to 8 bytes: a naive multiplication would "succeed".
    EXPECT_FALSE(TarvoMemBlock_Realloc(&block.pointer, &block.capacity, (uint64_t{1} << 61) + 1));
    expectUnchanged("wrapping product");
    EXPECT_FALSE(TarvoMemBlock_ReallocZeroed(&block.pointer, &block.capacity,
                                             std::numeric_limits<uint64_t>::max()));
    expectUnchanged("largest capacity");

    // A byte size past PTRDIFF_MAX is refused before asking the allocator.
    void* untyped = block.pointer;
    uint64_t untypedCapacity = block.capacity;
    const uint64_t pastLimit = uint64_t{std::numeric_limits<ptrdiff_t>::max()} + 1;
    EXPECT_FALSE(TarvoMemBlock_ReallocImp(&untyped, &untypedCapacity, 1, pastLimit));
    EXPECT_FALSE(TarvoMemBlock_ReallocImp(&untyped, &untypedCapacity, 0, 4));  // no element size
    EXPECT_EQ(untyped, before);
    EXPECT_EQ(untypedCapacity, 8u);
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZEL_TEST_SANITIZED_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZEL_TEST_SANITIZED_ALLOCATOR 1
#endif

#ifndef ZEL_TEST_SANITIZED_ALLOCATOR
// (Sanitizer allocators stop the process on an impossible request instead of answering null.)
TEST(TarvoMemBlock, AllocatorRefusalIsAFailure) {
    Block<uint8_t> block;
    ASSERT_TRUE(TarvoMemBlock_Realloc(&block.pointer, &block.capacity, 16));
    uint8_t* const before = block.pointer;
    EXPECT_FALSE(TarvoMemBlock_ReallocZeroed(&block.pointer, &block.capacity, uint64_t{1} << 62));
    EXPECT_EQ(block.pointer, before);
    EXPECT_EQ(block.capacity, 16u);
}
#endif

TEST(TarvoMemBlock, RandomResizesMatchAVectorModel) {
    std::mt19937 random(20240611);
    Block<uint32_t> block;
    std::vector<uint32_t> model;
    for (int step = 0; step < 2000; ++step) {
        const uint64_t newCapacity = random() % 300;
        ASSERT_TRUE(TarvoMemBlock_ReallocZeroed(&block.pointer, &block.capacity, newCapacity));
        model.resize(newCapacity, 0);
        ASSERT_EQ(block.capacity, model.size());
        // Overwrite a few elements so that stale contents would show.
        for (int k = 0; k < 3 && newCapacity > 0; ++k) {
            const size_t at = random() % newCapacity;
            block.pointer[at] = model[at] = static_cast<uint32_t>(random());
        }
        for (size_t i = 0; i < model.size(); ++i) ASSERT_EQ(block.pointer[i], model[i]) << step;
    }
}
