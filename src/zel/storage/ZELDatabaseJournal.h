#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELFileSystem.h"

// The rollback journal of one database folder, and the folder's one-writer lock. Created by
// bootstrapFromDisk (which owns it) before anything is read: it takes the lock, rolls back a
// journal left behind, and attaches itself to ZELFileSystem::shared(), so that every change to
// the folder passes through it. The first change opens a transaction; commit() ends it.
//
// While a transaction is open the journal file "ZELDatabase.journal" (docs/FORMATS.md) holds
// every file and folder of the folder as the transaction found them, with each file's length,
// and the pre-image of every byte range of those files that the transaction overwrote or cut
// off; files it renamed over or deleted keep their old contents under a link in the folder
// "ZELDatabase.journal-preserved". Appends past a file's first length, new files and new
// folders need nothing: a rollback truncates and deletes them. Overwrites of existing bytes are
// held in memory until a batch of their pre-images is in the journal and flushed to disk; a
// read of the file sees them laid over the bytes on disk. Invariant: no byte the transaction
// found in a file changes on disk before its pre-image is durable in the journal, and no file
// or folder entry the transaction found goes away before a link to it is in the preserved
// folder.
//
// commit() flushes every changed file and folder (one syncfs when they are many), then deletes
// the journal: that deletion is the commit point. Rolling back (at open, or when the owner goes
// away with a transaction open) restores the preserved files, writes the pre-images back, truncates
// files to their first lengths and deletes everything the transaction made. A failed commit leaves
// the transaction open, so that the changes the owner still holds in memory can be committed by a
// later try.
//
// Thread-safe: one mutex guards the transaction; reads of other threads pass through it.
class ZELDatabaseJournal final : public ZELFileSystem {
public:
    // Folder entries. Never left behind by a completed save.
    static constexpr const char* fileName = "ZELDatabase.journal";
    static constexpr const char* preservedFolderName = "ZELDatabase.journal-preserved";

    // Takes the folder's lock (flock on the folder itself), rolls back a journal left there and
    // attaches. Null with an error naming the folder when another database holds the lock (in
    // this process or another) or the roll back fails.
    static std::unique_ptr<ZELDatabaseJournal> journalForFolder(const std::filesystem::path& folder,
                                                                ZELError* outError);
    // Rolls back an open transaction, detaches and releases the lock.
    ~ZELDatabaseJournal() override;
    ZELDatabaseJournal(const ZELDatabaseJournal&) = delete;
    ZELDatabaseJournal& operator=(const ZELDatabaseJournal&) = delete;

    // Makes the open transaction durable and ends it; true at once when none is open.
    bool commit(ZELError* outError);
    bool isInTransaction() const;
    // Off: every call passes straight to base() and commit() does nothing; for measuring what
    // the journal costs. Only while no transaction is open.
    void setJournaling(bool journaling);
    // Rolls back the journal left in `folder`, if any, through base().
    static bool rollBackFolder(const std::string& folder, ZELError* outError);

    int open(const std::string& path, int flags, mode_t mode) override;
    int close(int fd) override;
    ssize_t pread(int fd, void* buffer, size_t count, off_t offset) override;
    ssize_t pwrite(int fd, const void* bytes, size_t count, off_t offset) override;
    int fsync(int fd) override;
    int ftruncate(int fd, off_t length) override;
    int fstat(int fd, struct stat* status) override;
    int rename(const std::string& from, const std::string& to) override;
    int exchange(const std::string& from, const std::string& to) override;
    int link(const std::string& from, const std::string& to) override;
    int unlink(const std::string& path) override;
    int mkdir(const std::string& path, mode_t mode) override;
    int rmdir(const std::string& path) override;
    int syncFolder(const std::string& path) override;
    int syncFileSystem(const std::string& path) override;

private:
    // A file of the transaction. `floor`: below it the file still holds bytes the transaction
    // found (each range's pre-image is journaled at its first overwrite); at and above it
    // nothing needs a pre-image. A fresh file (made or replaced by the transaction) has none.
    struct FileState {
        bool fresh = true;
        uint64_t floor = 0;
        std::map<uint64_t, uint64_t> journaled;  // start -> end of ranges with a pre-image
        int readFD = -1;
        int writeFD = -1;
    };
    struct PendingWrite {
        std::string path;
        uint64_t offset;
        std::string bytes;
    };

    ZELDatabaseJournal(std::string folder, int lockFD);

    std::string relativePath(const std::string& path) const;
    std::string absolutePath(const std::string& relative) const;
    bool isReplaced(const std::string& relative) const;
    FileState& stateOf(const std::string& relative);
    void forgetStates(const std::string& relative);
    int begin();
    int journalPreImages(const std::string& relative, FileState& state, uint64_t start,
                         uint64_t end);
    int flush();
    int truncate(const std::string& relative, int fd, uint64_t length);
    int preserve(const std::string& relative);
    void markReplaced(const std::string& from, const std::string& to);
    bool syncEachChange(ZELError* outError);
    void endTransaction();
    bool fail(ZELError* outError, const std::string& what, const std::string& path);

    const std::string folder_;  // absolute and normal
    const int lockFD_;
    mutable std::mutex lock_;
    bool journaling_ = true;
    bool active_ = false;
    bool rootSyncOwed_ = false;
    std::map<std::string, int64_t> found_;  // relative path -> first length (-1: folder)
    std::unordered_map<std::string, FileState> files_;
    std::set<std::string> replaced_;  // paths renamed over or deleted, with what is in them
    std::unordered_map<int, std::string> pathByFD_;
    std::vector<PendingWrite> pending_;
    // Whether pending_ holds anything; read without the mutex by pread, whose caller never
    // reads a file while another thread writes it.
    std::atomic<bool> holdsWrites_{false};
    uint64_t pendingByteCount_ = 0;
    std::string records_;  // pre-image records not yet in the journal file
    uint32_t headerCRC_ = 0;
    int journalFD_ = -1;
    uint64_t journalLength_ = 0;
    std::set<std::string> changedFiles_;
    std::set<std::string> changedFolders_;
};
