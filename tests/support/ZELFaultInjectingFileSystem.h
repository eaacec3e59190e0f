#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

#include "zel/platform/ZELFileSystem.h"

// A file layer for tests, installed as ZELFileSystem::base() under everything a save writes
// (the journal included). It counts the changing calls (writes, flushes, truncations, renames,
// links, unlinks, folder changes, file creations) and, at the Nth one from arm(), fails it and
// every later one with EIO or ENOSPC until clear(), or stops as if the process died (nothing
// more reaches the disk), or as if the power went: the folder under `root` is rebuilt from what
// was durable, then nothing more reaches the disk.
//
// Durability model, for the folder under `root`: a file's contents are durable as of its last
// fsync (a file never flushed comes back empty), a folder's entries as of its last folder flush
// (a folder never flushed comes back empty), everything as of a syncfs. Everything there when
// the layer is made is durable.
class ZELFaultInjectingFileSystem final : public ZELFileSystem {
public:
    enum class Fault { IOError, NoSpace, Kill, PowerCut };

    explicit ZELFaultInjectingFileSystem(const std::filesystem::path& root)
        : root_(std::filesystem::absolute(root).lexically_normal().string()) {
        recordEverything();
    }

    // The `callNumber`th changing call from now (1 = the next one) meets `fault`.
    void arm(uint64_t callNumber, Fault fault) {
        std::lock_guard<std::mutex> guard(lock_);
        faultAt_ = count_ + callNumber;
        fault_ = fault;
    }
    // The cause of an I/O error is gone.
    void clear() {
        std::lock_guard<std::mutex> guard(lock_);
        faultAt_ = 0;
    }
    uint64_t changeCount() const {
        std::lock_guard<std::mutex> guard(lock_);
        return count_;
    }
    // Whether a file of this name was unlinked through the layer.
    bool hasUnlinked(const std::string& fileName) const {
        std::lock_guard<std::mutex> guard(lock_);
        return unlinked_.count(fileName) > 0;
    }
    bool hasStopped() const {
        std::lock_guard<std::mutex> guard(lock_);
        return stopped_;
    }

    int open(const std::string& path, int flags, mode_t mode) override {
        if ((flags & (O_CREAT | O_TRUNC)) && !pass()) return -1;
        const int fd = posix().open(path, flags, mode);
        std::lock_guard<std::mutex> guard(lock_);
        if (fd >= 0) pathByFD_[fd] = path;
        return fd;
    }
    int close(int fd) override {
        {
            std::lock_guard<std::mutex> guard(lock_);
            pathByFD_.erase(fd);
        }
        return posix().close(fd);
    }
    ssize_t pread(int fd, void* buffer, size_t count, off_t offset) override {
        return posix().pread(fd, buffer, count, offset);
    }
    ssize_t pwrite(int fd, const void* bytes, size_t count, off_t offset) override {
        return pass() ? posix().pwrite(fd, bytes, count, offset) : -1;
    }
    int fsync(int fd) override {
        if (!pass()) return -1;
        std::lock_guard<std::mutex> guard(lock_);
        if (isUnderRoot(pathByFD_[fd])) recordFile(fd);
        return posix().fsync(fd);
    }
    int ftruncate(int fd, off_t length) override {
        return pass() ? posix().ftruncate(fd, length) : -1;
    }
    int fstat(int fd, struct stat* status) override { return posix().fstat(fd, status); }
    int rename(const std::string& from, const std::string& to) override {
        return pass() ? posix().rename(from, to) : -1;
    }
    int exchange(const std::string& from, const std::string& to) override {
        return pass() ? posix().exchange(from, to) : -1;
    }
    int link(const std::string& from, const std::string& to) override {
        return pass() ? posix().link(from, to) : -1;
    }
    int unlink(const std::string& path) override {
        if (!pass() || posix().unlink(path) != 0) return -1;
        std::lock_guard<std::mutex> guard(lock_);
        unlinked_.insert(std::filesystem::path(path).filename().string());
        return 0;
    }
    int mkdir(const std::string& path, mode_t mode) override {
        return pass() ? posix().mkdir(path, mode) : -1;
    }
    int rmdir(const std::string& path) override { return pass() ? posix().rmdir(path) : -1; }
    int syncFolder(const std::string& path) override {
        if (!pass()) return -1;
        std::lock_guard<std::mutex> guard(lock_);
        const std::string normal = std::filesystem::absolute(path).lexically_normal().string();
        if (isUnderRoot(normal))
            recordFolder(normal.back() == '/' ? normal.substr(0, normal.size() - 1) : normal);
        return posix().syncFolder(path);
    }

    int syncFileSystem(const std::string& path) override {
        if (!pass()) return -1;
        std::lock_guard<std::mutex> guard(lock_);
        recordEverything();
        return posix().syncFileSystem(path);
    }

private:
    struct Entry {
        bool isFolder;
        ino_t inode;
    };

    bool pass() {
        std::lock_guard<std::mutex> guard(lock_);
        ++count_;
        if (!stopped_ && faultAt_ != 0 && count_ >= faultAt_) {
            switch (fault_) {
                case Fault::IOError:
                    errno = EIO;
                    return false;
                case Fault::NoSpace:
                    errno = ENOSPC;
                    return false;
                case Fault::PowerCut:
                    rebuildFromDurableState();
                    [[fallthrough]];
                case Fault::Kill:
                    stopped_ = true;
                    break;
            }
        }
        if (stopped_) errno = EIO;
        return !stopped_;
    }

    bool isUnderRoot(const std::string& path) const {
        const std::string normal = std::filesystem::absolute(path).lexically_normal().string();
        return normal.compare(0, root_.size(), root_) == 0;
    }

    // Everything under the root is durable as it stands.
    void recordEverything() {
        std::error_code error;
        recordFolder(root_);
        for (std::filesystem::recursive_directory_iterator it(root_, error), end;
             !error && it != end; it.increment(error)) {
            if (it->is_directory()) {
                recordFolder(it->path().string());
            } else if (const int fd = ::open(it->path().c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
                recordFile(fd);
                ::close(fd);
            }
        }
    }

    void recordFile(int fd) {
        struct stat status;
        if (::fstat(fd, &status) != 0) return;
        std::string contents(static_cast<size_t>(status.st_size), '\0');
        const ssize_t read = ::pread(fd, contents.data(), contents.size(), 0);
        contents.resize(read > 0 ? static_cast<size_t>(read) : 0);
        durableContents_[status.st_ino] = std::move(contents);
    }

    void recordFolder(const std::string& folder) {
        std::map<std::string, Entry>& entries = durableEntries_[folder];
        entries.clear();
        std::error_code error;
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            struct stat status;
            if (::lstat(it->path().c_str(), &status) != 0) continue;
            entries[it->path().filename().string()] = Entry{S_ISDIR(status.st_mode), status.st_ino};
        }
    }

    // Replaces what is under the root by what the model says survived.
    void rebuildFromDurableState() {
        std::error_code error;
        for (std::filesystem::directory_iterator it(root_, error), end; !error && it != end;
             it.increment(error)) {
            std::filesystem::remove_all(it->path(), error);
        }
        writeFolder(root_);
    }

    void writeFolder(const std::string& folder) {
        for (const auto& [name, entry] : durableEntries_[folder]) {
            const std::string path = folder + "/" + name;
            if (entry.isFolder) {
                ::mkdir(path.c_str(), 0755);
                writeFolder(path);
                continue;
            }
            const std::string& contents = durableContents_[entry.inode];
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0) continue;
            if (::write(fd, contents.data(), contents.size()) < 0) {
                ADD_FAILURE() << "could not rebuild " << path;
            }
            ::close(fd);
        }
    }

    const std::string root_;
    mutable std::mutex lock_;
    uint64_t count_ = 0;
    uint64_t faultAt_ = 0;  // 0: none armed
    Fault fault_ = Fault::IOError;
    bool stopped_ = false;
    std::unordered_map<int, std::string> pathByFD_;
    std::set<std::string> unlinked_;
    std::unordered_map<ino_t, std::string> durableContents_;
    std::map<std::string, std::map<std::string, Entry>> durableEntries_;
};
