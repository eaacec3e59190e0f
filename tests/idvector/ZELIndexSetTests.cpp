#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "zel/idvector/ZELIndexSet.h"

namespace {

// The set agrees with the model, and its ranges are sorted, disjoint and never touching
// (touching ranges must have been joined).
void expectMatches(const std::set<uint32_t>& model, const ZELIndexSet& set) {
    std::vector<uint32_t> indexes;
    set.enumerateIndexes([&](uint32_t index, bool&) { indexes.push_back(index); });
    ASSERT_EQ(std::vector<uint32_t>(model.begin(), model.end()), indexes);
    ASSERT_EQ(model.size(), set.count());
    const auto& ranges = set.ranges();
    for (size_t n = 0; n < ranges.size(); ++n) {
        ASSERT_LE(ranges[n].first, ranges[n].last);
        if (n > 0) {
            ASSERT_GT(uint64_t{ranges[n].first}, uint64_t{ranges[n - 1].last} + 1);
        }
    }
    uint32_t first = 0;
    uint32_t last = 0;
    ASSERT_EQ(!model.empty(), set.firstIndex(first));
    ASSERT_EQ(!model.empty(), set.lastIndex(last));
    if (!model.empty()) {
        ASSERT_EQ(*model.begin(), first);
        ASSERT_EQ(*model.rbegin(), last);
    }
}

}  // namespace

TEST(ZELIndexSet, TheTopOfTheIndexRange) {
    ZELIndexSet set;
    set.addIndexesInRange(0xFFFFFFFE, 0xFFFFFFFF);
    set.addIndex(0);
    EXPECT_TRUE(set.containsIndex(0xFFFFFFFF));
    EXPECT_EQ(3u, set.count());
    uint32_t buffer[4] = {};
    EXPECT_EQ(3u, set.getIndexes(buffer, 4));
    EXPECT_EQ(0xFFFFFFFFu, buffer[2]);
    set.removeIndexesInRange(0, 0xFFFFFFFF);
    EXPECT_TRUE(set.isEmpty());
}

TEST(ZELIndexSet, MatchesAStdSet) {
    std::mt19937 random(5);
    for (int round = 0; round < 200; ++round) {
        ZELIndexSet set;
        std::set<uint32_t> model;
        const uint32_t limit = round % 2 ? 64 : 5000;
        for (int step = 0; step < 40; ++step) {
            const uint32_t a = random() % limit;
            const uint32_t b = a + random() % 30;
            switch (random() % 6) {
                case 0:
                    set.addIndex(a);
                    model.insert(a);
                    break;
                case 1:
                    set.removeIndex(a);
                    model.erase(a);
                    break;
                case 2:
                    set.addIndexesInRange(a, b);
                    for (uint32_t i = a; i <= b; ++i) model.insert(i);
                    break;
                case 3:
                    set.removeIndexesInRange(a, b);
                    for (uint32_t i = a; i <= b; ++i) model.erase(i);
                    break;
                default: {
                    // Whole sets, built of a few runs.
                    ZELIndexSet other;
                    std::set<uint32_t> otherModel;
                    for (int run = 0; run < 5; ++run) {
                        const uint32_t start = random() % limit;
                        const uint32_t end = start + random() % 20;
                        other.addIndexesInRange(start, end);
                        for (uint32_t i = start; i <= end; ++i) otherModel.insert(i);
                    }
                    if (random() % 2) {
                        set.addIndexes(other);
                        model.insert(otherModel.begin(), otherModel.end());
                    } else {
                        set.removeIndexes(other);
                        for (uint32_t i : otherModel) model.erase(i);
                    }
                    break;
                }
            }
            expectMatches(model, set);
            for (int probe = 0; probe < 8; ++probe) {
                const uint32_t index = random() % (limit + 40);
                ASSERT_EQ(model.count(index) != 0, set.containsIndex(index));
            }
        }
        const ZELIndexSet copy = set;
        EXPECT_TRUE(copy == set);
        set.removeIndexes(set);
        EXPECT_TRUE(set.isEmpty());
        expectMatches(model, copy);
    }
}
