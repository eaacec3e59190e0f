#include "zel/stream/ZELStreamAdaptor.h"

#include <fstream>
#include <istream>
#include <ostream>

ZELStreamAdaptor::ZELStreamAdaptor(std::shared_ptr<std::ios> stream) : stream_(std::move(stream)) {}

bool ZELStreamAdaptor::open() { return stream_ && !stream_->fail(); }

void ZELStreamAdaptor::close() {
    if (auto* fileBuffer = dynamic_cast<std::filebuf*>(stream_->rdbuf())) fileBuffer->close();
}

ZELError ZELStreamAdaptor::streamError() const {
    if (ZELError error = ZELStream::streamError()) return error;
    if (stream_->fail()) {
        return ZELError::errorWithZELErrorCode(
            ZELErrorCodeIOFailure, ZELStringWithFormat("platform stream failed (bad=%d, eof=%d)",
                                                       stream_->bad(), stream_->eof()));
    }
    return ZELError();
}

void ZELStreamAdaptor::reportTransferFailure(const char* words, uint64_t expected,
                                             uint64_t actual) {
    reportError(ZELError::errorWithZELErrorCode(
        ZELErrorCodeIOFailure,
        ZELStringWithFormat("%s; expected %llu bytes, actual byte count=%llu.", words,
                            static_cast<unsigned long long>(expected),
                            static_cast<unsigned long long>(actual))));
}

ZELReadStreamAdaptor::ZELReadStreamAdaptor(std::shared_ptr<std::istream> stream)
    : ZELStreamAdaptor(stream), input_(std::move(stream)) {}

uint64_t ZELReadStreamAdaptor::currentLogicalOffset() const {
    const std::streamoff position = input_->tellg();
    return position >= 0 ? static_cast<uint64_t>(position) : 0;
}

bool ZELReadStreamAdaptor::seek(int64_t offset, int whence) {
    if (whence != SeekFromStart) return false;
    input_->clear();
    if (offset < 0 || !input_->seekg(offset)) {
        reportError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeIOFailure,
            ZELStringWithFormat("could not seek input stream to %lld", static_cast<long long>(offset))));
        return false;
    }
    return true;
}

bool ZELReadStreamAdaptor::readBytes(void* buffer, uint64_t count) {
    if (count == 0 || !buffer) return true;
    input_->read(static_cast<char*>(buffer), static_cast<std::streamsize>(count));
    const auto got = static_cast<uint64_t>(input_->gcount());
    if (got != count) {
        reportTransferFailure("could not read from input stream", count, got);
        return false;
    }
    return true;
}

bool ZELReadStreamAdaptor::checkReadableByteCount(uint64_t count) {
    const std::streamoff position = input_->tellg();
    if (position < 0 || !input_->seekg(0, std::ios::end)) return true;
    const std::streamoff end = input_->tellg();
    input_->seekg(position);
    if (end < position) return true;
    const auto remaining = static_cast<uint64_t>(end - position);
    if (count <= remaining) return true;
    reportTransferFailure("could not read from input stream", count, remaining);
    return false;
}

ZELWriteStreamAdaptor::ZELWriteStreamAdaptor(std::shared_ptr<std::ostream> stream)
    : ZELStreamAdaptor(stream), output_(std::move(stream)) {}

void ZELWriteStreamAdaptor::close() {
    output_->flush();
    ZELStreamAdaptor::close();
}

uint64_t ZELWriteStreamAdaptor::currentLogicalOffset() const {
    const std::streamoff position = output_->tellp();
    return position >= 0 ? static_cast<uint64_t>(position) : 0;
}

bool ZELWriteStreamAdaptor::seek(int64_t offset, int whence) {
    if (whence != SeekFromStart) return false;
    if (offset < 0 || !output_->seekp(offset)) {
        reportError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeIOFailure,
            ZELStringWithFormat("could not seek output stream to %lld", static_cast<long long>(offset))));
        return false;
    }
    return true;
}

bool ZELWriteStreamAdaptor::writeBytes(const void* bytes, uint64_t count) {
    if (count == 0) return true;
    if (!output_->write(static_cast<const char*>(bytes), static_cast<std::streamsize>(count))) {
        reportTransferFailure("could not write to output stream", count, 0);
        return false;
    }
    return true;
}
