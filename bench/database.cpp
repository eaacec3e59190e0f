// Indexes this machine's Debian changelog entries (ZELBenchCorpora.h) into a database of
// record items, saves it, and reopens it; reports items per second, bytes on disk and peak
// memory. Without changelog text the benchmark is skipped.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>

#include "ZELBenchCorpora.h"
#include "zel/platform/ZELFileManager.h"

namespace {

double peakResidentBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) * 1024.0;
}

void BM_IndexChangelogEntriesSaveAndReopen(benchmark::State& state) {
    const auto& entries = ZELBench_ChangelogEntries();
    if (entries.empty()) {
        state.SkipWithError("no changelog text found (set ZEL_BENCH_CHANGELOG_TEXT)");
        return;
    }
    const auto folder = ZELBench_ScratchFolder("database");
    uint32_t stored = 0;
    double indexSeconds = 0, saveSeconds = 0, reopenSeconds = 0;
    uint64_t bytesOnDisk = 0;
    for (auto _ : state) {
        std::filesystem::remove_all(folder);
        auto db = ZELBench_OpenChangelogDatabase(folder);
        if (!db) {
            state.SkipWithError("could not open the database");
            return;
        }
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        ZELBench_AddChangelogEntries(*db);
        const auto indexed = Clock::now();
        if (!db->ensureSerialized()) state.SkipWithError("save failed");
        const auto saved = Clock::now();
        stored = db->itemCount();
        db->invalidate();
        db.reset();

        auto reopened = ZELBench_OpenChangelogDatabase(folder);
        const bool found = reopened && reopened->aspectWithIdentifier(u"package")
                                               ->aspectBitIDForNormalizedValue(u"bash", nullptr, nullptr) != 0;
        const auto reopenedAt = Clock::now();
        benchmark::DoNotOptimize(found);
        reopened->invalidate();

        indexSeconds = std::chrono::duration<double>(indexed - start).count();
        saveSeconds = std::chrono::duration<double>(saved - indexed).count();
        reopenSeconds = std::chrono::duration<double>(reopenedAt - saved).count();
        bytesOnDisk = ZELFileManager::byteCountOnDiskAtURL(folder.string());
    }
    std::filesystem::remove_all(folder);
    state.counters["entries"] = static_cast<double>(entries.size());
    state.counters["stored_items"] = stored;
    state.counters["index_items_per_s"] = static_cast<double>(entries.size()) / indexSeconds;
    state.counters["save_s"] = saveSeconds;
    state.counters["reopen_and_first_lookup_s"] = reopenSeconds;
    state.counters["bytes_on_disk"] = static_cast<double>(bytesOnDisk);
    state.counters["peak_rss_bytes"] = peakResidentBytes();
}
BENCHMARK(BM_IndexChangelogEntriesSaveAndReopen)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
