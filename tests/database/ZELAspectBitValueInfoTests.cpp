// The aspect bit value record: canonical-string voting and compaction, and its stored form.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/ZELTestFileBytes.h"
#include "zel/database/ZELAspectBitValueInfo.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/stream/ZELDataStream.h"

namespace {

void vote(ZELAspectBitValueInfo& info, const char16_t* string, int times) {
    for (int i = 0; i < times; ++i) info.voteForCanonicalString(string);
}

// Written form -> votes, whatever the entry order.
std::map<ZELString, uint64_t> entriesOf(const ZELAspectBitValueInfo& info) {
    std::map<ZELString, uint64_t> entries;
    const ZELAspectBitValueInfoCanonGuts& guts = info.canonGuts();
    for (uint32_t i = 0; i < guts.canonCount; ++i) {
        entries[guts.canons()[i].string] = guts.canons()[i].votes;
    }
    return entries;
}

ZELData serialized(const ZELAspectBitValueInfo& info) {
    auto stream = ZELDataWriteStream::stream();
    EXPECT_TRUE(info.serializeToStream(*stream));
    return *stream->mutableData();
}

// A stored record of `value` with use count 1 and the given entries.
ZELData recordBytes(std::u16string_view value,
                    const std::vector<std::pair<std::u16string, uint32_t>>& entries) {
    ZELData data;
    ZELData_AppendZELString(data, value);
    ZELData_AppendZELID(data, 1);
    ZELData_AppendZELID(data, static_cast<uint32_t>(entries.size()));
    for (const auto& [string, votes] : entries) {
        ZELData_AppendZELID(data, votes);
        ZELData_AppendZELString(data, string);
    }
    return data;
}

std::shared_ptr<ZELAspectBitValueInfo> read(const ZELData& data, ZELError* outError = nullptr) {
    auto stream = ZELDataStream::streamWithBytes(data);
    auto info = ZELAspectBitValueInfo::newDeserializedFromStream(*stream, data.size());
    if (outError) *outError = stream->streamError();
    return info;
}

// "paris" with use count 2^32 + 5 (the low 32 bits stored), 2 entries: Paris with 2 votes,
// PARIS with 1.
const ZELData kParisRecord = ZELTestHex(
    "0A000000 70006100720069007300 0000 05000000 02000000"
    "02000000 0A000000 50006100720069007300 0000 01000000 0A000000 50004100520049005300 0000");

}  // namespace

TEST(AspectBitValueInfo, StoredFormIsByteExact) {
    ZELAspectBitValueInfo info(u"paris");
    EXPECT_EQ(info.adjustUseCount(0x100000005), 0x100000005u);
    vote(info, u"Paris", 2);
    vote(info, u"PARIS", 1);
    EXPECT_EQ(info.serializedByteCount(), kParisRecord.size());
    EXPECT_EQ(serialized(info), kParisRecord);

    // A value without written forms: the string, the use count and a zero count.
    ZELAspectBitValueInfo empty(u"");
    EXPECT_EQ(serialized(empty), ZELData(12, 0));
    EXPECT_EQ(empty.serializedByteCount(), 12u);
    EXPECT_EQ(empty.canonicalStringVotedMost(), std::nullopt);
}

TEST(AspectBitValueInfo, ReadsBackWhatWasWritten) {
    auto info = read(kParisRecord);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->normalizedValue(), u"paris");
    EXPECT_EQ(info->useCount(), 5u);
    EXPECT_EQ(entriesOf(*info), (std::map<ZELString, uint64_t>{{u"PARIS", 1}, {u"Paris", 2}}));
    EXPECT_EQ(serialized(*info), kParisRecord);
    // A full array read back grows when a new form is voted for.
    auto three = read(recordBytes(u"x", {{u"a", 1}, {u"b", 1}, {u"c", 1}}));
    ASSERT_NE(three, nullptr);
    three->voteForCanonicalString(u"d");
    EXPECT_EQ(entriesOf(*three), (std::map<ZELString, uint64_t>{{u"a", 1}, {u"b", 1}, {u"c", 1}, {u"d", 1}}));

    // Class-tagged records find the registered reader.
    auto writer = ZELDataWriteStream::stream();
    ASSERT_TRUE(writer->writeZELSerializable(*info, false));
    const ZELData data = *writer->mutableData();
    auto reader = ZELDataStream::streamWithBytes(data);
    auto object = std::dynamic_pointer_cast<ZELAspectBitValueInfo>(
        reader->newReadZELSerializableOfLength(data.size()));
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(serialized(*object), kParisRecord);
}

// The most votes win, the later among equals. Once the leader has 31 votes, forms below a tenth
// of it fall away; past 1000 votes a form is pushed out by a neighbour with ten times its votes.
TEST(AspectBitValueInfo, VotingRules) {
    using Entries = std::map<ZELString, uint64_t>;
    const struct {
        std::vector<std::pair<std::u16string, uint32_t>> stored;  // empty: a new record
        std::vector<std::pair<const char16_t*, int>> votes;
        Entries entries;
        std::u16string best;
    } rows[] = {
        {{}, {{u"Apple", 1}, {u"APPLE", 1}, {u"apple", 1}}, {{u"Apple", 1}, {u"APPLE", 1}, {u"apple", 1}}, u"apple"},
        {{}, {{u"Apple", 1}, {u"APPLE", 1}, {u"apple", 1}, {u"Apple", 1}},
         {{u"Apple", 2}, {u"APPLE", 1}, {u"apple", 1}}, u"Apple"},
        {{}, {{u"PARIS", 3}, {u"Paris", 31}}, {{u"Paris", 31}}, u"Paris"},
        {{}, {{u"PARIS", 4}, {u"Paris", 31}}, {{u"PARIS", 4}, {u"Paris", 31}}, u"Paris"},
        {{}, {{u"PARIS", 1}, {u"Paris", 30}}, {{u"PARIS", 1}, {u"Paris", 30}}, u"Paris"},
        {{{u"weak", 1000}, {u"strong", 20000}}, {{u"weak", 1}}, {{u"strong", 20000}}, u"strong"},
        {{{u"a", 1000}, {u"b", 500}}, {{u"a", 1}}, {{u"a", 1001}, {u"b", 500}}, u"a"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(ZELStringToUTF8(row.best) + " " + std::to_string(row.entries.size()));
        auto info = row.stored.empty() ? std::make_shared<ZELAspectBitValueInfo>(u"x")
                                       : read(recordBytes(u"x", row.stored));
        ASSERT_NE(info, nullptr);
        for (const auto& [form, times] : row.votes) vote(*info, form, times);
        EXPECT_EQ(info->canonicalStringVotedMost(), row.best);
        EXPECT_EQ(entriesOf(*info), row.entries);
    }
    ZELAspectBitValueInfo young(u"paris");  // voting alone does not compact
    vote(young, u"PARIS", 3);
    vote(young, u"Paris", 31);
    EXPECT_EQ(young.canonGuts().canonCount, 2u);
}

TEST(AspectBitValueInfo, CompactionKeepsTheLeaderWhenItIsMovedIntoAFreedSlot) {
    // The leader is the last entry; dropping the others moves it down the array.
    ZELAspectBitValueInfo info(u"x");
    vote(info, u"a", 1);
    vote(info, u"b", 5);
    vote(info, u"c", 2);
    vote(info, u"d", 40);
    EXPECT_EQ(info.serializedByteCount(), 8u + 4 + 4 + 2 * (4 + 8));  // asks for the size: compacts
    EXPECT_EQ(entriesOf(info), (std::map<ZELString, uint64_t>{{u"b", 5}, {u"d", 40}}));
    EXPECT_EQ(info.canonicalStringVotedMost(), u"d");
}

TEST(AspectBitValueInfo, WritingCompactsSoBytesMatchTheSizeInAnyOrder) {
    ZELAspectBitValueInfo info(u"paris");
    vote(info, u"PARIS", 3);
    vote(info, u"Paris", 31);
    const ZELData written = serialized(info);  // without asking the size first
    EXPECT_EQ(written.size(), info.serializedByteCount());
    auto back = read(written);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(entriesOf(*back), (std::map<ZELString, uint64_t>{{u"Paris", 31}}));
}

TEST(AspectBitValueInfo, PastAThousandVotesNewFormsAreRefusedAndNeighboursPushedOut) {
    ZELAspectBitValueInfo info(u"paris");
    vote(info, u"Paris", 1000);
    vote(info, u"PARIS", 5);  // the leader has exactly 1000: still open
    EXPECT_EQ(info.canonGuts().canonCount, 2u);
    vote(info, u"Paris", 1);  // 1001 > 10 * 5: its neighbour falls away
    EXPECT_EQ(entriesOf(info), (std::map<ZELString, uint64_t>{{u"Paris", 1001}}));
    vote(info, u"paris", 1);  // closed to new forms
    vote(info, u"Paris", 1);
    EXPECT_EQ(entriesOf(info), (std::map<ZELString, uint64_t>{{u"Paris", 1002}}));
}

TEST(AspectBitValueInfo, EntryCountStopsAt65535AndCapacityNeverWraps) {
    std::vector<std::pair<std::u16string, uint32_t>> entries;
    for (uint32_t i = 0; i < 65532; ++i) {
        entries.emplace_back(std::u16string{char16_t(0x4E00 + i / 256), char16_t(0x4E00 + i % 256)},
                             1);
    }
    auto info = read(recordBytes(u"x", entries));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->canonGuts().canonCapacity, 65532u);
    info->voteForCanonicalString(u"new 1");
    EXPECT_EQ(info->canonGuts().canonCapacity, 65535u);
    info->voteForCanonicalString(u"new 2");
    info->voteForCanonicalString(u"new 3");
    EXPECT_EQ(info->canonGuts().canonCount, 65535u);
    info->voteForCanonicalString(u"new 4");
    EXPECT_EQ(info->canonGuts().canonCount, 65535u);
    info->voteForCanonicalString(u"new 3");  // existing forms still count
    EXPECT_EQ(info->canonicalStringVotedMost(), u"new 3");
}

TEST(AspectBitValueInfo, UseCountNeverWrapsBelowZero) {
    ZELAspectBitValueInfo info(u"x");
    EXPECT_EQ(info.adjustUseCount(1), 1u);
    EXPECT_EQ(info.adjustUseCount(2), 3u);
    EXPECT_EQ(info.adjustUseCount(-1), 2u);
    EXPECT_EQ(info.adjustUseCount(-5), 0u);
    EXPECT_EQ(info.adjustUseCount(INT64_MIN), 0u);
}

// Every truncation fails with the stream's error; damaged counts and lengths with code 3 or a
// range error.
TEST(AspectBitValueInfo, TruncatedAndDamagedRecordsFail) {
    for (size_t length = 0; length < kParisRecord.size(); ++length) {
        const ZELData truncated(kParisRecord.begin(), kParisRecord.begin() + length);
        ZELError error;
        EXPECT_EQ(read(truncated, &error), nullptr) << length;
        EXPECT_TRUE(error.isError()) << length;
    }
    const struct {
        std::vector<std::pair<std::u16string, uint32_t>> entries;
        std::vector<std::pair<size_t, uint8_t>> patches;
        int code;  // 0: any error
    } damages[] = {
        {{}, {{12, 0x00}, {14, 0x01}}, ZELErrorCodeInvalidData},  // 65536 entries: too many
        {{{u"a", 1}}, {{12, 0xFF}, {13, 0xFF}}, 0},  // 65535 entries: refused before allocating
        {{{u"a", 1}}, {{20, 0x03}}, ZELErrorCodeInvalidData},     // an odd string length
    };
    for (const auto& damage : damages) {
        ZELData record = recordBytes(u"x", damage.entries);
        for (const auto& [offset, byte] : damage.patches) record[offset] = byte;
        ZELError error;
        EXPECT_EQ(read(record, &error), nullptr);
        EXPECT_TRUE(damage.code ? error.matchesZELErrorCode(damage.code) : error.isError())
            << error.description();
    }
    // Every single-byte flip either reads or fails cleanly.
    for (size_t offset = 0; offset < kParisRecord.size(); ++offset) {
        ZELData flipped = kParisRecord;
        flipped[offset] ^= 0xA5;
        auto info = read(flipped);
        if (info) {
            EXPECT_EQ(serialized(*info).size(), info->serializedByteCount());
        }
    }
}
