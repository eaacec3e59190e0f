#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <random>
#include <thread>

#include "support/ZELFaultInjectingFileSystem.h"
#include "database/ZELDatabaseTestSupport.h"
#include "zel/platform/ZELLog.h"
#include "zel/storage/ZELDatabaseJournal.h"

// Saves are transactions of the folder's journal: a crash (kill or power cut) at any changing
// call of a save leaves the previous save or the new one; an I/O error leaves the previous one
// and a retry saves the new one; one folder has one writer.

namespace {

using Fault = ZELFaultInjectingFileSystem::Fault;

std::string wordsOf(int i, int round) {
    return "w" + std::to_string(i % 37) + " w" + std::to_string((i * 7 + round) % 53) + " r" +
           std::to_string(round);
}

// The content of a database just reopened after a fault, and the one place that checks such a
// database (an integrity check of db.folderURL() belongs here).
std::string checkedDigest(ZELDatabase& db) {
    // Rolled back at opening (a new database's files, made as it opens, are a new transaction).
    if (!db.journal()->isInTransaction()) {
        EXPECT_FALSE(std::filesystem::exists(db.folderURL() / ZELDatabaseJournal::fileName));
        EXPECT_FALSE(
            std::filesystem::exists(db.folderURL() / ZELDatabaseJournal::preservedFolderName));
        for (const std::string& finding : ZELDatabaseChecker(db.folderURL()).check()) {
            ADD_FAILURE() << "zel check: " << finding;
        }
    }
    return ZELTestContentDigest(db);
}

// The first line where `digest` differs from `expected`, for a short failure message.
std::string firstDifference(const std::string& digest, const std::string& expected) {
    size_t at = 0;
    while (at < digest.size() && at < expected.size() && digest[at] == expected[at]) ++at;
    const size_t lineStart =
        digest.rfind('\n', at) == std::string::npos ? 0 : digest.rfind('\n', at) + 1;
    return "got \"" + digest.substr(lineStart, 80) + "\", expected \"" +
           expected.substr(lineStart, 80) + "\"";
}

}  // namespace

class DatabaseCrashTest : public ZELDatabaseTest {
protected:
    void SetUp() override {
        ZELDatabaseTest::SetUp();
        // The stores log every failed write of the fault runs.
        previousSink_ = ZELSetLogSink([](std::string_view) {});
        pristine_ = folder_.string() + "-pristine";
        std::filesystem::remove_all(pristine_);
        db_ = openDatabase();
        for (int i = 0; i < 300; ++i) {
            db_->addItem(ZELTestMakeItem("k" + std::to_string(i), wordsOf(i, 0),
                                         "t" + std::to_string(i % 5)),
                         nullptr);
        }
        ASSERT_TRUE(db_->ensureSerialized());
        before_ = ZELTestContentDigest(*db_);
        db_->invalidate();
        db_.reset();
        std::filesystem::copy(folder_, pristine_, std::filesystem::copy_options::recursive);
        db_ = openDatabase();
        changeAndSave(*db_);
        after_ = ZELTestContentDigest(*db_);
        db_->invalidate();
        db_.reset();
    }
    void TearDown() override {
        ZELSetLogSink(previousSink_);
        ZELFileSystem::setBase(nullptr);
        ZELDatabaseTest::TearDown();
        std::filesystem::remove_all(pristine_);
    }

    // The realistic save: adds, updates and removals, with the stores writing part of it in the
    // middle of the batch (compactMemory), then the save.
    static bool changeAndSave(ZELDatabase& db) {
        for (int i = 300; i < 360; ++i) {
            db.addItem(ZELTestMakeItem("k" + std::to_string(i), wordsOf(i, 1)), nullptr);
        }
        db.compactMemory(3);
        for (ZELID id = 1; id <= 30; ++id) {
            auto item = std::dynamic_pointer_cast<ZELTestItem>(db.itemForItemID(id, nullptr));
            EXPECT_TRUE(item) << "item " << id << " unreadable while the disk fails";
            if (!item) continue;
            item->words = ZELStringFromUTF8(wordsOf(static_cast<int>(id), 2));
            db.updateIndexingForChangedItem(item);
        }
        for (ZELID id = 200; id < 230; ++id) db.removeItemsWithIDs(*ZELIDVector::vectorWithID(id));
        return db.ensureSerialized();
    }

    void restoreFolder() {
        std::filesystem::remove_all(folder_);
        std::filesystem::copy(pristine_, folder_, std::filesystem::copy_options::recursive);
    }

    // Opens the folder as a new process would and answers its checked content.
    std::string reopenedDigest() {
        auto db = openDatabase();
        const std::string digest = checkedDigest(*db);
        db->invalidate();
        return digest;
    }

    // Runs the change and save on the pristine folder with `fault` armed at the `call`th
    // changing call; answers whether the save committed. `retry`: after an I/O error,
    // clears it and retries.
    bool saveWithFault(uint64_t call, Fault fault, bool retry, uint64_t* outCallCount = nullptr) {
        restoreFolder();
        auto layer = std::make_shared<ZELFaultInjectingFileSystem>(folder_);
        ZELFileSystem::setBase(layer);
        auto db = openDatabase();
        const uint64_t start = layer->changeCount();
        if (call > 0) layer->arm(call, fault);
        bool saved = changeAndSave(*db);
        if (outCallCount) *outCallCount = layer->changeCount() - start;
        // An I/O error after the commit point (the journal's deletion) still reports failure.
        const bool committed = saved || ((fault == Fault::IOError || fault == Fault::NoSpace) &&
                                         layer->hasUnlinked(ZELDatabaseJournal::fileName));
        EXPECT_TRUE(saved || db->lastSerializationError().isError());
        layer->clear();
        if (retry && !layer->hasStopped()) {
            EXPECT_FALSE(db->ensureSerialized());  // refused until the host retries
            saved = db->retrySerialization();
            EXPECT_TRUE(saved) << db->lastSerializationError().description();
        }
        db->invalidate();
        ZELFileSystem::setBase(nullptr);
        return saved || committed;
    }

    ZELLogSink previousSink_;
    std::filesystem::path pristine_;
    std::string before_;
    std::string after_;
};

TEST_F(DatabaseCrashTest, EveryFaultPointLeavesTheLastCompletedSave) {
    ASSERT_NE(before_, after_);
    uint64_t callCount = 0;
    ASSERT_TRUE(saveWithFault(0, Fault::IOError, false, &callCount));
    ASSERT_EQ(reopenedDigest(), after_);
    ASSERT_GT(callCount, 20u);

    // Both crash kinds at every call; an I/O error at every call, EIO (left as it is) and
    // ENOSPC (retried once the disk has room) in turn.
    // The sanitizer build runs about ten times slower: it visits every fifth call, a different
    // fifth for each fault kind.
#if ZEL_TESTS_UNDER_UBSAN
    constexpr uint64_t stride = 5;
#else
    constexpr uint64_t stride = 1;
#endif
    uint64_t first = 1;
    for (const Fault kind : {Fault::Kill, Fault::PowerCut, Fault::IOError}) {
        for (uint64_t call = first++ % stride + 1; call <= callCount; call += stride) {
            const bool isIOError = kind == Fault::IOError;
            const Fault fault = isIOError && call % 2 == 0 ? Fault::NoSpace : kind;
            SCOPED_TRACE("fault " + std::to_string(int(fault)) + " at call " + std::to_string(call));
            const bool saved = saveWithFault(call, fault, fault == Fault::NoSpace);
            const std::string digest = reopenedDigest();
            // A committed save is durable; an I/O error without retry leaves the
            // previous save; a crash leaves one of the two.
            const bool expected = saved       ? digest == after_
                                  : isIOError ? digest == before_
                                              : digest == before_ || digest == after_;
            ASSERT_TRUE(expected) << "fault " << int(fault) << " at call " << call << " of "
                                  << callCount << (saved ? ", saved" : "") << ": "
                                  << firstDifference(digest,
                                                     saved || !isIOError ? after_ : before_);
        }
    }
}

// ---- Real processes ----

namespace {

// Runs this test program again as a child running only `test`, with `variable` set to `value`
// (and its standard output on `outputFD` when given); answers its process ID.
pid_t spawnChildTest(const char* test, const char* variable, const std::string& value,
                     int outputFD = -1) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (outputFD >= 0) ::dup2(outputFD, STDOUT_FILENO);
        ::setenv(variable, value.c_str(), 1);
        const std::string filter = std::string("--gtest_filter=") + test;
        ::execl("/proc/self/exe", "child", filter.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// Adds the kill loop's next ten items.
void addNextTen(ZELDatabase& db) {
    const uint32_t count = db.itemCount();
    for (uint32_t i = count; i < count + 10; ++i) {
        const std::string key = "k" + std::to_string(i);
        db.addItem(ZELTestMakeItem(key, wordsOf(static_cast<int>(i), 0)), nullptr);
    }
}

int exitStatusOf(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

class DatabaseProcessTest : public ZELDatabaseTest {
protected:
    // The child's folder, when this process is a child.
    static const char* childFolder(const char* variable) { return std::getenv(variable); }
};

// A child of KillLoopLeavesOneOfTheSaves: adds ten items and saves, again and again, writing
// one byte to its standard output after each open.
TEST_F(DatabaseProcessTest, KillLoopChild) {
    if (!childFolder("ZEL_KILL_LOOP_FOLDER")) GTEST_SKIP() << "run by KillLoopLeavesOneOfTheSaves";
    auto db = ZELDatabase::databaseWithIdentifier("test.db", nullptr,
                                                  childFolder("ZEL_KILL_LOOP_FOLDER"));
    ASSERT_TRUE(db->bootstrapFromDisk());
    addAspects(*db);
    ASSERT_EQ(::write(STDOUT_FILENO, "+", 1), 1);
    for (;;) {
        addNextTen(*db);
        ASSERT_TRUE(db->ensureSerialized());
    }
}

TEST_F(DatabaseProcessTest, KillLoopLeavesOneOfTheSaves) {
    // The reference: the same batches, never killed.
    const std::filesystem::path referenceFolder = folder_.string() + "-reference";
    std::filesystem::remove_all(referenceFolder);
    auto reference = ZELDatabase::databaseWithIdentifier("test.db", nullptr, referenceFolder);
    ASSERT_TRUE(reference->bootstrapFromDisk());
    addAspects(*reference);
    std::mt19937 random(15);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(50);
    int kills = 0;
    for (; kills < 200 && std::chrono::steady_clock::now() < deadline; ++kills) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t pid = spawnChildTest("DatabaseProcessTest.KillLoopChild",
                                         "ZEL_KILL_LOOP_FOLDER", folder_.string(), ready[1]);
        ::close(ready[1]);
        char byte = 0;
        while (::read(ready[0], &byte, 1) == 1 && byte != '+') {
        }
        ::close(ready[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);

        auto db = openDatabase();
        const uint32_t count = db->itemCount();
        ASSERT_EQ(count % 10, 0u) << "after kill " << kills;
        while (reference->itemCount() < count) addNextTen(*reference);
        ASSERT_EQ(checkedDigest(*db), ZELTestContentDigest(*reference)) << "after kill " << kills;
        db->invalidate();
    }
    EXPECT_GE(kills, 100);
    reference->invalidate();
    std::filesystem::remove_all(referenceFolder);
}

// A child of SecondProcessIsRefusedTheFolder: opening must fail with an error naming the folder.
TEST_F(DatabaseProcessTest, LockProbeChild) {
    if (!childFolder("ZEL_LOCK_PROBE_FOLDER"))
        GTEST_SKIP() << "run by SecondProcessIsRefusedTheFolder";
    const std::filesystem::path folder = childFolder("ZEL_LOCK_PROBE_FOLDER");
    auto db = ZELDatabase::databaseWithIdentifier("test.db", nullptr, folder);
    EXPECT_FALSE(db->bootstrapFromDisk());
    EXPECT_NE(db->lastSerializationError().failureReason().find(folder.string()), std::string::npos)
        << db->lastSerializationError().description();
    db->invalidate();
}

TEST_F(DatabaseProcessTest, SecondProcessIsRefusedTheFolder) {
    db_ = openDatabase();
    db_->addItem(ZELTestMakeItem("k0", "one two"), nullptr);
    ASSERT_TRUE(db_->ensureSerialized());
    db_->addItem(ZELTestMakeItem("k1", "two three"), nullptr);
    EXPECT_EQ(exitStatusOf(spawnChildTest("DatabaseProcessTest.LockProbeChild",
                                          "ZEL_LOCK_PROBE_FOLDER", folder_.string())),
              0);
    // Within this process too, a second database is refused the folder.
    auto second = ZELDatabase::databaseWithIdentifier("test.db", nullptr, folder_);
    EXPECT_FALSE(second->bootstrapFromDisk());
    second->invalidate();
    ASSERT_TRUE(db_->ensureSerialized());
    const std::string digest = ZELTestContentDigest(*db_);
    reopen();
    EXPECT_EQ(ZELTestContentDigest(*db_), digest);
    EXPECT_EQ(db_->itemCount(), 2u);
}
