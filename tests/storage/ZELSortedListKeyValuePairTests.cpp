#include <gtest/gtest.h>

#include <vector>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/storage/ZELSortedDiskDictionaryKeyValuePair.h"
#include "zel/storage/ZELSortedDiskDictionaryKeyValuePairSpecific.h"
#include "zel/storage/ZELSortedDiskDictionaryKeyValuePair_KeyOnly.h"
#include "zel/stream/ZELDataStream.h"
#include "zel/stream/ZELSerializableString.h"
#include "zel/stream/ZELValue+MemoryEstimate.h"

namespace {

// Records of the key-value pair family, written into and read from memory.
class ZELSortedDiskDictionaryKeyValuePairTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The value class of these tests, readable by name.
        auto& registry = ZELRegistry<ZELStreamDeserializer>::shared();
        if (!registry.containsEntryNamed("ZELSerializableString")) {
            registry.registerEntry("ZELSerializableString", [](ZELStream& stream, uint64_t length) {
                return ZELSerializableString::newDeserializedFromStream(stream, length);
            });
        }
    }

    static std::vector<uint8_t> bytesOf(const ZELStreamSerializable& object, bool withClassName) {
        const auto stream = ZELDataWriteStream::stream();
        EXPECT_TRUE(stream->writeZELSerializable(object, !withClassName));
        return *stream->mutableData();
    }

    static std::shared_ptr<ZELDataStream> readerOf(const std::vector<uint8_t>& bytes) {
        return ZELDataStream::streamWithBytes(bytes);
    }

    static std::shared_ptr<ZELSerializableString> value(const char16_t* text) {
        return ZELSerializableString::stringWithValue(text);
    }
};

// "ab" in the string form: length 4, UTF-16LE units, no padding needed.
const std::vector<uint8_t> kKeyAB = {0x04, 0, 0, 0, 'a', 0, 'b', 0};
// "x": length 2, one unit, two bytes of padding.
const std::vector<uint8_t> kValueX = {0x02, 0, 0, 0, 'x', 0, 0, 0};

std::vector<uint8_t> concatenated(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> bytes;
    for (const auto& part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
    return bytes;
}

std::vector<uint8_t> stringForm(const std::string& ascii) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(ascii.size() * 2), 0, 0, 0};
    for (const char character : ascii) {
        bytes.push_back(static_cast<uint8_t>(character));
        bytes.push_back(0);
    }
    while (bytes.size() % 4 != 0) bytes.push_back(0);
    return bytes;
}

}  // namespace

TEST_F(ZELSortedDiskDictionaryKeyValuePairTest, BasePairWritesItsValueClassTagged) {
    const auto pair = ZELSortedDiskDictionaryKeyValuePair::pairWithKey(u"ab", value(u"x"));
    EXPECT_FALSE(pair->requiredValueClass());
    const std::vector<uint8_t> valueBytes = concatenated({stringForm("ZELSerializableString"), kValueX});
    ASSERT_EQ(valueBytes.size(), 56u);
    const std::vector<uint8_t> expected =
        concatenated({kKeyAB, {56, 0, 0, 0}, valueBytes});
    EXPECT_EQ(pair->serializedByteCount(), expected.size());
    EXPECT_EQ(bytesOf(*pair, false), expected);

    const auto stream = readerOf(expected);
    const auto read = ZELSortedDiskDictionaryKeyValuePair::newDeserializedFromStream(*stream, expected.size());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->key(), u"ab");
    const auto* readValue = dynamic_cast<const ZELSerializableString*>(read->keyValue().get());
    ASSERT_TRUE(readValue);
    EXPECT_EQ(readValue->value(), u"x");

    // Class-tagged as a whole, the record reads back through the registry.
    const std::vector<uint8_t> tagged = bytesOf(*pair, true);
    const auto taggedStream = readerOf(tagged);
    const auto object = taggedStream->newReadZELSerializableOfLength(tagged.size());
    const auto* taggedPair = dynamic_cast<const ZELSortedDiskDictionaryKeyValuePair*>(object.get());
    ASSERT_TRUE(taggedPair);
    EXPECT_EQ(taggedPair->key(), u"ab");
}

TEST_F(ZELSortedDiskDictionaryKeyValuePairTest, SpecificPairWritesTheBareValue) {
    const std::optional<std::string> pairClass =
        ZELSortedDiskDictionaryKeyValuePair::makeKeyValuePairClassForValueClass("ZELSerializableString");
    ASSERT_EQ(pairClass, "ZELSortedDiskDictionaryKeyValuePairSpecific_ZELSerializableString");
    EXPECT_TRUE(ZELRegistry<ZELStreamDeserializer>::shared().containsEntryNamed(*pairClass));
    EXPECT_FALSE(ZELSortedDiskDictionaryKeyValuePair::makeKeyValuePairClassForValueClass(""));

    const auto pair = ZELSortedDiskDictionaryKeyValuePairSpecific::pairWithKey(
        "ZELSerializableString", u"ab", value(u"x"));
    EXPECT_EQ(pair->className(), *pairClass);
    EXPECT_EQ(pair->requiredValueClass(), "ZELSerializableString");
    const std::vector<uint8_t> expected = concatenated({kKeyAB, {8, 0, 0, 0}, kValueX});
    EXPECT_EQ(pair->serializedByteCount(), 20u);
    EXPECT_EQ(bytesOf(*pair, false), expected);

    const std::vector<uint8_t> tagged = bytesOf(*pair, true);
    EXPECT_EQ(tagged, concatenated({stringForm(*pairClass), expected}));
    const auto stream = readerOf(tagged);
    const auto object = stream->newReadZELSerializableOfLength(tagged.size());
    const auto* read = dynamic_cast<const ZELSortedDiskDictionaryKeyValuePairSpecific*>(object.get());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->key(), u"ab");
    EXPECT_EQ(dynamic_cast<const ZELSerializableString&>(*read->keyValue()).value(), u"x");
}

TEST_F(ZELSortedDiskDictionaryKeyValuePairTest, KeyOnlyPairReadsTheKeyAndRefusesToWrite) {
    EXPECT_EQ(ZELSortedDiskDictionaryKeyValuePair::keyOnlyPairClass(),
              "ZELSortedDiskDictionaryKeyValuePair_KeyOnly");
    const std::vector<uint8_t> record = concatenated({kKeyAB, {8, 0, 0, 0}, kValueX});
    const auto stream = readerOf(record);
    const auto pair = ZELSortedDiskDictionaryKeyValuePair_KeyOnly::newDeserializedFromStream(*stream, record.size());
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->key(), u"ab");
    EXPECT_FALSE(pair->keyValue());
    EXPECT_EQ(stream->currentLogicalOffset(), kKeyAB.size());

    const auto out = ZELDataWriteStream::stream();
    EXPECT_FALSE(pair->serializeToStream(*out));
    EXPECT_TRUE(out->mutableData()->empty());
}

TEST_F(ZELSortedDiskDictionaryKeyValuePairTest, DamagedRecordsReadAsNothing) {
    const std::string valueClass = "ZELSerializableString";
    const std::vector<uint8_t> good = concatenated({kKeyAB, {8, 0, 0, 0}, kValueX});
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        uint64_t length;
        int code;
    } cases[] = {
        {"value longer than the record", concatenated({kKeyAB, {9, 0, 0, 0}, kValueX}), 20, 3},
        {"record longer than announced", good, 19, 3},
        {"value length disagreeing with the value", concatenated({kKeyAB, {12, 0, 0, 0}, kValueX, {0, 0, 0, 0}}), 24, 3},
        {"truncated value", std::vector<uint8_t>(good.begin(), good.begin() + 15), 20, 6},
        {"truncated length", std::vector<uint8_t>(good.begin(), good.begin() + 10), 20, 6},
        {"odd key length", concatenated({{3, 0, 0, 0, 'a', 0, 'b', 0}, {8, 0, 0, 0}, kValueX}), 20, 3},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.what);
        const auto stream = readerOf(testCase.bytes);
        EXPECT_FALSE(ZELSortedDiskDictionaryKeyValuePairSpecific::newDeserializedFromStream(
            *stream, testCase.length, valueClass));
        EXPECT_TRUE(stream->streamError().matchesZELErrorCode(testCase.code))
            << stream->streamError().description();
    }

    const auto stream = readerOf(good);
    EXPECT_FALSE(ZELSortedDiskDictionaryKeyValuePairSpecific::newDeserializedFromStream(
        *stream, good.size(), "NoSuchValueClass"));
    EXPECT_EQ(stream->streamError().failureReason(),
              "key-value pair value class NoSuchValueClass is not registered");
}
