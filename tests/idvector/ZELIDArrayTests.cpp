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
    static const uint32_t bounds[] = {4, 40, 400, 2000};
    const uint32_t bound = bounds[random() % 4];
    return random() % bound;
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

// Over records wider than their key, with a comparator that captures.
TEST(ZELBinarySearch, AnswersTheFirstElementNotBeforeTheKey) {
    struct Record {
        int key;
        char payload[9];
    };
    const Record records[] = {{10, "a"}, {20, "b"}, {20, "c"}, {30, "d"}};
    int comparisons = 0;
    auto byKey = [&comparisons](const void* key, const void* element) {
        ++comparisons;
        return *static_cast<const int*>(key) - static_cast<const Record*>(element)->key;
    };
    // key, element count, index, found
    const int cases[][4] = {{20, 4, 1, 1}, {25, 4, 3, 0}, {5, 4, 0, 0}, {31, 4, 4, 0}, {31, 0, 0, 0},
                            {30, 4, 3, 1}};
    for (const auto& [key, count, index, found] : cases) {
        bool wasFound = !found;
        EXPECT_EQ(static_cast<uint32_t>(index),
                  ZELBinarySearch(&key, &wasFound, records, static_cast<uint32_t>(count),
                                  sizeof(Record), byKey))
            << key;
        EXPECT_EQ(found != 0, wasFound) << key;
    }
    EXPECT_GT(comparisons, 0);
}

// What the random arrays never hold: IDs at and above 0x7FFFFFFF, merged like any other, and
// an array intersected with itself in place.
TEST(ZELIDArray, TopOfTheRangeAndSelfIntersection) {
    const ZELID a[] = {1, 0x7FFFFFFF, 0xFFFFFFFF};
    const ZELID b[] = {0x7FFFFFFE, 0x80000000};
    ZELID out[5] = {};
    ASSERT_EQ(5u, ZELIDArray_Union(a, 3, b, 2, out, 5));
    EXPECT_EQ((IDs{1, 0x7FFFFFFE, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF}), IDs(out, out + 5));

    ZELID ids[] = {1, 2, 3};
    EXPECT_EQ(3u, ZELIDArray_IntersectionInPlace(ids, 3, ids, 3));
    EXPECT_EQ((IDs{1, 2, 3}), IDs(ids, ids + 3));
}

TEST(ZELIDArray, SetFunctionsMatchTheStandardAlgorithms) {
    std::mt19937 random(11);
    for (int round = 0; round < 1000; ++round) {
        const ZELID limit = randomLimit(random);
        const IDs a = randomIDs(random, randomSize(random), limit);
        const IDs b = randomIDs(random, randomSize(random), limit);
        const auto na = static_cast<uint32_t>(a.size());
        const auto nb = static_cast<uint32_t>(b.size());

        // Union and intersection into room for the whole answer, then into room for part of it.
        const IDs common = stdIntersection(a, b);
        IDs out(a.size() + b.size() + 1);
        for (const auto& [merge, expected] : {std::pair{&ZELIDArray_Union, stdUnion(a, b)},
                                              std::pair{&ZELIDArray_Intersection, common}}) {
            ASSERT_EQ(expected.size(), merge(a.data(), na, b.data(), nb, out.data(),
                                             static_cast<uint32_t>(out.size())));
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
            const auto room = static_cast<uint32_t>(random() % (expected.size() + 1));
            ASSERT_EQ(room, merge(a.data(), na, b.data(), nb, out.data(), room));
            ASSERT_TRUE(std::equal(expected.begin(), expected.begin() + room, out.begin()));
        }

        IDs inPlace = a;
        inPlace.resize(ZELIDArray_IntersectionInPlace(inPlace.data(), na, b.data(), nb));
        ASSERT_EQ(common, inPlace);

        inPlace = a;
        inPlace.resize(ZELIDArray_DifferenceInPlace(inPlace.data(), na, b.data(), nb));
        ASSERT_EQ(stdDifference(a, b), inPlace);

        // Union in place, with spare room or none, to take both the grown and the in-place paths.
        uint32_t capacity = static_cast<uint32_t>(a.size() + random() % 3 * b.size());
        auto* ids = static_cast<ZELID*>(std::malloc(std::max<size_t>(capacity, 1) * sizeof(ZELID)));
        std::copy(a.begin(), a.end(), ids);
        uint32_t count = na;
        ASSERT_EQ(ZELIDArray_UnionInPlace(&ids, &count, &capacity, b.data(), nb), count);
        ASSERT_LE(count, capacity);
        ASSERT_EQ(stdUnion(a, b), IDs(ids, ids + count));
        std::free(ids);
    }
}
