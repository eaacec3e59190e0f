#include "zel/stream/ZELFileStream.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "zel/platform/ZELFileSystem.h"

namespace {

// The process's open descriptors, one "<fd> -> <target>" line each. Runs when the process or
// the system is out of descriptors, so it opens none: it probes each descriptor number below
// the limit and reads its /proc link by path.
std::string openFilesListing() {
    rlimit limit{};
    uint64_t highest = 65536;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        highest = std::min<uint64_t>(limit.rlim_cur, uint64_t{1} << 20);
    }
    std::string listing;
    char target[PATH_MAX];
    for (uint64_t fd = 0; fd < highest; ++fd) {
        if (fcntl(static_cast<int>(fd), F_GETFD) == -1) continue;
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t length = readlink(link.c_str(), target, sizeof target);
        const std::string name = length >= 0 ? std::string(target, static_cast<size_t>(length)) : "?";
        listing += std::to_string(fd) + " -> " + name + "\n";
    }
    return listing;
}

}  // namespace

ZELFileStream::ZELFileStream(std::string url, int32_t flags, uint64_t bufferSize)
    : url_(std::move(url)), flags_(flags), requestedBufferSize_(bufferSize) {}

ZELFileStream::~ZELFileStream() { close(); }

bool ZELFileStream::open() {
    if (fd_ >= 0) {
        flushWriteBuffer();
        ZELFileSystem::shared().close(fd_);
        fd_ = -1;
    }
    handlePosition_ = 0;
    emptyBuffer();
    bufferMode_ = BufferMode::None;

    const bool writes = flags_ & ZELFileStreamFlagWrite;
    const int mode = writes ? ((flags_ & ZELFileStreamFlagRead) ? O_RDWR | O_CREAT
                                                                : O_WRONLY | O_CREAT | O_TRUNC)
                            : O_RDONLY;
    fd_ = ZELFileSystem::shared().open(url_, mode, 0666);
    if (fd_ < 0) {
        reportOpenFailure(errno);
        return false;
    }
    if (flags_ & ZELFileStreamFlagUncached) {
        posix_fadvise(fd_, 0, 0, POSIX_FADV_RANDOM);
        posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
    }
    fileLengthOnDisk_ = diskLength();
    return true;
}

void ZELFileStream::close() {
    flushWriteBuffer();
    if (fd_ >= 0) {
        if (flags_ & ZELFileStreamFlagUncached) posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
        const int closed = ZELFileSystem::shared().close(fd_);
        fd_ = -1;
        if (closed != 0) reportTransferFailure("close failed", 0, 0);
    }
    handlePosition_ = 0;
    std::free(buffer_);
    buffer_ = nullptr;
    bufferCapacity_ = 0;
    emptyBuffer();
    bufferMode_ = BufferMode::None;
    url_.clear();
    transferFailed_ = false;
}

uint64_t ZELFileStream::currentLogicalOffset() const {
    if (isReadBuffering()) return handlePosition_ - bufferFill_ + bufferReadAt_;
    if (isWriteBuffering()) return handlePosition_ + bufferFill_;
    return handlePosition_;
}

uint64_t ZELFileStream::logicalFileLength() const {
    // Only pending bytes lengthen the file: a seek past the end does not.
    if (isWriteBuffering() && bufferFill_ > 0) {
        return std::max(fileLengthOnDisk_, handlePosition_ + bufferFill_);
    }
    return fileLengthOnDisk_;
}

bool ZELFileStream::ensureBuffer() {
    if (!buffer_ && requestedBufferSize_ > 0) {
        // Without the buffer the stream works unbuffered.
        buffer_ = requestedBufferSize_ <= SIZE_MAX
                      ? static_cast<uint8_t*>(std::malloc(requestedBufferSize_))
                      : nullptr;
        bufferCapacity_ = buffer_ ? requestedBufferSize_ : 0;
    }
    return buffer_ != nullptr;
}

void ZELFileStream::setBufferSize(uint64_t bufferSize) {
    if (!buffer_) requestedBufferSize_ = bufferSize;
}

bool ZELFileStream::setMemoryBufferCapacity(uint64_t capacity) {
    uint8_t* buffer = nullptr;
    if (capacity > 0) {
        buffer = capacity <= SIZE_MAX ? static_cast<uint8_t*>(std::malloc(capacity)) : nullptr;
        if (!buffer) {
            reportMemoryAllocationFailed("can't allocate ZELDataStream buffer");
            return false;
        }
    }
    std::free(buffer_);
    buffer_ = buffer;
    bufferCapacity_ = capacity;
    emptyBuffer();
    return true;
}

bool ZELFileStream::writeBytesNoBuffer(const void* bytes, uint64_t count) {
    if (fd_ < 0) {
        reportTransferFailure("writeBytes failure", count, 0);
        return false;
    }
    uint64_t written = 0;
    while (written < count) {
        const ssize_t result = ZELFileSystem::shared().pwrite(
            fd_, static_cast<const uint8_t*>(bytes) + written, count - written,
            static_cast<off_t>(handlePosition_ + written));
        if (result <= 0) {
            if (result == 0) errno = EIO;
            transferFailed_ = true;
            break;
        }
        written += static_cast<uint64_t>(result);
    }
    handlePosition_ += written;
    fileLengthOnDisk_ = std::max(fileLengthOnDisk_, handlePosition_);
    if (written < count) {
        reportTransferFailure("writeBytes failure", count, written);
        return false;
    }
    return true;
}

uint64_t ZELFileStream::readBytesNoBuffer(void* buffer, uint64_t count) {
    if (fd_ < 0) return 0;
    uint64_t read = 0;
    while (read < count) {
        const ssize_t result =
            ZELFileSystem::shared().pread(fd_, static_cast<uint8_t*>(buffer) + read, count - read,
                                          static_cast<off_t>(handlePosition_ + read));
        if (result < 0) transferFailed_ = true;
        if (result <= 0) break;
        read += static_cast<uint64_t>(result);
    }
    handlePosition_ += read;
    return read;
}

void ZELFileStream::flushWriteBuffer() {
    if (bufferMode_ != BufferMode::Writing || bufferFill_ == 0) return;
    writeBytesNoBuffer(buffer_, bufferFill_);
    emptyBuffer();
}

void ZELFileStream::rescindReadBuffer() {
    if (bufferMode_ != BufferMode::Reading || bufferReadAt_ >= bufferFill_) return;
    const uint64_t logicalOffset = currentLogicalOffset();
    emptyBuffer();
    handlePosition_ = logicalOffset;
}

void ZELFileStream::switchToReading() {
    if (bufferMode_ == BufferMode::Writing) flushWriteBuffer();
    bufferMode_ = BufferMode::Reading;
}

void ZELFileStream::switchToBufferedWriting() {
    if (isReadBuffering()) {
        rescindReadBuffer();
        emptyBuffer();
    }
    bufferMode_ = BufferMode::Writing;
}

void ZELFileStream::switchToUnbufferedWriting() {
    flushWriteBuffer();
    if (isReadBuffering()) {
        rescindReadBuffer();
        emptyBuffer();
    }
    bufferMode_ = BufferMode::None;
}

bool ZELFileStream::readBytes(void* buffer, uint64_t count) {
    if (!buffer) return true;
    switchToReading();
    auto* destination = static_cast<uint8_t*>(buffer);
    const uint64_t fromBuffer = std::min(bufferFill_ - bufferReadAt_, count);
    if (fromBuffer > 0) std::memcpy(destination, buffer_ + bufferReadAt_, fromBuffer);
    bufferReadAt_ += fromBuffer;
    if (fromBuffer == count) return true;

    const uint64_t rest = count - fromBuffer;
    uint64_t delivered;
    if (2 * rest <= requestedBufferSize_ && ensureBuffer()) {
        bufferFill_ = readBytesNoBuffer(buffer_, std::min(bufferCapacity_, requestedBufferSize_));
        delivered = std::min(rest, bufferFill_);
        std::memcpy(destination + fromBuffer, buffer_, delivered);
        bufferReadAt_ = delivered;
    } else {
        emptyBuffer();
        delivered = readBytesNoBuffer(destination + fromBuffer, rest);
    }
    if (delivered < rest) {
        reportTransferFailure("readBytes failed", rest, delivered);
        return false;
    }
    return true;
}

bool ZELFileStream::writeBytes(const void* bytes, uint64_t count) {
    if (count == 0) return false;
    ensureBuffer();
    if (count >= bufferCapacity_) {
        switchToUnbufferedWriting();
        return writeBytesNoBuffer(bytes, count);
    }
    switchToBufferedWriting();
    if (bufferCapacity_ - bufferFill_ < count) flushWriteBuffer();
    std::memcpy(buffer_ + bufferFill_, bytes, count);
    bufferFill_ += count;
    return true;
}

bool ZELFileStream::seek(int64_t offset, int whence) {
    if (isWriteBuffering()) {
        if (whence == SeekFromStart && offset >= 0 &&
            static_cast<uint64_t>(offset) == handlePosition_ + bufferFill_) {
            return true;
        }
        flushWriteBuffer();
    }
    int64_t target = 0;
    const bool targetKnown = whence != SeekFromEnd;
    if (whence == SeekFromStart) {
        target = offset;
    } else if (whence == SeekFromCurrent) {
        target = static_cast<int64_t>(currentLogicalOffset()) + offset;
    } else if (whence != SeekFromEnd) {
        return false;
    }

    if (targetKnown && isReadBuffering() && bufferFill_ > 0) {
        // The target's place in the buffer.
        const int64_t place = target - static_cast<int64_t>(handlePosition_ - bufferFill_);
        const auto readAt = static_cast<int64_t>(bufferReadAt_);
        const auto fill = static_cast<int64_t>(bufferFill_);
        if ((place >= 0 && place < readAt) || (place >= readAt && place + 4 < fill)) {
            bufferReadAt_ = static_cast<uint64_t>(place);
            return true;
        }
    }
    if (targetKnown && bufferFill_ == 0 && target >= 0 &&
        static_cast<uint64_t>(target) == handlePosition_) {
        return true;
    }
    if (fd_ < 0) {
        reportSeekFailure(whence, offset, EBADF);
        return false;
    }
    if (!targetKnown) target = static_cast<int64_t>(diskLength()) + offset;
    if (target < 0) {
        // A failed seek leaves the position and the buffer as they were.
        reportSeekFailure(whence, offset, EINVAL);
        return false;
    }
    emptyBuffer();
    handlePosition_ = static_cast<uint64_t>(target);
    return true;
}

const uint8_t* ZELFileStream::acquireFilledReadBufferOfSize(uint64_t size) {
    if (size == 0) return nullptr;
    switchToReading();
    if (bufferFill_ - bufferReadAt_ > size) {
        const uint8_t* lent = buffer_ + bufferReadAt_;
        bufferReadAt_ += size;
        bufferMode_ = BufferMode::ReadLent;
        return lent;
    }
    rescindReadBuffer();
    emptyBuffer();
    ensureBuffer();
    if (bufferCapacity_ < size && !setMemoryBufferCapacity(size)) return nullptr;
    const uint64_t wanted =
        2 * size <= requestedBufferSize_ ? std::min(bufferCapacity_, requestedBufferSize_) : size;
    bufferFill_ = readBytesNoBuffer(buffer_, wanted);
    if (bufferFill_ < size) {
        // Nothing is lent from a short read: the offset stays where it was.
        reportTransferFailure("readBytes failed", size, bufferFill_);
        return nullptr;
    }
    bufferReadAt_ = size;
    bufferMode_ = BufferMode::ReadLent;
    return buffer_;
}

void ZELFileStream::relinquishFilledReadBuffer(const uint8_t*) {
    if (bufferMode_ == BufferMode::ReadLent) bufferMode_ = BufferMode::Reading;
}

uint8_t* ZELFileStream::acquireWriteBufferWithCapacity(uint64_t capacity) {
    capacity = std::max<uint64_t>(capacity, 1);
    ensureBuffer();
    switchToBufferedWriting();
    if (bufferCapacity_ - bufferFill_ < capacity) {
        flushWriteBuffer();
        if (bufferCapacity_ - bufferFill_ < capacity && !setMemoryBufferCapacity(capacity)) {
            return nullptr;
        }
    }
    bufferMode_ = BufferMode::WriteLent;
    return buffer_ + bufferFill_;
}

void ZELFileStream::relinquishWriteBuffer(uint8_t* buffer, uint64_t filledByteCount) {
    if (!buffer) return;
    bufferFill_ += filledByteCount;
    bufferMode_ = BufferMode::Writing;
}

// The file stream's error text:
//   Error encountered with file at: <path>\n
//   [open file] cached position=<H>, ftell=<H>, logical length=<n>, disk length=<n> \n
//   [a failure reason] Error cause: <reason>
void ZELFileStream::reportError(const ZELError& error) {
    if (streamError()) return;  // only the first error is kept
    std::string text = "Error encountered with file at: " + url_ + "\n";
    if (fd_ >= 0) {
        text += ZELStringWithFormat("cached position=%lu, ftell=%lu, ",
                                    static_cast<unsigned long>(handlePosition_),
                                    static_cast<unsigned long>(handlePosition_));
        text += ZELStringWithFormat("logical length=%lu, disk length=%lu \n",
                                    static_cast<unsigned long>(logicalFileLength()),
                                    static_cast<unsigned long>(diskLength()));
    }
    if (!error.failureReason().empty()) text += "Error cause: " + error.failureReason();
    ZELStream::reportError(ZELError(error.domain(), error.code(), std::move(text)));
}

bool ZELFileStream::checkReadableByteCount(uint64_t count) {
    const auto fits = [this, count] {
        const uint64_t length = logicalFileLength();
        const uint64_t offset = currentLogicalOffset();
        return offset <= length && count <= length - offset;
    };
    if (fits()) return true;
    // The file may have grown through another handle since it was opened.
    if (fd_ >= 0) fileLengthOnDisk_ = std::max(fileLengthOnDisk_, diskLength());
    if (fits()) return true;
    const uint64_t length = logicalFileLength();
    const uint64_t offset = currentLogicalOffset();
    reportTransferFailure("readBytes failed", count, offset < length ? length - offset : 0);
    return false;
}

std::string ZELFileStream::description() const {
    return ZELStringWithFormat("%s for \"%s\"", descriptionHead().c_str(), url_.c_str());
}

// "Could not open file, errno=<n>." and, when the process or the system is out of
// descriptors (errno 24 or 23), "\nOpen files:\n" with the listing of open descriptors.
void ZELFileStream::reportOpenFailure(int errnoValue) {
    std::string message = ZELStringWithFormat("Could not open file, errno=%d.", errnoValue);
    if (errnoValue == ENFILE || errnoValue == EMFILE) {
        const std::string listing = openFilesListing();
        if (!listing.empty()) message += "\nOpen files:\n" + listing;
    }
    reportError(ZELError::errorWithZELErrorCode(ZELErrorCodeFileAccess, std::move(message)));
}

// "ZELFileStream error: <words>; expected <n> bytes, actual byte count=<n>." and, with an
// open file, " ferror=<n>, errno=<n>" (ferror 1 when a read or write call itself failed).
void ZELFileStream::reportTransferFailure(const char* words, uint64_t expected, uint64_t actual) {
    const int errnoValue = errno;
    std::string message = ZELStringWithFormat(
        "ZELFileStream error: %s; expected %llu bytes, actual byte count=%llu.", words,
        static_cast<unsigned long long>(expected), static_cast<unsigned long long>(actual));
    if (fd_ >= 0) {
        message += ZELStringWithFormat(" ferror=%d, errno=%d", transferFailed_ ? 1 : 0, errnoValue);
    }
    reportError(ZELError::errorWithZELErrorCode(ZELErrorCodeIOFailure, std::move(message)));
}

void ZELFileStream::reportSeekFailure(int whence, int64_t offset, int errnoValue) {
    reportError(ZELError::errorWithZELErrorCode(
        ZELErrorCodeIOFailure,
        ZELStringWithFormat("could not seek stream (seek=%d, offset=%ld, errno=%d)", whence,
                            static_cast<long>(offset), errnoValue)));
}

uint64_t ZELFileStream::diskLength() const {
    struct stat status {};
    if (fd_ < 0 || ZELFileSystem::shared().fstat(fd_, &status) != 0) return 0;
    return static_cast<uint64_t>(status.st_size);
}

namespace {

ZELError readOnlyError() {
    return ZELError::errorWithZELErrorCode(ZELErrorCodeUnsupportedOperation,
                                           "can't write to a read-only stream");
}

ZELError writeOnlyError() {
    return ZELError::errorWithZELErrorCode(ZELErrorCodeUnsupportedOperation,
                                           "can't read from write-only stream");
}

}  // namespace

bool ZELFileReadStream::writeBytes(const void*, uint64_t) {
    reportError(readOnlyError());
    return false;
}

uint8_t* ZELFileReadStream::acquireWriteBufferWithCapacity(uint64_t) {
    reportError(readOnlyError());
    return nullptr;
}

bool ZELFileWriteStream::readBytes(void*, uint64_t) {
    reportError(writeOnlyError());
    return false;
}

const uint8_t* ZELFileWriteStream::acquireFilledReadBufferOfSize(uint64_t) {
    reportError(writeOnlyError());
    return nullptr;
}
