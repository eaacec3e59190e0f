#include "zel/storage/ZELDiskDataStorageStrategy_BatchedSizeBlocks.h"

#include "zel/stream/ZELStream.h"

// Granules by total length L (prefix included). Part of the file layout: blocks already stored
// were sized by it; never change.
//   L < 145: 16         145-512: 32          513-1024: 128        1025-5120: 256
//   5121-10240: 1024    10241-20480: 2048    20481-51200: 5120    51201-102400: 10240
//   102401 and above: 20480
uint64_t ZELDiskDataStorageStrategy_BatchedSizeBlocks::granuleForLength(uint64_t length) {
    if (length < 145) return 16;
    if (length <= 512) return 32;
    if (length <= 1024) return 128;
    if (length <= 5120) return 256;
    if (length <= 10240) return 1024;
    if (length <= 20480) return 2048;
    if (length <= 51200) return 5120;
    if (length <= 102400) return 10240;
    return 20480;
}

bool ZELDiskDataStorageStrategy_BatchedSizeBlocks::readDataFileHeaderFromStream(ZELStream& stream) {
    if (!ZELDiskDataStorageStrategy::readDataFileHeaderFromStream(stream)) return false;
    const uint32_t batchedVersion = stream.readUInt32Little();
    if (stream.streamError()) return false;
    if (batchedVersion != kBatchedFileVersion) {
        stream.reportError(ZELError::errorWithZELErrorCode(ZELErrorCodeUnsupportedFormat,
                                                           "bad batched-size-block file version"));
        return false;
    }
    return true;
}

bool ZELDiskDataStorageStrategy_BatchedSizeBlocks::writeDataFileHeaderToStream(ZELStream& stream) {
    return ZELDiskDataStorageStrategy::writeDataFileHeaderToStream(stream) &&
           stream.writeUInt32Little(kBatchedFileVersion);
}

uint64_t ZELDiskDataStorageStrategy_BatchedSizeBlocks::desiredBlockSizeForObjectSerializedLength(
    uint64_t length) const {
    const uint64_t granule = granuleForLength(length);
    return (length / granule + 1) * granule;
}

uint64_t ZELDiskDataStorageStrategy_BatchedSizeBlocks::actualBlockSizeForObjectAtOffset(
    uint32_t, uint64_t length) const {
    return desiredBlockSizeForObjectSerializedLength(length);
}
