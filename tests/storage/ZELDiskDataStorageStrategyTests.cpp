#include <gtest/gtest.h>

#include <filesystem>

#include "ZELDiskDataStorageTestSupport.h"
#include "support/ZELTestLogCapture.h"
#include "zel/storage/ZELDiskDataStorageStrategyManager.h"
#include "zel/storage/ZELDiskDataStorageStrategy_BatchedSizeBlocks.h"
#include "zel/storage/ZELDiskFreeSpaceTable.h"

namespace {

using ZELDiskDataStorageStrategyTest = ZELDiskStorageTest;

// An object whose serialization fails after announcing its size.
class ZELTestFailingObject final : public ZELStreamSerializable {
public:
    explicit ZELTestFailingObject(uint64_t size) : size_(size) {}
    uint64_t serializedByteCount() const override { return size_; }
    bool serializeToStream(ZELStream&) const override { return false; }

private:
    uint64_t size_;
};

std::map<uint64_t, uint32_t> freeBlocksOf(ZELDiskDataStorage& store, uint64_t fileNumber) {
    std::map<uint64_t, uint32_t> blocks;
    store.objectStore()
        ->fixedStrategyForFileNumber(fileNumber)
        ->freeSpaceTable()
        ->visitFreeBlocks([&](const ZELDiskFreeSpaceTableBlock& block, bool&) {
            blocks[block.offset] = block.size;
        });
    return blocks;
}

TEST(ZELDiskDataStorageStrategyManager, SizeClassesAndBatchedBlockSizes) {
    ZELDiskDataStorageStrategyManager manager("/nonexistent/items");
    const auto fileFor = [&](uint64_t byteCount) -> uint64_t {
        auto* strategy = manager.fixedStrategyForBlockOfSize(byteCount);
        return strategy ? strategy->fileNum() : 0;
    };
    // Object byte count -> file number (0: a one-object file).
    const std::pair<uint64_t, uint64_t> rows[] = {{0, 1},   {12, 1},  {13, 2},      {124, 8},     {125, 9},
                                                  {252, 9}, {253, 10}, {511996, 18}, {511997, 0}};
    for (const auto& [byteCount, file] : rows) EXPECT_EQ(fileFor(byteCount), file) << byteCount;
    EXPECT_EQ(manager.fixedStrategyMaximumBlockSize(), 512000u);
    EXPECT_EQ(manager.fixedStrategyIndexForFileNumber(18), 17u);
    EXPECT_EQ(manager.fixedStrategyIndexForFileNumber(19),
              ZELDiskDataStorageStrategyManager::kNotFound);
    EXPECT_EQ(manager.dataFileURLForFileNumber(7, false), "/nonexistent/items/0/7.data");
    EXPECT_EQ(manager.dataFileURLForFileNumber(134, false), "/nonexistent/items/100/134.data");

    // A batched file's blocks are always larger than the length.
    ZELDiskDataStorageStrategy_BatchedSizeBlocks strategy(9, "/nonexistent/9.data");
    const std::pair<uint64_t, uint64_t> blockRows[] = {{160, 192}, {144, 160},   {204, 224},
                                                       {512, 544}, {513, 640},   {5121, 6144},
                                                       {102401, 122880}};
    for (const auto& [length, block] : blockRows) {
        EXPECT_EQ(strategy.desiredBlockSizeForObjectSerializedLength(length), block) << length;
    }
}

TEST_F(ZELDiskDataStorageStrategyTest, GrowingObjectMovesAndItsOldBlockIsFreedAfterTheSave) {
    auto store = savedStore({10});
    const ZELDiskDataStorageObjectInfo& info = store->assignedObjectInfoAtIndex(0);
    EXPECT_EQ(info.fileNumber, 1u);
    EXPECT_EQ(info.offset, 8u);
    EXPECT_EQ(info.length, 14u);
    // Version 8, 16-byte blocks; the block: length 14, the object's bytes, zero padding.
    EXPECT_EQ(ZELTestReadFile(dataFileURL(1)),
              ZELTestHex("08000000 10000000 0E000000 01080F161D242B323940 0000"));

    store->setObject(ZELTestObjectOfSize(20, 2), 1, true);
    ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
    EXPECT_EQ(info.fileNumber, 2u);
    EXPECT_EQ(info.length, 24u);
    EXPECT_EQ(freeBlocksOf(*store, 1), (std::map<uint64_t, uint32_t>{{8, 16}}));
    std::vector<uint8_t> table = ZELTestReadFile(freeSpaceTableURL(1));
    ASSERT_EQ(table.size(), 40u);
    EXPECT_EQ(ZELTestRead32(table, 20), 1u);   // one block
    EXPECT_EQ(ZELTestRead32(table, 24), 8u);   // at offset 8
    EXPECT_EQ(ZELTestRead32(table, 32), 16u);  // of 16 bytes
}

TEST_F(ZELDiskDataStorageStrategyTest, BatchedObjectKeepsItsBlockWhenItStillFits) {
    auto store = savedStore({200});
    const ZELDiskDataStorageObjectInfo& info = store->assignedObjectInfoAtIndex(0);
    EXPECT_EQ(info.fileNumber, 9u);
    EXPECT_EQ(info.offset, 8u);
    EXPECT_EQ(std::filesystem::file_size(dataFileURL(9)), 8u + 224u);

    store->setObject(ZELTestObjectOfSize(190, 4), 1, true);
    ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
    EXPECT_EQ(info.fileNumber, 9u);
    EXPECT_EQ(info.offset, 8u);
    EXPECT_EQ(info.length, 194u);
    EXPECT_EQ(std::filesystem::file_size(dataFileURL(9)), 8u + 224u);
    auto reopened = openStore();
    EXPECT_EQ(ZELTestBytesOf(reopened->objectAtIndexID(1, true, true)),
              ZELTestObjectOfSize(190, 4)->bytes());
}

TEST_F(ZELDiskDataStorageStrategyTest, LargeObjectGetsAOneObjectFileDeletedOnceNoIndexNamesIt) {
    auto store = savedStore({511996, 511997});
    EXPECT_EQ(store->assignedObjectInfoAtIndex(0).fileNumber, 18u);
    EXPECT_EQ(store->assignedObjectInfoAtIndex(1).fileNumber, 100u);
    EXPECT_EQ(store->assignedObjectInfoAtIndex(1).offset, 4u);
    EXPECT_EQ(std::filesystem::file_size(dataFileURL(100)), 4u + 4u + 511997u);

    // A one-object file stays the object's file whatever its size.
    store->setObject(ZELTestObjectOfSize(10, 7), 2, true);
    ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
    EXPECT_EQ(store->assignedObjectInfoAtIndex(1).fileNumber, 100u);

    store->removeObjectAtIndexID(2);
    EXPECT_TRUE(std::filesystem::exists(dataFileURL(100)));  // the saved index still names it
    ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
    EXPECT_FALSE(std::filesystem::exists(dataFileURL(100)));

    // Its number is free again.
    store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(600000, 8));
    ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
    EXPECT_EQ(store->assignedObjectInfoAtIndex(1).fileNumber, 100u);
}

TEST_F(ZELDiskDataStorageStrategyTest, OneObjectFileNumbersAreReusedBelowTheSixteenBitLimit) {
    // Every hundreds folder up to 65500 exists and the last is full: counting on would pass
    // 65,535, so the freed numbers below are taken.
    for (uint64_t folder = 100; folder <= 65500; folder += 100) {
        std::filesystem::create_directories(baseURL() / std::to_string(folder));
    }
    for (uint64_t fileNumber = 65500; fileNumber <= 65535; ++fileNumber) {
        ZELTestWriteFile(dataFileURL(fileNumber), {8, 0, 0, 0});
    }
    ZELTestWriteFile(dataFileURL(100), {8, 0, 0, 0});
    ZELDiskDataStorageStrategyManager manager(baseURL());
    EXPECT_EQ(manager.firstUnusedOneBlockFileNumber(nullptr), 101u);
}

TEST_F(ZELDiskDataStorageStrategyTest, FailedPlacementKeepsTheOldBlockOutOfTheFreeSpaceTable) {
    auto store = savedStore({10});

    // The move to file 2 fails: the slot keeps its block, which nothing may reuse.
    store->setObject(std::make_shared<ZELTestFailingObject>(20), 1, true);
    ZELError error;
    EXPECT_FALSE(store->ensureSerializedAndGetError(&error));
    EXPECT_EQ(store->assignedObjectInfoAtIndex(0).fileNumber, 1u);
    EXPECT_EQ(store->assignedObjectInfoAtIndex(0).offset, 8u);
    EXPECT_TRUE(freeBlocksOf(*store, 1).empty());
    EXPECT_NE(store->fullDirtyRange().length, 0u);  // the next save retries

    // Without a successful save the stored object is intact.
    auto reopened = openStore();
    EXPECT_EQ(ZELTestBytesOf(reopened->objectAtIndexID(1, true, true)),
              ZELTestObjectOfSize(10, 1)->bytes());
}

TEST_F(ZELDiskDataStorageStrategyTest, BlocksOfRemovedObjectsAreReusedOnlyAfterTheIndexIsSaved) {
    auto store = savedStore({10});
    store->removeObjectAtIndexID(1);
    ASSERT_EQ(store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(10, 2)), 1u);
    ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
    EXPECT_EQ(store->assignedObjectInfoAtIndex(0).offset, 24u);  // appended, not the old block
    EXPECT_EQ(freeBlocksOf(*store, 1), (std::map<uint64_t, uint32_t>{{8, 16}}));

    ASSERT_EQ(store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(12, 3)), 2u);
    ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
    EXPECT_EQ(store->assignedObjectInfoAtIndex(1).offset, 8u);  // now reused
    EXPECT_TRUE(freeBlocksOf(*store, 1).empty());
}

TEST_F(ZELDiskDataStorageStrategyTest, SharedFileRefusesToGrowPast4GiB) {
    auto store = openStore();
    std::filesystem::create_directories(dataFileURL(1).parent_path());
    ZELTestWriteFile(dataFileURL(1), ZELTestHex("08000000 10000000"));  // version 8, 16-byte blocks
    std::filesystem::resize_file(dataFileURL(1), 0xFFFFFFF8);  // sparse
    ZELTestLogCapture log;
    store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(10, 1));
    ZELError error;
    EXPECT_FALSE(store->ensureSerializedAndGetError(&error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeWriteFailed)) << error.description();
    EXPECT_EQ(store->assignedObjectInfoAtIndex(0).offset, 0u);
    EXPECT_EQ(std::filesystem::file_size(dataFileURL(1)), 0xFFFFFFF8u);
}

}  // namespace
