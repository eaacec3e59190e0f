#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ZELDiskDataStorageTestSupport.h"
#include "zel/platform/ZELException.h"
#include "zel/platform/ZELLog.h"
#include "zel/storage/ZELDiskDataStorageIndex.h"

namespace {

using ZELDiskDataStorageTest = ZELDiskStorageTest;

TEST_F(ZELDiskDataStorageTest, EmptyStoreSavedForTheFirstTimeCreatesItsIndex) {
    auto store = openStore();
    EXPECT_EQ(ZELTestReadFile(indexURL()), ZELTestHex("0A000000 00000000 00000000 00000000 00000000"));
    EXPECT_FALSE(std::filesystem::exists(baseURL()));
    EXPECT_EQ(store->largestAssignedObjectIndexID(), 0u);
    EXPECT_EQ(store->nextUnassignedUniqueIndexID(), 1u);
}

// Far IDs, reuse of freed IDs and refusal of living ones are checked by the model test.
TEST_F(ZELDiskDataStorageTest, AssigningAFarIDMarksOnlyItsSlot) {
    auto store = openStore();
    EXPECT_FALSE(store->assignUniqueIndexID(0, ZELTestObjectOfSize(1, 1)));
    ASSERT_TRUE(store->assignUniqueIndexID(200, ZELTestObjectOfSize(3, 1)));
    EXPECT_EQ(store->assignedCount(), 200u);
    EXPECT_EQ(store->fullDirtyRange().location, 199u);
    EXPECT_EQ(store->fullDirtyRange().length, 1u);
    uint32_t length = 7;
    EXPECT_EQ(store->assignedOffsetForObjectAtIndex(500, &length), 0u);
    EXPECT_EQ(length, 0u);
}

TEST_F(ZELDiskDataStorageTest, LookupsLoadOnlyWhenAskedAndCacheOnlyWhenAsked) {
    auto store = savedStore({30});
    store->compactMemory(0);
    EXPECT_EQ(store->objectAtIndexID(1, false, true), nullptr);
    EXPECT_EQ(ZELTestBytesOf(store->objectAtIndexID(1, true, false)),
              ZELTestObjectOfSize(30, 1)->bytes());
    EXPECT_EQ(store->objectAtIndexID(1, false, false), nullptr);  // not cached
    EXPECT_NE(store->objectAtIndexID(1, true, true), nullptr);
    EXPECT_NE(store->objectAtIndexID(1, false, false), nullptr);  // cached now
    EXPECT_EQ(store->objectAtIndexID(2, true, true), nullptr);
    EXPECT_EQ(store->objectAtIndexID(0, true, true), nullptr);
}

TEST_F(ZELDiskDataStorageTest, DeepCompactionSavesFirstLightCompactionKeepsDirtyObjects) {
    auto store = openStore();
    store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(30, 1));
    store->compactMemory(0);
    EXPECT_NE(store->objectAtIndexID(1, false, false), nullptr);  // never stored: kept
    store->evictCachedObjectAtIndexID(1);
    EXPECT_NE(store->objectAtIndexID(1, false, false), nullptr);  // dirty: kept
    store->compactMemory(2);
    EXPECT_EQ(store->fullDirtyRange().length, 0u);
    EXPECT_EQ(store->objectAtIndexID(1, false, false), nullptr);
    EXPECT_EQ(ZELTestBytesOf(openStore()->objectAtIndexID(1, true, true)),
              ZELTestObjectOfSize(30, 1)->bytes());

    // The predicate sees clean objects only and can stop the walk.
    store->objectAtIndexID(1, true, true);
    store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(5, 2));
    std::vector<ZELID> seen;
    store->compactMemory(
        0, [&](const ZELDiskDataStorage::Object&, ZELID objectID, bool isClean, bool& stop) {
            EXPECT_TRUE(isClean);
            seen.push_back(objectID);
            stop = true;
            return false;
        });
    EXPECT_EQ(seen, std::vector<ZELID>{1});
    EXPECT_NE(store->objectAtIndexID(1, false, false), nullptr);
}

TEST_F(ZELDiskDataStorageTest, EnumerationsFollowTheirDocumentedOrders) {
    auto store = openStore();
    // IDs 1..9 with sizes that spread them over files 3, 1 and 2, so that disk order differs
    // from ID order.
    const uint64_t sizes[] = {40, 5, 20, 41, 6, 21, 42, 7, 22};
    for (uint8_t i = 0; i < 9; ++i)
        store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(sizes[i], i));
    ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
    store->compactMemory(0);

    std::vector<uint64_t> diskOrder;
    store->enumerateObjectInfoInDiskOptimalOrderUsing(
        [&](uint64_t index, bool&) { diskOrder.push_back(index + 1); });
    EXPECT_EQ(diskOrder, (std::vector<uint64_t>{2, 5, 8, 3, 6, 9, 1, 4, 7}));

    const ZELID wanted[] = {9, 2, 5, 77};
    std::vector<std::vector<uint8_t>> visited;
    store->enumerateObjectsWithIndexIDs(wanted, 4, true,
                                        [&](const ZELDiskDataStorage::Object& object) {
                                            visited.push_back(ZELTestBytesOf(object));
                                        });
    EXPECT_EQ(visited, (std::vector<std::vector<uint8_t>>{ZELTestObjectOfSize(22, 8)->bytes(),
                                                          ZELTestObjectOfSize(5, 1)->bytes(),
                                                          ZELTestObjectOfSize(6, 4)->bytes(), {}}));

    std::vector<ZELID> inMemory;
    store->enumerateInMemoryObjectsUsing(
        [&](const ZELDiskDataStorage::Object&, ZELID objectID, bool isClean, bool&) {
            EXPECT_TRUE(isClean);
            inMemory.push_back(objectID);
        });
    EXPECT_EQ(inMemory, (std::vector<ZELID>{2, 5, 9}));

    std::vector<ZELID> dataOrder;
    store->enumerateObjectDataInDiskOptimalOrderUsing([&](ZELID objectID, const uint8_t* bytes,
                                                          uint64_t byteCount, bool& stop) {
        EXPECT_EQ(
            std::vector<uint8_t>(bytes, bytes + byteCount),
            ZELTestObjectOfSize(sizes[objectID - 1], static_cast<uint8_t>(objectID - 1))->bytes());
        dataOrder.push_back(objectID);
        stop = objectID == 6;
    });
    EXPECT_EQ(dataOrder, (std::vector<ZELID>{2, 5, 8, 3, 6}));

    std::vector<ZELID> all;
    store->enumerateObjectsForceLoad(true, [&](const ZELDiskDataStorage::Object&, ZELID objectID,
                                               bool&) { all.push_back(objectID); });
    EXPECT_EQ(all, (std::vector<ZELID>{1, 2, 3, 4, 5, 6, 7, 8, 9}));

    store->markObjectDirtyAtIndexID(7);
    store->markObjectDirtyAtIndexID(3);
    std::vector<uint64_t> dirty;
    store->enumerateDirtyObjectIndexesUsing([&](uint64_t index, bool&) { dirty.push_back(index); });
    EXPECT_EQ(dirty, (std::vector<uint64_t>{2, 6}));
    EXPECT_EQ(store->fullDirtyRange().location, 2u);
    EXPECT_EQ(store->fullDirtyRange().length, 5u);
}

TEST_F(ZELDiskDataStorageTest, SavedIndexHasTheDocumentedLayout) {
    auto store = openStore();
    store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(10, 1));   // L 14: file 1
    store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(20, 2));   // L 24: file 2
    store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(200, 3));  // L 204: file 9
    store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(11, 4));   // L 15: file 1
    store->removeObjectAtIndexID(2);
    ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));

    // The header (version 10, 4 entries, 3 living, largest ID 4, 0), then per ID its file, offset
    // and length; ID 2's entry is empty.
    EXPECT_EQ(ZELTestReadFile(indexURL()),
              ZELTestHex("0A000000 04000000 03000000 04000000 00000000 01000000 08000000"
                         "0E000000 00000000 00000000 00000000 09000000 08000000 CC000000"
                         "01000000 18000000 0F000000"));

    std::vector<uint8_t> batchedHeader = ZELTestReadFile(dataFileURL(9));
    ASSERT_EQ(batchedHeader.size(), 8u + 224u);
    batchedHeader.resize(12);
    EXPECT_EQ(batchedHeader, ZELTestHex("08000000 01000000 CC000000"));
}

TEST_F(ZELDiskDataStorageTest, SavingOneChangedSlotRewritesOnlyTheHeaderAndItsEntry) {
    std::vector<uint64_t> sizes;
    for (uint64_t i = 0; i < 1000; ++i) sizes.push_back(8 + i % 50);
    auto store = savedStore(sizes);
    const std::vector<uint8_t> before = ZELTestReadFile(indexURL());
    ASSERT_EQ(before.size(), 20u + 12u * 1000u);

    // ID 6 grows into another file: its entry changes.
    store->setObject(ZELTestObjectOfSize(100, 9), 6, true);
    ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
    const std::vector<uint8_t> after = ZELTestReadFile(indexURL());
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        if (i < 20 || (i >= 80 && i < 92)) continue;
        ASSERT_EQ(after[i], before[i]) << "byte " << i;
    }
    EXPECT_NE(std::vector<uint8_t>(after.begin() + 80, after.begin() + 92),
              std::vector<uint8_t>(before.begin() + 80, before.begin() + 92));

    // Assigning an ID past the end extends the file; the skipped entries read as empty.
    ASSERT_TRUE(store->assignUniqueIndexID(1003, ZELTestObjectOfSize(9, 1)));
    ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
    EXPECT_EQ(std::filesystem::file_size(indexURL()), 20u + 12u * 1003u);
    auto reopened = openStore();
    EXPECT_FALSE(reopened->isLivingObjectAtIndexID(1001));
    EXPECT_TRUE(reopened->isLivingObjectAtIndexID(1003));
    EXPECT_EQ(reopened->nextUnassignedUniqueIndexID(), 1001u);
}

// A reopened store reads its index page by page: changes to slots of pages it had not read
// (an object rewritten, one removed and its ID reused, one moved to another file) save the same
// bytes into every file as when every page was read first, and reopen as made.
TEST_F(ZELDiskDataStorageTest, ChangesToUnreadIndexPagesSaveTheSameBytes) {
    savedStore(std::vector<uint64_t>(1000, 10));
    const std::filesystem::path pristine = folder_ / "pristine";
    std::filesystem::create_directories(pristine);
    std::filesystem::copy(baseURL(), pristine / "items",
                          std::filesystem::copy_options::recursive);
    std::filesystem::copy_file(indexURL(), pristine / "items.index");
    const auto filesAfterChanges = [&](bool readsEveryPageFirst) {
        std::filesystem::remove_all(baseURL());
        std::filesystem::copy(pristine / "items", baseURL(),
                              std::filesystem::copy_options::recursive);
        std::filesystem::copy_file(pristine / "items.index", indexURL(),
                                   std::filesystem::copy_options::overwrite_existing);
        {
            auto store = openStore();
            if (readsEveryPageFirst) {
                EXPECT_TRUE(store->readAllSlotsAndGetError(nullptr));
            }
            store->setObject(ZELTestObjectOfSize(10, 77), 700, true);
            store->removeObjectAtIndexID(900);
            EXPECT_EQ(store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(12, 5)), 900u);
            store->setObject(ZELTestObjectOfSize(100, 9), 300, true);
            EXPECT_TRUE(store->ensureSerializedAndGetError(nullptr));
        }
        std::map<std::string, std::vector<uint8_t>> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder_)) {
            const std::string path = entry.path().lexically_relative(folder_).string();
            if (entry.is_regular_file() && path.rfind("pristine", 0) != 0) {
                files[path] = ZELTestReadFile(entry.path());
            }
        }
        return files;
    };
    const auto eager = filesAfterChanges(true);
    EXPECT_EQ(filesAfterChanges(false), eager);

    auto reopened = openStore();
    for (ZELID objectID = 1; objectID <= 1000; ++objectID) {
        const auto expected = objectID == 700   ? ZELTestObjectOfSize(10, 77)
                              : objectID == 900 ? ZELTestObjectOfSize(12, 5)
                              : objectID == 300 ? ZELTestObjectOfSize(100, 9)
                                                : ZELTestObjectOfSize(10, static_cast<uint8_t>(objectID));
        ASSERT_EQ(ZELTestBytesOf(reopened->objectAtIndexID(objectID, true, false)),
                  expected->bytes())
            << objectID;
    }
}

TEST_F(ZELDiskDataStorageTest, ResetStoreRewritesItsWholeIndex) {
    auto store = savedStore({8, 8, 8, 8, 8, 8, 8, 8, 8, 8});
    store->resetToEmpty();
    ASSERT_TRUE(store->assignUniqueIndexID(5, ZELTestObjectOfSize(9, 2)));
    ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
    EXPECT_EQ(std::filesystem::file_size(indexURL()), 20u + 12u * 5u);
    auto reopened = openStore();
    EXPECT_EQ(reopened->livingObjectCount(), 1u);
    for (ZELID objectID = 1; objectID <= 4; ++objectID) {
        EXPECT_FALSE(reopened->isLivingObjectAtIndexID(objectID)) << objectID;
    }
}

TEST_F(ZELDiskDataStorageTest, MissingIndexBesideADataFolderFailsTheLoad) {
    savedStore({8});
    std::filesystem::remove(indexURL());
    EXPECT_TRUE(loadError().matchesZELErrorCode(ZELErrorCodeInvalidData));
    EXPECT_TRUE(std::filesystem::exists(dataFileURL(1)));
}

TEST_F(ZELDiskDataStorageTest, LoadAllReadsEveryObjectWithoutLosingUnsavedChanges) {
    std::vector<uint64_t> sizes;
    for (uint64_t i = 0; i < 300; ++i) sizes.push_back(i * 37 % 3000);
    savedStore(sizes);
    auto store = openStore();
    store->setObject(ZELTestObjectOfSize(3, 3), 7, true);
    ZELError error;
    ASSERT_TRUE(store->loadAllAndGetError(&error)) << error.description();
    for (ZELID objectID = 1; objectID <= 300; ++objectID) {
        const auto object = store->objectAtIndexID(objectID, false, false);
        ASSERT_NE(object, nullptr) << objectID;
        EXPECT_EQ(ZELTestBytesOf(object),
                  objectID == 7 ? ZELTestObjectOfSize(3, 3)->bytes()
                                : ZELTestObjectOfSize(sizes[objectID - 1],
                                                      static_cast<uint8_t>(objectID))
                                      ->bytes());
    }
}

TEST_F(ZELDiskDataStorageTest, InvalidatedStoreRefusesToLoadOrSave) {
    auto store = openStore();
    store->invalidate();
    ZELError error;
    EXPECT_FALSE(store->ensureSerializedAndGetError(&error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeUnsupportedOperation));
    EXPECT_FALSE(store->assignUniqueIndexID(1, ZELTestObjectOfSize(1, 1)));
    EXPECT_EQ(store->objectAtIndexID(1, true, true), nullptr);
}

}  // namespace
