#include <algorithm>
#include <numeric>
#include <utility>
#include <vector>

#include "zel/storage/ZELDiskDataStorage.h"
#include "zel/storage/ZELDiskDataStorageStrategyManager.h"
#include "zel/stream/ZELStream.h"

// Enumerations of a disk data storage. Disk-optimal order is ascending file number, then
// ascending offset within a file, so that bulk reads run forward through each file.

namespace {

uint64_t diskOrderKey(const ZELDiskDataStorageObjectInfo& info) {
    return (uint64_t{info.fileNumber} << 32) | info.offset;
}

}  // namespace

// The slots are first distributed by file number (a counting sort, stable, over the few file
// numbers in use), then each file's run is sorted by offset unless it already is: a store
// written in ID order appends to each file as IDs rise, so that opening a large store costs one
// pass instead of a full sort. Sorting (offset, index) pairs keeps the comparisons in one array
// instead of reaching into the slot table for every one of them.
void ZELDiskDataStorage::sortIndexesInDiskOptimalOrder(uint64_t* indexes, uint64_t count) const {
    std::vector<uint16_t> fileNumbers;  // ascending, each once
    const auto runOfFile = [&](uint16_t fileNumber) {
        return static_cast<size_t>(
            std::lower_bound(fileNumbers.begin(), fileNumbers.end(), fileNumber) - fileNumbers.begin());
    };
    for (uint64_t i = 0; i < count; ++i) {
        const uint16_t fileNumber = slots_[indexes[i]].fileNumber;
        const size_t run = runOfFile(fileNumber);
        if (run == fileNumbers.size() || fileNumbers[run] != fileNumber) {
            fileNumbers.insert(fileNumbers.begin() + static_cast<std::ptrdiff_t>(run), fileNumber);
        }
    }
    std::vector<uint64_t> runStarts(fileNumbers.size() + 1, 0);
    for (uint64_t i = 0; i < count; ++i) ++runStarts[runOfFile(slots_[indexes[i]].fileNumber) + 1];
    for (size_t run = 0; run < fileNumbers.size(); ++run) runStarts[run + 1] += runStarts[run];

    std::vector<std::pair<uint32_t, uint64_t>> keyed(count);
    std::vector<uint64_t> next(runStarts.begin(), runStarts.end() - 1);
    for (uint64_t i = 0; i < count; ++i) {
        const ZELDiskDataStorageObjectInfo& info = slots_[indexes[i]];
        keyed[next[runOfFile(info.fileNumber)]++] = {info.offset, indexes[i]};
    }
    for (size_t run = 0; run < fileNumbers.size(); ++run) {
        const auto runBegin = keyed.begin() + static_cast<std::ptrdiff_t>(runStarts[run]);
        const auto runEnd = keyed.begin() + static_cast<std::ptrdiff_t>(runStarts[run + 1]);
        if (!std::is_sorted(runBegin, runEnd)) std::sort(runBegin, runEnd);
    }
    for (uint64_t i = 0; i < count; ++i) indexes[i] = keyed[i].second;
}

void ZELDiskDataStorage::enumerateObjectInfosWithIndexes(
    uint64_t* indexes, uint64_t count, ZELFunctionRef<void(uint64_t index, bool& stop)> visitor) {
    sortIndexesInDiskOptimalOrder(indexes, count);
    bool stop = false;
    for (uint64_t i = 0; i < count && !stop; ++i) visitor(indexes[i], stop);
}

void ZELDiskDataStorage::enumerateObjectInfoInDiskOptimalOrderUsing(
    ZELFunctionRef<void(uint64_t index, bool& stop)> visitor) {
    std::vector<uint64_t> indexes(assignedCount());
    std::iota(indexes.begin(), indexes.end(), uint64_t{0});
    enumerateObjectInfosWithIndexes(indexes.data(), indexes.size(), visitor);
}

void ZELDiskDataStorage::enumerateObjectsWithIndexIDs(
    const ZELID* objectIDs, uint64_t count, bool load,
    ZELFunctionRef<void(const Object& object)> visitor) {
    const uint64_t assigned = assignedCount();
    // Positions in the caller's list, fetched in the disk order of their slots.
    std::vector<uint64_t> positions;
    positions.reserve(count);
    for (uint64_t position = 0; position < count; ++position) {
        const ZELID objectID = objectIDs[position];
        if (objectID != 0 && objectID - 1 < assigned) positions.push_back(position);
    }
    std::sort(positions.begin(), positions.end(), [&](uint64_t a, uint64_t b) {
        const uint64_t keyA = diskOrderKey(slots_[objectIDs[a] - 1]);
        const uint64_t keyB = diskOrderKey(slots_[objectIDs[b] - 1]);
        return keyA != keyB ? keyA < keyB : a < b;
    });
    std::vector<Object> objects(count);
    for (const uint64_t position : positions) {
        objects[position] = objectAtIndexID(objectIDs[position], load, load);
    }
    for (uint64_t position = 0; position < count; ++position) visitor(objects[position]);
}

void ZELDiskDataStorage::enumerateObjectsForceLoad(
    bool force, ZELFunctionRef<void(const Object& object, ZELID objectID, bool& stop)> visitor) {
    if (force && !loadAllAndGetError(nullptr)) return;
    const ZELID largest = largestAssignedObjectIndexID();
    bool stop = false;
    for (ZELID objectID = 1; objectID != 0 && objectID <= largest && !stop; ++objectID) {
        const Object object = objectAtIndexID(objectID, force, force);
        if (object) visitor(object, objectID, stop);
    }
}

void ZELDiskDataStorage::enumerateObjectDataInDiskOptimalOrderUsing(
    ZELFunctionRef<void(ZELID objectID, const uint8_t* bytes, uint64_t byteCount, bool& stop)>
        visitor) {
    if (isInvalidated()) return;
    bool stop = false;
    enumerateObjectInfoInDiskOptimalOrderUsing([&](uint64_t index, bool& stopSlots) {
        const ZELDiskDataStorageObjectInfo& info = slots_[index];
        if (!info.hasStoredData()) return;
        ZELError error;
        const bool didRead = objectStore_->readDataForObjectWithInfo(
            info, &error, [&](ZELStream& stream, uint64_t byteCount) -> ZELError {
                if (byteCount == 0) {
                    visitor(static_cast<ZELID>(index + 1), nullptr, 0, stop);
                    return ZELError();
                }
                const uint8_t* bytes = stream.acquireFilledReadBufferOfSize(byteCount);
                if (!bytes) return stream.streamError();
                visitor(static_cast<ZELID>(index + 1), bytes, byteCount, stop);
                stream.relinquishFilledReadBuffer(bytes);
                return ZELError();
            });
        if (!didRead) reportStreamError(error);
        stopSlots = stop;
    });
}

void ZELDiskDataStorage::enumerateInMemoryObjectsUsing(
    ZELFunctionRef<void(const Object& object, ZELID objectID, bool isClean, bool& stop)> visitor) {
    // Unread pages cache nothing.
    slots_.enumerateReadSlots(
        0, assignedCount(), [&](uint64_t index, ZELDiskDataStorageObjectInfo& info, bool& stop) {
            if (!info.object) return;
            const bool isClean = !info.dirty && info.hasStoredData();
            visitor(info.object, static_cast<ZELID>(index + 1), isClean, stop);
        });
}

void ZELDiskDataStorage::enumerateDirtyObjectIndexesUsing(
    ZELFunctionRef<void(uint64_t index, bool& stop)> visitor) {
    // Unread pages hold no dirty mark.
    slots_.enumerateReadSlots(
        fullDirtyRange_.location, fullDirtyRange_.location + fullDirtyRange_.length,
        [&](uint64_t index, ZELDiskDataStorageObjectInfo& info, bool& stop) {
            if (info.dirty) visitor(index, stop);
        });
}
