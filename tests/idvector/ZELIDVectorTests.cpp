#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

#include "zel/idvector/ZELIDVector.h"
#include "zel/idvector/ZELIDVector_BitBlock.h"
#include "zel/idvector/ZELIDVector_CArray.h"
#include "zel/idvector/ZELIDVector_IndexSet.h"
#include "zel/idvector/ZELMutableIDVector.h"
#include "zel/platform/ZELException.h"

namespace {

using IDs = std::vector<ZELID>;

IDs idsOf(const ZELIDVector& vector) {
    IDs ids;
    vector.enumerateIDsUsingBlock([&](ZELID id, bool&) { ids.push_back(id); });
    return ids;
}

IDs range(ZELID first, ZELID last) {
    IDs ids;
    for (ZELID id = first; id <= last; ++id) ids.push_back(id);
    return ids;
}

std::shared_ptr<ZELIDVector> arrayVector(const IDs& ids) {
    return ZELIDVector::vectorWithIDs(ids.data(), static_cast<uint32_t>(ids.size()));
}

}  // namespace

// Each way of making a vector answers the representation of the representation table.
TEST(ZELIDVectorRepresentation, EachOperationAnswersItsForm) {
    const ZELID ids[] = {1, 2};
    const auto array = arrayVector({1, 2, 3});
    const auto indexed = ZELIDVector_IndexSet::vectorWithIDs(ids, 2);
    const auto block = ZELIDVector_BitBlock::vectorWithIDs(ids, 2);
    const auto none = arrayVector({5});
    const std::pair<std::shared_ptr<ZELIDVector>, const char*> rows[] = {
        {ZELIDVector::vector(), "ZELIDVector_CArray"},
        {ZELIDVector::vectorWithIDs(ids, 2), "ZELIDVector_CArray"},
        {ZELIDVector::vectorWithCapacity(9), "ZELIDVector_CArray"},
        {ZELMutableIDVector::vectorWithID(3), "ZELMutableIDVector_CArray"},
        {ZELMutableIDVector::vector(), "ZELMutableIDVector_CArray"},
        {block, "ZELIDVector_BitBlock"},
        {ZELIDVector_IndexSet::vectorWithID(4), "ZELIDVector_IndexSet"},
        {ZELMutableIDVector_IndexSet::vectorWithIDs(ids, 2), "ZELMutableIDVector_IndexSet"},
        // Copies.
        {array->mutableCopy(), "ZELMutableIDVector_CArray"},
        {indexed->copy(), "ZELIDVector_IndexSet"},
        {indexed->mutableCopy(), "ZELMutableIDVector_IndexSet"},
        {ZELMutableIDVector_IndexSet::vectorWithIDs(ids, 2)->copy(), "ZELIDVector_IndexSet"},
        {block->copy(), "ZELIDVector_CArray"},
        // Set algebra: a difference is always a new mutable vector.
        {array->vectorBySubtracting(*none), "ZELMutableIDVector_CArray"},
        {block->vectorBySubtracting(*none), "ZELIDVector_BitBlock"},
        {indexed->vectorBySubtracting(*none), "ZELMutableIDVector_IndexSet"},
        {array->vectorByIntersection(*ZELIDVector_BitBlock::vector()), "ZELIDVector_CArray"},
        {array->vectorByIntersection(*arrayVector({2, 3, 4})), "ZELIDVector_CArray"},
        {ZELIDVector::unionOfVectors({array, arrayVector({3, 4}), arrayVector({3, 9})}),
         "ZELIDVector_CArray"},
        // A few IDs spread over a wide range.
        {ZELIDVector::unionOfVectors({arrayVector({5, 0x40000000}), arrayVector({7, 0x7FFFFFFE}),
                                      ZELIDVector_IndexSet::vectorWithID(0x50000000),
                                      ZELIDVector::vector()}),
         "ZELIDVector_CArray"},
    };
    for (size_t row = 0; row < std::size(rows); ++row) {
        EXPECT_EQ(rows[row].second, rows[row].first->className()) << "row " << row;
    }
    EXPECT_NE(static_cast<const ZELIDVector*>(array.get()),
              array->vectorBySubtracting(*none).get());
    const auto intersection =
        ZELIDVector::intersectionOfVectors({array, arrayVector({3, 4}), arrayVector({3, 9})});
    EXPECT_TRUE(intersection->isMutable());
    EXPECT_EQ((IDs{3}), idsOf(*intersection));
}

// Operations whose answer may be an operand itself.
TEST(ZELIDVectorRepresentation, SharedAnswers) {
    const auto vector = arrayVector({1, 2, 3});
    EXPECT_EQ(vector.get(), vector->copy().get());  // an immutable array is shared
    EXPECT_NE(vector->directIDs(), vector->mutableCopy()->directIDs());
    EXPECT_EQ(vector.get(), ZELIDVector::unionOfVectors({vector}).get());
    EXPECT_EQ(vector.get(), ZELIDVector::intersectionOfVectors({vector}).get());
    EXPECT_TRUE(ZELIDVector::unionOfVectors({})->isEmpty());
    EXPECT_TRUE(ZELIDVector::intersectionOfVectors({})->isEmpty());
    // A union with an empty operand answers the other operand.
    const auto empty = ZELIDVector_BitBlock::vector();
    EXPECT_EQ(vector.get(), vector->vectorByUnion(*empty).get());
    EXPECT_EQ(vector.get(), empty->vectorByUnion(*vector).get());
    const auto emptyArray = ZELIDVector::vector();
    EXPECT_EQ(emptyArray.get(), emptyArray->vectorByUnion(*empty).get());

    // A bit block's mutable copy is a block of the same size that changes alone.
    const ZELID ids[] = {3, 4, 5, 90};
    const auto block = ZELIDVector_BitBlock::vectorWithIDs(ids, 4);
    const auto blockCopy = std::static_pointer_cast<ZELIDVector_BitBlock>(block->mutableCopy());
    EXPECT_EQ(block->bitblockScalarCount(), blockCopy->bitblockScalarCount());
    blockCopy->removeID(4);
    EXPECT_TRUE(block->containsID(4));
}

TEST(ZELIDVectorConstruction, NewWithIDsTakesTheArrayOver) {
    auto* ids = static_cast<ZELID*>(std::malloc(3 * sizeof(ZELID)));
    std::copy_n(IDs{4, 5, 6}.begin(), 3, ids);
    const auto vector = ZELIDVector::newWithIDs(ids, 3, true);
    EXPECT_EQ(ids, vector->directIDs());
    EXPECT_EQ((IDs{4, 5, 6}), idsOf(*vector));

    // Handed-over arrays of the other forms are freed once read (the sanitizer build checks
    // that nothing leaks).
    auto* moreIDs = static_cast<ZELID*>(std::malloc(2 * sizeof(ZELID)));
    std::copy_n(IDs{1, 900}.begin(), 2, moreIDs);
    EXPECT_EQ((IDs{1, 900}), idsOf(*ZELIDVector_BitBlock::newWithIDs(moreIDs, 2, true)));
    auto* emptyIDs = static_cast<ZELID*>(std::malloc(sizeof(ZELID)));
    EXPECT_TRUE(ZELIDVector::newWithIDs(emptyIDs, 0, true)->isEmpty());

    ZELID copied[] = {1, 2, 3};
    const auto copy = ZELIDVector::newWithIDs(copied, 3, false);
    copied[0] = 99;
    EXPECT_EQ((IDs{1, 2, 3}), idsOf(*copy));
}

TEST(ZELIDVectorQueries, EmptyVectorsAreEqualWhateverTheirRepresentation) {
    const std::vector<std::shared_ptr<ZELIDVector>> empties = {
        ZELIDVector::vector(), ZELMutableIDVector::vector(), ZELIDVector_IndexSet::vector(),
        ZELMutableIDVector_IndexSet::vector(), ZELIDVector_BitBlock::vectorWithCapacity(500)};
    for (const auto& a : empties) {
        EXPECT_EQ(0u, a->hash());
        EXPECT_EQ(0u, a->smallestID());
        EXPECT_EQ(0u, a->largestID());
        for (const auto& b : empties) EXPECT_TRUE(*a == *b);
    }
}

TEST(ZELIDVectorQueries, GetIDsNewIDsAndBufferAccess) {
    const ZELID ids[] = {3, 9, 27, 81};
    const auto block = ZELIDVector_BitBlock::vectorWithIDs(ids, 4);
    ZELID buffer[4] = {};
    EXPECT_EQ(2u, block->getIDs(buffer, 2));
    EXPECT_EQ((IDs{3, 9}), IDs(buffer, buffer + 2));
    EXPECT_EQ(nullptr, block->directIDs());

    ZELID* copied = block->newIDs();
    EXPECT_EQ((IDs{3, 9, 27, 81}), IDs(copied, copied + 4));
    std::free(copied);
    ZELID* single = ZELIDVector::vector()->newIDs();  // one slot even when empty
    EXPECT_NE(nullptr, single);
    std::free(single);

    IDs seen;
    block->accessIDsBuffer(
        [&](const ZELID* buffered, uint32_t count) { seen.assign(buffered, buffered + count); });
    EXPECT_EQ((IDs{3, 9, 27, 81}), seen);
    const auto array = ZELIDVector::vectorWithIDs(ids, 4);
    array->accessIDsBuffer(
        [&](const ZELID* buffered, uint32_t) { EXPECT_EQ(array->directIDs(), buffered); });
}

TEST(ZELIDVectorQueries, EnumerationStops) {
    const IDs ids = range(1, 100);
    const std::vector<std::shared_ptr<ZELIDVector>> vectors = {
        arrayVector(ids), ZELIDVector_IndexSet::vectorWithIDs(ids.data(), 100),
        ZELIDVector_BitBlock::vectorWithIDs(ids.data(), 100)};
    for (const auto& vector : vectors) {
        int visits = 0;
        vector->enumerateIDsUsingBlock([&](ZELID id, bool& stop) {
            ++visits;
            stop = id == 7;
        });
        EXPECT_EQ(7, visits) << vector->className();
        visits = 0;
        vector->enumerateIDs([&](ZELID, bool& stop) { stop = ++visits == 3; });
        EXPECT_EQ(3, visits) << vector->className();
    }
}

// The vector itself as the operand, and IDs read from its own storage.
TEST(ZELIDVectorAlgebra, OperandsAliasingTheVectorsOwnStorage) {
    const IDs ids = {2, 3, 5, 7, 11};
    const std::vector<std::shared_ptr<ZELMutableIDVector>> vectors = {
        ZELMutableIDVector_CArray::vectorWithIDs(ids.data(), 5),
        ZELMutableIDVector_IndexSet::vectorWithIDs(ids.data(), 5),
        ZELIDVector_BitBlock::vectorWithIDs(ids.data(), 5)};
    for (const auto& vector : vectors) {
        vector->unionWithVector(*vector);
        EXPECT_EQ(ids, idsOf(*vector)) << vector->className();
        vector->intersectWithVector(*vector);
        EXPECT_EQ(ids, idsOf(*vector)) << vector->className();
        vector->subtractVector(*vector);
        EXPECT_TRUE(vector->isEmpty()) << vector->className();
    }

    auto full = ZELMutableIDVector_CArray::vectorWithIDs(range(1, 16).data(), 16);
    // Full to capacity: the add must grow, moving the storage the IDs are read from.
    full->addIDs(full->directIDs() + 2, 5);
    EXPECT_EQ(range(1, 16), idsOf(*full));
    full->removeIDs(full->directIDs() + 1, 2);
    EXPECT_EQ((IDs{1, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}), idsOf(*full));
}

TEST(ZELIDVectorImmutability, EveryMutationRaisesAndChangesNothing) {
    const ZELID ids[] = {1, 2, 3};
    const std::vector<std::shared_ptr<ZELMutableIDVector>> immutables = {
        ZELIDVector_CArray::vectorWithIDs(ids, 3), ZELIDVector_IndexSet::vectorWithIDs(ids, 3)};
    const auto empty = ZELIDVector::vector();
    const auto other = arrayVector({3, 4});
    for (const auto& vector : immutables) {
        const std::string reason =
            "incorrect attempt to mutate " + vector->descriptionHead() + ", which is immutable";
        const std::vector<std::function<void()>> mutations = {
            [&] { vector->addID(9); },        [&] { vector->removeIDs(nullptr, 0); },
            [&] { vector->unionWithVector(*empty); }, [&] { vector->intersectWithVector(*other); },
            [&] { vector->subtractVector(*vector); },
        };
        for (const auto& mutation : mutations) {
            try {
                mutation();
                ADD_FAILURE() << "no exception from " << vector->className();
            } catch (const ZELException& exception) {
                EXPECT_EQ("ZELImmutableVectorException", exception.name());
                EXPECT_EQ(reason, exception.reason());
            }
            EXPECT_EQ((IDs{1, 2, 3}), idsOf(*vector));
        }
    }
}

TEST(ZELIDVectorText, VectorWithIDsInString) {
    const std::pair<const char*, IDs> cases[] = {
        {"3, 1;2", {1, 2, 3}},
        {"5 x 7", {5}},
        {" +4\n\t5.6.", {4, 5, 6}},
        {"-1", {0xFFFFFFFF}},
        {"7-", {7}},
        {"", {}},
        {"-", {}},
        // Beyond 64 bits the value saturates before truncation to 32 bits.
        {"8 99999999999999999999999", {8, 0xFFFFFFFF}},
    };
    for (const auto& [text, ids] : cases) {
        EXPECT_EQ(ids, idsOf(*ZELIDVector::vectorWithIDsInString(text))) << text;
    }
}
