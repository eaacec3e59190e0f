#include "zel/storage/ZELDiskDataStorageStrategy_ExactlySizeBlocks.h"

#include "zel/stream/ZELFileStream.h"

bool ZELDiskDataStorageStrategy_ExactlySizeBlocks::openWithStreamFlags(int32_t flags,
                                                                       uint64_t bufferSize,
                                                                       ZELError* outError) {
    if (flags & ZELFileStreamFlagWrite) {
        return ZELDiskDataStorageStrategy_MultiBlock::openWithStreamFlags(flags, bufferSize,
                                                                          outError);
    }
    return ZELDiskDataStorageStrategy::openWithStreamFlags(flags, bufferSize, outError);
}
