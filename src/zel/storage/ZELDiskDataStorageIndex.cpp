#include "zel/storage/ZELDiskDataStorageIndex.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>
#include <vector>

#include "zel/platform/ZELLog.h"
#include "zel/storage/ZELDiskDataStorage.h"
#include "zel/platform/ZELFileSystem.h"
#include "zel/stream/ZELFileStream.h"

namespace {

// The index file is read and written through 1 KiB buffers; legacy entries are read a slot
// table page at a time.
constexpr uint64_t kIndexFileBufferSize = 1024;
constexpr uint64_t kEntriesPerRead = ZELDiskDataStorageSlotTable::kSlotsPerPage;
// Slots allocated beyond the entries read, for growth, and for an index without entries.
constexpr uint64_t kSpareSlotCount = 128;
constexpr uint64_t kEmptyIndexSlotCount = 256;

constexpr uint64_t kLegacyEntryLength = 8;
constexpr uint64_t kLegacy64EntryLength = 16;

// Reads `count` entries of `entryLength` bytes in chunks, decoding each with `decode`.
template <typename Decode>
bool loadEntries(ZELDiskDataStorageObjectInfo* infos, uint64_t count, ZELStream& stream,
                 uint64_t entryLength, Decode decode) {
    std::vector<uint8_t> chunk(std::min(count, kEntriesPerRead) * entryLength);
    for (uint64_t done = 0; done < count;) {
        const uint64_t entryCount = std::min(count - done, kEntriesPerRead);
        if (!stream.readBytes(chunk.data(), entryCount * entryLength)) return false;
        for (uint64_t i = 0; i < entryCount; ++i) {
            decode(infos[done + i], chunk.data() + i * entryLength);
        }
        done += entryCount;
    }
    return true;
}

// The two legacy layouts: `_ZELDiskIndexFileEntry_v1` (uint32 offset, uint32 length) and
// `_ZELDiskIndexFileEntry_v1_64` (uint64 offset, uint64 length, low 32 bits used). Legacy
// objects live in the legacy data file, file number 0, and their length is the object's alone.
template <typename Field>
bool loadLegacyEntries(ZELDiskDataStorageObjectInfo* infos, uint64_t count, ZELStream& stream) {
    return loadEntries(infos, count, stream, 2 * sizeof(Field),
                       [](ZELDiskDataStorageObjectInfo& info, const uint8_t* bytes) {
                           Field offset;
                           Field length;
                           std::memcpy(&offset, bytes, sizeof(Field));
                           std::memcpy(&length, bytes + sizeof(Field), sizeof(Field));
                           info.offset = static_cast<uint32_t>(offset);
                           info.length = static_cast<uint32_t>(length);
                           info.fileNumber = 0;
                       });
}

}  // namespace

bool ZELDiskDataStorageIndex_LoadEntries_v1(ZELDiskDataStorageObjectInfo* infos, uint64_t count,
                                            ZELStream& stream) {
    return loadLegacyEntries<uint32_t>(infos, count, stream);
}

bool ZELDiskDataStorageIndex_LoadEntries_v1_64(ZELDiskDataStorageObjectInfo* infos, uint64_t count,
                                               ZELStream& stream) {
    return loadLegacyEntries<uint64_t>(infos, count, stream);
}

void ZELDiskDataStorageIndex::resetToEmpty() {
    livingObjectCount_ = 0;
    largestAssignedObjectID_ = 0;
    isFileConversionRequired_ = false;
    // A file left from before the reset may hold entries the store no longer has.
    isWholeRewriteRequired_ = true;
}

void ZELDiskDataStorageIndex::didAssignObjectIndexID(ZELID objectID) {
    largestAssignedObjectID_ = std::max(largestAssignedObjectID_, objectID);
    ++livingObjectCount_;
}

void ZELDiskDataStorageIndex::didUnassignObjectIndexID(ZELID) {
    if (livingObjectCount_ > 0) --livingObjectCount_;
}

bool ZELDiskDataStorageIndex::loadIndexFromURL(const std::filesystem::path& url,
                                               ZELDiskDataStorage& store, ZELError* outError) {
    const auto stream = ZELStream::streamForReadingURL(url, kIndexFileBufferSize);
    if (!stream->open()) return stream->closeAndGetError(outError);

    const uint32_t version = stream->readUInt32Little();
    if (!stream->streamError() && version != kCurrentVersion && version != kLegacyVersion &&
        version != kLegacy64Version) {
        stream->reportError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeUnsupportedFormat,
            "ZELDiskDataStorage index file has unsupported version"));
    }
    if (stream->streamError()) return stream->closeAndGetError(outError);

    const uint32_t entryCount = stream->readUInt32Little();
    const uint32_t storedLivingCount = stream->readUInt32Little();
    const ZELID storedLargestID = stream->readUInt32Little();
    stream->readUInt32Little();  // reserved
    const uint64_t entryLength = version == kCurrentVersion  ? kEntryLength
                                 : version == kLegacyVersion ? kLegacyEntryLength
                                                             : kLegacy64EntryLength;
    // A damaged entry count must not allocate more slots than the file holds entries.
    if (stream->streamError() || !stream->checkReadableByteCount(entryCount * entryLength)) {
        return stream->closeAndGetError(outError);
    }

    const bool hasTrailingBytes =
        stream->logicalFileLength() != kHeaderLength + uint64_t{entryCount} * entryLength;
    const uint64_t slotCount =
        entryCount == 0 ? kEmptyIndexSlotCount : uint64_t{entryCount} + kSpareSlotCount;
    if (version == kCurrentVersion) {
        // The entries are read page by page as the store uses its slots.
        if (!stream->closeAndGetError(outError)) return false;
        const int fd = ZELFileSystem::shared().open(url.string(), O_RDONLY | O_CLOEXEC, 0);
        if (fd < 0) {
            return ZELSetError(outError,
                               ZELError::errorWithErrno(errno, "opening the index file"));
        }
        store.slotTableForLoadingIndex().attachIndexFile(url.string(), fd, kHeaderLength,
                                                         entryCount, slotCount);
    } else {
        ZELDiskDataStorageSlotTable& slots = store.slotTableForLoadingIndex();
        slots.clear();
        try {
            slots.growTo(slotCount);
        } catch (const std::bad_alloc&) {
            stream->reportMemoryAllocationFailed("ZELDiskDataStorage index slots");
            return stream->closeAndGetError(outError);
        }
        // A page's slots lie together, so each page is read into in place.
        for (uint64_t first = 0; first < entryCount && !stream->streamError();
             first += kEntriesPerRead) {
            const uint64_t count = std::min<uint64_t>(entryCount - first, kEntriesPerRead);
            if (version == kLegacy64Version) {
                ZELDiskDataStorageIndex_LoadEntries_v1_64(&slots[first], count, *stream);
            } else {
                ZELDiskDataStorageIndex_LoadEntries_v1(&slots[first], count, *stream);
            }
        }
        if (!stream->closeAndGetError(outError)) {
            slots.clear();
            return false;
        }
    }

    // The header's counts are taken as they are; the store checks them against the entries
    // before it first writes (didCountLivingSlots). An ID of the entries is never above the
    // largest one.
    isFileConversionRequired_ = version != kCurrentVersion;
    isWholeRewriteRequired_ = isFileConversionRequired_ || hasTrailingBytes;
    livingObjectCount_ = storedLivingCount;
    largestAssignedObjectID_ = std::max<ZELID>(storedLargestID, entryCount);
    return true;
}

void ZELDiskDataStorageIndex::didCountLivingSlots(uint64_t livingCount, ZELID largestLivingID,
                                                  const std::filesystem::path& url) {
    if (livingCount == livingObjectCount_ && largestLivingID <= largestAssignedObjectID_) return;
    ZELLogFormat(
        "index file %s: header counts (living %lu, largest %u) disagree with its entries "
        "(living %lu, largest %u); the entries are kept",
        url.c_str(), static_cast<unsigned long>(livingObjectCount_), largestAssignedObjectID_,
        static_cast<unsigned long>(livingCount), largestLivingID);
    livingObjectCount_ = livingCount;
    largestAssignedObjectID_ = std::max(largestAssignedObjectID_, largestLivingID);
}

bool ZELDiskDataStorageIndex::writeIndexToURL(const std::filesystem::path& url,
                                              ZELDiskDataStorage& store, ZELError* outError) {
    // A missing file has no entries to keep: every entry must be written, not only the dirty.
    std::error_code existsError;
    if (isWholeRewriteRequired_ || !std::filesystem::exists(url, existsError)) {
        if (!writeWholeIndexToURL(url, store, outError)) return false;
        isWholeRewriteRequired_ = false;
        return true;
    }
    return writeDirtyEntriesToURL(url, store, outError);
}

namespace {

void writeHeader(ZELStream& stream, uint64_t entryCount, uint32_t livingCount, ZELID largestID) {
    stream.writeUInt32Little(ZELDiskDataStorageIndex::kCurrentVersion);
    stream.writeUInt32Little(static_cast<uint32_t>(entryCount));
    stream.writeUInt32Little(livingCount);
    stream.writeUInt32Little(largestID);
    stream.writeUInt32Little(0);
}

void writeEntry(ZELStream& stream, const ZELDiskDataStorageObjectInfo& info) {
    const uint32_t entry[3] = {info.fileNumber, info.offset, info.length};
    stream.writeUInt32LittleArray(entry, 3);
}

}  // namespace

// In place: the header, then each dirty slot's entry, seeking only between slots that are not
// adjacent. Positioning past the end extends the file with zero bytes, which read back as empty
// slots.
bool ZELDiskDataStorageIndex::writeDirtyEntriesToURL(const std::filesystem::path& url,
                                                     ZELDiskDataStorage& store,
                                                     ZELError* outError) {
    const auto stream = ZELStream::streamForURL(url, ZELFileStreamFlagRead | ZELFileStreamFlagWrite,
                                                kIndexFileBufferSize);
    if (!stream->open()) return stream->closeAndGetError(outError);
    writeHeader(*stream, store.assignedCount(), livingObjectCount(), largestAssignedObjectID_);
    store.enumerateDirtyObjectIndexesUsing([&](uint64_t index, bool& stop) {
        const uint64_t position = kHeaderLength + index * kEntryLength;
        if (stream->currentLogicalOffset() != position &&
            !stream->setCurrentLogicalOffset(position)) {
            stop = true;
            return;
        }
        writeEntry(*stream, store.assignedObjectInfoAtIndex(index));
    });
    return stream->closeAndGetError(outError);
}

// Every entry into a new file beside the index, which then replaces it in one rename, so that a
// failure leaves the old index whole.
bool ZELDiskDataStorageIndex::writeWholeIndexToURL(const std::filesystem::path& url,
                                                   ZELDiskDataStorage& store, ZELError* outError) {
    std::filesystem::path newURL = url;
    newURL += ".new";
    const auto stream = ZELStream::streamForWritingURL(newURL, kIndexFileBufferSize);
    if (!stream->open()) return stream->closeAndGetError(outError);
    const uint64_t entryCount = store.assignedCount();
    writeHeader(*stream, entryCount, livingObjectCount(), largestAssignedObjectID_);
    for (uint64_t index = 0; index < entryCount && !stream->streamError(); ++index) {
        writeEntry(*stream, store.assignedObjectInfoAtIndex(index));
    }
    ZELFileSystem& files = ZELFileSystem::shared();
    if (!stream->closeAndGetError(outError)) {
        files.unlink(newURL.string());
        return false;
    }
    if (files.rename(newURL.string(), url.string()) != 0) {
        const int renameErrno = errno;
        files.unlink(newURL.string());
        return ZELSetError(outError,
                           ZELError::errorWithErrno(renameErrno, "replacing the index file"));
    }
    return true;
}
