#include "zel/storage/ZELDiskDataStorageStrategy.h"

#include <system_error>
#include <utility>

#include "zel/platform/ZELFileManager.h"
#include "zel/platform/ZELLog.h"
#include "zel/storage/ZELDiskDataStorageStrategyManager.h"
#include "zel/stream/ZELFileStream.h"
#include "zel/stream/ZELMemoryMetricsGatherer.h"

namespace {

constexpr uint64_t kDataFileBufferSize = 4096;

}  // namespace

ZELDiskDataStorageStrategy::ZELDiskDataStorageStrategy(uint64_t fileNumber,
                                                       std::string url)
    : fileNum_(fileNumber), url_(std::move(url)) {}

ZELDiskDataStorageStrategy::~ZELDiskDataStorageStrategy() {
    if (stream_) stream_->close();
}

void ZELDiskDataStorageStrategy::invalidate() {
    if (stream_) stream_->close();
    stream_.reset();
}

void ZELDiskDataStorageStrategy::gatherNonObjectMemoryMetrics(ZELMemoryMetricsGatherer&, uint64_t) {
}

// A one-object file: the block is exactly as long as the object.
void ZELDiskDataStorageStrategy::gatherMemoryMetrics(ZELMemoryMetricsGatherer& gatherer, uint32_t,
                                                     uint32_t serializedLength, uint64_t) {
    gatherer.addByteCount(serializedLength, ZELMemoryMetricTypeUsed);
    gatherer.addByteCount(serializedLength, ZELMemoryMetricTypeUsed, serializedLength, 0);
    gatherer.incrementUseCount(1, serializedLength, 0);
}

ZELDiskFreeSpaceTable* ZELDiskDataStorageStrategy::freeSpaceTable() {
    return nullptr;
}

bool ZELDiskDataStorageStrategy::openWithStreamFlags(int32_t flags, uint64_t bufferSize,
                                                     ZELError* outError) {
    invalidate();
    if (bufferSize == kDefaultBufferSize) bufferSize = kDataFileBufferSize;

    // An empty file (left by an interrupted creation) holds no block and is treated as missing.
    // Reading looks at the file only through the open stream.
    const bool writes = flags & ZELFileStreamFlagWrite;
    std::error_code sizeError;
    const bool fileExists =
        !writes || (std::filesystem::file_size(url_, sizeError) > 0 && !sizeError);
    if (!fileExists && !ZELFileManager::createDirectoryRecursivelyAtURL(
                           std::filesystem::path(url_).parent_path().string(), outError)) {
        return false;
    }

    // A file opened for reading reads its header with one system call, into a buffer of the
    // header's length that goes afterwards: its read buffer is allocated only when an object is
    // first read from it.
    auto stream = ZELStream::streamForURL(url_, flags, writes ? bufferSize : dataFileHeaderLength());
    if (!stream->open()) {
        if (!writes && !std::filesystem::exists(url_, sizeError)) return true;
        return stream->closeAndGetError(outError);
    }
    if (!writes && stream->logicalFileLength() == 0) return stream->closeAndGetError(outError);
    const bool headerDone =
        fileExists ? readDataFileHeaderFromStream(*stream) : writeDataFileHeaderToStream(*stream);
    if (!headerDone || stream->streamError()) {
        if (!stream->streamError()) {
            stream->reportError(ZELError::errorWithZELErrorCode(
                ZELErrorCodeUnsupportedFormat,
                "ZELDiskDataStorage data file has unsupported version"));
        }
        return stream->closeAndGetError(outError);
    }
    if (!writes) stream->setMemoryBufferCapacity(0);
    stream->setBufferSize(bufferSize);
    stream_ = std::move(stream);
    openFlags_ = flags;
    return true;
}

bool ZELDiskDataStorageStrategy::closeAndGetError(ZELError* outError) {
    if (!stream_) return true;
    const auto stream = std::move(stream_);
    stream_.reset();
    return stream->closeAndGetError(outError);
}

bool ZELDiskDataStorageStrategy::readDataFileHeaderFromStream(ZELStream& stream) {
    const uint32_t version = stream.readUInt32Little();
    if (stream.streamError()) return false;
    if (version != kDataFileVersion) {
        stream.reportError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeUnsupportedFormat, "ZELDiskDataStorage data file has unsupported version"));
        return false;
    }
    return true;
}

bool ZELDiskDataStorageStrategy::writeDataFileHeaderToStream(ZELStream& stream) {
    return stream.writeUInt32Little(kDataFileVersion);
}

ZELError ZELDiskDataStorageStrategy::didEndMassWriteTransaction() {
    return ZELError();
}

uint32_t ZELDiskDataStorageStrategy::writeOffsetForObjectOfLength(uint32_t, uint32_t, uint32_t,
                                                                  ZELError*) {
    return 0;
}

ZELError ZELDiskDataStorageStrategy::seekForBlockAccess(uint32_t offset) {
    if (stream_->setCurrentLogicalOffset(offset)) return ZELError();
    const ZELError error = stream_->streamError();
    dropStreamAfterError();
    return error;
}

void ZELDiskDataStorageStrategy::dropStreamAfterError() {
    if (stream_ && stream_->streamError()) {
        stream_->close();
        stream_.reset();
    }
}

ZELError ZELDiskDataStorageStrategy::accessWriteStreamForObjectOfLength(
    uint32_t length, uint32_t offset, ZELDiskDataStorageBlockAccessor writer) {
    if (!stream_ || !(openFlags_ & ZELFileStreamFlagWrite)) {
        return ZELError::errorWithZELErrorCode(ZELErrorCodeUnsupportedOperation,
                                               "can't write to a read-only stream");
    }
    if (ZELError error = seekForBlockAccess(offset)) return error;
    if (!stream_->writeUInt32Little(length)) {
        const ZELError error = stream_->streamError();
        dropStreamAfterError();
        return error;
    }
    const uint64_t objectStart = stream_->currentLogicalOffset();
    const ZELError error = writer(*stream_);
    if (error) {
        dropStreamAfterError();
        return error;
    }
    // An object that writes more than it announced would run into the next block.
    const uint64_t written = stream_->currentLogicalOffset() - objectStart;
    if (written != uint64_t{length} - kObjectBlockHeaderLength) {
        return ZELError::errorWithZELErrorCode(
            ZELErrorCodeWriteFailed,
            ZELStringWithFormat(
                "object wrote %llu bytes but announced %llu",
                static_cast<unsigned long long>(written),
                static_cast<unsigned long long>(length - kObjectBlockHeaderLength)));
    }
    return ZELError();
}

ZELError ZELDiskDataStorageStrategy::accessReadStreamForObjectAtOffset(
    uint32_t offset, uint32_t expectedLength, ZELDiskDataStorageBlockAccessor reader) {
    if (!stream_) {
        // The data file is missing: let a stream say so, with the file's name and errno.
        const auto probe = ZELStream::streamForReadingURL(url_, 0);
        probe->open();
        ZELError error = probe->streamError();
        probe->close();
        if (!error) {
            error = ZELError::errorWithZELErrorCode(ZELErrorCodeFileAccess,
                                                    "ZELDiskDataStorage data file is empty");
        }
        return error;
    }
    if (ZELError error = seekForBlockAccess(offset)) return error;
    const uint32_t readLength = stream_->readUInt32Little();
    if (stream_->streamError()) {
        const ZELError error = stream_->streamError();
        dropStreamAfterError();
        return error;
    }
    if (readLength != expectedLength) {
        ZELLogFormat(
            "invalid loadableObject at offset=%lu (fileLen=%lu), expectedSize=%lu, "
            "readSize=%lu",
            static_cast<unsigned long>(offset),
            static_cast<unsigned long>(
                ZELDiskDataStorageStrategyManager::fileByteCountOnDisk(url_)),
            static_cast<unsigned long>(expectedLength), static_cast<unsigned long>(readLength));
        return ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData,
                                               "loadable object data lengths do not match");
    }
    const ZELError error = reader(*stream_);
    dropStreamAfterError();
    return error;
}

void ZELDiskDataStorageStrategy::discardDataForObjectAtOffset(uint32_t, uint32_t) {}

void ZELDiskDataStorageStrategy::assertValidObjectData() {}

uint64_t ZELDiskDataStorageStrategy::currentFileLength() const {
    if (stream_) return stream_->logicalFileLength();
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(url_, error);
    return error ? 0 : size;
}
