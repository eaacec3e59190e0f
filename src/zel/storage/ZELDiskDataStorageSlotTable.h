#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "zel/idvector/ZELFunctionRef.h"
#include "zel/platform/ZELError.h"
#include "zel/storage/ZELDiskDataStorageObjectInfo.h"

// The slot table of a disk data storage: size() slots, slot i for ID i + 1, kept in pages of
// kSlotsPerPage slots. A table attached to an index file reads a page's entries from it (one
// pread through the file layer) when a slot of that page is first used, so that opening a store
// reads nothing but the index header and the memory held grows with the pages used, not with
// the store. Pages past the file's entries start empty without a read.
//
// After a save a table can also let go of its clean pages (dropCleanPages): they are read again
// from the index file just written when next used, so that a store being filled holds the pages
// it changes since its last save, not every page it ever made.
//
// Invariant: a page not read yet holds no change (no dirty mark, no cached object), since a slot
// is reached only through operator[], which reads its page first, and only pages without either
// are let go of. Walks over changes therefore skip unread pages (enumerateReadSlots), and the
// file's entries of unread pages are the saved ones, which in-place index writes leave alone.
//
// A page that cannot be read (an I/O error, a file shortened under the store) reads as empty
// slots; its error is kept (readError) and given to the read error handler. Used under the
// database lock from one thread at a time; reading a page does not count as a change, so the
// const accessors read too.
class ZELDiskDataStorageSlotTable {
public:
    static constexpr uint64_t kSlotsPerPage = 128;
    using ReadErrorHandler = std::function<void(const ZELError& error)>;

    ZELDiskDataStorageSlotTable() = default;
    ~ZELDiskDataStorageSlotTable();
    ZELDiskDataStorageSlotTable(const ZELDiskDataStorageSlotTable&) = delete;
    ZELDiskDataStorageSlotTable& operator=(const ZELDiskDataStorageSlotTable&) = delete;

    uint64_t size() const { return slotCount_; }
    // No slot; the index file, if any, is closed and the read error forgotten.
    void clear();
    // Grows to at least `count` slots (never shrinks); the new slots are empty. Raises
    // std::bad_alloc.
    void growTo(uint64_t count);
    // `slotCount` slots whose first `entryCount` are the 12-byte entries stored from offset
    // `firstEntryOffset` of the index file at `path`, open for reading as `fd` (the table closes
    // it once every page is read, or when cleared).
    void attachIndexFile(std::string path, int fd, uint64_t firstEntryOffset, uint64_t entryCount,
                         uint64_t slotCount);

    // Lets go of every page within the first `entryCount` slots whose slots are all clean and
    // hold no object; `fd` is the index file at `path`, open for reading, whose entries from
    // `firstEntryOffset` are these slots as saved (the table keeps it, closing the one it had).
    // Nothing is let go of once a page read has failed (readError): the pages held are then
    // all the table knows. Answers the number of pages let go of.
    uint64_t dropCleanPages(std::string path, int fd, uint64_t firstEntryOffset,
                            uint64_t entryCount);

    // The slot at `index` (< size()), its page read first when needed.
    ZELDiskDataStorageObjectInfo& operator[](uint64_t index) const {
        Page* page = pages_[index / kSlotsPerPage];
        return (page ? *page : readPage(index / kSlotsPerPage))[index % kSlotsPerPage];
    }
    // The slot at `index` (< size()) when its page is read or made, else null (nothing read).
    const ZELDiskDataStorageObjectInfo* slotIfRead(uint64_t index) const {
        const Page* page = pages_[index / kSlotsPerPage];
        return page ? &(*page)[index % kSlotsPerPage] : nullptr;
    }
    // Visits the slots in [begin, end) of pages already read or made, ascending; unread pages
    // hold no change. Setting `stop` ends the walk.
    void enumerateReadSlots(
        uint64_t begin, uint64_t end,
        ZELFunctionRef<void(uint64_t index, ZELDiskDataStorageObjectInfo& info, bool& stop)>
            visitor) const;
    // Reads every page not read yet, many per read; false when some page could not be read
    // (readError says why).
    bool readAllPages() const;
    // The first page read that failed since the table was attached; no error while none.
    const ZELError& readError() const { return readError_; }
    void setReadErrorHandler(ReadErrorHandler handler) { readErrorHandler_ = std::move(handler); }
    // The memory the pages hold, for the memory metrics.
    uint64_t residentByteCount() const;

private:
    using Page = std::array<ZELDiskDataStorageObjectInfo, kSlotsPerPage>;

    Page& readPage(uint64_t pageNumber) const;
    // Reads the unread pages among [first, first + count), which lie within the file's entries,
    // in one read.
    void readPageRun(uint64_t first, uint64_t count) const;
    void closeIndexFile() const;

    uint64_t slotCount_ = 0;
    // One owned page pointer per page, null until the page is read or made. The array comes
    // zero-filled from calloc (and grows by doubling), so the parts of a large table that no
    // page was made for take no memory until touched.
    struct FreeArray {
        void operator()(Page** pages) const { std::free(pages); }
    };
    mutable std::unique_ptr<Page*[], FreeArray> pages_;
    uint64_t pageCount_ = 0;
    uint64_t pageCapacity_ = 0;
    mutable int fd_ = -1;
    std::string path_;
    uint64_t firstEntryOffset_ = 0;
    uint64_t entryCount_ = 0;
    // Pages holding file entries that are not read yet; the file is closed at 0.
    mutable uint64_t unreadPageCount_ = 0;
    mutable ZELError readError_;
    ReadErrorHandler readErrorHandler_;
};
