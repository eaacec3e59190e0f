// The primitive encodings, byte for byte (the stand-alone form of ID vectors and the append
// operations among them), and the data streams' reading, seeking and error rules.

#include <gtest/gtest.h>

#include <cstring>

#include "support/ZELTestFileBytes.h"
#include "zel/idvector/ZELIDVector+Serialization.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/idvector/ZELIDVector_IndexSet.h"
#include "zel/idvector/ZELIDVector_BitBlock.h"
#include "zel/platform/ZELException.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/stream/ZELDataStream.h"
#include "zel/stream/ZELSerializableData.h"
#include "zel/stream/ZELSerializableString.h"

namespace {

std::shared_ptr<ZELDataStream> readerOver(const ZELData& data) {
    return ZELDataStream::streamWithBytes(data);
}

std::vector<ZELID> idsOf(const ZELIDVector& vector) {
    std::vector<ZELID> ids(vector.count());
    vector.getIDs(ids.data(), vector.count());
    return ids;
}

}  // namespace

TEST(StreamPrimitives, IntegersIDsAndDatesAreLittleEndian) {
    auto stream = ZELDataWriteStream::stream();
    EXPECT_TRUE(stream->writeUInt32Little(0x01020304));
    EXPECT_TRUE(stream->writeInt32Little(-2));
    EXPECT_TRUE(stream->writeZELID(0xA0B0C0D0));
    EXPECT_TRUE(stream->writeUInt64Little(0x0102030405060708));
    EXPECT_TRUE(stream->writeZELDate(ZELDate{1.5}));
    const int32_t signedValues[] = {-1, 2};
    EXPECT_TRUE(stream->writeInt32LittleArray(signedValues, 2));
    const uint32_t ids[] = {7, 0x01000000};
    EXPECT_TRUE(stream->writeZELIDs(ids, 2));
    EXPECT_EQ(*stream->mutableData(), ZELTestHex("04030201 FEFFFFFF D0C0B0A0 0807060504030201"
                                                 "000000000000F83F FFFFFFFF 02000000 07000000 00000001"));

    // The other readers are the stream-kind suite's.
    auto reader = ZELStream::streamForReadingData(stream->mutableData());
    ASSERT_TRUE(reader->seek(8, ZELStream::SeekFromStart));
    EXPECT_EQ(reader->readZELID(), 0xA0B0C0D0u);
    ASSERT_TRUE(reader->seek(28, ZELStream::SeekFromStart));
    int32_t readSigned[2];
    ASSERT_TRUE(reader->readSInt32LittleArray(readSigned, 2));
    uint32_t readIDs[2];
    ASSERT_TRUE(reader->readZELIDs(readIDs, 2));
    EXPECT_EQ(readSigned[0], -1);
    EXPECT_EQ(readIDs[1], 0x01000000u);
}

TEST(StreamPrimitives, StringsHaveLengthPrefixUTF16LEAndZeroPadding) {
    const struct {
        ZELString string;
        ZELData expected;
    } cases[] = {
        {u"", ZELData({0, 0, 0, 0})},
        {u"A", ZELData({2, 0, 0, 0, 0x41, 0, 0, 0})},
        {u"AB", ZELData({4, 0, 0, 0, 0x41, 0, 0x42, 0})},
        {u"ABC", ZELData({6, 0, 0, 0, 0x41, 0, 0x42, 0, 0x43, 0, 0, 0})},
        {u"\u00e9\u4e2d", ZELData({4, 0, 0, 0, 0xE9, 0x00, 0x2D, 0x4E})},
        {u"\U0001F600", ZELData({4, 0, 0, 0, 0x3D, 0xD8, 0x00, 0xDE})},  // a surrogate pair
    };
    for (const auto& c : cases) {
        auto stream = ZELDataWriteStream::stream();
        EXPECT_TRUE(stream->writeZELString(c.string));
        EXPECT_EQ(*stream->mutableData(), c.expected);
        EXPECT_EQ(ZELStream::byteCountForSerializedZELString(c.string), c.expected.size());
        EXPECT_EQ(readerOver(c.expected)->newReadZELString(), c.string);
    }
    auto units = ZELDataWriteStream::stream();
    EXPECT_TRUE(units->writeZELStringByteUnits(u"ab", 2));
    EXPECT_EQ(*units->mutableData(), ZELData({0x61, 0, 0x62, 0})) << "no length prefix";
}

TEST(StreamPrimitives, IDVectorFormIsCountThenIDs) {
    const ZELID ids[] = {1, 2, 0x010203};
    const ZELData expected = ZELData({3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0x03, 0x02, 0x01, 0x00});
    ZELData twice = expected;
    twice.insert(twice.end(), expected.begin(), expected.end());

    // From the vector's own array and, for a bit block, through a lent buffer; as a stream
    // primitive and as the vector's own serialization.
    for (const std::shared_ptr<ZELIDVector>& vector :
         {ZELIDVector::vectorWithIDs(ids, 3),
          std::shared_ptr<ZELIDVector>(ZELIDVector_BitBlock::vectorWithIDs(ids, 3))}) {
        auto stream = ZELDataWriteStream::stream();
        EXPECT_TRUE(stream->writeZELIDVector(*vector));
        EXPECT_TRUE(vector->serializeToStream(*stream));
        EXPECT_EQ(*stream->mutableData(), twice);
        EXPECT_EQ(ZELStream::byteCountForSerializedZELIDVector(*vector), 16u);
        EXPECT_EQ(vector->serializedByteCount(), 16u);
    }
    std::shared_ptr<ZELIDVector> readBack = readerOver(expected)->newReadZELIDVector();
    ASSERT_TRUE(readBack);
    EXPECT_FALSE(readBack->isMutable());
    EXPECT_TRUE(readBack->isEqual(*ZELIDVector::vectorWithIDs(ids, 3)));
    // The length a container gives is not needed: the count says it.
    readBack = ZELIDVector::newDeserializedFromStream(*readerOver(expected), 999);
    ASSERT_TRUE(readBack);
    EXPECT_TRUE(readBack->isEqual(*ZELIDVector::vectorWithIDs(ids, 3)));

    std::shared_ptr<ZELIDVector> emptyBack = readerOver(ZELData({0, 0, 0, 0}))->newReadZELIDVector();
    ASSERT_TRUE(emptyBack);
    EXPECT_TRUE(emptyBack->isEmpty());
}

// The class-tagged form is checked against the reference encoder for every kind of stream;
// here the forms that it does not write: a bare value for a required class, and tagged data
// read with the length left after the name.
TEST(StreamPrimitives, RequiredClassLeavesTheNameOutAndDataTakesTheLengthLeft) {
    const auto string = ZELSerializableString::stringWithValue(u"hi");
    auto bare = ZELDataWriteStream::stream();
    EXPECT_TRUE(bare->writeZELSerializable(*string, true));
    EXPECT_EQ(*bare->mutableData(), ZELData({4, 0, 0, 0, 0x68, 0, 0x69, 0}));
    EXPECT_EQ(ZELStream::byteCountForZELSerializable(*string, true), 8u);
    const ZELStreamDeserializer requiredClass = [](ZELStream& s, uint64_t length) {
        return ZELSerializableString::newDeserializedFromStream(s, length);
    };
    auto bareObject = std::dynamic_pointer_cast<ZELSerializableString>(
        readerOver(*bare->mutableData())->newReadZELSerializableOfLength(8, requiredClass));
    ASSERT_TRUE(bareObject);
    EXPECT_EQ(bareObject->value(), u"hi");

    const auto data = ZELSerializableData::dataWithValue(ZELData({1, 2, 3, 4, 5}));
    auto stream = ZELDataWriteStream::stream();
    EXPECT_TRUE(stream->writeZELSerializable(*data, false));
    EXPECT_TRUE(stream->writeUInt32Little(9));
    const uint64_t dataLength = ZELStream::byteCountForZELSerializable(*data, false);
    EXPECT_EQ(stream->mutableData()->size(), dataLength + 4);
    auto reader = ZELStream::streamForReadingData(stream->mutableData());
    auto readData = std::dynamic_pointer_cast<ZELSerializableData>(
        reader->newReadZELSerializableOfLength(dataLength));
    ASSERT_TRUE(readData);
    EXPECT_EQ(readData->value(), ZELData({1, 2, 3, 4, 5}));
    EXPECT_EQ(reader->readUInt32Little(), 9u);
}

// An unknown class name raises; a record shorter than its name fails with an error.
TEST(StreamPrimitives, ClassTaggedRecordsWithAnUnknownOrCutName) {
    ZELData record;
    ZELData_AppendZELString(record, u"NoSuchClass");
    ZELData_AppendZELID(record, 1);
    try {
        readerOver(record)->newReadZELSerializableOfLength(record.size());
        FAIL() << "no exception";
    } catch (const ZELException& exception) {
        EXPECT_EQ(exception.name(), ZELInternalInconsistencyException);
        EXPECT_EQ(exception.reason(),
                  "ZELStream did not find class with name \"NoSuchClass\" in the runtime.");
    }

    ZELData cut;
    ZELData_AppendZELString(cut, u"ZELSerializableString");
    ZELData_AppendZELString(cut, u"x");
    auto reader = readerOver(cut);
    EXPECT_FALSE(reader->newReadZELSerializableOfLength(8));
    EXPECT_TRUE(reader->streamError().matchesZELErrorCode(ZELErrorCodeInvalidData));
}

TEST(StreamPrimitives, HostRegisteredClassesAreFoundByName) {
    class Marker final : public ZELStreamSerializable {
    public:
        uint64_t serializedByteCount() const override { return 4; }
        bool serializeToStream(ZELStream& stream) const override { return stream.writeZELID(7); }
        std::string className() const override { return "StreamTestsMarker"; }
    };
    ZELRegistry<ZELStreamDeserializer>::shared().registerEntry(
        "StreamTestsMarker", [](ZELStream& stream, uint64_t length) -> std::shared_ptr<ZELStreamSerializable> {
            EXPECT_EQ(length, 4u);
            return stream.readZELID() == 7 ? std::make_shared<Marker>() : nullptr;
        });
    auto stream = ZELDataWriteStream::stream();
    const Marker marker;
    EXPECT_TRUE(stream->writeZELSerializable(marker, false));
    auto reader = ZELStream::streamForReadingData(stream->mutableData());
    EXPECT_TRUE(std::dynamic_pointer_cast<Marker>(
        reader->newReadZELSerializableOfLength(stream->mutableData()->size())));
}

TEST(StreamPrimitives, CorruptLengthsAndCountsFailWithoutPartialResult) {
    // Odd byte length: no writer makes one.
    auto odd = readerOver(ZELData({3, 0, 0, 0, 0x41, 0, 0x42, 0}));
    EXPECT_FALSE(odd->newReadZELString());
    EXPECT_TRUE(odd->streamError().matchesZELErrorCode(ZELErrorCodeInvalidData));

    // A length far beyond the data: refused before anything is allocated for it.
    auto huge = readerOver(ZELData({0xF0, 0xFF, 0xFF, 0xFF, 0x41, 0}));
    EXPECT_FALSE(huge->newReadZELString());
    EXPECT_EQ(huge->streamError(), ZELError::errorWithZELErrorCode(ZELErrorCodeIOFailure,
                                                                   "tried to read too many bytes"));

    bool visited = false;
    readerOver(ZELData({2, 0}))->readZELStringUsing([&](const ZELString* string) {
        visited = true;
        EXPECT_EQ(string, nullptr);
    });
    EXPECT_TRUE(visited);
    readerOver(ZELData({0, 0, 0, 0}))->readZELStringUsing([](const ZELString* string) {
        ASSERT_NE(string, nullptr);
        EXPECT_TRUE(string->empty());
    });

    auto hugeCount = readerOver(ZELData({0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0}));
    EXPECT_FALSE(hugeCount->newReadZELIDVector());
    EXPECT_TRUE(hugeCount->streamError().matchesZELErrorCode(ZELErrorCodeIOFailure));
}

// Magic number, version 1, count, IDs, from every representation; read back from an odd start
// address (the IDs are read without assuming alignment) as an immutable vector.
TEST(IDVectorStandAloneForm, HeaderCountAndIDs) {
    const ZELID ids[] = {3, 70000, 0x7FFFFFFE};
    const ZELData three = ZELTestHex("1A081A08 01000000 03000000 03000000 70110100 FEFFFF7F");
    const std::pair<std::shared_ptr<ZELIDVector>, ZELData> rows[] = {
        {ZELIDVector::vector(), ZELTestHex("1A081A08 01000000 00000000")},
        {ZELIDVector::vectorWithIDs(ids, 3), three},
        {ZELIDVector_IndexSet::vectorWithIDs(ids, 3), three},
    };
    for (const auto& [vector, expected] : rows) {
        const std::optional<ZELData> data = ZELIDVector_NewSerializedData(*vector);
        ASSERT_TRUE(data);
        EXPECT_EQ(*data, expected);
        ZELData shifted = ZELData({0});
        shifted.insert(shifted.end(), expected.begin(), expected.end());
        ZELError error;
        const std::shared_ptr<ZELIDVector> read = ZELIDVector_VectorWithSerializedData(
            std::span<const uint8_t>(shifted).subspan(1), &error);
        ASSERT_TRUE(read) << error.description();
        EXPECT_EQ(idsOf(*read), idsOf(*vector));
        EXPECT_FALSE(read->isMutable());
    }
    // The IDs' order is not checked.
    const std::shared_ptr<ZELIDVector> unordered = ZELIDVector_VectorWithSerializedData(
        ZELTestHex("1A081A08 01000000 02000000 09000000 04000000"), nullptr);
    ASSERT_TRUE(unordered);
    EXPECT_EQ(idsOf(*unordered), (std::vector<ZELID>{9, 4}));
}

TEST(IDVectorStandAloneForm, ChecksComeInOrderWithTheirMessages) {
    const struct {
        const char* what;
        ZELData data;
        const char* message;
    } cases[] = {
        {"11 bytes of anything", ZELData(11, 0xFF), "Serialized ZELIDVector data is too short."},
        {"bad magic", ZELTestHex("1A081A09 02000000 00000000"),
         "Serialized ZELIDVector data has bad magic number."},
        {"version 2, length would fit", ZELTestHex("1A081A08 02000000 00000000"),
         "Serialized ZELIDVector data has unsupported version."},
        {"16 bytes with a count of 2", ZELTestHex("1A081A08 01000000 02000000 05000000"),
         "Serialized ZELIDVector length does not match saved ID count."},
        {"count whose byte size wraps 32 bits", ZELTestHex("1A081A08 01000000 00000040"),
         "Serialized ZELIDVector length does not match saved ID count."},
    };
    for (const auto& c : cases) {
        ZELError error;
        EXPECT_FALSE(ZELIDVector_VectorWithSerializedData(c.data, &error)) << c.what;
        EXPECT_EQ(error, ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData, c.message)) << c.what;
        EXPECT_FALSE(ZELIDVector_VectorWithSerializedData(c.data, nullptr)) << c.what;
    }
}

TEST(IDVectorStreamForm, AppendOperations) {
    ZELData data = ZELData({0xAA});
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
    EXPECT_EQ(data, ZELTestHex("AA 04030201 FFFFFFFF 00000000000000C0 0102030405000000"
                               "06000000 6800 6900 2100 0000 00000000 02000000 07000000 08000000 00000000"));
}

TEST(IDVectorStreamForm, CursorReaderTakesVectorsInTurnAndStopsAtTheEnd) {
    ZELData data = ZELData({0});  // an odd start address
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
    const ZELData truncated = ZELData({3, 0, 0, 0, 1, 0, 0, 0});
    const uint8_t* truncatedCursor = truncated.data();
    EXPECT_FALSE(ZELData_ReadZELIDVector(truncatedCursor, truncated.data() + truncated.size()));
    EXPECT_EQ(truncatedCursor, truncated.data());
}

TEST(DataStream, ReadingTooManyBytesKeepsTheOffsetAndError6) {
    auto stream = readerOver(ZELData({1, 2, 3}));
    uint8_t buffer[4] = {};
    EXPECT_FALSE(stream->readBytes(buffer, 4));
    EXPECT_EQ(stream->currentLogicalOffset(), 0u);
    EXPECT_EQ(stream->streamError(), ZELError::errorWithZELErrorCode(
                                         ZELErrorCodeIOFailure, "tried to read too many bytes"));
    EXPECT_EQ(stream->readUInt32Little(), 0u);
    EXPECT_EQ(stream->read(buffer, 4), 0);
    EXPECT_EQ(stream->read(buffer, 3), 3);
}

TEST(DataStream, SeekRules) {
    auto stream = readerOver(ZELData(10));
    EXPECT_TRUE(stream->seek(5, ZELStream::SeekFromEnd));
    EXPECT_EQ(stream->currentLogicalOffset(), 5u);
    EXPECT_TRUE(stream->seek(0, ZELStream::SeekFromStart));
    EXPECT_TRUE(stream->seek(-5, ZELStream::SeekFromEnd));
    EXPECT_EQ(stream->currentLogicalOffset(), 5u);
    EXPECT_TRUE(stream->seek(-2, ZELStream::SeekFromCurrent));
    EXPECT_EQ(stream->currentLogicalOffset(), 3u);
    EXPECT_TRUE(stream->seek(7, ZELStream::SeekFromCurrent));
    EXPECT_EQ(stream->currentLogicalOffset(), 10u);
    EXPECT_TRUE(stream->setCurrentLogicalOffset(4));

    const struct {
        int64_t offset;
        int whence;
        const char* message;
    } failures[] = {
        {-5, ZELStream::SeekFromCurrent, "tried to seek data stream backwards by too many bytes"},
        {11, ZELStream::SeekFromEnd, "tried to seek from end of data stream by too many bytes"},
        {11, ZELStream::SeekFromStart, "tried to seek to invalid position"},
        {7, ZELStream::SeekFromCurrent, "tried to seek to invalid position"},
        {-1, ZELStream::SeekFromStart, "tried to seek to invalid position"},
    };
    for (const auto& failure : failures) {
        auto fresh = readerOver(ZELData(10));
        fresh->setCurrentLogicalOffset(4);
        EXPECT_FALSE(fresh->seek(failure.offset, failure.whence));
        EXPECT_EQ(fresh->currentLogicalOffset(), 4u);
        EXPECT_EQ(fresh->streamError().code(), ZELErrorCodeIOFailure);
        // Only the first error is kept, and it outlives the close.
        EXPECT_FALSE(fresh->readZELDate());
        fresh->close();
        ZELError error;
        EXPECT_FALSE(fresh->closeAndGetError(&error));
        EXPECT_EQ(error.failureReason(), failure.message);
    }
    EXPECT_TRUE(readerOver(ZELData({1}))->closeAndGetError(nullptr));
}

TEST(DataStream, LentBytesAndNewBuffers) {
    auto stream = readerOver(ZELData({1, 2, 3, 4, 5, 6}));
    const uint8_t* lent = stream->acquireFilledReadBufferOfSize(2);
    ASSERT_NE(lent, nullptr);
    EXPECT_EQ(lent[1], 2);
    stream->relinquishFilledReadBuffer(lent);
    uint8_t* block = stream->newFilledReadBufferWithReadByteCount(3);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[0], 3);
    std::free(block);
    EXPECT_EQ(stream->newFilledReadBufferWithReadByteCount(0), nullptr);
    EXPECT_EQ(stream->acquireFilledReadBufferOfSize(2), nullptr);
    EXPECT_EQ(stream->currentLogicalOffset(), 5u);
    EXPECT_EQ(stream->newReadDataOfLength(0), ZELData());
    EXPECT_EQ(stream->readRemainingData(), ZELData({6}));
    EXPECT_FALSE(stream->newReadDataOfLength(UINT64_MAX));
}

TEST(DataWriteStream, WritesAppendOverwriteOrReplaceTheRest) {
    auto shared = std::make_shared<ZELData>(ZELData({1, 2, 3, 4}));
    auto stream = ZELStream::streamForData(shared);
    EXPECT_EQ(stream->currentLogicalOffset(), 4u);
    EXPECT_TRUE(stream->writeBytes("\x05", 1));
    EXPECT_EQ(*shared, ZELData({1, 2, 3, 4, 5}));

    EXPECT_TRUE(stream->open());
    EXPECT_TRUE(stream->writeBytes("\x09\x09", 2));
    EXPECT_EQ(*shared, ZELData({9, 9, 3, 4, 5}));
    EXPECT_TRUE(stream->seek(3, ZELStream::SeekFromStart));
    EXPECT_TRUE(stream->writeBytes("\x07\x07\x07\x07", 4));
    EXPECT_EQ(*shared, ZELData({9, 9, 3, 7, 7, 7, 7}));
    EXPECT_EQ(stream->currentLogicalOffset(), 7u);

    // Reading and seeking as for a read stream, over the same buffer.
    EXPECT_TRUE(stream->seek(1, ZELStream::SeekFromStart));
    EXPECT_EQ(stream->readUInt32Little(), 0x07070309u);

    auto copy = ZELDataWriteStream::streamWithCopyOfBytes(ZELData({1}));
    EXPECT_TRUE(copy->writeUInt32Little(2));
    EXPECT_EQ(*copy->mutableData(), ZELData({1, 2, 0, 0, 0}));
}

TEST(DataWriteStream, BufferLendingWritesTheFilledBytes) {
    auto stream = ZELDataWriteStream::stream();
    uint8_t* buffer = stream->acquireWriteBufferWithCapacity(8);
    ASSERT_NE(buffer, nullptr);
    std::memcpy(buffer, "abcdefgh", 8);
    stream->relinquishWriteBuffer(buffer, 3);
    stream->relinquishWriteBuffer(nullptr, 3);
    EXPECT_EQ(*stream->mutableData(), ZELData({'a', 'b', 'c'}));
}
