#include "zel/stream/ZELDataStream.h"

#include <cstring>
#include <exception>

namespace {

ZELError dataStreamError(const char* message) {
    return ZELError::errorWithZELErrorCode(ZELErrorCodeIOFailure, message);
}

}  // namespace

std::shared_ptr<ZELDataStream> ZELDataStream::streamWithData(std::shared_ptr<const ZELData> data) {
    return std::make_shared<ZELDataStream>(std::move(data));
}

std::shared_ptr<ZELDataStream> ZELDataStream::streamWithBytes(std::span<const uint8_t> bytes) {
    return streamWithData(std::make_shared<const ZELData>(bytes.begin(), bytes.end()));
}

ZELDataStream::ZELDataStream(std::shared_ptr<const ZELData> data)
    : data_(data ? std::move(data) : std::make_shared<const ZELData>()) {}

bool ZELDataStream::open() {
    offset_ = 0;
    return true;
}

bool ZELDataStream::seek(int64_t offset, int whence) {
    const uint64_t magnitude =
        offset < 0 ? uint64_t{0} - static_cast<uint64_t>(offset) : static_cast<uint64_t>(offset);
    uint64_t target;
    if (whence == SeekFromStart) {
        target = static_cast<uint64_t>(offset);
    } else if (whence == SeekFromCurrent) {
        if (offset < 0 && magnitude > offset_) {
            reportError(dataStreamError("tried to seek data stream backwards by too many bytes"));
            return false;
        }
        target = offset < 0 ? offset_ - magnitude : offset_ + magnitude;
    } else {
        if (magnitude > length()) {
            reportError(dataStreamError("tried to seek from end of data stream by too many bytes"));
            return false;
        }
        target = length() - magnitude;
    }
    if (target > length()) {
        reportError(dataStreamError("tried to seek to invalid position"));
        return false;
    }
    offset_ = target;
    return true;
}

bool ZELDataStream::readBytes(void* buffer, uint64_t count) {
    if (!buffer) return true;
    if (!checkReadableByteCount(count)) return false;
    if (count > 0) std::memcpy(buffer, data_->data() + offset_, count);
    offset_ += count;
    return true;
}

const uint8_t* ZELDataStream::acquireFilledReadBufferOfSize(uint64_t size) {
    if (size == 0 || !checkReadableByteCount(size)) return nullptr;
    const uint8_t* bytes = data_->data() + offset_;
    offset_ += size;
    return bytes;
}

void ZELDataStream::relinquishFilledReadBuffer(const uint8_t*) {}

bool ZELDataStream::checkReadableByteCount(uint64_t count) {
    if (count <= length() - offset_) return true;
    reportError(dataStreamError("tried to read too many bytes"));
    return false;
}

std::shared_ptr<ZELDataWriteStream> ZELDataWriteStream::stream() {
    return streamOverData(std::make_shared<ZELData>());
}

std::shared_ptr<ZELDataWriteStream> ZELDataWriteStream::streamWithCopyOfBytes(
    std::span<const uint8_t> bytes) {
    return streamOverData(std::make_shared<ZELData>(bytes.begin(), bytes.end()));
}

std::shared_ptr<ZELDataWriteStream> ZELDataWriteStream::streamOverData(
    std::shared_ptr<ZELData> data) {
    return std::make_shared<ZELDataWriteStream>(data ? std::move(data)
                                                     : std::make_shared<ZELData>());
}

ZELDataWriteStream::ZELDataWriteStream(std::shared_ptr<ZELData> data)
    : ZELDataStream(data), mutableData_(std::move(data)) {
    setOffset(mutableData_->size());
}

bool ZELDataWriteStream::writeBytes(const void* bytes, uint64_t count) {
    if (count == 0) return true;
    ZELData& data = *mutableData_;
    const uint64_t offset = currentLogicalOffset();
    try {
        if (count > data.size() - offset) data.resize(offset + count);
    } catch (const std::exception&) {
        reportMemoryAllocationFailed("data stream buffer could not grow");
        return false;
    }
    std::memcpy(data.data() + offset, bytes, count);
    setOffset(offset + count);
    return true;
}
