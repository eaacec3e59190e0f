#include "zel/storage/ZELDiskDataStorageStrategy_MultiBlock.h"

#include <algorithm>
#include <atomic>
#include <string_view>
#include <vector>

#include "zel/platform/ZELLog.h"
#include "zel/platform/ZELString.h"
#include "zel/storage/ZELDiskFreeSpaceTable.h"
#include "zel/stream/ZELFileStream.h"
#include "zel/stream/ZELMemoryMetricsGatherer.h"

namespace {

// Offsets are 32-bit; the warning fires well before a shared data file reaches the limit.
constexpr uint64_t kWriteBoundWarningOffset = 0x79FACED8;
constexpr uint64_t kLargestOffset = 0xFFFFFFFF;

std::atomic<bool> didWarnAboutWriteBound{false};

ZELError writeZeroBytes(ZELStream& stream, uint64_t count) {
    static constexpr uint8_t kZeros[4096] = {};
    while (count > 0) {
        const uint64_t chunk = std::min<uint64_t>(count, sizeof(kZeros));
        if (!stream.writeBytes(kZeros, chunk)) return stream.streamError();
        count -= chunk;
    }
    return ZELError();
}

// A file stream's error names the file and positions over several lines before "Error cause:
// <reason>"; a damage note names the file itself and keeps the reason alone.
std::string reasonOf(const ZELError& error) {
    static constexpr std::string_view kCause = "Error cause: ";
    const std::string& text = error.failureReason();
    const size_t cause = text.rfind(kCause);
    return cause == std::string::npos ? text : text.substr(cause + kCause.size());
}

}  // namespace

std::filesystem::path ZELDiskDataStorageStrategy_MultiBlock::freeSpaceTableURL() const {
    std::filesystem::path tableURL = url();
    tableURL.replace_extension("free");
    return tableURL;
}

ZELDiskFreeSpaceTable* ZELDiskDataStorageStrategy_MultiBlock::freeSpaceTable() {
    return freeSpaceTableAndGetError(nullptr);
}

ZELDiskFreeSpaceTable* ZELDiskDataStorageStrategy_MultiBlock::freeSpaceTableAndGetError(
    ZELError* outError) {
    if (freeSpaceTable_) return freeSpaceTable_.get();
    auto table = ZELDiskFreeSpaceTable::table();
    if (!table) {
        ZELSetError(outError, ZELError::errorWithZELErrorCode(ZELErrorCodeOutOfMemory,
                                                              "free space table blocks"));
        return nullptr;
    }
    // Every freed range is tracked: blocks of a shared file are reused whatever their size.
    table->setSmallestTrackedBlockSize(0);
    ZELError readError;
    if (!table->readFromURL(freeSpaceTableURL(), &readError)) {
        // The table is derived from the index and the data file; an empty one offers nothing
        // that could hold an object until the store's load rebuilds it.
        table = ZELDiskFreeSpaceTable::table();
        if (!table) {
            ZELSetError(outError, ZELError::errorWithZELErrorCode(ZELErrorCodeOutOfMemory,
                                                                  "free space table blocks"));
            return nullptr;
        }
        table->setSmallestTrackedBlockSize(0);
        freeSpaceTableDamage_ = "could not be read: " + reasonOf(readError);
    }
    freeSpaceTable_ = std::move(table);
    dropImplausibleFreeBlocks();
    return freeSpaceTable_.get();
}

std::vector<ZELDiskFreeSpaceTableBlock> ZELDiskDataStorageStrategy_MultiBlock::sortedFreeBlocks()
    const {
    std::vector<ZELDiskFreeSpaceTableBlock> blocks;
    if (!freeSpaceTable_) return blocks;
    blocks.reserve(freeSpaceTable_->freeBlockCount());
    freeSpaceTable_->visitFreeBlocks(
        [&](const ZELDiskFreeSpaceTableBlock& block, bool&) { blocks.push_back(block); });
    std::sort(blocks.begin(), blocks.end(),
              [](const ZELDiskFreeSpaceTableBlock& a, const ZELDiskFreeSpaceTableBlock& b) {
                  return a.offset < b.offset;
              });
    return blocks;
}

bool ZELDiskDataStorageStrategy_MultiBlock::replaceFreeBlocks(
    const std::vector<ZELDiskFreeSpaceTableBlock>& blocks) {
    freeSpaceTableDamage_.clear();
    auto rebuilt = ZELDiskFreeSpaceTable::table();
    if (!rebuilt || !rebuilt->ensureBlocksAvailable(blocks.size())) {
        // Without room for a new table, no block may stay on offer.
        if (freeSpaceTable_) {
            freeSpaceTable_->invalidate();
            freeSpaceTable_->markChanged();
        }
        return false;
    }
    rebuilt->setSmallestTrackedBlockSize(0);
    for (const ZELDiskFreeSpaceTableBlock& block : blocks) {
        rebuilt->addFreeBlockOfSize(block.size, block.offset);
    }
    rebuilt->markChanged();
    freeSpaceTable_ = std::move(rebuilt);
    return true;
}

void ZELDiskDataStorageStrategy_MultiBlock::alignFreeRange(uint64_t&, uint64_t&) const {}

void ZELDiskDataStorageStrategy_MultiBlock::dropImplausibleFreeBlocks() {
    const uint64_t fileLength = currentFileLength();
    const std::vector<ZELDiskFreeSpaceTableBlock> blocks = sortedFreeBlocks();
    std::vector<ZELDiskFreeSpaceTableBlock> kept;
    kept.reserve(blocks.size());
    uint64_t end = dataFileHeaderLength();
    for (const ZELDiskFreeSpaceTableBlock& block : blocks) {
        if (block.offset < end || block.offset + block.size > fileLength) continue;
        kept.push_back(block);
        end = block.offset + block.size;
    }
    if (kept.size() == blocks.size()) return;
    const std::string damage =
        ZELStringWithFormat("lists %lu blocks outside the free space of its data file",
                            static_cast<unsigned long>(blocks.size() - kept.size()));
    replaceFreeBlocks(kept);
    freeSpaceTableDamage_ = damage;
}

bool ZELDiskDataStorageStrategy_MultiBlock::openWithStreamFlags(int32_t flags, uint64_t bufferSize,
                                                                ZELError* outError) {
    appendedBlockOffset_ = 0;
    appendedBlockPadding_ = 0;
    if (!ZELDiskDataStorageStrategy::openWithStreamFlags(flags, bufferSize, outError)) {
        return false;
    }
    // Reading needs no table: it is read when a write or the store's check first asks for it.
    if ((flags & ZELFileStreamFlagWrite) && !freeSpaceTableAndGetError(outError)) {
        invalidate();
        return false;
    }
    return true;
}

ZELError ZELDiskDataStorageStrategy_MultiBlock::didEndMassWriteTransaction() {
    ZELError error;
    if (freeSpaceTable_ && freeSpaceTable_->hasChanges()) {
        freeSpaceTable_->writeToURL(freeSpaceTableURL(), &error);
    }
    return error;
}

bool ZELDiskDataStorageStrategy_MultiBlock::isUsableBlock(uint32_t offset, uint32_t length) const {
    if (length < kObjectBlockHeaderLength || offset < dataFileHeaderLength()) return false;
    return offset + actualBlockSizeForObjectAtOffset(offset, length) <= currentFileLength();
}

uint32_t ZELDiskDataStorageStrategy_MultiBlock::writeOffsetForObjectOfLength(uint32_t length,
                                                                             uint32_t lastOffset,
                                                                             uint32_t lastLength,
                                                                             ZELError* outError) {
    const uint64_t desired = desiredBlockSizeForObjectSerializedLength(length);
    if (lastOffset != 0 && isUsableBlock(lastOffset, lastLength)) {
        const uint64_t actual = actualBlockSizeForObjectAtOffset(lastOffset, lastLength);
        if (length == lastLength || (actual >= length && actual == desired)) return lastOffset;
    }
    ZELDiskFreeSpaceTable* table = freeSpaceTableAndGetError(outError);
    if (!table) return 0;
    if (!stream_) {
        ZELSetError(outError, ZELError::errorWithZELErrorCode(ZELErrorCodeUnsupportedOperation,
                                                              "can't write to a read-only stream"));
        return 0;
    }

    uint64_t offset = 0;
    const bool reused = desired <= kLargestOffset &&
                        table->getFreeBlockOffset(&offset, static_cast<uint32_t>(desired), true);
    if (!reused) {
        // Appending: the end is the file's logical length, so that gathered writes are not
        // flushed by a seek; the block's zero padding follows its object.
        offset = stream_->logicalFileLength();
    }
    if (offset + desired > kLargestOffset) {
        ZELSetError(outError,
                    ZELError::errorWithZELErrorCode(
                        ZELErrorCodeWriteFailed,
                        ZELStringWithFormat("data file %s would grow past 4 GiB", url().c_str())));
        return 0;
    }
    if (offset + desired >= kWriteBoundWarningOffset && !didWarnAboutWriteBound.exchange(true)) {
        ZELLogFormat("! write bound (%lu) for object of size %s will get near 32bit limit",
                     static_cast<unsigned long>(offset + desired),
                     ZELMemoryMetricsGatherer::stringDescribingByteCount(length).c_str());
    }
    if (!reused) {
        appendedBlockOffset_ = static_cast<uint32_t>(offset);
        appendedBlockPadding_ = desired - length;
    }
    return static_cast<uint32_t>(offset);
}

ZELError ZELDiskDataStorageStrategy_MultiBlock::accessWriteStreamForObjectOfLength(
    uint32_t length, uint32_t offset, ZELDiskDataStorageBlockAccessor writer) {
    const bool isAppended = appendedBlockOffset_ != 0 && offset == appendedBlockOffset_;
    const uint64_t padding = isAppended ? appendedBlockPadding_ : 0;
    appendedBlockOffset_ = 0;
    appendedBlockPadding_ = 0;
    ZELError error =
        ZELDiskDataStorageStrategy::accessWriteStreamForObjectOfLength(length, offset, writer);
    if (!error && padding > 0) {
        error = writeZeroBytes(*stream_, padding);
        if (error) dropStreamAfterError();
    }
    return error;
}

void ZELDiskDataStorageStrategy_MultiBlock::discardDataForObjectAtOffset(
    uint32_t offset, uint32_t serializedLength) {
    ZELDiskFreeSpaceTable* table = freeSpaceTable();
    if (!table || !isUsableBlock(offset, serializedLength)) return;
    table->addFreeBlockOfSize(
        static_cast<uint32_t>(actualBlockSizeForObjectAtOffset(offset, serializedLength)), offset);
}

void ZELDiskDataStorageStrategy_MultiBlock::gatherNonObjectMemoryMetrics(
    ZELMemoryMetricsGatherer& gatherer, uint64_t batchingSize) {
    if (!freeSpaceTable_ && isOpen()) freeSpaceTable();
    if (!freeSpaceTable_) return;
    gatherer.addByteCountToRAM(freeSpaceTable_->byteCountInActiveRAM());
    const uint64_t freeBytes = freeSpaceTable_->freeBlocksTotalSize();
    const uint64_t lostBytes = freeSpaceTable_->byteCountAbandonedOnDisk();
    gatherer.addByteCount(freeBytes, ZELMemoryMetricTypeFree);
    gatherer.addByteCount(lostBytes, ZELMemoryMetricTypeLost);
    gatherer.addByteCount(freeBytes, ZELMemoryMetricTypeFree, 0, batchingSize);
    gatherer.addByteCount(lostBytes, ZELMemoryMetricTypeLost, 0, batchingSize);
}

void ZELDiskDataStorageStrategy_MultiBlock::gatherMemoryMetrics(ZELMemoryMetricsGatherer& gatherer,
                                                                uint32_t offset,
                                                                uint32_t serializedLength,
                                                                uint64_t batchingSize) {
    const uint64_t blockSize = actualBlockSizeForObjectAtOffset(offset, serializedLength);
    const uint64_t unusedTail = blockSize > serializedLength ? blockSize - serializedLength : 0;
    gatherer.addByteCount(serializedLength, ZELMemoryMetricTypeUsed);
    gatherer.addByteCount(unusedTail, ZELMemoryMetricTypeFragmented);
    gatherer.addByteCount(serializedLength, ZELMemoryMetricTypeUsed, blockSize, batchingSize);
    gatherer.addByteCount(unusedTail, ZELMemoryMetricTypeFragmented, blockSize, batchingSize);
    gatherer.incrementUseCount(1, blockSize, batchingSize);
}

uint64_t ZELDiskDataStorageStrategy_MultiBlock::desiredBlockSizeForObjectSerializedLength(
    uint64_t length) const {
    return length;
}

uint64_t ZELDiskDataStorageStrategy_MultiBlock::actualBlockSizeForObjectAtOffset(
    uint32_t, uint64_t length) const {
    return length;
}
