#include "zel/storage/ZELDiskDataStorageSlotTable.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "zel/platform/ZELFileSystem.h"
#include "zel/platform/ZELString.h"

namespace {

constexpr uint64_t kEntryLength = 12;
// A walk over every page reads this many pages at a time (96 KiB of entries).
constexpr uint64_t kPagesPerRunRead = 64;

uint32_t uint32At(const uint8_t* bytes) {
    uint32_t value;
    std::memcpy(&value, bytes, sizeof(value));
    return value;
}

}  // namespace

ZELDiskDataStorageSlotTable::~ZELDiskDataStorageSlotTable() {
    clear();
}

void ZELDiskDataStorageSlotTable::clear() {
    closeIndexFile();
    for (uint64_t page = 0; page < pageCount_; ++page) delete pages_[page];
    pages_.reset();
    pageCount_ = 0;
    pageCapacity_ = 0;
    slotCount_ = 0;
    entryCount_ = 0;
    unreadPageCount_ = 0;
    readError_ = ZELError();
}

void ZELDiskDataStorageSlotTable::growTo(uint64_t count) {
    if (count <= slotCount_) return;
    const uint64_t pageCount = (count + kSlotsPerPage - 1) / kSlotsPerPage;
    if (pageCount > pageCapacity_) {
        const uint64_t capacity = std::max(pageCount, 2 * pageCapacity_);
        void* grown = pages_ ? std::realloc(pages_.get(), capacity * sizeof(Page*))
                             : std::calloc(capacity, sizeof(Page*));
        if (!grown) throw std::bad_alloc();
        (void)pages_.release();  // moved by realloc
        pages_.reset(static_cast<Page**>(grown));
        if (pageCapacity_ > 0) {
            std::memset(pages_.get() + pageCapacity_, 0, (capacity - pageCapacity_) * sizeof(Page*));
        }
        pageCapacity_ = capacity;
    }
    pageCount_ = pageCount;
    slotCount_ = count;
}

void ZELDiskDataStorageSlotTable::attachIndexFile(std::string path, int fd,
                                                  uint64_t firstEntryOffset, uint64_t entryCount,
                                                  uint64_t slotCount) {
    clear();
    growTo(std::max(slotCount, entryCount));
    path_ = std::move(path);
    fd_ = fd;
    firstEntryOffset_ = firstEntryOffset;
    entryCount_ = entryCount;
    unreadPageCount_ = (entryCount + kSlotsPerPage - 1) / kSlotsPerPage;
    if (unreadPageCount_ == 0) closeIndexFile();
}

uint64_t ZELDiskDataStorageSlotTable::dropCleanPages(std::string path, int fd,
                                                     uint64_t firstEntryOffset,
                                                     uint64_t entryCount) {
    closeIndexFile();
    path_ = std::move(path);
    fd_ = fd;
    firstEntryOffset_ = firstEntryOffset;
    entryCount_ = std::min(entryCount, slotCount_);
    // Only whole pages of entries go: the last, partial one may hold slots past the entries.
    const uint64_t entryPages = (entryCount_ + kSlotsPerPage - 1) / kSlotsPerPage;
    const uint64_t wholePages = entryCount_ / kSlotsPerPage;
    uint64_t dropped = 0;
    unreadPageCount_ = 0;
    for (uint64_t page = 0; page < entryPages; ++page) {
        Page* held = pages_[page];
        const bool isClean =
            held && page < wholePages && !readError_ &&
            std::all_of(held->begin(), held->end(), [](const ZELDiskDataStorageObjectInfo& info) {
                return !info.dirty && !info.object;
            });
        if (isClean) {
            delete held;
            pages_[page] = nullptr;
            ++dropped;
        }
        if (!pages_[page]) ++unreadPageCount_;
    }
    if (unreadPageCount_ == 0) closeIndexFile();
    return dropped;
}

void ZELDiskDataStorageSlotTable::closeIndexFile() const {
    if (fd_ < 0) return;
    ZELFileSystem::shared().close(fd_);
    fd_ = -1;
}

ZELDiskDataStorageSlotTable::Page& ZELDiskDataStorageSlotTable::readPage(
    uint64_t pageNumber) const {
    if (pageNumber * kSlotsPerPage < entryCount_) {
        readPageRun(pageNumber, 1);
    } else {
        pages_[pageNumber] = new Page();
    }
    return *pages_[pageNumber];
}

void ZELDiskDataStorageSlotTable::readPageRun(uint64_t first, uint64_t count) const {
    const uint64_t firstSlot = first * kSlotsPerPage;
    const uint64_t entryCount = std::min(entryCount_, (first + count) * kSlotsPerPage) - firstSlot;
    std::vector<uint8_t> bytes(entryCount * kEntryLength);
    uint64_t done = 0;
    int readErrno = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        const ssize_t read =
            ZELFileSystem::shared().pread(fd_, bytes.data() + done, bytes.size() - done,
                                          static_cast<off_t>(firstEntryOffset_ +
                                                             firstSlot * kEntryLength + done));
        if (read < 0 && errno == EINTR) continue;
        if (read <= 0) {
            readErrno = read < 0 ? errno : 0;
            break;
        }
        done += static_cast<uint64_t>(read);
    }
    const bool didRead = done == bytes.size();
    for (uint64_t page = first; page < first + count; ++page) {
        if (pages_[page]) continue;
        pages_[page] = new Page();
        --unreadPageCount_;
        if (!didRead) continue;
        const uint64_t pageSlot = page * kSlotsPerPage;
        const uint64_t end = std::min(entryCount_, pageSlot + kSlotsPerPage);
        for (uint64_t slot = pageSlot; slot < end; ++slot) {
            const uint8_t* entry = bytes.data() + (slot - firstSlot) * kEntryLength;
            ZELDiskDataStorageObjectInfo& info = (*pages_[page])[slot - pageSlot];
            info.fileNumber = static_cast<uint16_t>(uint32At(entry));
            info.offset = uint32At(entry + 4);
            info.length = uint32At(entry + 8);
        }
    }
    if (unreadPageCount_ == 0) closeIndexFile();
    if (didRead) return;
    const ZELError error = ZELError::errorWithZELErrorCode(
        ZELErrorCodeIOFailure,
        ZELStringWithFormat("index file %s: reading entries %llu-%llu: expected %llu bytes, "
                            "actual byte count=%llu, errno=%d",
                            path_.c_str(), static_cast<unsigned long long>(firstSlot),
                            static_cast<unsigned long long>(firstSlot + entryCount - 1),
                            static_cast<unsigned long long>(bytes.size()),
                            static_cast<unsigned long long>(done), readErrno));
    if (!readError_) readError_ = error;
    if (readErrorHandler_) readErrorHandler_(error);
}

void ZELDiskDataStorageSlotTable::enumerateReadSlots(
    uint64_t begin, uint64_t end,
    ZELFunctionRef<void(uint64_t index, ZELDiskDataStorageObjectInfo& info, bool& stop)> visitor)
    const {
    end = std::min(end, slotCount_);
    bool stop = false;
    for (uint64_t index = begin; index < end && !stop;) {
        const uint64_t pageEnd = std::min(end, (index / kSlotsPerPage + 1) * kSlotsPerPage);
        if (Page* page = pages_[index / kSlotsPerPage]) {
            for (; index < pageEnd && !stop; ++index) {
                visitor(index, (*page)[index % kSlotsPerPage], stop);
            }
        }
        index = pageEnd;
    }
}

bool ZELDiskDataStorageSlotTable::readAllPages() const {
    const uint64_t entryPages = (entryCount_ + kSlotsPerPage - 1) / kSlotsPerPage;
    for (uint64_t page = 0; page < entryPages && unreadPageCount_ > 0;
         page += kPagesPerRunRead) {
        const uint64_t count = std::min(kPagesPerRunRead, entryPages - page);
        const bool hasUnread = std::any_of(pages_.get() + page, pages_.get() + page + count,
                                           [](const Page* p) { return !p; });
        if (hasUnread) readPageRun(page, count);
    }
    return !readError_;
}

uint64_t ZELDiskDataStorageSlotTable::residentByteCount() const {
    const auto readCount = std::count_if(pages_.get(), pages_.get() + pageCount_,
                                         [](const Page* page) { return page != nullptr; });
    return pageCapacity_ * sizeof(Page*) + static_cast<uint64_t>(readCount) * sizeof(Page);
}
