#pragma once

#include <cstdint>
#include <memory>

#include "zel/idvector/ZELFunctionRef.h"
#include "zel/stream/ZELStreamSerializable.h"

// The slot of one object ID in a disk data storage: where its block lies and the object cached
// in memory. The slot of ID n is at index n - 1 of the storage's slot table, which owns it.
struct ZELDiskDataStorageObjectInfo {
    // Byte offset of the object's block in its data file; 0 = the object has no stored data.
    uint32_t offset = 0;
    // Length of the stored block contents including the 4-byte length prefix; 0 when not stored.
    // (Legacy slots read from a version 8 or 9 index hold the object bytes only.)
    uint32_t length = 0;
    // Number of the data file holding the block; 0 = none (or the legacy single data file).
    uint16_t fileNumber = 0;
    // Nonzero when the slot changed since the last save.
    uint16_t dirty = 0;
    // The object cached in memory, or null.
    std::shared_ptr<ZELStreamSerializable> object;

    bool hasStoredData() const { return offset != 0; }
};

// A walk that shows `visit` every slot of a store (or any list of blocks in use), in any order:
// how the free space derivations and the memory metrics reach the slots.
using ZELDiskDataStorageSlotVisitor = ZELFunctionRef<void(const ZELDiskDataStorageObjectInfo& info)>;
using ZELDiskDataStorageSlotWalk = ZELFunctionRef<void(ZELDiskDataStorageSlotVisitor visit)>;
