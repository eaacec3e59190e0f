#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <utility>

#include "zel/storage/ZELSortedListIDCache.h"

namespace {

// Random adds and removals of (hash, ID) pairs against a std::set of pairs, with few distinct
// hashes so that probe runs grow long and wrap around the table's end; every pair is looked
// up after each step of a sample.
TEST(ZELSortedListIDCacheTest, ModelBasedAddRemoveFind) {
    std::mt19937 random(7);
    ZELSortedListIDCache cache;
    std::set<std::pair<uint32_t, ZELID>> model;
    const auto findAll = [&] {
        for (const auto& [hash, keyID] : model) {
            const ZELID wanted = keyID;
            ASSERT_EQ(cache.findID(hash, [&](ZELID candidate) { return candidate == wanted; }), wanted);
        }
    };
    for (int step = 0; step < 20000; ++step) {
        // Each ID has one hash, as each key has; hashes spread over the 32-bit range, so that
        // only their low bits decide the slot.
        const ZELID keyID = 1 + static_cast<ZELID>(random() % 3000);
        const uint32_t hash = (keyID % 40) * 0x9E3779B1u;
        if (random() % 3 != 0) {
            cache.addID(hash, keyID);
            model.emplace(hash, keyID);
        } else {
            cache.removeID(hash, keyID);
            model.erase({hash, keyID});
            ASSERT_EQ(cache.findID(hash, [&](ZELID candidate) { return candidate == keyID; }), ZELNoID);
        }
        ASSERT_EQ(cache.count(), model.size());
        if (step % 500 == 0) {
            ASSERT_NO_FATAL_FAILURE(findAll()) << "step " << step;
        }
    }
    ASSERT_NO_FATAL_FAILURE(findAll());
    cache.clear();
    EXPECT_EQ(cache.count(), 0u);
    EXPECT_EQ(cache.byteCount(), 0u);
    EXPECT_EQ(cache.findID(0, [](ZELID) { return true; }), ZELNoID);
}

TEST(ZELSortedListIDCacheTest, FindAsksOnlyTheIDsOfTheHash) {
    ZELSortedListIDCache cache;
    cache.addID(5, 10);
    cache.addID(5, 11);
    cache.addID(6, 12);
    cache.addID(5, 10);  // present: not added twice
    EXPECT_EQ(cache.count(), 3u);
    std::set<ZELID> asked;
    EXPECT_EQ(cache.findID(5, [&](ZELID keyID) {
        asked.insert(keyID);
        return false;
    }), ZELNoID);
    EXPECT_EQ(asked, (std::set<ZELID>{10, 11}));
    EXPECT_EQ(cache.findID(6, [](ZELID keyID) { return keyID == 12; }), 12u);
    cache.addID(7, ZELNoID);  // the empty mark is never stored
    EXPECT_EQ(cache.count(), 3u);
}

}  // namespace
