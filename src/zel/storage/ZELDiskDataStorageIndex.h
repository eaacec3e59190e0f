#pragma once

#include <cstdint>
#include <filesystem>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELTypes.h"
#include "zel/storage/ZELDiskDataStorageObjectInfo.h"

class ZELDiskDataStorage;
class ZELStream;

// The index file of a disk data storage (B.index for a store with base URL B) and the two
// figures the slot table does not hold: the number of living objects and the largest ID ever
// assigned. It reads the header and hands the file to the store's slot table, which reads the
// entries page by page, and writes it back, rewriting only the header and the entries of slots
// that changed. Older layouts (versions 8 and 9, all objects in
// one legacy data file) load and flag the store for conversion. Owned by its store; used under
// the database lock from one thread at a time.
//
// Index file, little-endian:
//   offset 0   uint32  version: 10 current; 8 and 9 legacy
//   offset 4   uint32  entry count E (the store's assigned slot count)
//   offset 8   uint32  living object count
//   offset 12  uint32  largest assigned ID
//   offset 16  uint32  reserved, written 0, ignored on reading
//   offset 20  E entries, slot i (ID i + 1) at 20 + i x entry size:
//     version 10, 12 bytes: uint32 file number (low 16 bits used), uint32 offset,
//                           uint32 length (the block's length prefix included)
//     version 8,   8 bytes: uint32 offset, uint32 length (object bytes only)
//     version 9,  16 bytes: uint64 offset, uint64 length (low 32 bits of each used)
//   Legacy entries place the object in the legacy data file (file number 0). Offset 0 = no
//   object.
class ZELDiskDataStorageIndex final : public ZELObject {
public:
    // Version fields. Stored; never renumber.
    static constexpr uint32_t kCurrentVersion = 10;
    static constexpr uint32_t kLegacyVersion = 8;
    static constexpr uint32_t kLegacy64Version = 9;
    static constexpr uint64_t kHeaderLength = 20;
    static constexpr uint64_t kEntryLength = 12;

    ZELDiskDataStorageIndex() = default;

    // Both counts 0, conversion flag false; the next write rewrites the whole file.
    void resetToEmpty();

    uint32_t livingObjectCount() const { return static_cast<uint32_t>(livingObjectCount_); }
    ZELID largestAssignedObjectIndexID() const { return largestAssignedObjectID_; }
    void didAssignObjectIndexID(ZELID objectID);
    void didUnassignObjectIndexID(ZELID objectID);

    // Reads the index file's header and hands the file to the store's slot table
    // (slotTableForLoadingIndex), which reads the entries page by page as slots are used; the
    // entries of a legacy file are read at once. A version other than 8, 9 or 10 fails with
    // code 1 "ZELDiskDataStorage index file has unsupported version" and changes nothing; a file
    // shorter than its entry count fails with the stream's read error before anything is
    // allocated for the entries. The counts are the header's (see didCountLivingSlots).
    bool loadIndexFromURL(const std::filesystem::path& url, ZELDiskDataStorage& store,
                          ZELError* outError);
    // Writes the header and the entries of the store's dirty slots in place (the file is not
    // truncated; untouched entries keep their bytes). When the file may hold stale bytes (a
    // reset store, a legacy or damaged file just read), the whole index is written instead into
    // a new file that then replaces the old one.
    bool writeIndexToURL(const std::filesystem::path& url, ZELDiskDataStorage& store,
                         ZELError* outError);

    // Told the store's count of living slots and its largest living ID once every slot was
    // read: a header that disagrees is logged and the counts taken from the slots, so that a
    // damaged header neither miscounts nor lets a living ID be handed out again.
    void didCountLivingSlots(uint64_t livingCount, ZELID largestLivingID,
                             const std::filesystem::path& url);

    bool isFileConversionRequired() const { return isFileConversionRequired_; }
    void setIsFileConversionRequired(bool flag) { isFileConversionRequired_ = flag; }
    // True when the next write must rewrite every entry (see writeIndexToURL).
    bool isWholeRewriteRequired() const { return isWholeRewriteRequired_; }

private:
    bool writeDirtyEntriesToURL(const std::filesystem::path& url, ZELDiskDataStorage& store,
                                ZELError* outError);
    bool writeWholeIndexToURL(const std::filesystem::path& url, ZELDiskDataStorage& store,
                              ZELError* outError);

    uint64_t livingObjectCount_ = 0;
    ZELID largestAssignedObjectID_ = 0;
    bool isFileConversionRequired_ = false;
    bool isWholeRewriteRequired_ = true;
};

// Legacy entry readers: each reads `count` entries of one layout from `stream` into the
// zero-filled slots `infos`, at most one slot table page per stream read; false when the stream
// failed (it keeps the error). Version 8 (8-byte entries, `_ZELDiskIndexFileEntry_v1`):
bool ZELDiskDataStorageIndex_LoadEntries_v1(ZELDiskDataStorageObjectInfo* infos, uint64_t count,
                                            ZELStream& stream);
// Version 9 (16-byte entries, `_ZELDiskIndexFileEntry_v1_64`):
bool ZELDiskDataStorageIndex_LoadEntries_v1_64(ZELDiskDataStorageObjectInfo* infos, uint64_t count,
                                               ZELStream& stream);
