// The stand-alone byte form of ID vectors with its checks, the append operations and the
// cursor reader.

#include <gtest/gtest.h>

#include "zel/idvector/ZELIDVector+Serialization.h"
#include "zel/idvector/ZELIDVector_IndexSet.h"
#include "zel/stream/ZELDataStream.h"

namespace {

ZELData bytes(std::initializer_list<int> values) {
    ZELData data;
    for (int value : values) data.push_back(static_cast<uint8_t>(value));
    return data;
}

std::vector<ZELID> idsOf(const ZELIDVector& vector) {
    std::vector<ZELID> ids(vector.count());
    vector.getIDs(ids.data(), vector.count());
    return ids;
}

}  // namespace

TEST(IDVectorStandAloneForm, EmptyVectorIsTheTwelveHeaderBytes) {
    const std::optional<ZELData> data = ZELIDVector_NewSerializedData(*ZELIDVector::vector());
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, bytes({0x1A, 0x08, 0x1A, 0x08, 1, 0, 0, 0, 0, 0, 0, 0}));
    ZELError error;
    std::shared_ptr<ZELIDVector> vector = ZELIDVector_VectorWithSerializedData(*data, &error);
    ASSERT_TRUE(vector);
    EXPECT_TRUE(vector->isEmpty());
    EXPECT_FALSE(vector->isMutable());
}

TEST(IDVectorStandAloneForm, RoundTripOfEveryRepresentation) {
    const ZELID ids[] = {3, 70000, 0x7FFFFFFE};
    const ZELData expected = bytes({0x1A, 0x08, 0x1A, 0x08, 1, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0,
                                    0x70, 0x11, 0x01, 0x00, 0xFE, 0xFF, 0xFF, 0x7F});
    for (const std::shared_ptr<ZELIDVector>& vector :
         {ZELIDVector::vectorWithIDs(ids, 3),
          std::shared_ptr<ZELIDVector>(ZELIDVector_IndexSet::vectorWithIDs(ids, 3))}) {
        const std::optional<ZELData> data = ZELIDVector_NewSerializedData(*vector);
        ASSERT_TRUE(data);
        EXPECT_EQ(*data, expected);
    }
    // An odd start address: the IDs are read without assuming alignment.
    ZELData shifted = bytes({0});
    shifted.insert(shifted.end(), expected.begin(), expected.end());
    std::shared_ptr<ZELIDVector> vector = ZELIDVector_VectorWithSerializedData(
        std::span<const uint8_t>(shifted).subspan(1), nullptr);
    ASSERT_TRUE(vector);
    EXPECT_EQ(idsOf(*vector), std::vector<ZELID>(std::begin(ids), std::end(ids)));
}

TEST(IDVectorStandAloneForm, ChecksComeInOrderWithTheirMessages) {
    struct Case {
        const char* what;
        ZELData data;
        const char* message;
    };
    const Case cases[] = {
        {"11 bytes of anything", ZELData(11, 0xFF), "Serialized ZELIDVector data is too short."},
        {"bad magic", bytes({0x1A, 0x08, 0x1A, 0x09, 2, 0, 0, 0, 0, 0, 0, 0}),
         "Serialized ZELIDVector data has bad magic number."},
        {"version 2, length would fit", bytes({0x1A, 0x08, 0x1A, 0x08, 2, 0, 0, 0, 0, 0, 0, 0}),
         "Serialized ZELIDVector data has unsupported version."},
        {"16 bytes with a count of 2",
         bytes({0x1A, 0x08, 0x1A, 0x08, 1, 0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0}),
         "Serialized ZELIDVector length does not match saved ID count."},
        {"count whose byte size wraps 32 bits",
         bytes({0x1A, 0x08, 0x1A, 0x08, 1, 0, 0, 0, 0, 0, 0, 0x40}),
         "Serialized ZELIDVector length does not match saved ID count."},
    };
    for (const Case& c : cases) {
        ZELError error;
        EXPECT_FALSE(ZELIDVector_VectorWithSerializedData(c.data, &error)) << c.what;
        EXPECT_EQ(error, ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData, c.message)) << c.what;
        EXPECT_FALSE(ZELIDVector_VectorWithSerializedData(c.data, nullptr)) << c.what;
    }
}

TEST(IDVectorStandAloneForm, IDOrderIsNotChecked) {
    const ZELData data = bytes({0x1A, 0x08, 0x1A, 0x08, 1, 0, 0, 0, 2, 0, 0, 0, 9, 0, 0, 0, 4, 0, 0, 0});
    std::shared_ptr<ZELIDVector> vector = ZELIDVector_VectorWithSerializedData(data, nullptr);
    ASSERT_TRUE(vector);
    EXPECT_EQ(idsOf(*vector), (std::vector<ZELID>{9, 4}));
}

TEST(IDVectorStreamForm, AppendOperations) {
    ZELData data = bytes({0xAA});
    ZELData_AppendZELID(data, 0x01020304);
    ZELData_AppendZELInt32Little(data, -1);
    ZELData_AppendZELDate(data, ZELDate{-2.0});
    const uint8_t five[] = {1, 2, 3, 4, 5};
    ZELData_AppendZELBytesAndPadding(data, five);
    ZELData_AppendZELBytesAndPadding(data, {});
    ZELData_AppendZELString(data, u"hi!");
    ZELData_AppendZELString(data, u"");
    const ZELID ids[] = {7, 8};
    ZELData_AppendZELIDVector(data, *ZELIDVector::vectorWithIDs(ids, 2));
    ZELData_AppendZELIDVector(data, *ZELIDVector::vector());
    EXPECT_EQ(data, bytes({0xAA, 4, 3, 2, 1, 0xFF, 0xFF, 0xFF, 0xFF,
                           0, 0, 0, 0, 0, 0, 0, 0xC0,
                           1, 2, 3, 4, 5, 0, 0, 0,
                           6, 0, 0, 0, 'h', 0, 'i', 0, '!', 0, 0, 0,
                           0, 0, 0, 0,
                           2, 0, 0, 0, 7, 0, 0, 0, 8, 0, 0, 0,
                           0, 0, 0, 0}));
}

TEST(IDVectorStreamForm, CursorReaderTakesVectorsInTurnAndStopsAtTheEnd) {
    ZELData data = bytes({0});  // an odd start address
    const ZELID ids[] = {2, 3, 11};
    ZELData_AppendZELIDVector(data, *ZELIDVector::vectorWithIDs(ids, 3));
    ZELData_AppendZELIDVector(data, *ZELIDVector::vector());
    ZELData_AppendZELIDVector(data, *ZELIDVector::vectorWithIDs(ids, 1));

    const uint8_t* cursor = data.data() + 1;
    const uint8_t* end = data.data() + data.size();
    std::shared_ptr<ZELIDVector> first = ZELData_ReadZELIDVector(cursor, end);
    std::shared_ptr<ZELIDVector> second = ZELData_ReadZELIDVector(cursor, end);
    std::shared_ptr<ZELIDVector> third = ZELData_ReadZELIDVector(cursor, end);
    ASSERT_TRUE(first && second && third);
    EXPECT_EQ(idsOf(*first), (std::vector<ZELID>{2, 3, 11}));
    EXPECT_TRUE(second->isEmpty());
    EXPECT_FALSE(second->isMutable());
    EXPECT_EQ(idsOf(*third), (std::vector<ZELID>{2}));
    EXPECT_EQ(cursor, end);
    EXPECT_FALSE(ZELData_ReadZELIDVector(cursor, end));

    // A count larger than the memory: nothing read, the cursor stays.
    const ZELData truncated = bytes({3, 0, 0, 0, 1, 0, 0, 0});
    const uint8_t* truncatedCursor = truncated.data();
    EXPECT_FALSE(ZELData_ReadZELIDVector(truncatedCursor, truncated.data() + truncated.size()));
    EXPECT_EQ(truncatedCursor, truncated.data());
}
