#include "zel/storage/ZELDatabaseJournal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "zel/platform/ZELString.h"
#include "zel/storage/ZELDatabaseJournal+Private.h"

namespace {

// Overwrites held in memory before their pre-images are flushed as one batch.
constexpr uint64_t kFlushThreshold = 8 * 1024 * 1024;
// Above this many changed files and folders, a commit flushes the whole file system at once
// (syncfs) rather than each of them.
constexpr size_t kSyncEachLimit = 8;

void appendUInt32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

void appendUInt64(std::string& out, uint64_t value) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

void appendPadded(std::string& out, const void* bytes, size_t count) {
    appendUInt32(out, static_cast<uint32_t>(count));
    out.append(static_cast<const char*>(bytes), count);
    out.append((4 - count % 4) % 4, '\0');
}

// A preserved item's name: its relative path with "%" and "/" written as "%25" and "%2F".
std::string preservedName(const std::string& relative) {
    std::string name;
    for (const char c : relative) {
        if (c == '%')
            name += "%25";
        else if (c == '/')
            name += "%2F";
        else
            name += c;
    }
    return name;
}

bool isWithin(const std::string& relative, const std::string& folder) {
    return relative.compare(0, folder.size(), folder) == 0 &&
           (relative.size() == folder.size() || relative[folder.size()] == '/');
}

std::string encodeHeader(const std::map<std::string, int64_t>& items) {
    std::string header;
    appendUInt32(header, kJournalHeaderMagic);
    appendUInt32(header, kJournalVersion);
    appendUInt32(header, static_cast<uint32_t>(items.size()));
    for (const auto& [relative, length] : items) {
        appendUInt32(header, length < 0 ? kJournalKindFolder : kJournalKindFile);
        appendUInt64(header, length < 0 ? 0 : static_cast<uint64_t>(length));
        appendPadded(header, relative.data(), relative.size());
    }
    appendUInt32(header, ZELDatabaseJournal_CRC32(header.data(), header.size(), 0));
    return header;
}

}  // namespace

// ---- Shared with the roll back (ZELDatabaseJournal+Private.h) ----

uint32_t ZELDatabaseJournal_CRC32(const void* bytes, size_t count, uint32_t crc) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> made{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            made[n] = c;
        }
        return made;
    }();
    crc = ~crc;
    const auto* cursor = static_cast<const uint8_t*>(bytes);
    for (size_t i = 0; i < count; ++i) crc = table[(crc ^ cursor[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string ZELDatabaseJournal_ParentOf(const std::string& relative) {
    const size_t slash = relative.rfind('/');
    return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

bool ZELDatabaseJournal_Exists(const std::string& path, struct stat* status) {
    struct stat ignored;
    return ::lstat(path.c_str(), status ? status : &ignored) == 0;
}

std::map<std::string, int64_t> ZELDatabaseJournal_ItemsInFolder(const std::string& folder) {
    std::map<std::string, int64_t> items;
    std::error_code error;
    std::filesystem::recursive_directory_iterator it(folder, error), end;
    for (; !error && it != end; it.increment(error)) {
        const std::string relative = it->path().string().substr(folder.size() + 1);
        if (relative == ZELDatabaseJournal::fileName ||
            relative == ZELDatabaseJournal::preservedFolderName) {
            it.disable_recursion_pending();
            continue;
        }
        struct stat status;
        if (::lstat(it->path().c_str(), &status) != 0) continue;
        items[relative] = S_ISDIR(status.st_mode) ? -1 : static_cast<int64_t>(status.st_size);
    }
    return items;
}

// ---- Opening and closing ----

ZELDatabaseJournal::ZELDatabaseJournal(std::string folder, int lockFD)
    : folder_(std::move(folder)), lockFD_(lockFD) {}

std::unique_ptr<ZELDatabaseJournal> ZELDatabaseJournal::journalForFolder(
    const std::filesystem::path& folder, ZELError* outError) {
    const std::string normal = ZELFileSystem::normalPath(folder.string());
    const std::string path =
        normal.size() > 1 && normal.back() == '/' ? normal.substr(0, normal.size() - 1) : normal;
    const int lockFD = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lockFD < 0) {
        const std::string what = "could not open the database folder " + path;
        ZELSetError(outError, ZELError::errorWithErrno(errno, what));
        return nullptr;
    }
    if (::flock(lockFD, LOCK_EX | LOCK_NB) != 0) {
        const int lockErrno = errno;
        ::close(lockFD);
        ZELSetError(outError,
                    lockErrno == EWOULDBLOCK
                        ? ZELError::errorWithZELErrorCode(
                              ZELErrorCodeFileAccess,
                              ZELStringWithFormat("the database folder %s is already open in "
                                                  "another database (in this or another process)",
                                                  path.c_str()))
                        : ZELError::errorWithErrno(lockErrno,
                                                   "could not lock the database folder " + path));
        return nullptr;
    }
    if (!rollBackFolder(path, outError)) {
        ::close(lockFD);
        return nullptr;
    }
    std::unique_ptr<ZELDatabaseJournal> journal(new ZELDatabaseJournal(path, lockFD));
    ZELFileSystem::attachFolder(path, journal.get());
    return journal;
}

ZELDatabaseJournal::~ZELDatabaseJournal() {
    ZELFileSystem::detachFolder(this);
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (active_) {
            // What was never committed goes; a failure leaves the journal to the next opening.
            endTransaction();
            rollBackFolder(folder_, nullptr);
        }
    }
    ::close(lockFD_);  // releases the lock
}

bool ZELDatabaseJournal::isInTransaction() const {
    std::lock_guard<std::mutex> guard(lock_);
    return active_;
}

void ZELDatabaseJournal::setJournaling(bool journaling) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!active_) journaling_ = journaling;
}

// ---- Paths and file states ----

std::string ZELDatabaseJournal::relativePath(const std::string& path) const {
    const std::string normal = ZELFileSystem::normalPath(path);
    return normal.size() > folder_.size() ? normal.substr(folder_.size() + 1) : std::string();
}

std::string ZELDatabaseJournal::absolutePath(const std::string& relative) const {
    return relative.empty() ? folder_ : folder_ + "/" + relative;
}

bool ZELDatabaseJournal::isReplaced(const std::string& relative) const {
    for (std::string path = relative;; path = ZELDatabaseJournal_ParentOf(path)) {
        if (replaced_.count(path)) return true;
        if (path.empty()) return false;
    }
}

ZELDatabaseJournal::FileState& ZELDatabaseJournal::stateOf(const std::string& relative) {
    const auto found = files_.find(relative);
    if (found != files_.end()) return found->second;
    FileState& state = files_[relative];
    const auto item = found_.find(relative);
    if (item != found_.end() && item->second >= 0 && !isReplaced(relative)) {
        state.fresh = false;
        state.floor = static_cast<uint64_t>(item->second);
    }
    return state;
}

// Drops the states of `relative` and everything under it (their cached descriptors with them).
void ZELDatabaseJournal::forgetStates(const std::string& relative) {
    for (auto it = files_.begin(); it != files_.end();) {
        if (!isWithin(it->first, relative)) {
            ++it;
            continue;
        }
        if (it->second.readFD >= 0) base().close(it->second.readFD);
        if (it->second.writeFD >= 0) base().close(it->second.writeFD);
        it = files_.erase(it);
    }
}

// ---- The transaction ----

// Records every item of the folder with its length, then flushes the journal and its folder
// entry before any change is let through.
int ZELDatabaseJournal::begin() {
    if (active_) return 0;
    ZELFileSystem& files = base();
    std::map<std::string, int64_t> items = ZELDatabaseJournal_ItemsInFolder(folder_);
    const std::string journalPath = absolutePath(fileName);
    const std::string preservedPath = absolutePath(preservedFolderName);
    ZELFileSystem::removeTree(files, preservedPath);  // left by an interrupted commit
    const std::string header = encodeHeader(items);
    const int fd = files.open(journalPath, O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return -1;
    if (!ZELFileSystem::writeAll(files, fd, header.data(), header.size(), 0) ||
        files.fsync(fd) != 0 || files.mkdir(preservedPath, 0755) != 0 ||
        files.syncFolder(folder_) != 0) {
        const int failure = errno;
        files.close(fd);
        files.unlink(journalPath);
        errno = failure;
        return -1;
    }
    found_ = std::move(items);
    headerCRC_ = ZELDatabaseJournal_CRC32(header.data(), header.size() - 4, 0);
    journalFD_ = fd;
    journalLength_ = header.size();
    active_ = true;
    return 0;
}

// Appends records for the parts of [start, end) whose pre-image is not in the journal yet.
int ZELDatabaseJournal::journalPreImages(const std::string& relative, FileState& state,
                                         uint64_t start, uint64_t end) {
    uint64_t cursor = start;
    auto next = state.journaled.upper_bound(start);
    if (next != state.journaled.begin()) {
        const auto previous = std::prev(next);
        if (previous->second > cursor) cursor = previous->second;
    }
    std::string bytes;
    while (cursor < end) {
        const uint64_t gapEnd = next == state.journaled.end() ? end : std::min(end, next->first);
        if (cursor < gapEnd) {
            if (state.readFD < 0) state.readFD = base().open(absolutePath(relative), O_RDONLY, 0);
            if (state.readFD < 0) return -1;
            bytes.resize(gapEnd - cursor);
            const ssize_t read =
                base().pread(state.readFD, bytes.data(), bytes.size(), static_cast<off_t>(cursor));
            if (read < 0) return -1;
            bytes.resize(static_cast<size_t>(read));  // a file shorter than its floor: no more
            std::string record;
            appendUInt32(record, kJournalRecordMagic);
            appendPadded(record, relative.data(), relative.size());
            appendUInt64(record, cursor);
            appendPadded(record, bytes.data(), bytes.size());
            appendUInt32(record,
                         ZELDatabaseJournal_CRC32(record.data(), record.size(), headerCRC_));
            records_ += record;
        }
        if (next == state.journaled.end() || next->first >= end) break;
        cursor = std::max(cursor, next->second);
        ++next;
    }
    // Merge [start, end) into the journaled ranges.
    uint64_t mergedStart = start;
    uint64_t mergedEnd = end;
    auto it = state.journaled.upper_bound(start);
    if (it != state.journaled.begin() && std::prev(it)->second >= start) --it;
    while (it != state.journaled.end() && it->first <= mergedEnd) {
        mergedStart = std::min(mergedStart, it->first);
        mergedEnd = std::max(mergedEnd, it->second);
        it = state.journaled.erase(it);
    }
    state.journaled[mergedStart] = mergedEnd;
    return 0;
}

// Puts the waiting pre-images into the journal and on disk, then applies the held overwrites.
// On failure what is not done stays queued.
int ZELDatabaseJournal::flush() {
    ZELFileSystem& files = base();
    if (!records_.empty()) {
        if (!ZELFileSystem::writeAll(files, journalFD_, records_.data(), records_.size(),
                                     static_cast<off_t>(journalLength_)) ||
            files.fsync(journalFD_) != 0) {
            return -1;
        }
        journalLength_ += records_.size();
        records_.clear();
    }
    size_t applied = 0;
    int result = 0;
    for (; applied < pending_.size(); ++applied) {
        const PendingWrite& write = pending_[applied];
        FileState& state = stateOf(write.path);
        if (state.writeFD < 0) state.writeFD = files.open(absolutePath(write.path), O_WRONLY, 0);
        if (state.writeFD < 0 ||
            !ZELFileSystem::writeAll(files, state.writeFD, write.bytes.data(), write.bytes.size(),
                                     static_cast<off_t>(write.offset))) {
            result = -1;
            break;
        }
        pendingByteCount_ -= write.bytes.size();
    }
    const int failure = errno;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(applied));
    holdsWrites_.store(!pending_.empty(), std::memory_order_release);
    errno = failure;
    return result;
}

int ZELDatabaseJournal::truncate(const std::string& relative, int fd, uint64_t length) {
    if (flush() != 0) return -1;
    FileState& state = stateOf(relative);
    if (!state.fresh && length < state.floor) {
        if (journalPreImages(relative, state, length, state.floor) != 0 || flush() != 0) return -1;
        state.floor = length;
    }
    changedFiles_.insert(relative);
    if (fd >= 0) return base().ftruncate(fd, static_cast<off_t>(length));
    const int opened = base().open(absolutePath(relative), O_WRONLY, 0);
    if (opened < 0) return -1;
    const int result = base().ftruncate(opened, static_cast<off_t>(length));
    const int failure = errno;
    base().close(opened);
    errno = failure;
    return result;
}

// Keeps the item the transaction found at `relative` under the preserved folder: a file by a
// hard link, a folder by moving it there. Nothing to do for items the transaction made.
int ZELDatabaseJournal::preserve(const std::string& relative) {
    const auto item = found_.find(relative);
    if (item == found_.end() || isReplaced(relative) ||
        !ZELDatabaseJournal_Exists(absolutePath(relative)))
        return 0;
    const std::string kept = absolutePath(preservedFolderName) + "/" + preservedName(relative);
    const int result = item->second < 0 ? base().rename(absolutePath(relative), kept)
                                        : base().link(absolutePath(relative), kept);
    return result != 0 && errno == EEXIST ? 0 : result;
}

// After `from` went to `to`: both names now hold something the transaction made.
void ZELDatabaseJournal::markReplaced(const std::string& from, const std::string& to) {
    for (const std::string& relative : {from, to}) {
        if (relative.empty()) continue;
        forgetStates(relative);
        replaced_.insert(relative);
        changedFolders_.insert(ZELDatabaseJournal_ParentOf(relative));
    }
    if (from.empty()) return;
    // What was written under the old name is flushed under the new one.
    std::vector<std::string> moved;
    for (const std::string& changed : changedFiles_) {
        if (isWithin(changed, from)) moved.push_back(to + changed.substr(from.size()));
    }
    changedFiles_.insert(moved.begin(), moved.end());
}

void ZELDatabaseJournal::endTransaction() {
    forgetStates("");
    if (journalFD_ >= 0) base().close(journalFD_);
    journalFD_ = -1;
    journalLength_ = 0;
    found_.clear();
    files_.clear();
    replaced_.clear();
    pending_.clear();
    holdsWrites_.store(false, std::memory_order_release);
    pendingByteCount_ = 0;
    records_.clear();
    changedFiles_.clear();
    changedFolders_.clear();
    active_ = false;
}

bool ZELDatabaseJournal::fail(ZELError* outError, const std::string& what,
                              const std::string& path) {
    return ZELSetError(outError, ZELError::errorWithErrno(errno, what + " " + path));
}

// Each changed file, then the preserved links (no rename or deletion may become durable
// without them), then each changed folder.
bool ZELDatabaseJournal::syncEachChange(ZELError* outError) {
    ZELFileSystem& files = base();
    for (const std::string& relative : changedFiles_) {
        struct stat status;
        const std::string path = absolutePath(relative);
        if (!ZELDatabaseJournal_Exists(path, &status) || !S_ISREG(status.st_mode)) continue;
        if (ZELFileSystem::syncFile(files, path) != 0) {
            return fail(outError, "could not flush", path);
        }
    }
    const std::string preservedPath = absolutePath(preservedFolderName);
    if (files.syncFolder(preservedPath) != 0) {
        return fail(outError, "could not flush", preservedPath);
    }
    for (const std::string& relative : changedFolders_) {
        const std::string path = absolutePath(relative);
        if (ZELDatabaseJournal_Exists(path) && files.syncFolder(path) != 0) {
            return fail(outError, "could not flush", path);
        }
    }
    return true;
}

bool ZELDatabaseJournal::commit(ZELError* outError) {
    std::lock_guard<std::mutex> guard(lock_);
    ZELFileSystem& files = base();
    if (!journaling_) return true;
    if (!active_) {
        if (rootSyncOwed_ && files.syncFolder(folder_) != 0) {
            return fail(outError, "could not flush the database folder", folder_);
        }
        rootSyncOwed_ = false;
        return true;
    }
    if (flush() != 0) return fail(outError, "could not write the journal of", folder_);
    const std::string preservedPath = absolutePath(preservedFolderName);
    if (changedFiles_.size() + changedFolders_.size() > kSyncEachLimit) {
        if (files.syncFileSystem(folder_) != 0) return fail(outError, "could not flush", folder_);
    } else if (!syncEachChange(outError)) {
        return false;
    }
    const std::string journalPath = absolutePath(fileName);
    if (files.unlink(journalPath) != 0) return fail(outError, "could not delete", journalPath);
    // Committed. What follows only tidies up.
    endTransaction();
    ZELFileSystem::removeTree(files, preservedPath);
    if (files.syncFolder(folder_) != 0) {
        rootSyncOwed_ = true;
        return fail(outError, "could not flush the database folder", folder_);
    }
    rootSyncOwed_ = false;
    return true;
}

// ---- The file operations ----

int ZELDatabaseJournal::open(const std::string& path, int flags, mode_t mode) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!journaling_) return base().open(path, flags, mode);
    const std::string relative = relativePath(path);
    const bool writes = (flags & O_ACCMODE) != O_RDONLY;
    // Only an open that may create or empty a file changes the folder: a plain read needs no
    // look at the file first.
    struct stat status{};
    const bool existed = !(writes || (flags & O_CREAT)) || ZELDatabaseJournal_Exists(path, &status);
    const bool empties = existed && writes && (flags & O_TRUNC) && status.st_size > 0;
    if (((!existed && (flags & O_CREAT)) || empties) && begin() != 0) return -1;
    if (empties) {
        // Emptying a file replaces it: the old one is kept by a link, which costs no copy of
        // its bytes and no flush of the journal.
        if (flush() != 0 || preserve(relative) != 0 || base().unlink(path) != 0) return -1;
        markReplaced(std::string(), relative);
        flags |= O_CREAT;
    }
    const int fd = base().open(path, flags, mode);
    if (fd < 0) return -1;
    pathByFD_[fd] = relative;
    if (!existed || empties) {
        changedFiles_.insert(relative);
        changedFolders_.insert(ZELDatabaseJournal_ParentOf(relative));
    }
    return fd;
}

int ZELDatabaseJournal::close(int fd) {
    std::lock_guard<std::mutex> guard(lock_);
    pathByFD_.erase(fd);
    return base().close(fd);
}

// Reads what the file will hold: the held overwrites are laid over the bytes on disk, so that a
// read never waits for (or fails with) a flush of the journal.
ssize_t ZELDatabaseJournal::pread(int fd, void* buffer, size_t count, off_t offset) {
    if (!holdsWrites_.load(std::memory_order_acquire))
        return base().pread(fd, buffer, count, offset);
    std::lock_guard<std::mutex> guard(lock_);
    const ssize_t read = base().pread(fd, buffer, count, offset);
    const auto found = pathByFD_.find(fd);
    if (read <= 0 || found == pathByFD_.end()) return read;
    const auto start = static_cast<uint64_t>(offset);
    const uint64_t end = start + static_cast<uint64_t>(read);
    for (const PendingWrite& write : pending_) {
        const uint64_t writeEnd = write.offset + write.bytes.size();
        if (write.path != found->second || writeEnd <= start || write.offset >= end) continue;
        const uint64_t from = std::max(start, write.offset);
        std::memcpy(static_cast<char*>(buffer) + (from - start),
                    write.bytes.data() + (from - write.offset), std::min(end, writeEnd) - from);
    }
    return read;
}

ssize_t ZELDatabaseJournal::pwrite(int fd, const void* bytes, size_t count, off_t offset) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = pathByFD_.find(fd);
    if (!journaling_ || found == pathByFD_.end()) return base().pwrite(fd, bytes, count, offset);
    const std::string relative = found->second;
    if (begin() != 0) return -1;
    changedFiles_.insert(relative);
    FileState& state = stateOf(relative);
    const auto start = static_cast<uint64_t>(offset);
    if (state.fresh || start >= state.floor) return base().pwrite(fd, bytes, count, offset);

    // Below the floor the write waits for its pre-image; above it, it goes through now.
    const uint64_t heldEnd = std::min<uint64_t>(start + count, state.floor);
    if (journalPreImages(relative, state, start, heldEnd) != 0) return -1;
    const auto* cursor = static_cast<const char*>(bytes);
    pending_.push_back({relative, start, std::string(cursor, heldEnd - start)});
    holdsWrites_.store(true, std::memory_order_release);
    pendingByteCount_ += heldEnd - start;
    const size_t rest = count - (heldEnd - start);
    if (rest > 0 && !ZELFileSystem::writeAll(base(), fd, cursor + (heldEnd - start), rest,
                                             static_cast<off_t>(heldEnd))) {
        return -1;
    }
    if (pendingByteCount_ + records_.size() > kFlushThreshold && flush() != 0) return -1;
    return static_cast<ssize_t>(count);
}

int ZELDatabaseJournal::fsync(int fd) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = pathByFD_.find(fd);
    if (!journaling_ || !active_ || found == pathByFD_.end()) return base().fsync(fd);
    changedFiles_.insert(found->second);  // flushed by the commit
    return 0;
}

int ZELDatabaseJournal::ftruncate(int fd, off_t length) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = pathByFD_.find(fd);
    if (!journaling_ || found == pathByFD_.end()) return base().ftruncate(fd, length);
    if (begin() != 0) return -1;
    return truncate(found->second, fd, static_cast<uint64_t>(length));
}

int ZELDatabaseJournal::fstat(int fd, struct stat* status) {
    return base().fstat(fd, status);
}

int ZELDatabaseJournal::rename(const std::string& from, const std::string& to) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!journaling_ || !ZELDatabaseJournal_Exists(from)) return base().rename(from, to);
    const std::string fromRelative = relativePath(from);
    const std::string toRelative = relativePath(to);
    if (begin() != 0 || flush() != 0 || preserve(fromRelative) != 0 || preserve(toRelative) != 0) {
        return -1;
    }
    // A folder preserved by moving it is gone from `to`: plain rename then.
    if (base().rename(from, to) != 0) return -1;
    markReplaced(fromRelative, toRelative);
    return 0;
}

int ZELDatabaseJournal::exchange(const std::string& from, const std::string& to) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!journaling_ || !ZELDatabaseJournal_Exists(from) || !ZELDatabaseJournal_Exists(to))
        return base().exchange(from, to);
    const std::string fromRelative = relativePath(from);
    const std::string toRelative = relativePath(to);
    if (begin() != 0 || flush() != 0 || preserve(fromRelative) != 0 || preserve(toRelative) != 0) {
        return -1;
    }
    // A folder the transaction found has moved into the preserved folder; its place is free.
    const int result =
        ZELDatabaseJournal_Exists(to) ? base().exchange(from, to) : base().rename(from, to);
    if (result != 0) return -1;
    markReplaced(fromRelative, toRelative);
    return 0;
}

int ZELDatabaseJournal::link(const std::string& from, const std::string& to) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!journaling_) return base().link(from, to);
    if (begin() != 0 || base().link(from, to) != 0) return -1;
    markReplaced(std::string(), relativePath(to));
    return 0;
}

int ZELDatabaseJournal::unlink(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!journaling_) return base().unlink(path);
    if (!ZELDatabaseJournal_Exists(path)) return -1;  // errno as lstat left it
    const std::string relative = relativePath(path);
    if (begin() != 0 || flush() != 0 || preserve(relative) != 0 || base().unlink(path) != 0) {
        return -1;
    }
    markReplaced(std::string(), relative);
    return 0;
}

int ZELDatabaseJournal::mkdir(const std::string& path, mode_t mode) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!journaling_ || ZELDatabaseJournal_Exists(path)) return base().mkdir(path, mode);
    if (begin() != 0 || base().mkdir(path, mode) != 0) return -1;
    changedFolders_.insert(ZELDatabaseJournal_ParentOf(relativePath(path)));
    return 0;
}

int ZELDatabaseJournal::rmdir(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!journaling_ || !ZELDatabaseJournal_Exists(path)) return base().rmdir(path);
    // A folder the transaction found comes back empty on a rollback; its files come back
    // from the preserved folder.
    if (begin() != 0 || base().rmdir(path) != 0) return -1;
    markReplaced(std::string(), relativePath(path));
    return 0;
}

int ZELDatabaseJournal::syncFileSystem(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!journaling_ || !active_) return base().syncFileSystem(path);
    return 0;  // the commit flushes everything the transaction changed
}

int ZELDatabaseJournal::syncFolder(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!journaling_ || !active_) return base().syncFolder(path);
    changedFolders_.insert(relativePath(path));  // flushed by the commit
    return 0;
}
