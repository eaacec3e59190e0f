#include "zel/stream/ZELStream.h"

#include <cstdlib>
#include <utility>

#include "zel/stream/ZELDataStream.h"
#include "zel/stream/ZELFileStream.h"
#include "zel/stream/ZELStreamAdaptor.h"

std::shared_ptr<ZELFileStream> ZELStream::streamForURL(const std::string& url,
                                                       int32_t flags, uint64_t bufferSize) {
    return std::make_shared<ZELFileStream>(url, flags, bufferSize);
}

std::shared_ptr<ZELFileReadStream> ZELStream::streamForReadingURL(const std::string& url,
                                                                  uint64_t bufferSize) {
    return std::make_shared<ZELFileReadStream>(url, ZELFileStreamFlagRead, bufferSize);
}

std::shared_ptr<ZELFileWriteStream> ZELStream::streamForWritingURL(const std::string& url,
                                                                   uint64_t bufferSize) {
    return std::make_shared<ZELFileWriteStream>(url, ZELFileStreamFlagWrite, bufferSize);
}

std::shared_ptr<ZELDataWriteStream> ZELStream::streamForData(std::shared_ptr<ZELData> data) {
    return ZELDataWriteStream::streamOverData(std::move(data));
}

std::shared_ptr<ZELDataStream> ZELStream::streamForReadingData(
    std::shared_ptr<const ZELData> data) {
    return ZELDataStream::streamWithData(std::move(data));
}

std::shared_ptr<ZELReadStreamAdaptor> ZELStream::readStreamForInputStream(
    std::shared_ptr<std::istream> stream) {
    return std::make_shared<ZELReadStreamAdaptor>(std::move(stream));
}

std::shared_ptr<ZELWriteStreamAdaptor> ZELStream::writeStreamForOutputStream(
    std::shared_ptr<std::ostream> stream) {
    return std::make_shared<ZELWriteStreamAdaptor>(std::move(stream));
}

bool ZELStream::open() {
    return false;
}

void ZELStream::close() {}

uint64_t ZELStream::currentLogicalOffset() const {
    return 0;
}

bool ZELStream::seek(int64_t, int) {
    return false;
}

bool ZELStream::readBytes(void*, uint64_t) {
    reportError(ZELError::errorWithZELErrorCode(ZELErrorCodeUnsupportedOperation,
                                                "abstract stream read method called"));
    return false;
}

bool ZELStream::writeBytes(const void*, uint64_t) {
    reportError(ZELError::errorWithZELErrorCode(ZELErrorCodeUnsupportedOperation,
                                                "abstract stream write method called"));
    return false;
}

const uint8_t* ZELStream::acquireFilledReadBufferOfSize(uint64_t size) {
    return newFilledReadBufferWithReadByteCount(size);
}

void ZELStream::relinquishFilledReadBuffer(const uint8_t* buffer) {
    std::free(const_cast<uint8_t*>(buffer));
}

uint8_t* ZELStream::acquireWriteBufferWithCapacity(uint64_t capacity) {
    auto* buffer = static_cast<uint8_t*>(std::malloc(capacity ? capacity : 1));
    if (!buffer) reportMemoryAllocationFailed("failed to acquire/alloc write buffer");
    return buffer;
}

void ZELStream::relinquishWriteBuffer(uint8_t* buffer, uint64_t filledByteCount) {
    if (!buffer) return;
    if (filledByteCount > 0) writeBytes(buffer, filledByteCount);
    std::free(buffer);
}

void ZELStream::reportError(const ZELError& error) {
    if (!firstError_) firstError_ = error;
}

ZELError ZELStream::streamError() const {
    return firstError_;
}

bool ZELStream::checkReadableByteCount(uint64_t) {
    return true;
}

bool ZELStream::closeAndGetError(ZELError* outError) {
    close();
    if (ZELError error = streamError()) return ZELSetError(outError, std::move(error));
    return true;
}

void ZELStream::reportMemoryAllocationFailed(const std::string& message) {
    reportError(ZELError::errorWithZELErrorCode(ZELErrorCodeOutOfMemory, message));
}
