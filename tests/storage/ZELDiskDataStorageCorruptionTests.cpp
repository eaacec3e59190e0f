#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ZELDiskDataStorageTestSupport.h"
#include "support/ZELTestLogCapture.h"
#include "zel/storage/ZELDiskDataStorageStrategyManager.h"

namespace {

// Damaged index files, free space tables and data files: each gives the error its format names,
// a damaged object's lookup yields null and reaches the delegate, and nothing crashes.
class ZELDiskDataStorageCorruptionTest : public ZELDiskStorageTest {
protected:
    // IDs 1-6: 10 bytes (file 1), 20 (file 2), 200 (file 9), 10 (file 1), 3000 (file 12),
    // 520,000 (file 100); then ID 4 removed so that file 1 has a free block.
    void writeStore() {
        auto store = savedStore({10, 20, 200, 10, 3000, 520000});
        store->removeObjectAtIndexID(4);
        ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
    }

    void patch32(const std::filesystem::path& url, size_t offset, uint32_t value) {
        std::vector<uint8_t> bytes = ZELTestReadFile(url);
        ZELTestPut32(bytes, offset, value);
        ZELTestWriteFile(url, bytes);
    }

    // Loads the store and looks up `objectID`, which must fail; answers the error the delegate
    // was given.
    ZELError lookupError(ZELID objectID) {
        auto store = openStore();
        ZELTestErrorRecorder recorder;
        store->setDelegate(&recorder);
        EXPECT_EQ(store->objectAtIndexID(objectID, true, true), nullptr);
        EXPECT_EQ(recorder.errors.size(), 1u);
        EXPECT_EQ(store->lastError(), recorder.errors.empty() ? ZELError() : recorder.errors[0]);
        // The other objects still read.
        EXPECT_NE(store->objectAtIndexID(objectID == 1 ? 2 : 1, true, true), nullptr);
        return recorder.errors.empty() ? ZELError() : recorder.errors[0];
    }

    static bool mentions(const ZELError& error, const char* text) {
        return error.failureReason().find(text) != std::string::npos;
    }

    ZELTestLogCapture log_;  // damage is logged: keep quiet
};

// A header word of the index or of a data file with a value its format does not know fails
// the load with code 1; mended, the store loads again.
TEST_F(ZELDiskDataStorageCorruptionTest, UnknownHeaderValuesFailTheLoadWithCode1) {
    writeStore();
    const struct {
        std::filesystem::path file;
        size_t offset;
        uint32_t value;
        const char* reason;
    } damages[] = {
        {indexURL(), 0, 7, "ZELDiskDataStorage index file has unsupported version"},
        {dataFileURL(2), 0, 7, "ZELDiskDataStorage data file has unsupported version"},
        {dataFileURL(9), 4, 2, "bad batched-size-block file version"},
        {dataFileURL(1), 4, 32, ""},  // file 1 holds 16-byte blocks
    };
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.file.filename().string());
        const std::vector<uint8_t> pristine = ZELTestReadFile(damage.file);
        patch32(damage.file, damage.offset, damage.value);
        const ZELError error = loadError();
        EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeUnsupportedFormat)) << error.description();
        EXPECT_TRUE(mentions(error, damage.reason)) << error.description();
        ZELTestWriteFile(damage.file, pristine);
        openStore();
    }
}

TEST_F(ZELDiskDataStorageCorruptionTest, TruncatedIndexFailsWithTheStreamsReadError) {
    writeStore();
    const std::vector<uint8_t> index = ZELTestReadFile(indexURL());
    for (const size_t length : {size_t{0}, size_t{3}, size_t{10}, size_t{19}, index.size() - 1}) {
        ZELTestWriteFile(indexURL(), std::vector<uint8_t>(index.begin(), index.begin() + length));
        const ZELError error = loadError();
        EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeIOFailure)) << length;
        EXPECT_TRUE(mentions(error, "readBytes failed")) << error.description();
    }
    // An entry count far beyond the file: no allocation for it, the same error.
    ZELTestWriteFile(indexURL(), index);
    patch32(indexURL(), 4, 0xFFFFFFFF);
    EXPECT_TRUE(loadError().matchesZELErrorCode(ZELErrorCodeIOFailure));
}

TEST_F(ZELDiskDataStorageCorruptionTest, BlockWhosePrefixDisagreesYieldsNullAndCode3) {
    writeStore();
    patch32(dataFileURL(1), 8, 12);  // ID 1's block says 12, its slot 14
    const ZELError error = lookupError(1);
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeInvalidData));
    EXPECT_EQ(error.failureReason(), "loadable object data lengths do not match");
}

TEST_F(ZELDiskDataStorageCorruptionTest, DamagedEntriesYieldNullWithTheirErrors) {
    writeStore();
    const std::vector<uint8_t> index = ZELTestReadFile(indexURL());
    const size_t entryOfID2 = 20 + 12;

    const struct {
        size_t field;  // of ID 2's entry: 0 file number, 4 offset, 8 length
        uint32_t value;
        int code;  // 0: any error
        const char* reason = nullptr;
    } damages[] = {
        {4, 1000000, ZELErrorCodeIOFailure},  // offset past the end of file 2
        {8, 0x7FFFFFF0, 0},                   // length past the end of the file
        {0, 50, ZELErrorCodeUnsupportedOperation, "no file strategy for object"},
        {8, 2, ZELErrorCodeInvalidData},  // length shorter than the prefix
    };
    for (const auto& damage : damages) {
        ZELTestWriteFile(indexURL(), index);
        patch32(indexURL(), entryOfID2 + damage.field, damage.value);
        const ZELError error = lookupError(2);
        EXPECT_TRUE(damage.code ? error.matchesZELErrorCode(damage.code) : error.isError())
            << damage.value << ": " << error.description();
        if (damage.reason) {
            EXPECT_EQ(error.failureReason(), damage.reason);
        }
    }
    ZELTestWriteFile(indexURL(), index);
    std::filesystem::remove(dataFileURL(100));  // ID 6's one-object file is gone
    EXPECT_TRUE(lookupError(6).matchesZELErrorCode(ZELErrorCodeFileAccess));
}

// The index's entries are read page by page as slots are first used, after opening and again
// after a compaction has let go of the clean pages: an index shortened meanwhile fails the
// lookups whose page it cut (through the delegate, as any lookup error) and the saves after
// them, so that no entry the store could not read is written over.
TEST_F(ZELDiskDataStorageCorruptionTest, IndexShortenedUnderTheStoreFailsTheReadsThatMeetIt) {
    for (const bool afterCompaction : {false, true}) {
        SCOPED_TRACE(afterCompaction ? "after a compaction" : "after opening");
        std::filesystem::remove_all(baseURL());
        std::filesystem::remove(indexURL());
        std::shared_ptr<ZELDiskDataStorage> store = openStore();
        for (int i = 0; i < 600; ++i) store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(10, 1));
        if (afterCompaction) {
            store->compactMemory(2);
        } else {
            ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
            store = makeStore();
            ASSERT_TRUE(store->loadAndGetError(nullptr));
        }
        ZELTestErrorRecorder recorder;
        store->setDelegate(&recorder);
        EXPECT_NE(store->objectAtIndexID(1, true, true), nullptr);
        const uint64_t shortened = 20 + 12 * 300;  // the entries of IDs 301 on are gone
        std::filesystem::resize_file(indexURL(), shortened);

        EXPECT_EQ(store->objectAtIndexID(400, true, true), nullptr);
        ASSERT_EQ(recorder.errors.size(), 1u);
        EXPECT_TRUE(recorder.errors[0].matchesZELErrorCode(ZELErrorCodeIOFailure));
        EXPECT_TRUE(mentions(recorder.errors[0], "items.index"));
        EXPECT_EQ(store->lastError(), recorder.errors[0]);
        EXPECT_NE(store->objectAtIndexID(2, true, true), nullptr);

        store->setObject(ZELTestObjectOfSize(10, 2), 2, true);
        ZELError error;
        EXPECT_FALSE(store->ensureSerializedAndGetError(&error));
        EXPECT_EQ(error, recorder.errors[0]);
        EXPECT_EQ(std::filesystem::file_size(indexURL()), shortened);
        store->setDelegate(nullptr);
    }
}

// A free space table is derived data: one that cannot be read (a bad version, truncated) or
// that offers the block of a stored object (ID 1 at offset 8 of file 1, inside the file or
// running past its end) is rebuilt from the index with a warning before the store first
// writes, offering exactly the block ID 4 left, so that a new object cannot overwrite ID 1.
TEST_F(ZELDiskDataStorageCorruptionTest, DamagedFreeSpaceTablesAreRebuiltWithAWarning) {
    writeStore();
    const std::vector<uint8_t> table = ZELTestReadFile(freeSpaceTableURL(1));
    std::vector<std::vector<uint8_t>> damaged{table, {table.begin(), table.begin() + 30}};
    damaged[0][0] = 1;
    for (const uint64_t size : {16, 64}) {
        damaged.emplace_back();
        for (uint32_t field : {2u, 0u, 0u, 0u, 0u, 1u}) ZELTestAppend32(damaged.back(), field);
        ZELTestAppend64(damaged.back(), 8);
        ZELTestAppend64(damaged.back(), size);
    }
    for (size_t i = 0; i < damaged.size(); ++i) {
        ZELTestWriteFile(freeSpaceTableURL(1), damaged[i]);
        {
            auto store = makeStore();
            ZELTestErrorRecorder recorder;
            store->setDelegate(&recorder);
            ASSERT_TRUE(store->loadAndGetError(nullptr)) << i;
            // Reading and a save with nothing to write leave the tables alone; the first
            // write compares and rebuilds them first.
            EXPECT_NE(store->objectAtIndexID(1, true, true), nullptr);
            ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
            EXPECT_TRUE(recorder.warnings.empty()) << i;
            const ZELID added = store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(9, 9));
            ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
            ASSERT_EQ(recorder.warnings.size(), 1u) << i;
            EXPECT_TRUE(mentions(recorder.warnings[0], "1.free")) << i;
            EXPECT_EQ(store->assignedObjectInfoAtIndex(added - 1).offset, 24u) << i;
            store->removeObjectAtIndexID(added);
            ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
            const auto blocks =
                store->objectStore()->fixedStrategyForFileNumber(1)->sortedFreeBlocks();
            ASSERT_EQ(blocks.size(), 1u) << i;
            EXPECT_EQ(blocks[0].offset, 24u);
            EXPECT_EQ(blocks[0].size, 16u);
        }
        auto store = makeStore();
        ZELTestErrorRecorder recorder;
        store->setDelegate(&recorder);
        ASSERT_TRUE(store->loadAndGetError(nullptr));
        EXPECT_TRUE(recorder.warnings.empty()) << i;  // the rebuilt table was saved
        EXPECT_EQ(ZELTestBytesOf(store->objectAtIndexID(1, true, true)),
                  ZELTestObjectOfSize(10, 1)->bytes())
            << i;
    }
}

}  // namespace
