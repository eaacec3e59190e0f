#pragma once

#include "zel/storage/ZELDiskDataStorageStrategy.h"

// A data file that holds one object too big for the size classes (file numbers 100 and up),
// always at offset 4, right after the base header. Made by the strategy manager for one access
// and closed after it, so that no descriptor stays open per large object. One thread at a time.
class ZELDiskDataStorageStrategy_OneBlock final : public ZELDiskDataStorageStrategy {
public:
    using ZELDiskDataStorageStrategy::ZELDiskDataStorageStrategy;

    // Always the header length: a damaged slot offset never moves the object elsewhere.
    uint32_t writeOffsetForObjectOfLength(uint32_t length, uint32_t lastOffset, uint32_t lastLength,
                                          ZELError* outError) override;
    // Both close the file after the access.
    ZELError accessWriteStreamForObjectOfLength(uint32_t length, uint32_t offset,
                                                ZELDiskDataStorageBlockAccessor writer) override;
    ZELError accessReadStreamForObjectAtOffset(uint32_t offset, uint32_t expectedLength,
                                               ZELDiskDataStorageBlockAccessor reader) override;
};
