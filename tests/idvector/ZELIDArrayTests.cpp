#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <random>
#include <set>
#include <vector>

#include "zel/idvector/ZELIDArray.h"

namespace {

using IDs = std::vector<ZELID>;

// A normalized array of about `count` IDs below `limit`.
IDs randomIDs(std::mt19937& random, uint32_t count, ZELID limit) {
    std::set<ZELID> ids;
    std::uniform_int_distribution<ZELID> pick(0, limit - 1);
    for (uint32_t n = 0; n < count; ++n) ids.insert(pick(random));
    return IDs(ids.begin(), ids.end());
}

// Sizes that exercise both the linear merges and the galloping paths (one side more than 32
// times longer than the other).
uint32_t randomSize(std::mt19937& random) {
    switch (random() % 4) {
        case 0:
            return random() % 4;
        case 1:
            return random() % 40;
        case 2:
            return random() % 400;
        default:
            return random() % 2000;
    }
}

ZELID randomLimit(std::mt19937& random) {
    static const ZELID limits[] = {8, 64, 1000, 100000, 0x7FFFFFFE};
    return limits[random() % 5];
}

IDs stdUnion(const IDs& a, const IDs& b) {
    IDs out;
    std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

IDs stdIntersection(const IDs& a, const IDs& b) {
    IDs out;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

IDs stdDifference(const IDs& a, const IDs& b) {
    IDs out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

int compareInts(const void* key, const void* element) {
    const int k = *static_cast<const int*>(key);
    const int e = *static_cast<const int*>(element);
    return k < e ? -1 : (k > e ? 1 : 0);
}

}  // namespace

TEST(ZELIDArray, IsNormalized) {
    const ZELID ascending[] = {1, 2, 3};
    const ZELID repeated[] = {1, 1};
    const ZELID descending[] = {2, 1};
    EXPECT_TRUE(ZELIDArray_IsNormalized(nullptr, 0));
    EXPECT_TRUE(ZELIDArray_IsNormalized(descending, 1));
    EXPECT_TRUE(ZELIDArray_IsNormalized(ascending, 3));
    EXPECT_FALSE(ZELIDArray_IsNormalized(repeated, 2));
    EXPECT_FALSE(ZELIDArray_IsNormalized(descending, 2));
}

TEST(ZELIDArray, BinarySearchAnswersTheLowerBound) {
    const ZELID ids[] = {2, 4, 6};
    bool found = true;
    EXPECT_EQ(2u, ZELIDArray_BinarySearch(ids, 3, 5, &found));
    EXPECT_FALSE(found);
    found = true;
    EXPECT_EQ(3u, ZELIDArray_BinarySearch(ids, 3, 7, &found));
    EXPECT_FALSE(found);
    found = true;
    EXPECT_EQ(0u, ZELIDArray_BinarySearch(ids, 3, 1, &found));
    EXPECT_FALSE(found);
    EXPECT_EQ(1u, ZELIDArray_BinarySearch(ids, 3, 4, &found));
    EXPECT_TRUE(found);
    EXPECT_EQ(0u, ZELIDArray_BinarySearch(ids, 3, 2, &found));
    EXPECT_TRUE(found);
    EXPECT_EQ(2u, ZELIDArray_BinarySearch(ids, 3, 6, nullptr));
    found = true;
    EXPECT_EQ(0u, ZELIDArray_BinarySearch(nullptr, 0, 9, &found));
    EXPECT_FALSE(found);
}

TEST(ZELIDArray, BinarySearchInRangeCountsFromTheRangeStart) {
    const ZELID ids[] = {1, 3, 5, 7, 9};
    bool found = false;
    EXPECT_EQ(3u, ZELIDArray_BinarySearchInRange(ids, 2, 3, 7, &found));
    EXPECT_TRUE(found);
    // Keys below the range answer its start, keys above its end.
    EXPECT_EQ(2u, ZELIDArray_BinarySearchInRange(ids, 2, 2, 1, &found));
    EXPECT_FALSE(found);
    EXPECT_EQ(4u, ZELIDArray_BinarySearchInRange(ids, 2, 2, 9, &found));
    EXPECT_FALSE(found);
}

TEST(ZELIDArray, BinarySearchMatchesLowerBoundOnRandomArrays) {
    std::mt19937 random(7);
    for (int round = 0; round < 500; ++round) {
        const IDs ids = randomIDs(random, randomSize(random), randomLimit(random));
        for (int probe = 0; probe < 20; ++probe) {
            const ZELID key = ids.empty() || probe % 2 ? static_cast<ZELID>(random())
                                                       : ids[random() % ids.size()] + probe % 3;
            bool found = false;
            const uint32_t index =
                ZELIDArray_BinarySearch(ids.data(), static_cast<uint32_t>(ids.size()), key, &found);
            const auto expected = std::lower_bound(ids.begin(), ids.end(), key) - ids.begin();
            ASSERT_EQ(expected, index);
            ASSERT_EQ(index < ids.size() && ids[index] == key, found);
        }
    }
}

TEST(ZELBinarySearch, AnswersTheFirstElementNotBeforeTheKey) {
    const int values[] = {10, 20, 20, 30};
    bool found = false;
    int key = 20;
    EXPECT_EQ(1u, ZELBinarySearch(&key, &found, values, 4, sizeof(int), compareInts));
    EXPECT_TRUE(found);
    key = 25;
    EXPECT_EQ(3u, ZELBinarySearch(&key, &found, values, 4, sizeof(int), compareInts));
    EXPECT_FALSE(found);
    key = 5;
    found = true;
    EXPECT_EQ(0u, ZELBinarySearch(&key, &found, values, 4, sizeof(int), compareInts));
    EXPECT_FALSE(found);
    // No element at or after the key: count, found cleared.
    key = 31;
    found = true;
    EXPECT_EQ(4u, ZELBinarySearch(&key, &found, values, 4, sizeof(int), compareInts));
    EXPECT_FALSE(found);
    found = true;
    EXPECT_EQ(0u, ZELBinarySearch(&key, &found, values, 0, sizeof(int), compareInts));
    EXPECT_FALSE(found);
    EXPECT_EQ(4u, ZELBinarySearch(&key, nullptr, values, 4, sizeof(int), compareInts));
}

TEST(ZELBinarySearch, HonoursTheElementWidthAndCapturingComparators) {
    struct Record {
        int key;
        char payload[9];
    };
    const Record records[] = {{1, "a"}, {4, "b"}, {9, "c"}};
    int comparisons = 0;
    auto byKey = [&comparisons](const void* key, const void* element) {
        ++comparisons;
        return *static_cast<const int*>(key) - static_cast<const Record*>(element)->key;
    };
    const int key = 9;
    bool found = false;
    EXPECT_EQ(2u, ZELBinarySearch(&key, &found, records, 3, sizeof(Record), byKey));
    EXPECT_TRUE(found);
    EXPECT_GT(comparisons, 0);
}

TEST(ZELIDArray, UnionHonoursTheOutputLimit) {
    const ZELID a[] = {1, 3, 5};
    const ZELID b[] = {2, 3, 4};
    ZELID out[6] = {};
    EXPECT_EQ(5u, ZELIDArray_Union(a, 3, b, 3, out, 6));
    EXPECT_EQ((IDs{1, 2, 3, 4, 5}), IDs(out, out + 5));
    EXPECT_EQ(3u, ZELIDArray_Union(a, 3, b, 3, out, 3));
    EXPECT_EQ((IDs{1, 2, 3}), IDs(out, out + 3));
    EXPECT_EQ(0u, ZELIDArray_Union(a, 3, b, 3, out, 0));
}

TEST(ZELIDArray, UnionKeepsIDsAtTheTopOfTheRange) {
    // IDs at and above 0x7FFFFFFF are merged like any other.
    const ZELID a[] = {1, 0x7FFFFFFF, 0xFFFFFFFF};
    const ZELID b[] = {0x7FFFFFFE, 0x80000000};
    ZELID out[5] = {};
    ASSERT_EQ(5u, ZELIDArray_Union(a, 3, b, 2, out, 5));
    EXPECT_EQ((IDs{1, 0x7FFFFFFE, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF}), IDs(out, out + 5));
}

TEST(ZELIDArray, IntersectionWithLimitOneIsATest) {
    const ZELID a[] = {1, 5, 9};
    const ZELID b[] = {2, 5, 9};
    ZELID out = 0;
    EXPECT_EQ(1u, ZELIDArray_Intersection(a, 3, b, 3, &out, 1));
    EXPECT_EQ(5u, out);
    EXPECT_EQ(0u, ZELIDArray_Intersection(a, 3, b, 0, &out, 1));
    EXPECT_EQ(0u, ZELIDArray_Intersection(a, 3, b, 3, &out, 0));
}

TEST(ZELIDArray, SetFunctionsMatchTheStandardAlgorithms) {
    std::mt19937 random(11);
    for (int round = 0; round < 1000; ++round) {
        const ZELID limit = randomLimit(random);
        const IDs a = randomIDs(random, randomSize(random), limit);
        const IDs b = randomIDs(random, randomSize(random), limit);
        const auto na = static_cast<uint32_t>(a.size());
        const auto nb = static_cast<uint32_t>(b.size());

        const IDs unionIDs = stdUnion(a, b);
        IDs out(a.size() + b.size() + 1);
        ASSERT_EQ(unionIDs.size(), ZELIDArray_Union(a.data(), na, b.data(), nb, out.data(),
                                                    static_cast<uint32_t>(out.size())));
        ASSERT_TRUE(std::equal(unionIDs.begin(), unionIDs.end(), out.begin()));
        const uint32_t limitCount = static_cast<uint32_t>(random() % (unionIDs.size() + 1));
        ASSERT_EQ(limitCount, ZELIDArray_Union(a.data(), na, b.data(), nb, out.data(), limitCount));
        ASSERT_TRUE(std::equal(unionIDs.begin(), unionIDs.begin() + limitCount, out.begin()));

        const IDs common = stdIntersection(a, b);
        ASSERT_EQ(common.size(), ZELIDArray_Intersection(a.data(), na, b.data(), nb, out.data(),
                                                         static_cast<uint32_t>(out.size())));
        ASSERT_TRUE(std::equal(common.begin(), common.end(), out.begin()));
        const uint32_t commonLimit = static_cast<uint32_t>(random() % (common.size() + 1));
        ASSERT_EQ(commonLimit,
                  ZELIDArray_Intersection(a.data(), na, b.data(), nb, out.data(), commonLimit));
        ASSERT_TRUE(std::equal(common.begin(), common.begin() + commonLimit, out.begin()));

        IDs inPlace = a;
        inPlace.resize(ZELIDArray_IntersectionInPlace(inPlace.data(), na, b.data(), nb));
        ASSERT_EQ(common, inPlace);

        inPlace = a;
        inPlace.resize(ZELIDArray_DifferenceInPlace(inPlace.data(), na, b.data(), nb));
        ASSERT_EQ(stdDifference(a, b), inPlace);
    }
}

TEST(ZELIDArray, IntersectionInPlaceWithItselfKeepsEverything) {
    ZELID ids[] = {1, 2, 3};
    EXPECT_EQ(3u, ZELIDArray_IntersectionInPlace(ids, 3, ids, 3));
    EXPECT_EQ((IDs{1, 2, 3}), IDs(ids, ids + 3));
}

TEST(ZELIDArray, DifferenceWithNothingRemovedKeepsTheArray) {
    ZELID ids[] = {2, 4, 6};
    const ZELID others[] = {1, 3, 5, 7};
    EXPECT_EQ(3u, ZELIDArray_DifferenceInPlace(ids, 3, others, 4));
    EXPECT_EQ(3u, ZELIDArray_DifferenceInPlace(ids, 3, nullptr, 0));
    EXPECT_EQ(0u, ZELIDArray_DifferenceInPlace(nullptr, 0, others, 4));
    EXPECT_EQ((IDs{2, 4, 6}), IDs(ids, ids + 3));
}

// The growable array grows to max(need + need/8, 16 or 128) slots.
TEST(ZELIDArray, UnionInPlaceGrowthRule) {
    ZELID* ids = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
    const ZELID first[] = {10, 20, 30};
    EXPECT_EQ(3u, ZELIDArray_UnionInPlace(&ids, &count, &capacity, first, 3));
    EXPECT_EQ(16u, capacity);

    IDs more;
    for (ZELID id = 31; id < 45; ++id) more.push_back(id);  // need 17
    EXPECT_EQ(17u, ZELIDArray_UnionInPlace(&ids, &count, &capacity, more.data(), 14));
    EXPECT_EQ(128u, capacity);

    // A single ID already present: no growth even when the array is full.
    IDs fill;
    for (ZELID id = 100; id < 211; ++id) fill.push_back(id);  // count 128
    ZELIDArray_UnionInPlace(&ids, &count, &capacity, fill.data(), 111);
    ASSERT_EQ(128u, count);
    ASSERT_EQ(128u, capacity);
    const ZELID present = 150;
    EXPECT_EQ(128u, ZELIDArray_UnionInPlace(&ids, &count, &capacity, &present, 1));
    EXPECT_EQ(128u, capacity);
    // One new ID: need 129 -> 129 + 16.
    const ZELID absent = 5;
    EXPECT_EQ(129u, ZELIDArray_UnionInPlace(&ids, &count, &capacity, &absent, 1));
    EXPECT_EQ(145u, capacity);
    EXPECT_EQ(5u, ids[0]);
    EXPECT_TRUE(ZELIDArray_IsNormalized(ids, count));
    std::free(ids);
}

TEST(ZELIDArray, UnionInPlaceMatchesTheStandardUnion) {
    std::mt19937 random(13);
    for (int round = 0; round < 1000; ++round) {
        const ZELID limit = randomLimit(random);
        const IDs start = randomIDs(random, randomSize(random), limit);
        const IDs add = randomIDs(random, randomSize(random), limit);
        // Start with spare room or none, to take both the grown and the in-place paths.
        uint32_t capacity = static_cast<uint32_t>(start.size() + random() % 3 * add.size());
        auto* ids = static_cast<ZELID*>(std::malloc(std::max<size_t>(capacity, 1) * sizeof(ZELID)));
        std::copy(start.begin(), start.end(), ids);
        uint32_t count = static_cast<uint32_t>(start.size());
        const uint32_t answered = ZELIDArray_UnionInPlace(&ids, &count, &capacity, add.data(),
                                                          static_cast<uint32_t>(add.size()));
        const IDs expected = stdUnion(start, add);
        ASSERT_EQ(expected.size(), answered);
        ASSERT_EQ(expected.size(), count);
        ASSERT_LE(count, capacity);
        ASSERT_EQ(expected, IDs(ids, ids + count));
        std::free(ids);
    }
}
