// What the save journal costs: the changelog entries (ZELBenchCorpora.h) saved once into a new
// database, and 100 saves of 100 changed records each into the saved database, with the journal
// on and off (ZELDatabaseJournal::setJournaling) in the same run. A counting file layer under
// everything reports the flushes (fsync of files and folders, syncfs) per save. The scratch
// folder is under $TMPDIR when set (use a disk-backed one: /dev/shm makes every fsync free).

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "ZELBenchCorpora.h"
#include "zel/platform/ZELFileSystem.h"
#include "zel/storage/ZELDatabaseJournal.h"

namespace {

// The POSIX layer, counting flushes.
class CountingFileSystem final : public ZELFileSystem {
public:
    std::atomic<uint64_t> fsyncCount{0};

    int open(const std::string& path, int flags, mode_t mode) override {
        return posix().open(path, flags, mode);
    }
    int close(int fd) override { return posix().close(fd); }
    ssize_t pread(int fd, void* buffer, size_t count, off_t offset) override {
        return posix().pread(fd, buffer, count, offset);
    }
    ssize_t pwrite(int fd, const void* bytes, size_t count, off_t offset) override {
        return posix().pwrite(fd, bytes, count, offset);
    }
    int fsync(int fd) override {
        ++fsyncCount;
        return posix().fsync(fd);
    }
    int ftruncate(int fd, off_t length) override { return posix().ftruncate(fd, length); }
    int fstat(int fd, struct stat* status) override { return posix().fstat(fd, status); }
    int rename(const std::string& from, const std::string& to) override {
        return posix().rename(from, to);
    }
    int exchange(const std::string& from, const std::string& to) override {
        return posix().exchange(from, to);
    }
    int link(const std::string& from, const std::string& to) override {
        return posix().link(from, to);
    }
    int unlink(const std::string& path) override { return posix().unlink(path); }
    int mkdir(const std::string& path, mode_t mode) override { return posix().mkdir(path, mode); }
    int rmdir(const std::string& path) override { return posix().rmdir(path); }
    int syncFolder(const std::string& path) override {
        ++fsyncCount;
        return posix().syncFolder(path);
    }
    int syncFileSystem(const std::string& path) override {
        ++fsyncCount;
        return posix().syncFileSystem(path);
    }
};

CountingFileSystem& countingLayer() {
    static const auto layer = [] {
        auto made = std::make_shared<CountingFileSystem>();
        ZELFileSystem::setBase(made);
        return made;
    }();
    return *layer;
}

using Clock = std::chrono::steady_clock;

// An empty changelog database in `folder`, saving with or without the journal.
std::shared_ptr<ZELDatabase> freshDatabase(const std::filesystem::path& folder, bool journaling) {
    std::filesystem::remove_all(folder);
    auto db = ZELBench_OpenChangelogDatabase(folder, false);
    db->ensureSerialized();  // commits the new folder, so that the switch takes
    db->journal()->setJournaling(journaling);
    return db;
}

void BM_BulkSave(benchmark::State& state) {
    const bool journaling = state.range(0) != 0;
    if (ZELBench_ChangelogEntries().empty()) {
        state.SkipWithError("no changelog text found (set ZEL_BENCH_CHANGELOG_TEXT)");
        return;
    }
    CountingFileSystem& layer = countingLayer();
    const auto folder = ZELBench_ScratchFolder(journaling ? "journal-bulk-on" : "journal-bulk-off");
    double seconds = 0;
    uint64_t fsyncs = 0;
    for (auto _ : state) {
        auto db = freshDatabase(folder, journaling);
        ZELBench_AddChangelogEntries(*db);
        const uint64_t fsyncsBefore = layer.fsyncCount;
        const auto start = Clock::now();
        if (!db->ensureSerialized()) state.SkipWithError("save failed");
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        fsyncs = layer.fsyncCount - fsyncsBefore;
        db->invalidate();
    }
    std::filesystem::remove_all(folder);
    state.counters["save_s"] = seconds;
    state.counters["fsyncs_per_save"] = static_cast<double>(fsyncs);
}
BENCHMARK(BM_BulkSave)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// 100 saves, each after 100 records: 50 new entries and 50 stored ones changed (re-indexed with
// a new body).
void BM_SmallSaves(benchmark::State& state) {
    const bool journaling = state.range(0) != 0;
    const auto& entries = ZELBench_ChangelogEntries();
    if (entries.size() < 10000) {
        state.SkipWithError("too few changelog entries");
        return;
    }
    CountingFileSystem& layer = countingLayer();
    const auto folder =
        ZELBench_ScratchFolder(journaling ? "journal-small-on" : "journal-small-off");
    constexpr size_t kSaves = 100;
    constexpr size_t kHalf = 50;
    const size_t initial = entries.size() - kSaves * kHalf;
    double seconds = 0;
    uint64_t fsyncs = 0;
    for (auto _ : state) {
        auto db = freshDatabase(folder, journaling);
        for (size_t i = 0; i < initial; ++i)
            db->addItem(ZELRecordItem::itemWithValues(entries[i]), nullptr);
        if (!db->ensureSerialized()) state.SkipWithError("save failed");
        const uint64_t fsyncsBefore = layer.fsyncCount;
        Clock::duration spent{};
        for (size_t save = 0; save < kSaves; ++save) {
            for (size_t i = 0; i < kHalf; ++i) {
                db->addItem(ZELRecordItem::itemWithValues(entries[initial + save * kHalf + i]),
                            nullptr);
                const auto stored =
                    db->itemForItemID(static_cast<ZELID>(1 + save * kHalf + i), nullptr);
                if (auto record = std::dynamic_pointer_cast<ZELRecordItem>(stored)) {
                    record->setValue(
                        ZELValue(ZELStringFromUTF8("changed body " + std::to_string(save))),
                        u"body");
                    db->updateIndexingForChangedItem(record);
                }
            }
            const auto start = Clock::now();
            if (!db->ensureSerialized()) state.SkipWithError("save failed");
            spent += Clock::now() - start;
        }
        seconds = std::chrono::duration<double>(spent).count();
        fsyncs = layer.fsyncCount - fsyncsBefore;
        db->invalidate();
    }
    std::filesystem::remove_all(folder);
    state.counters["save_s_total"] = seconds;
    state.counters["fsyncs_per_save"] = static_cast<double>(fsyncs) / kSaves;
}
BENCHMARK(BM_SmallSaves)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
