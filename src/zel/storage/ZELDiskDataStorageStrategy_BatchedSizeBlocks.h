#pragma once

#include <cstdint>

#include "zel/storage/ZELDiskDataStorageStrategy_MultiBlock.h"

// A shared data file of medium objects whose blocks are rounded up to a size-dependent granule,
// so that an object that grows or shrinks a little keeps its block. The header adds the batched
// file version 1 after the data file version. Owned by the strategy manager; one thread at a
// time.
class ZELDiskDataStorageStrategy_BatchedSizeBlocks final
    : public ZELDiskDataStorageStrategy_MultiBlock {
public:
    // The second header field. Stored; never renumber.
    static constexpr uint32_t kBatchedFileVersion = 1;

    using ZELDiskDataStorageStrategy_MultiBlock::ZELDiskDataStorageStrategy_MultiBlock;

    // The granule of an object of `length` bytes, prefix included (see the table in the .cpp).
    static uint64_t granuleForLength(uint64_t length);

    bool readDataFileHeaderFromStream(ZELStream& stream) override;
    bool writeDataFileHeaderToStream(ZELStream& stream) override;
    uint64_t dataFileHeaderLength() const override { return 8; }

    // (length / granule + 1) x granule: always larger than the length.
    uint64_t desiredBlockSizeForObjectSerializedLength(uint64_t length) const override;
    uint64_t actualBlockSizeForObjectAtOffset(uint32_t offset, uint64_t length) const override;
};
