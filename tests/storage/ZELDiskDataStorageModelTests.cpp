#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "ZELDiskDataStorageTestSupport.h"
#include "zel/storage/ZELDiskDataStorageStrategyManager.h"
#include "zel/storage/ZELDiskFreeSpaceTable.h"

namespace {

using ZELDiskDataStorageModelTest = ZELDiskStorageTest;
using Model = std::map<ZELID, std::vector<uint8_t>>;

// Object sizes drawn over every size class: each bound's range of object byte counts
// (bound - 4 of the class below, exclusive, up to its own bound - 4), and now and then a
// one-object file.
class ZELTestSizeSource {
public:
    explicit ZELTestSizeSource(std::mt19937& random) : random_(random) {}

    uint64_t next() {
        static constexpr uint64_t kBounds[] = {16,    32,    48,    64,     80,     96,
                                               112,   128,   256,   512,    1024,   5120,
                                               10240, 20480, 51200, 102400, 204800, 512000};
        constexpr size_t kClassCount = sizeof(kBounds) / sizeof(kBounds[0]);
        const uint32_t draw = random_() % 1000;
        if (draw < 3) return 511997 + random_() % 90000;  // one-object file
        // Small classes are the common case; the larger batched classes are rarer.
        size_t sizeClass = draw < 800 ? random_() % 10 : random_() % kClassCount;
        if (sizeClass >= 14 && random_() % 4 != 0) sizeClass = 13;
        const uint64_t low = sizeClass == 0 ? 0 : kBounds[sizeClass - 1] - 3;
        const uint64_t high = kBounds[sizeClass] - 4;
        return low + random_() % (high - low + 1);
    }

private:
    std::mt19937& random_;
};

std::vector<uint8_t> randomBytes(std::mt19937& random, uint64_t count) {
    std::vector<uint8_t> bytes(count);
    const uint8_t seed = static_cast<uint8_t>(random());
    for (uint64_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 8));
    return bytes;
}

ZELID smallestFreeID(const Model& model) {
    ZELID candidate = 1;
    for (const auto& [objectID, bytes] : model) {
        if (objectID != candidate) break;
        ++candidate;
    }
    return candidate;
}

// Every object of the model reads back from a freshly opened store, and nothing else lives.
void expectStoreMatchesModel(ZELDiskDataStorage& store, const Model& model, int step) {
    ASSERT_EQ(store.livingObjectCount(), model.size()) << "step " << step;
    for (const auto& [objectID, bytes] : model) {
        const auto object = store.objectAtIndexID(objectID, true, false);
        ASSERT_NE(object, nullptr) << "step " << step << " ID " << objectID;
        ASSERT_EQ(ZELTestBytesOf(object), bytes) << "step " << step << " ID " << objectID;
    }
    for (ZELID objectID = 1; objectID <= store.largestAssignedObjectIndexID(); ++objectID) {
        ASSERT_EQ(store.isLivingObjectAtIndexID(objectID), model.count(objectID) == 1)
            << "step " << step << " ID " << objectID;
    }
    ASSERT_EQ(store.nextUnassignedUniqueIndexID(), smallestFreeID(model)) << "step " << step;
    ASSERT_TRUE(store.lastError().domain().empty()) << store.lastError().description();
}

// After a save: no two stored blocks overlap, no free block overlaps a stored one, and the
// one-object files on disk are exactly those the slots name.
void expectPlacementsAreDisjoint(ZELDiskDataStorage& store, const std::filesystem::path& baseURL,
                                 int step) {
    ZELDiskDataStorageStrategyManager& manager = *store.objectStore();
    std::map<uint64_t, std::map<uint64_t, uint64_t>> extents;  // file -> offset -> end
    std::set<uint64_t> oneObjectFiles;
    const auto add = [&](uint64_t fileNumber, uint64_t offset, uint64_t size, const char* what) {
        auto& file = extents[fileNumber];
        const auto next = file.lower_bound(offset);
        ASSERT_TRUE(next == file.end() || next->first >= offset + size)
            << what << " overlaps at step " << step << " file " << fileNumber;
        if (next != file.begin()) {
            ASSERT_LE(std::prev(next)->second, offset)
                << what << " overlaps at step " << step << " file " << fileNumber;
        }
        file[offset] = offset + size;
    };
    for (uint64_t index = 0; index < store.assignedCount(); ++index) {
        const ZELDiskDataStorageObjectInfo& info = store.assignedObjectInfoAtIndex(index);
        if (!info.hasStoredData()) continue;
        if (info.fileNumber >= 100) {
            ASSERT_TRUE(oneObjectFiles.insert(info.fileNumber).second);
            continue;
        }
        auto* strategy = manager.fixedStrategyForFileNumber(info.fileNumber);
        ASSERT_NE(strategy, nullptr);
        add(info.fileNumber, info.offset,
            strategy->actualBlockSizeForObjectAtOffset(info.offset, info.length), "object");
    }
    manager.fixedStrategiesEnumerateUsing(
        [&](ZELDiskDataStorageStrategy_MultiBlock& strategy, uint64_t, bool&) {
            ZELDiskFreeSpaceTable* table = strategy.freeSpaceTable();
            ASSERT_NE(table, nullptr);
            table->visitFreeBlocks([&](const ZELDiskFreeSpaceTableBlock& block, bool&) {
                add(strategy.fileNum(), block.offset, block.size, "free block");
            });
        });
    std::set<uint64_t> filesOnDisk;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(baseURL, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (it->path().extension() != ".data") continue;
        const uint64_t fileNumber = std::stoull(name);
        if (fileNumber >= 100) filesOnDisk.insert(fileNumber);
    }
    ASSERT_EQ(filesOnDisk, oneObjectFiles) << "step " << step;
}

// Thousands of random operations against a std::map, with saves, compactions, and reopenings
// with and without a save (the latter falls back to the last saved state).
TEST_F(ZELDiskDataStorageModelTest, RandomOperationsMatchAMapAcrossReopenings) {
    std::mt19937 random(20240611);
    ZELTestSizeSource sizes(random);
    Model model;
    Model savedModel;
    auto store = openStore();
    int reopenings = 0;
    for (int step = 0; step < 3000; ++step) {
        const uint32_t operation = random() % 100;
        if (operation < 30) {
            auto bytes = randomBytes(random, sizes.next());
            const ZELID expectedID = smallestFreeID(model);
            ASSERT_EQ(store->assignUniqueIndexIDForObject(ZELTestObject(bytes)), expectedID)
                << "step " << step;
            model[expectedID] = std::move(bytes);
        } else if (operation < 38) {
            const ZELID objectID =
                1 + random() % (std::max<ZELID>(store->largestAssignedObjectIndexID(), 1) + 20);
            auto bytes = randomBytes(random, sizes.next());
            const bool isFree = model.count(objectID) == 0;
            ASSERT_EQ(store->assignUniqueIndexID(objectID, ZELTestObject(bytes)), isFree)
                << "step " << step;
            if (isFree) model[objectID] = std::move(bytes);
        } else if (operation < 60 && !model.empty()) {
            auto victim = model.begin();
            std::advance(victim, random() % model.size());
            auto bytes = randomBytes(random, sizes.next());
            store->setObject(ZELTestObject(bytes), victim->first, true);
            victim->second = std::move(bytes);
        } else if (operation < 75 && !model.empty()) {
            auto victim = model.begin();
            std::advance(victim, random() % model.size());
            store->removeObjectAtIndexID(victim->first);
            model.erase(victim);
        } else if (operation < 81) {
            ZELError error;
            ASSERT_TRUE(store->ensureSerializedAndGetError(&error)) << error.description();
            savedModel = model;
            expectPlacementsAreDisjoint(*store, baseURL(), step);
        } else if (operation < 86) {
            store->compactMemory(0);
        } else if (operation < 89) {
            store->compactMemory(2);
            savedModel = model;
        } else if (operation < 98 && !model.empty()) {
            auto probe = model.begin();
            std::advance(probe, random() % model.size());
            ASSERT_EQ(ZELTestBytesOf(store->objectAtIndexID(probe->first, true, true)),
                      probe->second)
                << "step " << step;
        } else {
            // Close and reopen, after a save or (one time in three) without one.
            if (random() % 3 != 0) {
                ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
                savedModel = model;
            } else {
                model = savedModel;
            }
            store.reset();
            store = openStore();
            ++reopenings;
            expectStoreMatchesModel(*store, model, step);
        }
        if (HasFatalFailure()) return;
    }
    ASSERT_TRUE(store->ensureSerializedAndGetError(nullptr));
    store = openStore();
    expectStoreMatchesModel(*store, model, -1);
    EXPECT_GT(reopenings, 30);
}

}  // namespace
