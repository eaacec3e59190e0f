#pragma once

#include <cstdint>
#include <filesystem>

#include "zel/storage/ZELDiskDataStorageStrategy_MultiBlock.h"

// A shared data file of equal blocks (16 to 128 bytes, one file per size): every object whose
// block fits takes one whole block, so rewriting it is an in-place overwrite and freed blocks
// are reused exactly. The header adds the block size after the version. Owned by the strategy
// manager; one thread at a time.
class ZELDiskDataStorageStrategy_FixedSizeBlocks final
    : public ZELDiskDataStorageStrategy_MultiBlock {
public:
    // `blockSize` is the size-class bound of the file.
    ZELDiskDataStorageStrategy_FixedSizeBlocks(uint64_t fileNumber, std::string url,
                                               uint64_t blockSize);

    uint64_t fixedBlockSize() const { return fixedBlockSize_; }

    // The base header, then the block size, which must be this file's size class (error code 1
    // otherwise: objects placed by a wrong size would overlap).
    bool readDataFileHeaderFromStream(ZELStream& stream) override;
    bool writeDataFileHeaderToStream(ZELStream& stream) override;
    uint64_t dataFileHeaderLength() const override { return 8; }

    uint64_t desiredBlockSizeForObjectSerializedLength(uint64_t length) const override;
    uint64_t actualBlockSizeForObjectAtOffset(uint32_t offset, uint64_t length) const override;
    // Blocks start at the header plus a multiple of the block size.
    void alignFreeRange(uint64_t& start, uint64_t& end) const override;

    // "ZELDiskDataStorageStrategy_FixedSizeBlocks<0x...> - fixed at <n> blocks".
    std::string description() const override;

private:
    uint64_t fixedBlockSize_;
};
