#include "zel/platform/ZELFileSystem.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <shared_mutex>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// The operating system's calls, retried on EINTR.
class ZELPOSIXFileSystem final : public ZELFileSystem {
public:
    int open(const std::string& path, int flags, mode_t mode) override {
        int fd;
        do fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
        while (fd < 0 && errno == EINTR);
        return fd;
    }
    int close(int fd) override { return ::close(fd); }
    ssize_t pread(int fd, void* buffer, size_t count, off_t offset) override {
        ssize_t result;
        do result = ::pread(fd, buffer, count, offset);
        while (result < 0 && errno == EINTR);
        return result;
    }
    ssize_t pwrite(int fd, const void* bytes, size_t count, off_t offset) override {
        ssize_t result;
        do result = ::pwrite(fd, bytes, count, offset);
        while (result < 0 && errno == EINTR);
        return result;
    }
    int fsync(int fd) override { return ::fsync(fd); }
    int ftruncate(int fd, off_t length) override { return ::ftruncate(fd, length); }
    int fstat(int fd, struct stat* status) override { return ::fstat(fd, status); }
    int rename(const std::string& from, const std::string& to) override {
        return ::rename(from.c_str(), to.c_str());
    }
    int exchange(const std::string& from, const std::string& to) override {
        return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE);
    }
    int link(const std::string& from, const std::string& to) override {
        return ::link(from.c_str(), to.c_str());
    }
    int unlink(const std::string& path) override { return ::unlink(path.c_str()); }
    int mkdir(const std::string& path, mode_t mode) override { return ::mkdir(path.c_str(), mode); }
    int rmdir(const std::string& path) override { return ::rmdir(path.c_str()); }
    int syncFolder(const std::string& path) override { return onFolder(path, ::fsync); }
    int syncFileSystem(const std::string& path) override { return onFolder(path, ::syncfs); }

private:
    // Runs `call` on a descriptor of the folder at `path`, keeping its errno across the close.
    int onFolder(const std::string& path, int (*call)(int)) {
        const int fd = open(path, O_RDONLY | O_DIRECTORY, 0);
        if (fd < 0) return -1;
        const int result = call(fd);
        const int callErrno = errno;
        ::close(fd);
        errno = callErrno;
        return result;
    }
};

// The front: a call on a path inside an attached folder, or on a descriptor opened there, goes
// to the folder's owner; every other call to base(). Attached folders are few, so they are
// searched in turn. Lookups share the lock, so that reads on many threads do not queue.
class ZELFileSystemFront final : public ZELFileSystem {
public:
    void attach(const std::string& folder, ZELFileSystem* owner) {
        std::unique_lock guard(lock_);
        owners_.emplace_back(folder, owner);
    }
    void detach(ZELFileSystem* owner) {
        std::unique_lock guard(lock_);
        std::erase_if(owners_, [owner](const auto& entry) { return entry.second == owner; });
        std::erase_if(ownerByFD_, [owner](const auto& entry) { return entry.second == owner; });
    }

    int open(const std::string& path, int flags, mode_t mode) override {
        ZELFileSystem& target = forPath(path);
        const int fd = target.open(path, flags, mode);
        if (fd >= 0 && &target != &base()) {
            std::unique_lock guard(lock_);
            ownerByFD_[fd] = &target;
        }
        return fd;
    }
    int close(int fd) override {
        ZELFileSystem* owner = nullptr;
        {
            std::unique_lock guard(lock_);
            const auto found = ownerByFD_.find(fd);
            if (found != ownerByFD_.end()) {
                owner = found->second;
                ownerByFD_.erase(found);
            }
        }
        return (owner ? *owner : base()).close(fd);
    }
    ssize_t pread(int fd, void* buffer, size_t count, off_t offset) override {
        return forFD(fd).pread(fd, buffer, count, offset);
    }
    ssize_t pwrite(int fd, const void* bytes, size_t count, off_t offset) override {
        return forFD(fd).pwrite(fd, bytes, count, offset);
    }
    int fsync(int fd) override { return forFD(fd).fsync(fd); }
    int ftruncate(int fd, off_t length) override { return forFD(fd).ftruncate(fd, length); }
    int fstat(int fd, struct stat* status) override { return forFD(fd).fstat(fd, status); }
    int rename(const std::string& from, const std::string& to) override {
        return forPath(to).rename(from, to);
    }
    int exchange(const std::string& from, const std::string& to) override {
        return forPath(to).exchange(from, to);
    }
    int link(const std::string& from, const std::string& to) override {
        return forPath(to).link(from, to);
    }
    int unlink(const std::string& path) override { return forPath(path).unlink(path); }
    int mkdir(const std::string& path, mode_t mode) override {
        return forPath(path).mkdir(path, mode);
    }
    int rmdir(const std::string& path) override { return forPath(path).rmdir(path); }
    int syncFolder(const std::string& path) override { return forPath(path).syncFolder(path); }
    int syncFileSystem(const std::string& path) override {
        return forPath(path).syncFileSystem(path);
    }

private:
    ZELFileSystem& forPath(const std::string& path) {
        {
            std::shared_lock guard(lock_);
            if (owners_.empty()) return base();
        }
        const std::string normal = normalPath(path);
        std::shared_lock guard(lock_);
        for (const auto& [folder, owner] : owners_) {
            if (normal.compare(0, folder.size(), folder) == 0 &&
                (normal.size() == folder.size() || normal[folder.size()] == '/')) {
                return *owner;
            }
        }
        return base();
    }
    ZELFileSystem& forFD(int fd) {
        std::shared_lock guard(lock_);
        const auto found = ownerByFD_.find(fd);
        return found != ownerByFD_.end() ? *found->second : base();
    }

    std::shared_mutex lock_;
    std::vector<std::pair<std::string, ZELFileSystem*>> owners_;
    std::unordered_map<int, ZELFileSystem*> ownerByFD_;
};

ZELFileSystemFront& front() {
    static ZELFileSystemFront instance;
    return instance;
}

std::mutex& baseLock() {
    static std::mutex lock;
    return lock;
}

std::shared_ptr<ZELFileSystem>& installedBase() {
    static std::shared_ptr<ZELFileSystem> installed;
    return installed;
}

}  // namespace

ZELFileSystem& ZELFileSystem::shared() {
    return front();
}

ZELFileSystem& ZELFileSystem::posix() {
    static ZELPOSIXFileSystem instance;
    return instance;
}

ZELFileSystem& ZELFileSystem::base() {
    std::lock_guard<std::mutex> guard(baseLock());
    ZELFileSystem* installed = installedBase().get();
    return installed ? *installed : posix();
}

std::shared_ptr<ZELFileSystem> ZELFileSystem::setBase(std::shared_ptr<ZELFileSystem> fileSystem) {
    std::lock_guard<std::mutex> guard(baseLock());
    return std::exchange(installedBase(), std::move(fileSystem));
}

void ZELFileSystem::attachFolder(const std::string& folder, ZELFileSystem* owner) {
    front().attach(folder, owner);
}

void ZELFileSystem::detachFolder(ZELFileSystem* owner) {
    front().detach(owner);
}

bool ZELFileSystem::writeAll(ZELFileSystem& fileSystem, int fd, const void* bytes, size_t count,
                             off_t offset) {
    const auto* cursor = static_cast<const uint8_t*>(bytes);
    while (count > 0) {
        const ssize_t written = fileSystem.pwrite(fd, cursor, count, offset);
        if (written < 0) return false;
        if (written == 0) {
            errno = EIO;
            return false;
        }
        cursor += written;
        count -= static_cast<size_t>(written);
        offset += written;
    }
    return true;
}

std::string ZELFileSystem::normalPath(const std::string& path) {
    // Absolute and normal: begins with "/", and no component is empty, "." or "..".
    bool isNormal = !path.empty() && path[0] == '/' && (path.size() == 1 || path.back() != '/');
    for (size_t start = 1; isNormal && start < path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string_view component(path.data() + start, end - start);
        isNormal = !component.empty() && component != "." && component != "..";
        start = end + 1;
    }
    if (isNormal) return path;
    std::error_code error;
    return std::filesystem::absolute(path, error).lexically_normal().string();
}

int ZELFileSystem::removeTree(ZELFileSystem& fileSystem, const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(path, error);
    if (error) return 0;  // nothing there
    if (!std::filesystem::is_directory(status)) return fileSystem.unlink(path);
    std::vector<std::string> entries;
    for (std::filesystem::directory_iterator it(path, error), end; !error && it != end;
         it.increment(error)) {
        entries.push_back(it->path().string());
    }
    for (const std::string& entry : entries) {
        if (removeTree(fileSystem, entry) != 0) return -1;
    }
    return fileSystem.rmdir(path);
}

int ZELFileSystem::syncFile(ZELFileSystem& fileSystem, const std::string& path) {
    const int fd = fileSystem.open(path, O_RDONLY, 0);
    if (fd < 0) return -1;
    const int result = fileSystem.fsync(fd);
    const int syncErrno = errno;
    fileSystem.close(fd);
    errno = syncErrno;
    return result;
}
