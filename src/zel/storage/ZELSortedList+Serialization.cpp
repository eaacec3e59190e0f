#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELFileManager.h"
#include "zel/platform/ZELFileSystem.h"
#include "zel/storage/ZELSortedList.h"
#include "zel/stream/ZELFileStream.h"

// The sort file, "<base URL>.sort", little-endian:
//
//   offset 0        uint32        magic number 0x1D1D0001
//   offset 4        uint32        key count N
//   offset 8        N x uint32    the key IDs in ascending key order
//   offset 8 + 4N   uint32        magic number 0x1D1D0001 again
//
// Nothing else: the keys themselves live with the list's owner. The layout is stored; never
// change it.

namespace {

// Buffer size of the file streams: large enough to read or write a list of a hundred thousand
// keys in a few system calls.
constexpr uint64_t kStreamBufferSize = 64 * 1024;

// Removes a temporary file made for replacing the sort file, and its private folder when empty.
void removeTemporaryItem(const std::string& temporaryURL) {
    const std::filesystem::path path(temporaryURL);
    ZELFileSystem::shared().unlink(path.string());
    ZELFileSystem::shared().rmdir(path.parent_path().string());
}

// The stream's kept error, or `fallback` when the stream kept none.
ZELError streamErrorOr(const ZELStream& stream, ZELError fallback) {
    ZELError error = stream.streamError();
    return error.isError() ? error : fallback;
}

}  // namespace

bool ZELSortedList::loadAndGetError(ZELError* outError) {
    if (!readSortIndexFromURL(sortIndexFileURL(), outError)) return false;
    idCache_.clear();
    hasUnsavedChanges_ = false;
    return true;
}

bool ZELSortedList::loadFromFileOfBaseURLAndGetError(const std::string& baseURL,
                                                     ZELError* outError) {
    if (!readSortIndexFromURL(baseURL + ".sort", outError)) return false;
    idCache_.clear();
    hasUnsavedChanges_ = true;
    return true;
}

bool ZELSortedList::readSortIndexFromURL(const std::string& url, ZELError* outError) {
    std::error_code statusError;
    if (!std::filesystem::exists(url, statusError) && !statusError) {
        slices_.clear();
        keyCount_ = 0;
        closeSortFile();
        return true;
    }

    // Unbuffered: the IDs are read in chunks of whole slices here, and a slice read later
    // takes its IDs straight into its block.
    const auto stream = ZELStream::streamForReadingURL(url, 0);
    if (!stream->open()) {
        stream->closeAndGetError(outError);
        return false;
    }
    const auto fail = [&](ZELError error) {
        stream->close();
        return ZELSetError(outError, std::move(error));
    };

    if (stream->readUInt32Little() != sortFileMagicNumber) {
        return fail(ZELError::errorWithZELErrorCode(ZELErrorCodeUnsupportedFormat,
                                                    "bad version in ZELSortedList magic number(1)"));
    }
    const uint64_t keyCount = stream->readUInt32Little();
    // A damaged count must not make the list read (and allocate) far past the file's end.
    if (stream->streamError().isError() ||
        !stream->checkReadableByteCount(keyCount * sizeof(ZELID) + sizeof(uint32_t))) {
        return fail(stream->streamError());
    }

    // Every loadChunkCount IDs of the file make one slice, unread unless it is the only one;
    // the whole file is read through a buffer of kChunksPerRead slices once, so that a short
    // or unreadable file fails the load rather than a later search.
    constexpr uint64_t kChunksPerRead = 16;
    const uint64_t bufferCount = std::min(keyCount, kChunksPerRead * loadChunkCount);
    std::unique_ptr<ZELID[]> buffer(bufferCount ? new (std::nothrow) ZELID[bufferCount] : nullptr);
    if (bufferCount > 0 && !buffer) {
        return fail(ZELError::errorWithZELErrorCode(
            ZELErrorCodeOutOfMemory, "failed malloc for ZELSortedList read sorted ID buffer"));
    }
    std::vector<std::unique_ptr<ZELSortedListSlice>> slices;
    slices.reserve((keyCount + loadChunkCount - 1) / loadChunkCount);
    for (uint64_t readCount = 0; readCount < keyCount;) {
        const uint64_t count = std::min(keyCount - readCount, kChunksPerRead * loadChunkCount);
        const uint64_t fileOffset = stream->currentLogicalOffset();
        if (!stream->readZELIDs(buffer.get(), count)) {
            return fail(streamErrorOr(*stream,
                                      ZELError::errorWithZELErrorCode(
                                          ZELErrorCodeIOFailure, "ZELSortedList read failed")));
        }
        for (uint64_t start = 0; start < count; start += loadChunkCount) {
            const uint64_t sliceCount = std::min(count - start, loadChunkCount);
            if (keyCount > loadChunkCount) {
                slices.push_back(ZELSortedListSlice::unreadSlice(
                    sliceCount, buffer[start], fileOffset + start * sizeof(ZELID)));
            } else if (auto slice = ZELSortedListSlice::sliceWithCapacity(
                           newSliceCapacity, buffer.get(), sliceCount)) {
                slices.push_back(std::move(slice));
            } else {
                return fail(ZELError::errorWithZELErrorCode(
                    ZELErrorCodeOutOfMemory, "failed malloc for ZELSortedList slice"));
            }
        }
        readCount += count;
    }

    if (stream->readUInt32Little() != sortFileMagicNumber) {
        return fail(ZELError::errorWithZELErrorCode(ZELErrorCodeUnsupportedFormat,
                                                    "bad version in ZELSortedList magic number(2)"));
    }
    if (stream->streamError().isError()) return fail(stream->streamError());

    closeSortFile();
    slices_ = std::move(slices);
    keyCount_ = keyCount;
    unreadSliceCount_ = keyCount > loadChunkCount ? slices_.size() : 0;
    if (unreadSliceCount_ > 0) {
        sortFile_ = stream;
    } else {
        stream->close();
    }
    return true;
}

bool ZELSortedList::ensureSerializedAndGetError(ZELError* outError) {
    if (!hasUnsavedChanges_) return true;
    // The new file replaces the one unread slices would come from.
    if (!readAllSlices(outError)) return false;

    // The owner's folder may be new and empty: the list makes its own folder on its first save.
    const std::string url = sortIndexFileURL();
    const std::string folder = std::filesystem::path(url).parent_path().string();
    if (!folder.empty() && !ZELFileManager::createDirectoryRecursivelyAtURL(folder, outError)) {
        return false;
    }
    const std::optional<std::string> temporaryURL =
        ZELFileManager::temporaryItemURLForReplacingItemAtURL(url, outError);
    if (!temporaryURL) return false;

    const auto stream = ZELStream::streamForWritingURL(*temporaryURL, kStreamBufferSize);
    bool written = stream->open() && stream->writeUInt32Little(sortFileMagicNumber) &&
                   stream->writeUInt32Little(static_cast<uint32_t>(keyCount_));
    for (uint64_t index = 0; written && index < slices_.size(); ++index) {
        written = stream->writeZELIDs(slices_[index]->keyIDs(), slices_[index]->count());
    }
    written = written && stream->writeUInt32Little(sortFileMagicNumber);
    const bool closed = stream->closeAndGetError(nullptr);
    if (!closed || !written) {
        ZELSetError(outError, streamErrorOr(*stream, ZELError::errorWithZELErrorCode(
                                                         ZELErrorCodeWriteFailed,
                                                         "could not write ZELSortedList sort file")));
        removeTemporaryItem(*temporaryURL);
        return false;
    }

    if (!ZELFileManager::replaceItemAtURL(url, *temporaryURL, outError)) {
        removeTemporaryItem(*temporaryURL);
        return false;
    }
    hasUnsavedChanges_ = false;
    return true;
}
