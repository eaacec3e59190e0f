#include "zel/storage/ZELDiskDataStorageStrategyManager.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <string_view>
#include <system_error>
#include <utility>

#include "zel/platform/ZELFileManager.h"
#include "zel/platform/ZELLog.h"
#include "zel/platform/ZELString.h"
#include "zel/storage/ZELDiskDataStorageStrategy_BatchedSizeBlocks.h"
#include "zel/storage/ZELDiskDataStorageStrategy_FixedSizeBlocks.h"
#include "zel/storage/ZELDiskDataStorageStrategy_OneBlock.h"
#include "zel/storage/ZELDiskFreeSpaceTable.h"
#include "zel/platform/ZELFileSystem.h"
#include "zel/stream/ZELFileStream.h"
#include "zel/stream/ZELMemoryMetricsGatherer.h"

namespace {

// The size-class table: file numbers 1-8 hold fixed blocks of these sizes, 9-18 batched blocks
// up to these bounds. Part of the file layout (file n is position n - 1); never reorder.
constexpr uint64_t kFixedBlockSizes[] = {16, 32, 48, 64, 80, 96, 112, 128};
constexpr uint64_t kBatchedSizeBounds[] = {256,   512,   1024,   5120,   10240,
                                           20480, 51200, 102400, 204800, 512000};
// File numbers below this belong to the size-class table.
constexpr uint64_t kLastSharedFileNumber = 99;
constexpr uint64_t kFolderStride = 100;

}  // namespace

ZELDiskDataStorageStrategyManager::ZELDiskDataStorageStrategyManager(std::filesystem::path baseURL,
                                                                     bool buildsSizeClasses)
    : baseURL_(std::move(baseURL)) {
    if (buildsSizeClasses) resetToEmpty();
}

ZELDiskDataStorageStrategyManager::~ZELDiskDataStorageStrategyManager() {
    invalidate();
}

void ZELDiskDataStorageStrategyManager::resetToEmpty() {
    invalidate();
    for (const uint64_t blockSize : kFixedBlockSizes) {
        addFixedStrategyWithClass<ZELDiskDataStorageStrategy_FixedSizeBlocks>(blockSize);
    }
    for (const uint64_t bound : kBatchedSizeBounds) {
        addFixedStrategyWithClass<ZELDiskDataStorageStrategy_BatchedSizeBlocks>(bound);
    }
}

void ZELDiskDataStorageStrategyManager::invalidate() {
    for (const auto& strategy : fixedStrats_) strategy->invalidate();
    fixedStrats_.clear();
    fixedStratSizeBounds_.clear();
    releasedBlocks_.clear();
}

void ZELDiskDataStorageStrategyManager::setDataStreamReadBufferSize(uint64_t readBufferSize,
                                                                    uint64_t writeBufferSize) {
    readBufferSize_ = readBufferSize;
    writeBufferSize_ = writeBufferSize;
}

std::string ZELDiskDataStorageStrategyManager::dataFileURLForFileNumber(
    uint64_t fileNumber, bool createDirectories) const {
    // Plain strings, never split into a std::filesystem::path: every store builds its size
    // classes' paths when it opens.
    std::string folder = baseURL_.native();
    if (!folder.empty() && folder.back() != '/') folder += '/';
    folder += std::to_string(fileNumber / kFolderStride * kFolderStride);
    if (createDirectories) ZELFileManager::createDirectoryRecursivelyAtURL(folder, nullptr);
    return folder + "/" + std::to_string(fileNumber) + ".data";
}

uint64_t ZELDiskDataStorageStrategyManager::firstUnusedOneBlockFileNumber(
    ZELError* outError) const {
    std::error_code error;
    uint64_t highestFolder = kFirstOneBlockFileNumber;
    for (uint64_t folder = kFirstOneBlockFileNumber; folder <= kLargestFileNumber;
         folder += kFolderStride) {
        if (!std::filesystem::is_directory(baseURL_ / std::to_string(folder), error)) break;
        highestFolder = folder;
    }
    uint64_t entryCount = 0;
    for (std::filesystem::directory_iterator it(baseURL_ / std::to_string(highestFolder), error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        ++entryCount;
    }
    const uint64_t start = highestFolder + entryCount;
    const auto isUnused = [&](uint64_t fileNumber) {
        std::error_code existsError;
        return !std::filesystem::exists(dataFileURLForFileNumber(fileNumber, false), existsError) &&
               !existsError;
    };
    for (uint64_t fileNumber = start; fileNumber <= kLargestFileNumber; ++fileNumber) {
        if (isUnused(fileNumber)) return fileNumber;
    }
    // Counting on reached the 16-bit limit of the slots: take a number freed below.
    for (uint64_t fileNumber = kFirstOneBlockFileNumber;
         fileNumber < start && fileNumber <= kLargestFileNumber; ++fileNumber) {
        if (isUnused(fileNumber)) return fileNumber;
    }
    ZELSetError(outError, ZELError::errorWithZELErrorCode(
                              ZELErrorCodeWriteFailed,
                              "every one-object file number of the store is in use"));
    return 0;
}

void ZELDiskDataStorageStrategyManager::fixedStrategiesEnumerateUsing(
    ZELFunctionRef<void(ZELDiskDataStorageStrategy_MultiBlock& strategy, uint64_t sizeBound,
                        bool& stop)>
        visitor) const {
    bool stop = false;
    for (size_t i = 0; i < fixedStrats_.size() && !stop; ++i) {
        visitor(*fixedStrats_[i], fixedStratSizeBounds_[i], stop);
    }
}

uint64_t ZELDiskDataStorageStrategyManager::fixedStrategyMaximumBlockSize() const {
    return fixedStratSizeBounds_.empty() ? 0 : fixedStratSizeBounds_.back();
}

ZELDiskDataStorageStrategy_MultiBlock*
ZELDiskDataStorageStrategyManager::fixedStrategyForBlockOfSize(uint64_t byteCount) const {
    if (byteCount > fixedStrategyMaximumBlockSize()) return nullptr;
    for (size_t i = 0; i < fixedStrats_.size(); ++i) {
        if (fixedStratSizeBounds_[i] - ZELDiskDataStorageStrategy::kObjectBlockHeaderLength >=
            byteCount) {
            return fixedStrats_[i].get();
        }
    }
    return nullptr;
}

size_t ZELDiskDataStorageStrategyManager::fixedStrategyIndexForFileNumber(
    uint64_t fileNumber) const {
    if (fileNumber < 1 || fileNumber > kLastSharedFileNumber) return kNotFound;
    if (fileNumber > fixedStrats_.size()) return kNotFound;
    return fileNumber - 1;
}

ZELDiskDataStorageStrategy_MultiBlock*
ZELDiskDataStorageStrategyManager::fixedStrategyForFileNumber(uint64_t fileNumber) const {
    const size_t index = fixedStrategyIndexForFileNumber(fileNumber);
    return index == kNotFound ? nullptr : fixedStrats_[index].get();
}

ZELDiskDataStorageStrategy_MultiBlock*
ZELDiskDataStorageStrategyManager::fixedStrategyHoldingObjectWithInfo(
    const ZELDiskDataStorageObjectInfo& info) const {
    return fixedStrategyForFileNumber(info.fileNumber);
}

uint64_t ZELDiskDataStorageStrategyManager::fixedStrategySizeBoundForFileNumber(
    uint64_t fileNumber) const {
    const size_t index = fixedStrategyIndexForFileNumber(fileNumber);
    return index == kNotFound ? 0 : fixedStratSizeBounds_[index];
}

std::shared_ptr<ZELDiskDataStorageStrategy>
ZELDiskDataStorageStrategyManager::strategyForOneBlockFileNumber(uint64_t fileNumber,
                                                                 bool createDirectories) const {
    return std::make_shared<ZELDiskDataStorageStrategy_OneBlock>(
        fileNumber, dataFileURLForFileNumber(fileNumber, createDirectories));
}

std::shared_ptr<ZELDiskDataStorageStrategy>
ZELDiskDataStorageStrategyManager::strategyHoldingObjectWithInfo(
    const ZELDiskDataStorageObjectInfo& info) const {
    if (info.fileNumber == 0) return nullptr;
    if (info.fileNumber > kLastSharedFileNumber) {
        return strategyForOneBlockFileNumber(info.fileNumber, false);
    }
    const size_t index = fixedStrategyIndexForFileNumber(info.fileNumber);
    return index == kNotFound ? nullptr : fixedStrats_[index];
}

bool ZELDiskDataStorageStrategyManager::preflightLoadAndGetError(ZELError* outError) {
    const uint64_t bufferSize =
        readBufferSize_ ? readBufferSize_ : ZELDiskDataStorageStrategy::kDefaultBufferSize;
    // One listing of the data folder tells which size classes have a file: a class without one
    // stays closed, as opening it would leave it. (When the folder cannot be listed, every
    // class is opened and finds out for itself.)
    std::vector<bool> listed(fixedStrats_.size() + 1);
    const std::string firstDataFileURL = dataFileURLForFileNumber(1, false);
    DIR* folder = ::opendir(firstDataFileURL.substr(0, firstDataFileURL.rfind('/')).c_str());
    const bool listError = folder == nullptr;
    while (const dirent* entry = folder ? ::readdir(folder) : nullptr) {
        const std::string_view name(entry->d_name);
        uint64_t fileNumber = 0;
        const auto [rest, parseError] =
            std::from_chars(name.data(), name.data() + name.size(), fileNumber);
        if (parseError == std::errc() && name.substr(rest - name.data()) == ".data" &&
            fileNumber < listed.size()) {
            listed[fileNumber] = true;
        }
    }
    if (folder) ::closedir(folder);
    for (const auto& strategy : fixedStrats_) {
        if (strategy->isOpen() || (!listError && !listed[strategy->fileNum()])) continue;
        if (!strategy->openWithStreamFlags(ZELFileStreamFlagRead, bufferSize, outError)) {
            return false;
        }
    }
    return true;
}

std::vector<std::vector<ZELDiskFreeSpaceTableBlock>>
ZELDiskDataStorageStrategyManager::freeBlocksDerivedFromObjects(
    ZELDiskDataStorageSlotWalk slots) const {
    struct Range {
        uint64_t start;
        uint64_t end;
    };
    std::vector<std::vector<Range>> used(fixedStrats_.size());
    slots([&](const ZELDiskDataStorageObjectInfo& info) {
        const size_t strategyIndex = fixedStrategyIndexForFileNumber(info.fileNumber);
        if (!info.hasStoredData() || strategyIndex == kNotFound) return;
        const uint64_t size =
            fixedStrats_[strategyIndex]->actualBlockSizeForObjectAtOffset(info.offset, info.length);
        used[strategyIndex].push_back(Range{info.offset, info.offset + size});
    });

    // Free block sizes are 32-bit; a longer gap is offered in pieces.
    constexpr uint64_t kLargestPiece = 0x80000000;
    std::vector<std::vector<ZELDiskFreeSpaceTableBlock>> derived(fixedStrats_.size());
    for (size_t i = 0; i < fixedStrats_.size(); ++i) {
        const ZELDiskDataStorageStrategy_MultiBlock& strategy = *fixedStrats_[i];
        const uint64_t fileLength = strategy.currentFileLength();
        std::vector<Range>& ranges = used[i];
        // A store written in ID order names its blocks in file order: most opens sort nothing.
        const auto byStart = [](const Range& a, const Range& b) { return a.start < b.start; };
        if (!std::is_sorted(ranges.begin(), ranges.end(), byStart)) {
            std::sort(ranges.begin(), ranges.end(), byStart);
        }
        ranges.push_back(Range{fileLength, fileLength});
        uint64_t cursor = strategy.dataFileHeaderLength();
        for (const Range& range : ranges) {
            uint64_t start = cursor;
            uint64_t end = std::min(range.start, fileLength);
            cursor = std::max(cursor, range.end);
            if (end <= start) continue;
            strategy.alignFreeRange(start, end);
            for (; start < end; start += std::min(end - start, kLargestPiece)) {
                derived[i].push_back(ZELDiskFreeSpaceTableBlock{
                    start, static_cast<uint32_t>(std::min(end - start, kLargestPiece)), 0});
            }
        }
    }
    return derived;
}

bool ZELDiskDataStorageStrategyManager::freeBlocksCoverSameRanges(
    const std::vector<ZELDiskFreeSpaceTableBlock>& tableBlocks,
    const std::vector<ZELDiskFreeSpaceTableBlock>& derived) {
    // Both lists as ascending disjoint ranges, touching blocks joined; false on an overlap.
    const auto joined = [](const std::vector<ZELDiskFreeSpaceTableBlock>& blocks,
                           std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
        for (const ZELDiskFreeSpaceTableBlock& block : blocks) {
            if (!ranges.empty() && block.offset < ranges.back().second) return false;
            if (!ranges.empty() && block.offset == ranges.back().second) {
                ranges.back().second += block.size;
            } else {
                ranges.emplace_back(block.offset, block.offset + block.size);
            }
        }
        return true;
    };
    std::vector<std::pair<uint64_t, uint64_t>> tableRanges;
    std::vector<std::pair<uint64_t, uint64_t>> derivedRanges;
    return joined(tableBlocks, tableRanges) && joined(derived, derivedRanges) &&
           tableRanges == derivedRanges;
}

std::vector<std::string> ZELDiskDataStorageStrategyManager::rebuildDisagreeingFreeSpaceTables(
    ZELDiskDataStorageSlotWalk slots) {
    const std::vector<std::vector<ZELDiskFreeSpaceTableBlock>> derived =
        freeBlocksDerivedFromObjects(slots);
    std::vector<std::string> rebuilt;
    for (size_t i = 0; i < fixedStrats_.size(); ++i) {
        ZELDiskDataStorageStrategy_MultiBlock& strategy = *fixedStrats_[i];
        if (!strategy.freeSpaceTable()) continue;
        std::string damage = strategy.freeSpaceTableDamage();
        if (damage.empty() && !freeBlocksCoverSameRanges(strategy.sortedFreeBlocks(), derived[i])) {
            damage = "disagrees with its data file";
        }
        if (damage.empty()) continue;
        strategy.replaceFreeBlocks(derived[i]);
        rebuilt.push_back("free space table " + strategy.freeSpaceTableURL().string() + " " +
                          damage + "; rebuilt from the index");
    }
    return rebuilt;
}

std::vector<std::string>
ZELDiskDataStorageStrategyManager::rebuildFreeSpaceTablesDisagreeingWithSavedIndex(
    ZELDiskDataStorageSlotWalk slots) {
    return rebuildDisagreeingFreeSpaceTables([&](ZELDiskDataStorageSlotVisitor visit) {
        slots(visit);
        for (const ReleasedBlock& block : releasedBlocks_) {
            ZELDiskDataStorageObjectInfo info;
            info.offset = block.offset;
            info.length = block.length;
            info.fileNumber = block.fileNumber;
            visit(info);
        }
    });
}

ZELError ZELDiskDataStorageStrategyManager::readMassTransactionVisitor(
    const std::function<ZELError()>& visitor) {
    const bool useTransactionBuffer = readBufferSize_ == 0;
    const auto closeReadOnlyStrategies = [this] {
        for (const auto& strategy : fixedStrats_) {
            if (strategy->openFlags() == ZELFileStreamFlagRead) strategy->invalidate();
        }
    };
    if (useTransactionBuffer) {
        closeReadOnlyStrategies();
        readBufferSize_ = kTransactionBufferSize;
    }
    const ZELError error = visitor();
    if (useTransactionBuffer) {
        readBufferSize_ = 0;
        closeReadOnlyStrategies();
    }
    return error;
}

ZELError ZELDiskDataStorageStrategyManager::writeMassTransactionVisitor(
    const std::function<ZELError()>& visitor) {
    for (const auto& strategy : fixedStrats_) strategy->closeAndGetError(nullptr);
    const uint64_t savedWriteBufferSize = writeBufferSize_;
    if (writeBufferSize_ == 0) writeBufferSize_ = kTransactionWriteBufferSize;
    const ZELError visitorError = visitor();
    writeBufferSize_ = savedWriteBufferSize;

    ZELError endError;
    for (const auto& strategy : fixedStrats_) {
        ZELError closeError;
        if (!strategy->closeAndGetError(&closeError) && !endError) endError = closeError;
    }
    return visitorError ? visitorError : endError;
}

bool ZELDiskDataStorageStrategyManager::openStrategyForWriting(ZELDiskDataStorageStrategy& strategy,
                                                               ZELError* outError) const {
    if (strategy.isOpen() && (strategy.openFlags() & ZELFileStreamFlagWrite)) return true;
    const uint64_t bufferSize =
        writeBufferSize_ ? writeBufferSize_ : ZELDiskDataStorageStrategy::kDefaultBufferSize;
    return strategy.openWithStreamFlags(ZELFileStreamFlagRead | ZELFileStreamFlagWrite, bufferSize,
                                        outError);
}

bool ZELDiskDataStorageStrategyManager::writeDataForObjectWithInfo(
    ZELDiskDataStorageObjectInfo& info, ZELError* outError) {
    if (!info.object) {
        return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                         ZELErrorCodeUnsupportedOperation, "no object to write"));
    }
    const ZELStreamSerializable& object = *info.object;
    const bool withRequiredClass = static_cast<bool>(uniformObjectClass_);
    const uint64_t objectByteCount =
        ZELStream::byteCountForZELSerializable(object, withRequiredClass);
    if (objectByteCount > UINT32_MAX - ZELDiskDataStorageStrategy::kObjectBlockHeaderLength) {
        return ZELSetError(
            outError, ZELError::errorWithZELErrorCode(
                          ZELErrorCodeWriteFailed,
                          ZELStringWithFormat("object of %llu bytes is too large to store",
                                              static_cast<unsigned long long>(objectByteCount))));
    }
    const auto length = static_cast<uint32_t>(objectByteCount +
                                              ZELDiskDataStorageStrategy::kObjectBlockHeaderLength);

    const std::shared_ptr<ZELDiskDataStorageStrategy> holder = strategyHoldingObjectWithInfo(info);
    std::shared_ptr<ZELDiskDataStorageStrategy> target;
    bool isNewOneBlockFile = false;
    if (info.fileNumber <= kLastSharedFileNumber) {
        if (ZELDiskDataStorageStrategy_MultiBlock* fixed =
                fixedStrategyForBlockOfSize(objectByteCount)) {
            target = fixedStrats_[fixed->fileNum() - 1];
        } else {
            const uint64_t fileNumber = firstUnusedOneBlockFileNumber(outError);
            if (fileNumber == 0) return false;
            target = strategyForOneBlockFileNumber(fileNumber, true);
            isNewOneBlockFile = true;
        }
    } else {
        // A one-object file stays the object's file whatever its new size.
        target = holder;
    }
    const bool staysInItsFile = holder && holder.get() == target.get();
    const uint32_t lastOffset = staysInItsFile ? info.offset : 0;
    const uint32_t lastLength = lastOffset != 0 ? info.length : 0;

    const auto abandonNewFile = [&] {
        if (!isNewOneBlockFile) return;
        target->invalidate();
        ZELFileSystem::shared().unlink(target->url());
    };
    if (!openStrategyForWriting(*target, outError)) {
        abandonNewFile();
        return false;
    }
    const uint32_t offset =
        target->writeOffsetForObjectOfLength(length, lastOffset, lastLength, outError);
    if (offset == 0) {
        abandonNewFile();
        return false;
    }
    const ZELError error = target->accessWriteStreamForObjectOfLength(
        length, offset, [&](ZELStream& stream) -> ZELError {
            if (stream.writeZELSerializable(object, withRequiredClass)) return ZELError();
            if (ZELError streamError = stream.streamError()) return streamError;
            return ZELError::errorWithZELErrorCode(ZELErrorCodeWriteFailed,
                                                   "object could not be serialized");
        });
    if (error) {
        abandonNewFile();
        return ZELSetError(outError, error);
    }

    // A one-object file is the object's place whatever the slot said; a shared-file block is
    // released when the object left it.
    const bool leftItsBlock =
        !staysInItsFile || (info.fileNumber <= kLastSharedFileNumber && offset != info.offset);
    if (leftItsBlock) releaseBlock(info);
    info.fileNumber = static_cast<uint16_t>(target->fileNum());
    info.offset = offset;
    info.length = length;
    return true;
}

bool ZELDiskDataStorageStrategyManager::readDataForObjectWithInfo(
    const ZELDiskDataStorageObjectInfo& info, ZELError* outError, ObjectReader reader) {
    const std::shared_ptr<ZELDiskDataStorageStrategy> strategy =
        strategyHoldingObjectWithInfo(info);
    if (!strategy) {
        return ZELSetError(outError,
                           ZELError::errorWithZELErrorCode(ZELErrorCodeUnsupportedOperation,
                                                           "no file strategy for object"));
    }
    if (info.length < ZELDiskDataStorageStrategy::kObjectBlockHeaderLength) {
        return ZELSetError(
            outError, ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData,
                                                      "loadable object data lengths do not match"));
    }
    if (!strategy->isOpen()) {
        const uint64_t bufferSize =
            readBufferSize_ ? readBufferSize_ : ZELDiskDataStorageStrategy::kDefaultBufferSize;
        if (!strategy->openWithStreamFlags(ZELFileStreamFlagRead, bufferSize, outError)) {
            return false;
        }
    }
    const uint64_t objectByteCount =
        info.length - ZELDiskDataStorageStrategy::kObjectBlockHeaderLength;
    const ZELError error = strategy->accessReadStreamForObjectAtOffset(
        info.offset, info.length, [&](ZELStream& stream) -> ZELError {
            // A block running past the end of its file fails here, before the reader
            // allocates for it.
            if (!stream.checkReadableByteCount(objectByteCount)) return stream.streamError();
            return reader(stream, objectByteCount);
        });
    if (error) return ZELSetError(outError, error);
    return true;
}

void ZELDiskDataStorageStrategyManager::discardDataForObjectWithInfo(
    ZELDiskDataStorageObjectInfo& info) {
    releaseBlock(info);
    info.object.reset();
    info.offset = 0;
    info.length = 0;
    info.fileNumber = 0;
    info.dirty = 1;
}

void ZELDiskDataStorageStrategyManager::releaseBlock(const ZELDiskDataStorageObjectInfo& info) {
    // File number 0 is the legacy file, which the migration deletes whole.
    if (!info.hasStoredData() || info.fileNumber == 0) return;
    releasedBlocks_.push_back(ReleasedBlock{info.fileNumber, info.offset, info.length});
}

bool ZELDiskDataStorageStrategyManager::commitReleasedBlocksAndGetError(ZELError* outError) {
    ZELError firstError;
    for (const ReleasedBlock& block : releasedBlocks_) {
        if (block.fileNumber > kLastSharedFileNumber) {
            const std::string url = dataFileURLForFileNumber(block.fileNumber, false);
            if (ZELFileSystem::shared().unlink(url) != 0 && errno != ENOENT && !firstError) {
                firstError = ZELError::errorWithErrno(errno, "removing a one-object data file");
            }
        } else if (ZELDiskDataStorageStrategy_MultiBlock* strategy =
                       fixedStrategyForFileNumber(block.fileNumber)) {
            strategy->discardDataForObjectAtOffset(block.offset, block.length);
        }
    }
    releasedBlocks_.clear();
    for (const auto& strategy : fixedStrats_) {
        const ZELError error = strategy->didEndMassWriteTransaction();
        if (error && !firstError) firstError = error;
    }
    if (firstError) {
        ZELLogFormat("releasing freed blocks failed: %s", firstError.description().c_str());
        return ZELSetError(outError, firstError);
    }
    return true;
}

void ZELDiskDataStorageStrategyManager::gatherMemoryMetrics(
    ZELMemoryMetricsGatherer& gatherer, ZELDiskDataStorageSlotWalk slots,
    ZELFunctionRef<uint64_t(const ZELStreamSerializable& object)> objectMemory) const {
    gatherer.addByteCount(ZELFileManager::byteCountOnDiskAtURL(baseURL_.string()),
                          ZELMemoryMetricTypeDisk);
    for (size_t i = 0; i < fixedStrats_.size(); ++i) {
        fixedStrats_[i]->gatherNonObjectMemoryMetrics(gatherer, fixedStratSizeBounds_[i]);
    }
    slots([&](const ZELDiskDataStorageObjectInfo& info) {
        if (info.object) gatherer.addByteCountToRAM(objectMemory(*info.object));
        if (!info.hasStoredData()) return;
        if (ZELDiskDataStorageStrategy_MultiBlock* strategy =
                fixedStrategyForFileNumber(info.fileNumber)) {
            strategy->gatherMemoryMetrics(gatherer, info.offset, info.length,
                                          fixedStratSizeBounds_[info.fileNumber - 1]);
        } else {
            // One-object files (and slots naming no known file): the block is the object.
            gatherer.addByteCount(info.length, ZELMemoryMetricTypeUsed);
            gatherer.addByteCount(info.length, ZELMemoryMetricTypeUsed, info.length, 0);
            gatherer.incrementUseCount(1, info.length, 0);
        }
    });
}

uint64_t ZELDiskDataStorageStrategyManager::fileByteCountOnDisk(const std::filesystem::path& url) {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(url, error);
    return error ? 0 : size;
}
