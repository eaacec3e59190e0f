#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TarvoFileWatcher;

// What a watched path went through. A registration names the actions it wants; the delegate is
// told the actions met since its last call.
enum TarvoFileWatcherAction : uint64_t {
    TarvoFileWatcherActionWrite = 1 << 0,   // a file's contents changed (inside a folder: any)
    TarvoFileWatcherActionCreate = 1 << 1,  // a child appeared (created or moved in)
    TarvoFileWatcherActionDelete = 1 << 2,  // a child, or the path itself, went away
    TarvoFileWatcherActionRename = 1 << 3,  // a child, or the path itself, was renamed
    TarvoFileWatcherActionAttributes = 1 << 4,
    // What a folder list reacts to: anything that changes the folder's listing or its files.
    TarvoFileWatcherActionsFolderChange = 0x1F,
};

// Receives the changes of watched paths, on the watcher's own thread.
class TarvoFileWatcherDelegate {
public:
    virtual ~TarvoFileWatcherDelegate() = default;
    // `actions`: the TarvoFileWatcherAction bits met (restricted to those registered); `path`:
    // the registered path.
    virtual void fileWatcherNotedAction(TarvoFileWatcher& watcher, uint64_t actions,
                                        const std::string& path) = 0;
};

// Watches paths with inotify on a thread of its own and reports changes to the delegates of
// the registrations; each registration answers a token that stops it. Events read together
// reach each delegate as one call. Delegates are not owned: after removeFileWithToken returns
// (on any thread but the watcher's own) the delegate is never called again for that token, so
// a delegate removes its registrations before it goes away. All operations may be called from
// any thread, including from inside a delegate call.
class TarvoFileWatcher {
public:
    using Token = uint64_t;  // 0 is no token

    // The shared watcher; its thread starts with the first registration.
    static TarvoFileWatcher& instance();

    TarvoFileWatcher();
    ~TarvoFileWatcher();
    TarvoFileWatcher(const TarvoFileWatcher&) = delete;
    TarvoFileWatcher& operator=(const TarvoFileWatcher&) = delete;

    // Registers `path` (a file or a folder; not followed into subfolders). A path the delegate
    // has registered already keeps its token, now for these actions. 0 when inotify refuses
    // (a missing path, too many watches), logged.
    Token addFileAtPath(const std::string& path, uint64_t actions,
                        TarvoFileWatcherDelegate* delegate);
    // Stops a registration; unknown tokens are ignored. Waits for a delegate call in progress
    // unless called on the watcher's thread.
    void removeFileWithToken(Token token);

    // Stops every registration of `delegate`, waiting as removeFileWithToken does.
    void removeFilesForDelegate(TarvoFileWatcherDelegate* delegate);

    // The number of live registrations, for tests.
    size_t registrationCount() const;

private:
    struct Registration {
        int watchDescriptor = -1;
        std::string path;
        uint64_t actions = 0;
        TarvoFileWatcherDelegate* delegate = nullptr;
    };

    void startThreadLocked();
    void run();
    bool isWatcherThread() const;
    // Requires: tableLock_ is held.
    void removeRegistrationLocked(Token token);
    void deliver(const std::map<int, uint64_t>& actionsByDescriptor);

    // Guards the tables and the descriptors.
    mutable std::mutex tableLock_;
    int inotifyDescriptor_ = -1;
    int wakeDescriptor_ = -1;  // eventfd that ends the thread
    std::thread thread_;
    Token nextToken_ = 1;
    std::map<Token, Registration> registrations_;
    // Held by the watcher's thread while it calls delegates, so that a removal from another
    // thread waits until a call for its token is over.
    std::mutex deliveryLock_;
};
