#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "support/ZELTestScratchFolder.h"
#include "zel/platform/TarvoFileWatcher.h"

namespace {

class RecordingDelegate : public TarvoFileWatcherDelegate {
public:
    void fileWatcherNotedAction(TarvoFileWatcher&, uint64_t actions, const std::string& path) override {
        std::lock_guard<std::mutex> guard(lock);
        calls.push_back({actions, path});
    }
    size_t callCount() {
        std::lock_guard<std::mutex> guard(lock);
        return calls.size();
    }
    uint64_t allActions() {
        std::lock_guard<std::mutex> guard(lock);
        uint64_t all = 0;
        for (const auto& call : calls) all |= call.first;
        return all;
    }
    std::mutex lock;
    std::vector<std::pair<uint64_t, std::string>> calls;
};

bool waitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class TarvoFileWatcherTest : public ZELTestFolderTest {
protected:
    // A watcher of the test's own, so that registrations of other tests do not count.
    TarvoFileWatcher watcher_;
};

TEST_F(TarvoFileWatcherTest, ReportsFolderChangesUntilTheTokenIsRemoved) {
    RecordingDelegate delegate;
    const auto token = watcher_.addFileAtPath(folder_.string(), TarvoFileWatcherActionsFolderChange, &delegate);
    ASSERT_NE(token, 0u);
    EXPECT_EQ(watcher_.registrationCount(), 1u);

    std::ofstream(folder_ / "a") << "x";
    ASSERT_TRUE(waitFor([&] { return delegate.allActions() & TarvoFileWatcherActionCreate; }));
    {
        std::lock_guard<std::mutex> guard(delegate.lock);
        EXPECT_EQ(delegate.calls.front().second, folder_.string());
    }
    std::filesystem::rename(folder_ / "a", folder_ / "b");
    ASSERT_TRUE(waitFor([&] { return delegate.allActions() & TarvoFileWatcherActionRename; }));
    std::filesystem::remove(folder_ / "b");
    ASSERT_TRUE(waitFor([&] { return delegate.allActions() & TarvoFileWatcherActionDelete; }));

    // After removal nothing more arrives. A second registration of another delegate on the
    // same folder shows when the change has been read.
    watcher_.removeFileWithToken(token);
    EXPECT_EQ(watcher_.registrationCount(), 0u);
    const size_t callsBefore = delegate.callCount();
    RecordingDelegate witness;
    ASSERT_NE(watcher_.addFileAtPath(folder_.string(), TarvoFileWatcherActionsFolderChange, &witness), 0u);
    std::ofstream(folder_ / "c") << "x";
    ASSERT_TRUE(waitFor([&] { return witness.callCount() > 0; }));
    EXPECT_EQ(delegate.callCount(), callsBefore);
    watcher_.removeFilesForDelegate(&witness);
    EXPECT_EQ(watcher_.registrationCount(), 0u);
}

TEST_F(TarvoFileWatcherTest, RegistrationsFilterActionsAndShareTokensPerDelegate) {
    RecordingDelegate writes, creates;
    const std::string path = folder_.string();
    const auto writeToken = watcher_.addFileAtPath(path, TarvoFileWatcherActionWrite, &writes);
    const auto createToken = watcher_.addFileAtPath(path, TarvoFileWatcherActionCreate, &creates);
    EXPECT_NE(writeToken, createToken);
    // The same delegate and path: the same token.
    EXPECT_EQ(watcher_.addFileAtPath(path, TarvoFileWatcherActionWrite, &writes), writeToken);
    EXPECT_EQ(watcher_.registrationCount(), 2u);

    std::filesystem::create_directories(folder_ / "sub");  // a create only, no write
    ASSERT_TRUE(waitFor([&] { return creates.callCount() > 0; }));
    std::ofstream(folder_ / "file") << "x";
    ASSERT_TRUE(waitFor([&] { return writes.callCount() > 0; }));
    EXPECT_EQ(writes.allActions(), uint64_t{TarvoFileWatcherActionWrite});
    EXPECT_EQ(creates.allActions(), uint64_t{TarvoFileWatcherActionCreate});

    // A missing path answers no token; unknown tokens are ignored.
    EXPECT_EQ(watcher_.addFileAtPath((folder_ / "missing").string(), TarvoFileWatcherActionWrite, &writes), 0u);
    watcher_.removeFileWithToken(12345);
    watcher_.removeFileWithToken(writeToken);
    watcher_.removeFileWithToken(createToken);
    EXPECT_EQ(watcher_.registrationCount(), 0u);
}

TEST_F(TarvoFileWatcherTest, ADelegateMayRemoveItselfWhileCalled) {
    struct SelfRemoving : TarvoFileWatcherDelegate {
        void fileWatcherNotedAction(TarvoFileWatcher& watcher, uint64_t, const std::string&) override {
            // A change may be reported before the test thread has stored the token.
            const TarvoFileWatcher::Token registered = token.load();
            if (registered == 0) return;
            // Counted first: the test thread may look as soon as the registration is gone.
            ++calls;
            watcher.removeFileWithToken(registered);
        }
        std::atomic<TarvoFileWatcher::Token> token{0};
        std::atomic<int> calls{0};
    } delegate;
    delegate.token = watcher_.addFileAtPath(folder_.string(), TarvoFileWatcherActionsFolderChange, &delegate);
    ASSERT_NE(delegate.token.load(), 0u);
    std::ofstream(folder_ / "a") << "x";
    ASSERT_TRUE(waitFor([&] { return watcher_.registrationCount() == 0; }));
    EXPECT_EQ(delegate.calls.load(), 1);
}

}  // namespace
