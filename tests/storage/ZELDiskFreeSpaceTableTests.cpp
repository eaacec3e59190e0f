#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>

#include "ZELDiskDataStorageTestSupport.h"
#include "zel/storage/ZELDiskFreeSpaceTable.h"

namespace {

using ZELDiskFreeSpaceTableTest = ZELDiskStorageTest;

std::shared_ptr<ZELDiskFreeSpaceTable> trackingEverything() {
    auto table = ZELDiskFreeSpaceTable::table();
    table->setSmallestTrackedBlockSize(0);
    return table;
}

TEST(ZELDiskFreeSpaceTable, RangesBelowTheTrackingSizeAreAbandoned) {
    auto table = ZELDiskFreeSpaceTable::table();
    EXPECT_EQ(table->smallestTrackedBlockSize(), 64u);
    table->addFreeBlockOfSize(40, 1000);
    EXPECT_EQ(table->byteCountAbandonedOnDisk(), 40u);
    EXPECT_EQ(table->blocksEntryCount(), 0u);
    EXPECT_TRUE(table->hasChanges());
    table->setSmallestTrackedBlockSize(0);
    EXPECT_EQ(table->smallestTrackedBlockSize(), 1u);
}

TEST(ZELDiskFreeSpaceTable, PrefersTheTightestRecentFitUnlessABlockHoldsTheRequestTwice) {
    auto table = trackingEverything();
    table->addFreeBlockOfSize(100, 1000);  // oldest
    table->addFreeBlockOfSize(60, 2000);
    table->addFreeBlockOfSize(70, 3000);  // newest

    // 70 (leftover 20) then 60 (leftover 10) are candidates; 100 leaves 50 >= 50: taken at once.
    uint64_t offset = 0;
    ASSERT_TRUE(table->getFreeBlockOffset(&offset, 50, true));
    EXPECT_EQ(offset, 1000u);
    EXPECT_EQ(table->blockAtIndex(0).offset, 1050u);
    EXPECT_EQ(table->blockAtIndex(0).size, 50u);

    // 70 leaves 40 >= 30: taken at once.
    ASSERT_TRUE(table->getFreeBlockOffset(&offset, 30, true));
    EXPECT_EQ(offset, 3000u);
    EXPECT_EQ(table->largestFreeBlockSize(), 60u);

    // Nothing holds 61 bytes.
    EXPECT_FALSE(table->getFreeBlockOffset(&offset, 61, true));
}

TEST(ZELDiskFreeSpaceTable, AnExactFitConsumesTheEntry) {
    auto table = trackingEverything();
    table->addFreeBlockOfSize(32, 64);
    table->addFreeBlockOfSize(32, 128);
    uint64_t offset = 0;
    ASSERT_TRUE(table->getFreeBlockOffset(&offset, 32, true));
    EXPECT_EQ(offset, 128u);
    EXPECT_EQ(table->freeBlockCount(), 1u);
    EXPECT_EQ(table->blockCountPendingRemoval(), 1u);
    EXPECT_EQ(table->freeBlocksTotalSize(), 32u);
    // A peek without dequeue takes nothing.
    ASSERT_TRUE(table->getFreeBlockOffset(&offset, 16, false));
    EXPECT_EQ(table->freeBlocksTotalSize(), 32u);
}

TEST(ZELDiskFreeSpaceTable, CompactionMergesTouchingBlocksOnly) {
    auto table = trackingEverything();
    table->addFreeBlockOfSize(10, 20);
    table->addFreeBlockOfSize(10, 0);
    table->addFreeBlockOfSize(10, 10);
    table->addFreeBlockOfSize(5, 100);
    table->compactFreeBlocks();
    EXPECT_EQ(table->freeBlockCount(), 2u);
    std::map<uint64_t, uint32_t> blocks;
    table->visitFreeBlocks(
        [&](const ZELDiskFreeSpaceTableBlock& block, bool&) { blocks[block.offset] = block.size; });
    EXPECT_EQ(blocks, (std::map<uint64_t, uint32_t>{{0, 30}, {100, 5}}));
    EXPECT_EQ(table->largestFreeBlockSize(), 30u);
}

TEST(ZELDiskFreeSpaceTable, ManyAddedBlocksCompactWhenRoomIsMissing) {
    auto table = trackingEverything();
    // 1001 touching 16-byte blocks hold no 32-byte block until compaction merges them.
    for (uint64_t i = 0; i < 1001; ++i) table->addFreeBlockOfSize(16, 8 + 16 * i);
    uint64_t offset = 0;
    ASSERT_TRUE(table->getFreeBlockOffset(&offset, 32, true));
    EXPECT_EQ(offset, 8u);
    EXPECT_EQ(table->freeBlocksTotalSize(), 1001u * 16 - 32);
}

// Every allocation lies inside a freed range and no byte is handed out twice.
TEST(ZELDiskFreeSpaceTable, AllocationsNeverOverlapAndStayInsideFreedRanges) {
    auto table = trackingEverything();
    std::mt19937 random(7);
    std::map<uint64_t, uint32_t> freeBytes;  // offset -> size of what was freed, disjoint
    std::map<uint64_t, uint32_t> taken;
    uint64_t end = 8;
    for (int step = 0; step < 4000; ++step) {
        if (random() % 3 == 0 && !taken.empty()) {
            auto victim = taken.begin();
            std::advance(victim, random() % taken.size());
            table->addFreeBlockOfSize(victim->second, victim->first);
            taken.erase(victim);
            continue;
        }
        const uint32_t size = 1 + random() % 300;
        uint64_t offset = 0;
        if (!table->getFreeBlockOffset(&offset, size, true)) {
            offset = end;
            end += size;
        }
        const auto next = taken.lower_bound(offset);
        ASSERT_TRUE(next == taken.end() || next->first >= offset + size) << step;
        if (next != taken.begin()) {
            const auto previous = std::prev(next);
            ASSERT_LE(previous->first + previous->second, offset) << step;
        }
        ASSERT_LE(offset + size, end);
        taken[offset] = size;
    }
    uint64_t freeTotal = 0;
    table->visitFreeBlocks([&](const ZELDiskFreeSpaceTableBlock& block, bool&) {
        freeTotal += block.size;
        const auto next = taken.lower_bound(block.offset);
        EXPECT_TRUE(next == taken.end() || next->first >= block.offset + block.size);
    });
    uint64_t takenTotal = 0;
    for (const auto& [offset, size] : taken) takenTotal += size;
    EXPECT_EQ(freeTotal + takenTotal + table->byteCountAbandonedOnDisk(), end - 8);
}

TEST_F(ZELDiskFreeSpaceTableTest, TableFileHasTheDocumentedLayout) {
    auto table = trackingEverything();
    table->addFreeBlockOfSize(100, 0x1122334455);
    table->addFreeBlockOfSize(16, 8);
    table->addAbandonedByteCount(3);
    const auto url = folder_ / "1.free";
    ZELError error;
    ASSERT_TRUE(table->writeToURL(url, &error)) << error.description();
    EXPECT_FALSE(table->hasChanges());

    // Version 2, 3 bytes abandoned, smallest and largest block 16 and 100, 2 blocks (offset, size).
    EXPECT_EQ(ZELTestReadFile(url),
              ZELTestHex("02000000 0300000000000000 10000000 64000000 02000000"
                         "5544332211000000 6400000000000000 0800000000000000 1000000000000000"));

    auto loaded = ZELDiskFreeSpaceTable::table();
    ASSERT_TRUE(loaded->readFromURL(url, &error)) << error.description();
    EXPECT_EQ(loaded->freeBlockCount(), 1u);  // the 16-byte block is below the tracking size 64
    EXPECT_EQ(loaded->byteCountAbandonedOnDisk(), 3u + 16u);
    EXPECT_EQ(loaded->largestFreeBlockSize(), 100u);
    EXPECT_FALSE(loaded->hasChanges());
}

// A missing file is an empty table; a damaged one fails and loads nothing.
TEST_F(ZELDiskFreeSpaceTableTest, DamagedFilesFailAndLoadNothing) {
    // Version, abandoned bytes, smallest tracked size, largest block, block count, then one
    // block (offset 8, size 16).
    const auto file = [](const char* version, const char* blockCount) {
        return ZELTestHex(std::string(version) + "0000000000000000 00000000 00000000" + blockCount +
                          "0800000000000000 1000000000000000");
    };
    std::vector<uint8_t> shortHeader = file("02000000", "01000000");
    shortHeader.resize(10);
    const struct {
        const char* what;
        std::optional<std::vector<uint8_t>> bytes;  // none: no file
        int code;                                   // 0: the read succeeds
        const char* reason;
    } cases[] = {
        {"missing file", std::nullopt, 0, ""},
        {"version 1", file("01000000", "01000000"), ZELErrorCodeInvalidData, "free space table version number is invalid"},
        // No allocation for a billion blocks in a 40-byte file.
        {"a billion blocks", file("02000000", "00CA9A3B"), ZELErrorCodeIOFailure, ""},
        {"header cut short", shortHeader, ZELErrorCodeIOFailure, ""},
    };
    const auto url = folder_ / "1.free";
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.what);
        std::filesystem::remove(url);
        if (testCase.bytes) ZELTestWriteFile(url, *testCase.bytes);
        auto table = ZELDiskFreeSpaceTable::table();
        ZELError error;
        EXPECT_EQ(table->readFromURL(url, &error), testCase.code == 0);
        if (testCase.code) {
            EXPECT_TRUE(error.matchesZELErrorCode(testCase.code)) << error.description();
        }
        EXPECT_NE(error.failureReason().find(testCase.reason), std::string::npos);
        EXPECT_EQ(table->freeBlockCount(), 0u);
    }
}

}  // namespace
