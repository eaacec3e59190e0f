// Completion latency: prefixes of 1, 2 and 3 letters with a limit of 10, over every aspect, with
// and without a result set of about 1,000 items limiting the values; median and 99th
// percentile per collection, in microseconds.
//
// Two databases: this machine's Debian changelog entries as record items
// (ZELBenchCorpora.h), and a synthetic database of
// ZEL_BENCH_COMPLETION_ITEMS items (default 1000000): titles of 3 to 6 words drawn with a
// Zipf-like skew from 60,000 made-up words, plus one of 500 tags.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ZELBenchCorpora.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/query/ZELCompletionCollector.h"
#include "zel/query/ZELItemResultSet.h"
#include "zel/tokenizer/ZELDateTokenizer.h"
#include "zel/tokenizer/ZELIdentityValueTokenizer.h"
#include "zel/tokenizer/ZELTokenizer.h"
#include "zel/tokenizer/ZELWhitespaceTokenizer.h"
#include "zel/tokenizer/ZELWordTokenizer.h"

namespace {

// A database kept open for the whole run; its folder is removed at exit.
struct BenchDatabase {
    std::filesystem::path folder;
    std::shared_ptr<ZELDatabase> db;
    std::vector<ZELID> itemIDs;
    double buildSeconds = 0;
    ~BenchDatabase() {
        if (db) db->invalidate();
        if (!folder.empty()) std::filesystem::remove_all(folder);
    }
};

BenchDatabase* changelogDatabase() {
    static BenchDatabase database;
    static const bool built = [](BenchDatabase* made) {
        if (ZELBench_ChangelogEntries().empty()) return false;
        made->folder = ZELBench_ScratchFolder("completion-changelog");
        std::filesystem::remove_all(made->folder);
        auto db = ZELBench_OpenChangelogDatabase(made->folder);
        if (!db) return false;
        const auto start = std::chrono::steady_clock::now();
        ZELBench_AddChangelogEntries(*db);
        made->buildSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        made->db = db;
        db->allExistingItemIDs()->enumerateIDs([&](ZELID id, bool&) { made->itemIDs.push_back(id); });
        return true;
    }(&database);
    (void)built;
    return &database;
}

// ---- The synthetic database ----

BenchDatabase* syntheticDatabase() {
    static BenchDatabase database;
    static const bool built = [](BenchDatabase* made) {
        const char* sizeText = std::getenv("ZEL_BENCH_COMPLETION_ITEMS");
        const long itemCount = sizeText ? std::atol(sizeText) : 1000000;
        made->folder = ZELBench_ScratchFolder("completion-synthetic");
        std::filesystem::remove_all(made->folder);
        const auto start = std::chrono::steady_clock::now();
        auto db = ZELBench_MakeSyntheticDatabase(made->folder, itemCount);
        if (!db) return false;
        made->buildSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        made->db = db;
        db->allExistingItemIDs()->enumerateIDs([&](ZELID id, bool&) { made->itemIDs.push_back(id); });
        return true;
    }(&database);
    (void)built;
    return &database;
}

// ---- Measuring ----

// Prefixes of `length` letters: for one letter a to z, otherwise the beginnings of up to 60
// terms of the database's aspects, so that most of them find values.
std::vector<ZELString> prefixesOfLength(ZELDatabase& db, size_t length) {
    std::vector<ZELString> prefixes;
    if (length == 1) {
        for (char16_t letter = u'a'; letter <= u'z'; ++letter) prefixes.push_back(ZELString(1, letter));
        return prefixes;
    }
    std::set<ZELString> found;
    std::mt19937 random(7);
    std::vector<ZELString> all;
    db.accessLockedUsing([&] {
        for (const auto& aspect : db.allAspects()) {
            aspect->enumerateCompletionsWithNormalizedPrefix(
                ZELString(), nullptr, [&](const ZELString& normalized, const ZELString&, ZELID, bool&) {
                    if (normalized.size() < length) return;
                    const ZELString head = normalized.substr(0, length);
                    if (std::all_of(head.begin(), head.end(), [](char16_t c) { return c >= u'a' && c <= u'z'; })) {
                        all.push_back(head);
                    }
                });
        }
    });
    std::shuffle(all.begin(), all.end(), random);
    for (const ZELString& prefix : all) {
        if (found.insert(prefix).second) prefixes.push_back(prefix);
        if (prefixes.size() == 60) break;
    }
    return prefixes;
}

void measureCompletion(benchmark::State& state, BenchDatabase* database) {
    if (!database || !database->db) {
        state.SkipWithError("no database (no changelog text found: set ZEL_BENCH_CHANGELOG_TEXT)");
        return;
    }
    ZELDatabase& db = *database->db;
    const size_t prefixLength = static_cast<size_t>(state.range(0));
    const bool restricted = state.range(1) != 0;
    const auto aspects = db.allAspects();
    const std::vector<ZELString> prefixes = prefixesOfLength(db, prefixLength);

    std::shared_ptr<ZELItemResultSet> resultSet;
    double viableMicroseconds = 0;
    if (restricted) {
        std::vector<ZELID> chosen = database->itemIDs;
        std::mt19937 random(11);
        std::shuffle(chosen.begin(), chosen.end(), random);
        chosen.resize(std::min<size_t>(chosen.size(), 1000));
        std::sort(chosen.begin(), chosen.end());
        resultSet = ZELItemResultSet::resultSetWithItemIDs(
            *ZELIDVector::vectorWithIDs(chosen.data(), static_cast<uint32_t>(chosen.size())), database->db);
        // Computed once per result set and cached; timed on its own.
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(resultSet->viableAspectBitIDs());
        viableMicroseconds = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    }

    std::vector<double> samples;
    uint64_t answered = 0;
    for (auto _ : state) {
        for (int repeat = 0; repeat < 5; ++repeat) {
            for (const ZELString& prefix : prefixes) {
                const auto start = std::chrono::steady_clock::now();
                bool surpassed = false;
                const auto completions = ZELCompletionCollector::completionsForMatchingPrefix(
                    &prefix, aspects, resultSet, 10, &surpassed);
                samples.push_back(
                    std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
                answered += completions.size();
            }
        }
    }
    std::sort(samples.begin(), samples.end());
    auto percentile = [&](double fraction) {
        return samples[std::min(samples.size() - 1, static_cast<size_t>(fraction * static_cast<double>(samples.size())))];
    };
    state.counters["items"] = static_cast<double>(database->itemIDs.size());
    state.counters["build_s"] = database->buildSeconds;
    state.counters["prefixes"] = static_cast<double>(prefixes.size());
    state.counters["median_us"] = percentile(0.5);
    state.counters["p99_us"] = percentile(0.99);
    state.counters["max_us"] = samples.back();
    state.counters["answers_per_call"] = static_cast<double>(answered) / static_cast<double>(samples.size());
    if (restricted) state.counters["viable_ids_first_us"] = viableMicroseconds;
}

void BM_CompleteChangelog(benchmark::State& state) { measureCompletion(state, changelogDatabase()); }
void BM_CompleteSynthetic(benchmark::State& state) { measureCompletion(state, syntheticDatabase()); }

// Arguments: prefix length, and whether a result set of about 1,000 items limits the values.
BENCHMARK(BM_CompleteChangelog)
    ->ArgsProduct({{1, 2, 3}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompleteSynthetic)
    ->ArgsProduct({{1, 2, 3}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
