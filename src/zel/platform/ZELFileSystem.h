#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>

// The file operations every change to a database folder goes through: opening, reading and
// writing at an offset, flushing, truncating, renaming, linking, unlinking and making folders.
// Calls answer as the system calls they stand for do (-1 with errno on failure).
//
// Three layers share the interface:
// - base(): the operating system (POSIX) unless a test installs another layer with setBase()
//   (the fault-injecting layer of the crash tests sits there, under everything a save writes,
//   the journal included);
// - a folder's journal (ZELDatabaseJournal), which attaches itself to its folder and records
//   what a change destroys before letting it through to base();
// - shared(): the front every caller uses; it passes each call to the journal of the folder that
//   holds the path (or the descriptor), else to base().
//
// Every function may be called from any thread. setBase() is for tests, while no file of the
// process is in use.
class ZELFileSystem {
public:
    virtual ~ZELFileSystem() = default;

    virtual int open(const std::string& path, int flags, mode_t mode) = 0;
    virtual int close(int fd) = 0;
    virtual ssize_t pread(int fd, void* buffer, size_t count, off_t offset) = 0;
    virtual ssize_t pwrite(int fd, const void* bytes, size_t count, off_t offset) = 0;
    virtual int fsync(int fd) = 0;
    virtual int ftruncate(int fd, off_t length) = 0;
    virtual int fstat(int fd, struct stat* status) = 0;
    virtual int rename(const std::string& from, const std::string& to) = 0;
    // Exchanges two existing items in one step (renameat2 with RENAME_EXCHANGE).
    virtual int exchange(const std::string& from, const std::string& to) = 0;
    virtual int link(const std::string& from, const std::string& to) = 0;
    virtual int unlink(const std::string& path) = 0;
    virtual int mkdir(const std::string& path, mode_t mode) = 0;
    virtual int rmdir(const std::string& path) = 0;
    // Flushes the entries of the folder at `path` (open, fsync, close).
    virtual int syncFolder(const std::string& path) = 0;
    // Flushes every file and folder of the file system that holds `path` (syncfs).
    virtual int syncFileSystem(const std::string& path) = 0;

    static ZELFileSystem& shared();
    static ZELFileSystem& base();
    static ZELFileSystem& posix();
    // Installs `fileSystem` as base() (null: the POSIX layer again); answers the one it replaces.
    static std::shared_ptr<ZELFileSystem> setBase(std::shared_ptr<ZELFileSystem> fileSystem);

    // Routes every path inside `folder` (an absolute, normal path) and every descriptor opened
    // there to `owner` until detachFolder. The owner must outlive its attachment.
    static void attachFolder(const std::string& folder, ZELFileSystem* owner);
    static void detachFolder(ZELFileSystem* owner);

    // `path` made absolute and lexically normal, as folders are attached; a path that already
    // is (the usual case) is answered as it stands, without taking it apart.
    static std::string normalPath(const std::string& path);

    // Helpers over a layer.
    // Writes all `count` bytes at `offset` (retrying short writes); false with errno set.
    static bool writeAll(ZELFileSystem& fileSystem, int fd, const void* bytes, size_t count,
                         off_t offset);
    // Removes the file or the folder with everything in it; a missing item is no failure.
    static int removeTree(ZELFileSystem& fileSystem, const std::string& path);
    // Opens the file, flushes it and closes it again.
    static int syncFile(ZELFileSystem& fileSystem, const std::string& path);
};
