// Byte strings, base64, serializable data and the sorted dictionary keys.

#include <gtest/gtest.h>

#include <random>

#include "zel/stream/ZELData+Base64.h"
#include "zel/stream/ZELDataStream.h"
#include "zel/stream/ZELSerializableData.h"
#include "zel/stream/ZELString+ByteString.h"
#include "zel/stream/ZELValue+Collections.h"

namespace {

ZELData ascii(std::string_view text) { return ZELData(text.begin(), text.end()); }

std::string text(const ZELData& data) { return std::string(data.begin(), data.end()); }

}  // namespace

TEST(ByteString, ConversionAndLengths) {
    EXPECT_EQ(ZELString_MaximumLengthOfZELByteString(u""), 1u);
    EXPECT_EQ(ZELString_MaximumLengthOfZELByteString(u"ab"), 5u);

    uint8_t buffer[8] = {};
    uint64_t used = 99;
    EXPECT_TRUE(ZELString_GetZELByteString(u"ab", buffer, 8, &used));
    EXPECT_EQ(used, 4u);
    EXPECT_EQ(ZELData(buffer, buffer + 4), ZELData({'a', 0, 'b', 0}));
    EXPECT_FALSE(ZELString_GetZELByteString(u"abc", buffer, 5, &used)) << "only two units fit";
    EXPECT_EQ(used, 4u);

    const uint8_t stored[] = {0x3D, 0xD8, 0x00, 0xDE, 0x41};
    EXPECT_EQ(ZELString_WithZELByteString(stored, 5), u"\U0001F600") << "the odd byte is dropped";
    EXPECT_EQ(ZELString_WithZELByteString(stored, 0), u"");

    // A character outside the basic plane is two units.
    std::vector<std::pair<uint16_t, uint64_t>> visited;
    ZELString_EnumerateZELByteStringUnits(
        u"\U0001F600", [&](uint16_t unit, uint64_t index) { visited.emplace_back(unit, index); });
    EXPECT_EQ(visited, (std::vector<std::pair<uint16_t, uint64_t>>{{0xD83D, 0}, {0xDE00, 1}}));
    EXPECT_EQ(ZELString_MaximumLengthOfZELByteString(u"\U0001F600"), 5u);
}

TEST(Base64, EncodingOfTheStandardVectors) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : cases) {
        EXPECT_EQ(ZELData_Base64String(ascii(plain)), encoded);
        EXPECT_EQ(ZELData_WithBase64String(std::string_view(encoded)), ascii(plain));
    }
    const uint8_t high[] = {0xFB, 0xFF, 0xBF};
    EXPECT_EQ(ZELData_Base64String(high), "+/+/");
}

TEST(Base64, LineBreaks) {
    const ZELData fiftySeven(57, 0);
    const std::string oneLine = text(ZELData_Base64DataWithLineLength(fiftySeven, 76));
    EXPECT_EQ(oneLine, std::string(76, 'A') + "\n");
    EXPECT_EQ(text(ZELData_Base64DataWithLineLength(fiftySeven, 0)), std::string(76, 'A'));
    EXPECT_EQ(text(ZELData_Base64DataWithLineLength(ZELData(58, 0), 76)),
              std::string(76, 'A') + "\n" + "AA==");
    // Lines hold the line length rounded up to a multiple of 4.
    EXPECT_EQ(text(ZELData_Base64DataWithLineLength(ZELData(12, 0), 10)),
              std::string(12, 'A') + "\n" + std::string(4, 'A'));
}

TEST(Base64, LenientDecoding) {
    EXPECT_EQ(ZELData_WithBase64String(std::string_view("Zm\n9v")), ascii("foo"));
    EXPECT_EQ(ZELData_WithBase64String(std::string_view(" Zm9v\r\nYmFy\r\n")), ascii("foobar"));
    EXPECT_EQ(ZELData_WithBase64String(std::string_view("Zg==Zg==")), ascii("ff"));
    EXPECT_EQ(ZELData_WithBase64String(std::string_view("\n\n")), ZELData());
    EXPECT_FALSE(ZELData_WithBase64String(std::string_view("Zg=")));
    EXPECT_FALSE(ZELData_WithBase64String(std::string_view("=m9v")));
    EXPECT_EQ(ZELData_WithBase64String(std::u16string_view(u"Z\u00e9m\u4e2d9v")), ascii("foo"));
}

TEST(Base64, RandomRoundTrips) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        ZELData bytes(random() % 300);
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
        const uint32_t lineLength = random() % 3 == 0 ? 0 : random() % 100;
        const ZELData encoded = ZELData_Base64DataWithLineLength(bytes, lineLength);
        EXPECT_EQ(ZELData_WithBase64String(std::string_view(text(encoded))), bytes);
    }
}

TEST(SerializableData, BytesAloneWithTheContainersLength) {
    const auto data = ZELSerializableData::dataWithValue(ZELData({1, 2, 3}));
    EXPECT_EQ(data->serializedByteCount(), 3u);
    auto stream = ZELDataWriteStream::stream();
    EXPECT_TRUE(data->serializeToStream(*stream));
    EXPECT_EQ(*stream->mutableData(), ZELData({1, 2, 3}));
    auto reader = ZELStream::streamForReadingData(stream->mutableData());
    auto readBack = ZELSerializableData::newDeserializedFromStream(*reader, 2);
    ASSERT_TRUE(readBack);
    EXPECT_EQ(readBack->value(), ZELData({1, 2}));
    EXPECT_FALSE(ZELSerializableData::newDeserializedFromStream(*reader, 2));
}

TEST(Collections, KeysSortedByValueKeepTheKeyOrderAmongEqualValues) {
    const ZELValue::Dictionary dictionary{
        {u"a", ZELValue(3)}, {u"b", ZELValue(1)}, {u"c", ZELValue(2)}, {u"d", ZELValue(1)}};
    const auto ascending = [](const ZELValue& a, const ZELValue& b) {
        return static_cast<int32_t>(a.integerValue() - b.integerValue());
    };
    EXPECT_EQ(ZELDictionary_AllKeysSortedByValue(dictionary, ascending),
              (std::vector<ZELString>{u"b", u"d", u"c", u"a"}));
}
