#include "zel/storage/ZELDiskDataStorageStrategy_OneBlock.h"

uint32_t ZELDiskDataStorageStrategy_OneBlock::writeOffsetForObjectOfLength(uint32_t, uint32_t,
                                                                           uint32_t, ZELError*) {
    return static_cast<uint32_t>(dataFileHeaderLength());
}

ZELError ZELDiskDataStorageStrategy_OneBlock::accessWriteStreamForObjectOfLength(
    uint32_t length, uint32_t offset, ZELDiskDataStorageBlockAccessor writer) {
    ZELError error =
        ZELDiskDataStorageStrategy::accessWriteStreamForObjectOfLength(length, offset, writer);
    ZELError closeError;
    if (!closeAndGetError(&closeError) && !error) error = closeError;
    return error;
}

ZELError ZELDiskDataStorageStrategy_OneBlock::accessReadStreamForObjectAtOffset(
    uint32_t offset, uint32_t expectedLength, ZELDiskDataStorageBlockAccessor reader) {
    const ZELError error = ZELDiskDataStorageStrategy::accessReadStreamForObjectAtOffset(
        offset, expectedLength, reader);
    closeAndGetError(nullptr);
    return error;
}
