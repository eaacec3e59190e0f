#include "zel/platform/TarvoFileWatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "zel/platform/ZELLog.h"

namespace {

// Everything that can change a folder's listing or a file: the registration's own action set
// filters later, so one inotify watch serves every registration of an inode.
constexpr uint32_t watchedEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_CREATE | IN_DELETE |
                                   IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

uint64_t actionsForMask(uint32_t mask) {
    uint64_t actions = 0;
    if (mask & (IN_MODIFY | IN_CLOSE_WRITE)) actions |= TarvoFileWatcherActionWrite;
    if (mask & IN_CREATE) actions |= TarvoFileWatcherActionCreate;
    if (mask & (IN_DELETE | IN_DELETE_SELF)) actions |= TarvoFileWatcherActionDelete;
    if (mask & (IN_MOVED_FROM | IN_MOVED_TO | IN_MOVE_SELF)) actions |= TarvoFileWatcherActionRename;
    if (mask & IN_MOVED_TO) actions |= TarvoFileWatcherActionCreate;
    if (mask & IN_ATTRIB) actions |= TarvoFileWatcherActionAttributes;
    // A watch that ends by itself (its inode went away) is reported as a deletion.
    if (mask & IN_IGNORED) actions |= TarvoFileWatcherActionDelete;
    return actions;
}

}  // namespace

TarvoFileWatcher& TarvoFileWatcher::instance() {
    static TarvoFileWatcher watcher;
    return watcher;
}

TarvoFileWatcher::TarvoFileWatcher() = default;

TarvoFileWatcher::~TarvoFileWatcher() {
    std::thread thread;
    {
        std::lock_guard<std::mutex> guard(tableLock_);
        if (wakeDescriptor_ >= 0) {
            const uint64_t one = 1;
            if (::write(wakeDescriptor_, &one, sizeof one) < 0) {
                ZELLogFormat("file watcher: cannot wake its thread: %s", std::strerror(errno));
            }
        }
        thread = std::move(thread_);
    }
    if (thread.joinable()) thread.join();
    if (inotifyDescriptor_ >= 0) ::close(inotifyDescriptor_);
    if (wakeDescriptor_ >= 0) ::close(wakeDescriptor_);
}

void TarvoFileWatcher::startThreadLocked() {
    if (inotifyDescriptor_ >= 0) return;
    inotifyDescriptor_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyDescriptor_ < 0) {
        ZELLogFormat("file watcher: inotify_init1 failed: %s", std::strerror(errno));
        return;
    }
    wakeDescriptor_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeDescriptor_ < 0) {
        ZELLogFormat("file watcher: eventfd failed: %s", std::strerror(errno));
        ::close(inotifyDescriptor_);
        inotifyDescriptor_ = -1;
        return;
    }
    thread_ = std::thread([this] { run(); });
}

TarvoFileWatcher::Token TarvoFileWatcher::addFileAtPath(const std::string& path, uint64_t actions,
                                                        TarvoFileWatcherDelegate* delegate) {
    std::lock_guard<std::mutex> guard(tableLock_);
    startThreadLocked();
    if (inotifyDescriptor_ < 0) return 0;
    const int descriptor = ::inotify_add_watch(inotifyDescriptor_, path.c_str(), watchedEvents);
    if (descriptor < 0) {
        ZELLogFormat("file watcher: cannot watch \"%s\": %s", path.c_str(), std::strerror(errno));
        return 0;
    }
    for (auto& [token, registration] : registrations_) {
        if (registration.delegate == delegate && registration.watchDescriptor == descriptor &&
            registration.path == path) {
            registration.actions = actions;
            return token;
        }
    }
    const Token token = nextToken_++;
    registrations_[token] = Registration{descriptor, path, actions, delegate};
    return token;
}

bool TarvoFileWatcher::isWatcherThread() const {
    std::lock_guard<std::mutex> guard(tableLock_);
    return std::this_thread::get_id() == thread_.get_id();
}

void TarvoFileWatcher::removeFileWithToken(Token token) {
    std::unique_lock<std::mutex> delivery(deliveryLock_, std::defer_lock);
    if (!isWatcherThread()) delivery.lock();
    std::lock_guard<std::mutex> guard(tableLock_);
    removeRegistrationLocked(token);
}

void TarvoFileWatcher::removeFilesForDelegate(TarvoFileWatcherDelegate* delegate) {
    std::unique_lock<std::mutex> delivery(deliveryLock_, std::defer_lock);
    if (!isWatcherThread()) delivery.lock();
    std::lock_guard<std::mutex> guard(tableLock_);
    std::vector<Token> tokens;
    for (const auto& [token, registration] : registrations_) {
        if (registration.delegate == delegate) tokens.push_back(token);
    }
    for (Token token : tokens) removeRegistrationLocked(token);
}

void TarvoFileWatcher::removeRegistrationLocked(Token token) {
    auto found = registrations_.find(token);
    if (found == registrations_.end()) return;
    const int descriptor = found->second.watchDescriptor;
    registrations_.erase(found);
    for (const auto& entry : registrations_) {
        if (entry.second.watchDescriptor == descriptor) return;
    }
    // The last registration of the inode: the kernel watch goes too (it may be gone already
    // when the inode was deleted).
    ::inotify_rm_watch(inotifyDescriptor_, descriptor);
}

size_t TarvoFileWatcher::registrationCount() const {
    std::lock_guard<std::mutex> guard(tableLock_);
    return registrations_.size();
}

void TarvoFileWatcher::run() {
    // inotify's records: struct inotify_event {int wd; uint32_t mask, cookie, len; char
    // name[len];} back to back; the buffer holds at least one record of the longest name.
    alignas(struct inotify_event) char buffer[64 * 1024];
    for (;;) {
        struct pollfd descriptors[2] = {{inotifyDescriptor_, POLLIN, 0}, {wakeDescriptor_, POLLIN, 0}};
        if (::poll(descriptors, 2, -1) < 0) {
            if (errno == EINTR) continue;
            ZELLogFormat("file watcher: poll failed: %s", std::strerror(errno));
            return;
        }
        if (descriptors[1].revents) return;
        std::map<int, uint64_t> actionsByDescriptor;
        for (;;) {
            const ssize_t length = ::read(inotifyDescriptor_, buffer, sizeof buffer);
            if (length <= 0) break;
            for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(struct inotify_event)) <= length;) {
                struct inotify_event event;
                std::memcpy(&event, buffer + offset, sizeof event);
                offset += static_cast<ssize_t>(sizeof event) + event.len;
                if (event.wd >= 0) actionsByDescriptor[event.wd] |= actionsForMask(event.mask);
            }
        }
        if (!actionsByDescriptor.empty()) deliver(actionsByDescriptor);
    }
}

void TarvoFileWatcher::deliver(const std::map<int, uint64_t>& actionsByDescriptor) {
    std::lock_guard<std::mutex> delivery(deliveryLock_);
    std::vector<Token> tokens;
    {
        std::lock_guard<std::mutex> guard(tableLock_);
        for (const auto& [token, registration] : registrations_) {
            if (actionsByDescriptor.count(registration.watchDescriptor)) tokens.push_back(token);
        }
    }
    for (Token token : tokens) {
        // A delegate called earlier in this round may have removed or replaced this one.
        Registration registration;
        {
            std::lock_guard<std::mutex> guard(tableLock_);
            auto found = registrations_.find(token);
            if (found == registrations_.end()) continue;
            registration = found->second;
        }
        const uint64_t actions =
            actionsByDescriptor.at(registration.watchDescriptor) & registration.actions;
        if (actions) registration.delegate->fileWatcherNotedAction(*this, actions, registration.path);
    }
}
