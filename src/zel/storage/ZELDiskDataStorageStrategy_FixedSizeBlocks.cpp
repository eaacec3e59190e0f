#include "zel/storage/ZELDiskDataStorageStrategy_FixedSizeBlocks.h"

#include <utility>

#include "zel/platform/ZELString.h"
#include "zel/stream/ZELStream.h"

ZELDiskDataStorageStrategy_FixedSizeBlocks::ZELDiskDataStorageStrategy_FixedSizeBlocks(
    uint64_t fileNumber, std::string url, uint64_t blockSize)
    : ZELDiskDataStorageStrategy_MultiBlock(fileNumber, std::move(url)),
      fixedBlockSize_(blockSize) {}

bool ZELDiskDataStorageStrategy_FixedSizeBlocks::readDataFileHeaderFromStream(ZELStream& stream) {
    if (!ZELDiskDataStorageStrategy::readDataFileHeaderFromStream(stream)) return false;
    const uint32_t storedBlockSize = stream.readUInt32Little();
    if (stream.streamError()) return false;
    if (storedBlockSize != fixedBlockSize_) {
        stream.reportError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeUnsupportedFormat,
            ZELStringWithFormat("ZELDiskDataStorage data file has unsupported block size %u",
                                storedBlockSize)));
        return false;
    }
    return true;
}

bool ZELDiskDataStorageStrategy_FixedSizeBlocks::writeDataFileHeaderToStream(ZELStream& stream) {
    return ZELDiskDataStorageStrategy::writeDataFileHeaderToStream(stream) &&
           stream.writeUInt32Little(static_cast<uint32_t>(fixedBlockSize_));
}

uint64_t ZELDiskDataStorageStrategy_FixedSizeBlocks::desiredBlockSizeForObjectSerializedLength(
    uint64_t) const {
    return fixedBlockSize_;
}

uint64_t ZELDiskDataStorageStrategy_FixedSizeBlocks::actualBlockSizeForObjectAtOffset(
    uint32_t, uint64_t) const {
    return fixedBlockSize_;
}

void ZELDiskDataStorageStrategy_FixedSizeBlocks::alignFreeRange(uint64_t& start,
                                                                uint64_t& end) const {
    const uint64_t header = dataFileHeaderLength();
    if (start < header) start = header;
    if (end < start) end = start;
    start = header + (start - header + fixedBlockSize_ - 1) / fixedBlockSize_ * fixedBlockSize_;
    end = header + (end - header) / fixedBlockSize_ * fixedBlockSize_;
    if (end < start) end = start;
}

std::string ZELDiskDataStorageStrategy_FixedSizeBlocks::description() const {
    return ZELStringWithFormat("%s - fixed at %ld blocks", descriptionHead().c_str(),
                               static_cast<long>(fixedBlockSize_));
}
