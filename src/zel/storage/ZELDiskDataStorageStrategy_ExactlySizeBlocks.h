#pragma once

#include "zel/storage/ZELDiskDataStorageStrategy_MultiBlock.h"

// The legacy single data file of a store (B.data, file number 0): blocks sized exactly to their
// contents after the 4-byte base header. Only read, by the migrator, which needs no free space
// table for that: a read-only open leaves the legacy table (B.free) alone, so that a damaged one
// cannot stop a migration. Made and owned by the migrator; one thread at a time.
class ZELDiskDataStorageStrategy_ExactlySizeBlocks final
    : public ZELDiskDataStorageStrategy_MultiBlock {
public:
    using ZELDiskDataStorageStrategy_MultiBlock::ZELDiskDataStorageStrategy_MultiBlock;

    bool openWithStreamFlags(int32_t flags, uint64_t bufferSize, ZELError* outError) override;
};
