// One suite over every kind of stream (memory, file with each buffer size, uncached file,
// iostream adaptor): the same random sequence of primitive values must write the bytes of an
// independent reference encoder and read back from them, and truncated input must fail at the
// right value.

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>

#include "support/ZELTestFileBytes.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/stream/ZELDataStream.h"
#include "zel/stream/ZELFileStream.h"
#include "zel/stream/ZELSerializableString.h"
#include "zel/stream/ZELStreamAdaptor.h"

namespace {

enum class StreamKind { Data, File0, File16, File1024, FileUncached, Adaptor };
const std::string kStreamKindNames[] = {"Data", "File0", "File16", "File1024", "FileUncached",
                                        "Adaptor"};

// One value of the random sequence.
struct Item {
    enum Type { UInt32, Int32, UInt64, Date, String, IDVector, PaddedBytes, PaddingPattern,
                TaggedString, TaggedVector, TypeCount };
    Type type = UInt32;
    uint64_t number = 0;
    double seconds = 0;
    ZELString string;
    std::vector<ZELID> ids;
    ZELData bytes;
};

// The reference encoder, written from the format description and sharing no code with the
// streams.
class Reference {
public:
    void integer(uint64_t value, int size) {
        for (int index = 0; index < size; ++index) bytes.push_back(static_cast<uint8_t>(value >> (8 * index)));
    }
    void zeroPaddingFor(uint64_t length) {
        for (; length % 4 != 0; ++length) bytes.push_back(0);
    }
    void string(const ZELString& text) {
        integer(text.size() * 2, 4);
        for (char16_t unit : text) integer(unit, 2);
        zeroPaddingFor(text.size() * 2);
    }
    void vector(const std::vector<ZELID>& ids) {
        integer(ids.size(), 4);
        for (ZELID id : ids) integer(id, 4);
    }
    void item(const Item& item) {
        switch (item.type) {
            case Item::UInt32: case Item::Int32: integer(item.number, 4); break;
            case Item::UInt64: integer(item.number, 8); break;
            case Item::Date: {
                uint64_t raw;
                std::memcpy(&raw, &item.seconds, 8);
                integer(raw, 8);
                break;
            }
            case Item::String: string(item.string); break;
            case Item::IDVector: vector(item.ids); break;
            case Item::PaddedBytes:
                bytes.insert(bytes.end(), item.bytes.begin(), item.bytes.end());
                zeroPaddingFor(item.bytes.size());
                break;
            case Item::PaddingPattern:
                for (uint64_t index = 0; index < item.number; ++index) bytes.push_back(index % 8 + 1);
                break;
            case Item::TaggedString:
                string(u"ZELSerializableString");
                string(item.string);
                break;
            case Item::TaggedVector:
                string(u"ZELIDVector_CArray");
                vector(item.ids);
                break;
            case Item::TypeCount: break;
        }
    }

    ZELData bytes;
};

std::vector<Item> randomItems(uint64_t seed, int count) {
    std::mt19937_64 random(seed);
    const auto below = [&random](uint64_t bound) { return random() % bound; };
    const auto size = [&] { return below(10) == 0 ? below(1500) : below(12); };
    std::vector<Item> items;
    for (int index = 0; index < count; ++index) {
        Item item;
        item.type = static_cast<Item::Type>(below(Item::TypeCount));
        item.number = random();
        if (item.type == Item::UInt32 || item.type == Item::Int32) item.number &= 0xFFFFFFFF;
        item.seconds = static_cast<double>(static_cast<int64_t>(random() % 4000000000)) / 7.0;
        for (uint64_t unit = 0, units = size(); unit < units; ++unit) {
            item.string.push_back(static_cast<char16_t>(below(5) == 0 ? random() : 'a' + below(26)));
        }
        for (uint64_t id = 0, ids = size(); id < ids; ++id) {
            item.ids.push_back(static_cast<ZELID>((item.ids.empty() ? 0 : item.ids.back()) + 1 + below(1000)));
        }
        for (uint64_t byte = 0, bytes = size(); byte < bytes; ++byte) {
            item.bytes.push_back(static_cast<uint8_t>(random()));
        }
        if (item.type == Item::PaddingPattern) item.number = size();
        items.push_back(std::move(item));
    }
    return items;
}

uint64_t encodedSize(const Item& item) {
    Reference reference;
    reference.item(item);
    return reference.bytes.size();
}

bool writeItem(ZELStream& stream, const Item& item) {
    switch (item.type) {
        case Item::UInt32: return stream.writeUInt32Little(static_cast<uint32_t>(item.number));
        case Item::Int32: return stream.writeInt32Little(static_cast<int32_t>(item.number));
        case Item::UInt64: return stream.writeUInt64Little(item.number);
        case Item::Date: return stream.writeZELDate(ZELDate{item.seconds});
        case Item::String: return stream.writeZELString(item.string);
        case Item::IDVector:
            return stream.writeZELIDVector(*ZELIDVector::vectorWithIDs(item.ids.data(), item.ids.size()));
        case Item::PaddedBytes: return stream.writeBytesAndPadding(item.bytes.data(), item.bytes.size());
        case Item::PaddingPattern: return stream.writePaddingOfLength(item.number);
        case Item::TaggedString:
            return stream.writeZELSerializable(*ZELSerializableString::stringWithValue(item.string), false);
        case Item::TaggedVector:
            return stream.writeZELSerializable(
                *ZELIDVector::vectorWithIDs(item.ids.data(), item.ids.size()), false);
        case Item::TypeCount: break;
    }
    return false;
}

// Reads one item and checks it against the expected value.
void readItem(ZELStream& stream, const Item& item) {
    const auto idsOf = [](const std::shared_ptr<ZELIDVector>& vector) {
        std::vector<ZELID> ids(vector ? vector->count() : 0);
        if (vector) vector->getIDs(ids.data(), vector->count());
        return ids;
    };
    switch (item.type) {
        case Item::UInt32: EXPECT_EQ(stream.readUInt32Little(), item.number); break;
        case Item::Int32: EXPECT_EQ(stream.readInt32Little(), static_cast<int32_t>(item.number)); break;
        case Item::UInt64: EXPECT_EQ(stream.readUInt64Little(), item.number); break;
        case Item::Date: EXPECT_EQ(stream.readZELDate(), ZELDate{item.seconds}); break;
        case Item::String: EXPECT_EQ(stream.newReadZELString(), item.string); break;
        case Item::IDVector: {
            std::shared_ptr<ZELIDVector> vector = stream.newReadZELIDVector();
            ASSERT_TRUE(vector);
            EXPECT_EQ(idsOf(vector), item.ids);
            break;
        }
        case Item::PaddedBytes: {
            ZELData bytes(item.bytes.size());
            EXPECT_TRUE(stream.readBytesAndSkipPadding(bytes.data(), bytes.size()));
            EXPECT_EQ(bytes, item.bytes);
            break;
        }
        case Item::PaddingPattern: {
            Reference reference;
            reference.item(item);
            EXPECT_EQ(stream.readDataOfLength(item.number), reference.bytes);
            break;
        }
        case Item::TaggedString: {
            auto object = std::dynamic_pointer_cast<ZELSerializableString>(
                stream.newReadZELSerializableOfLength(encodedSize(item)));
            ASSERT_TRUE(object);
            EXPECT_EQ(object->value(), item.string);
            break;
        }
        case Item::TaggedVector: {
            auto vector = std::dynamic_pointer_cast<ZELIDVector>(
                stream.newReadZELSerializableOfLength(encodedSize(item)));
            ASSERT_TRUE(vector);
            EXPECT_EQ(idsOf(vector), item.ids);
            break;
        }
        case Item::TypeCount: break;
    }
}

class StreamKindTest : public ::testing::TestWithParam<StreamKind> {
protected:
    void SetUp() override {
        path_ = std::filesystem::temp_directory_path() /
                ("zel_stream_kinds_" + std::to_string(getpid()) + "_" +
                 std::to_string(static_cast<int>(GetParam())) + ".data");
    }
    void TearDown() override { std::filesystem::remove(path_); }

    std::shared_ptr<ZELStream> newWriter() {
        switch (GetParam()) {
            case StreamKind::Data: return ZELDataWriteStream::stream();
            case StreamKind::File0: return openedFile(ZELStream::streamForWritingURL(path_, 0));
            case StreamKind::File16: return openedFile(ZELStream::streamForWritingURL(path_, 16));
            case StreamKind::File1024: return openedFile(ZELStream::streamForWritingURL(path_, 1024));
            case StreamKind::FileUncached:
                return openedFile(ZELStream::streamForURL(
                    path_, ZELFileStreamFlagWrite | ZELFileStreamFlagUncached, 1024));
            case StreamKind::Adaptor:
                output_ = std::make_shared<std::ostringstream>();
                return ZELStream::writeStreamForOutputStream(output_);
        }
        return nullptr;
    }

    ZELData writtenBytes(ZELStream& writer) {
        EXPECT_TRUE(writer.closeAndGetError(nullptr));
        switch (GetParam()) {
            case StreamKind::Data: return *static_cast<ZELDataWriteStream&>(writer).mutableData();
            case StreamKind::Adaptor: {
                const std::string text = output_->str();
                return ZELData(text.begin(), text.end());
            }
            default: return ZELTestReadFile(path_);
        }
    }

    std::shared_ptr<ZELStream> newReader(const ZELData& bytes) {
        if (GetParam() == StreamKind::Data) return ZELDataStream::streamWithBytes(bytes);
        if (GetParam() == StreamKind::Adaptor) {
            return ZELStream::readStreamForInputStream(
                std::make_shared<std::istringstream>(std::string(bytes.begin(), bytes.end())));
        }
        ZELTestWriteFile(path_, bytes);
        switch (GetParam()) {
            case StreamKind::File0: return openedFile(ZELStream::streamForReadingURL(path_, 0));
            case StreamKind::File16: return openedFile(ZELStream::streamForReadingURL(path_, 16));
            case StreamKind::File1024: return openedFile(ZELStream::streamForReadingURL(path_, 1024));
            default:
                return openedFile(ZELStream::streamForURL(
                    path_, ZELFileStreamFlagRead | ZELFileStreamFlagUncached, 1024));
        }
    }

    static std::shared_ptr<ZELStream> openedFile(std::shared_ptr<ZELFileStream> stream) {
        EXPECT_TRUE(stream->open());
        return stream;
    }

    std::filesystem::path path_;
    std::shared_ptr<std::ostringstream> output_;
};

}  // namespace

TEST_P(StreamKindTest, WritesGiveTheReferenceBytes) {
    for (uint64_t seed = 1; seed <= 4; ++seed) {
        const std::vector<Item> items = randomItems(seed, 150);
        std::shared_ptr<ZELStream> writer = newWriter();
        ASSERT_TRUE(writer->open());
        Reference reference;
        for (const Item& item : items) {
            EXPECT_TRUE(writeItem(*writer, item)) << "type " << item.type;
            reference.item(item);
            ASSERT_EQ(writer->currentLogicalOffset(), reference.bytes.size()) << "type " << item.type;
        }
        EXPECT_EQ(writtenBytes(*writer), reference.bytes) << "seed " << seed;
    }
}

TEST_P(StreamKindTest, ReadsGiveBackTheValues) {
    for (uint64_t seed = 11; seed <= 14; ++seed) {
        const std::vector<Item> items = randomItems(seed, 150);
        Reference reference;
        for (const Item& item : items) reference.item(item);
        std::shared_ptr<ZELStream> reader = newReader(reference.bytes);
        uint64_t offset = 0;
        for (const Item& item : items) {
            readItem(*reader, item);
            offset += encodedSize(item);
            ASSERT_EQ(reader->currentLogicalOffset(), offset) << "type " << item.type;
        }
        ASSERT_FALSE(reader->streamError());
        EXPECT_EQ(reader->readUInt32Little(), 0u);
        EXPECT_EQ(reader->streamError().code(), ZELErrorCodeIOFailure);
    }
}

TEST_P(StreamKindTest, TruncatedInputFailsAtTheValueThatCrossesTheCut) {
    const std::vector<Item> items = randomItems(21, 60);
    Reference reference;
    std::vector<uint64_t> ends;
    for (const Item& item : items) {
        reference.item(item);
        ends.push_back(reference.bytes.size());
    }
    std::mt19937_64 random(22);
    for (int trial = 0; trial < 25; ++trial) {
        const uint64_t cut = random() % reference.bytes.size();
        const ZELData truncated(reference.bytes.begin(), reference.bytes.begin() + static_cast<long>(cut));
        std::shared_ptr<ZELStream> reader = newReader(truncated);
        size_t failedAt = items.size();
        for (size_t index = 0; index < items.size(); ++index) {
            ::testing::ScopedTrace trace(__FILE__, __LINE__, "item " + std::to_string(index));
            if (ends[index] <= cut) {
                readItem(*reader, items[index]);
                ASSERT_FALSE(reader->streamError());
                continue;
            }
            // The crossing value: whatever the reader answers, the stream keeps an error.
            switch (items[index].type) {
                case Item::String: EXPECT_FALSE(reader->newReadZELString()); break;
                case Item::IDVector: EXPECT_FALSE(reader->newReadZELIDVector()); break;
                case Item::TaggedString: case Item::TaggedVector:
                    EXPECT_FALSE(reader->newReadZELSerializableOfLength(encodedSize(items[index])));
                    break;
                default: reader->readDataOfLength(encodedSize(items[index])); break;
            }
            failedAt = index;
            break;
        }
        ASSERT_LT(failedAt, items.size());
        EXPECT_TRUE(reader->streamError()) << "cut " << cut;
    }
}

INSTANTIATE_TEST_SUITE_P(AllStreamKinds, StreamKindTest,
                         ::testing::Values(StreamKind::Data, StreamKind::File0, StreamKind::File16,
                                           StreamKind::File1024, StreamKind::FileUncached,
                                           StreamKind::Adaptor),
                         [](const ::testing::TestParamInfo<StreamKind>& info) {
                             return kStreamKindNames[static_cast<int>(info.param)];
                         });
