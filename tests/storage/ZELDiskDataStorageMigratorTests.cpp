#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ZELDiskDataStorageTestSupport.h"
#include "support/ZELTestLogCapture.h"
#include "zel/storage/ZELDiskDataStorageIndex.h"

namespace {

// Legacy stores written by hand: B.index version 8 (uint32 offset and length per entry) or 9
// (uint64 each), B.data with the base header and exactly sized blocks (uint32 N, N bytes), and
// a B.free.
class ZELDiskDataStorageMigratorTest : public ZELDiskStorageTest {
protected:
    std::filesystem::path legacyDataURL() const { return folder_ / "items.data"; }
    std::filesystem::path legacyFreeURL() const { return folder_ / "items.free"; }

    // Objects for IDs 1, 3, 4 and 6 (2 and 5 are holes); ID 4 is big enough for a one-object
    // file, ID 6 is empty.
    std::vector<std::vector<uint8_t>> objects() const {
        return {ZELTestObjectOfSize(5, 1)->bytes(),      {}, ZELTestObjectOfSize(300, 3)->bytes(),
                ZELTestObjectOfSize(520000, 4)->bytes(), {}, {}};
    }

    // Writes the legacy files; `wideEntries` selects version 9. `highOffsetBits` is added to
    // every version 9 offset (only the low 32 bits count).
    void writeLegacyStore(bool wideEntries, uint64_t highOffsetBits) {
        std::vector<uint8_t> data{8, 0, 0, 0};
        std::vector<uint8_t> index;
        const auto objectList = objects();
        const auto count = static_cast<uint32_t>(objectList.size());
        for (const uint32_t field : {wideEntries ? 9u : 8u, count, 4u, count, 0u}) {
            ZELTestAppend32(index, field);
        }
        // Blocks are laid out in reverse ID order so that disk order differs from ID order.
        std::vector<std::pair<uint64_t, uint64_t>> entries(objectList.size());
        for (size_t i = objectList.size(); i-- > 0;) {
            if (i == 1 || i == 4) continue;
            entries[i] = {data.size(), objectList[i].size()};
            ZELTestAppend32(data, static_cast<uint32_t>(objectList[i].size()));
            data.insert(data.end(), objectList[i].begin(), objectList[i].end());
        }
        for (const auto& [offset, length] : entries) {
            if (wideEntries) {
                ZELTestAppend64(index, offset == 0 ? 0 : offset + highOffsetBits);
                ZELTestAppend64(index, length);
            } else {
                ZELTestAppend32(index, static_cast<uint32_t>(offset));
                ZELTestAppend32(index, static_cast<uint32_t>(length));
            }
        }
        ZELTestWriteFile(indexURL(), index);
        ZELTestWriteFile(legacyDataURL(), data);
        ZELTestWriteFile(legacyFreeURL(),
                         ZELTestHex("02000000 0000000000000000 00000000 00000000 00000000"));
    }

    void expectConvertedStore() {
        auto store = openStore();
        EXPECT_FALSE(std::filesystem::exists(legacyDataURL()));
        EXPECT_FALSE(std::filesystem::exists(legacyFreeURL()));
        const std::vector<uint8_t> index = ZELTestReadFile(indexURL());
        ASSERT_EQ(index.size(), 20u + 12u * 6u);
        const auto bytesAt = [&](size_t offset, size_t count) {
            return std::vector<uint8_t>(index.begin() + offset, index.begin() + offset + count);
        };
        // Version 10, 6 entries, 4 living, largest ID 6. Objects are copied in the legacy file's
        // order: ID 6 (empty, L 4) takes the first block of file 1, ID 1 (5 bytes, L 9) the
        // second; ID 4 goes to the first one-object file.
        EXPECT_EQ(bytesAt(0, 16), ZELTestHex("0A000000 06000000 04000000 06000000"));
        EXPECT_EQ(bytesAt(20 + 60, 12), ZELTestHex("01000000 08000000 04000000"));
        EXPECT_EQ(bytesAt(20, 12), ZELTestHex("01000000 18000000 09000000"));
        EXPECT_EQ(bytesAt(20 + 36, 8), ZELTestHex("64000000 04000000"));

        const auto objectList = objects();
        for (ZELID objectID = 1; objectID <= objectList.size(); ++objectID) {
            const bool isHole = objectID == 2 || objectID == 5;
            EXPECT_EQ(store->isLivingObjectAtIndexID(objectID), !isHole) << objectID;
            if (isHole) continue;
            EXPECT_EQ(ZELTestBytesOf(store->objectAtIndexID(objectID, true, true)),
                      objectList[objectID - 1])
                << objectID;
        }
        EXPECT_EQ(store->nextUnassignedUniqueIndexID(), 2u);
        // No temporary folder is left beside the store.
        for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "items" || name == "items.index") << name;
        }
    }

    ZELTestLogCapture log_;  // the migration is logged: keep quiet
};

// Version 9 offsets count by their low 32 bits only. The version 8 store has beside it the data
// folder of an earlier attempt that stopped before the index was replaced: it is run again.
TEST_F(ZELDiskDataStorageMigratorTest, Version8And9StoresAreConverted) {
    for (const bool wideEntries : {false, true}) {
        SCOPED_TRACE(wideEntries ? "version 9" : "version 8");
        writeLegacyStore(wideEntries, uint64_t{5} << 32);
        if (!wideEntries) {
            std::filesystem::create_directories(baseURL() / "0");
            ZELTestWriteFile(baseURL() / "0" / "1.data", {8, 0, 0, 0, 16, 0, 0, 0, 1, 2, 3});
        }
        expectConvertedStore();
        std::filesystem::remove_all(baseURL());
    }
}

TEST_F(ZELDiskDataStorageMigratorTest, ConvertedStoreKeepsWorking) {
    writeLegacyStore(true, 0);
    {
        auto store = openStore();
        store->removeObjectAtIndexID(4);
        EXPECT_EQ(store->assignUniqueIndexIDForObject(ZELTestObjectOfSize(40, 9)), 2u);
        ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
    }
    auto store = openStore();
    EXPECT_FALSE(store->isLivingObjectAtIndexID(4));
    EXPECT_EQ(ZELTestBytesOf(store->objectAtIndexID(2, true, true)),
              ZELTestObjectOfSize(40, 9)->bytes());
    EXPECT_EQ(ZELTestBytesOf(store->objectAtIndexID(3, true, true)), objects()[2]);
    EXPECT_FALSE(std::filesystem::exists(baseURL() / "100" / "100.data"));
}

TEST_F(ZELDiskDataStorageMigratorTest, UnreadableObjectFailsTheMigrationAndKeepsTheLegacyFiles) {
    writeLegacyStore(false, 0);
    std::vector<uint8_t> data = ZELTestReadFile(legacyDataURL());
    data.resize(data.size() - 1);  // the last block (ID 1) loses a byte
    ZELTestWriteFile(legacyDataURL(), data);
    const ZELError error = loadError();
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeIOFailure)) << error.description();
    EXPECT_TRUE(std::filesystem::exists(legacyDataURL()));
    EXPECT_EQ(ZELTestRead32(ZELTestReadFile(indexURL()), 0), 8u);

    // Mended, the next load converts.
    writeLegacyStore(false, 0);
    expectConvertedStore();
}

}  // namespace
