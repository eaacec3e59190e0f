// Compares ZEL with SQLite FTS5 (detail=none and detail=full) and Xapian on the same records:
// indexing rate, bytes on disk and peak memory, reopening, the latency of five query shapes
// with every matching record, and prefix completion of body words, unlimited and limited to
// a result of about 1,000 records; checks that the engines find the same records. Two data
// sets: this machine's Debian changelog entries, and a synthetic changelog made from them
// (1,000,000 records unless --records says otherwise). Prints Markdown (docs/PERFORMANCE.md
// explains each figure); progress goes to standard error.
//
//   zel_bench_peers [--records N] [--only changelog|synthetic]
//                   [--engines zel,fts5-none,fts5-full,xapian] [--queries N]
//                   [--threads N,...]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchDataSet.h"
#include "ChildProcess.h"
#include "ComparisonReport.h"
#include "EngineMeasurement.h"
#include "PlainBodyWords.h"
#include "SearchEngine.h"
#include "SyntheticChangelog.h"
#include "ZELBenchCorpora.h"

namespace {

// Query words are carried by at least this many records.
constexpr uint32_t queryWordMinimumRecords = 50;
// The completion limit is the records of the word whose record count is nearest to this.
constexpr uint32_t completionLimitRecords = 1000;
// Completion prefixes of 2 and 3 letters: this many, from the plain body words.
constexpr size_t prefixesPerLength = 60;
constexpr uint64_t syntheticSeed = 42;
constexpr uint64_t workloadSeed = 7;

struct Options {
    uint32_t syntheticRecords = 1000000;
    bool changelog = true;
    bool synthetic = true;
    std::vector<std::string> engines = allSearchEngineNames();
    size_t queriesPerShape = 2000;
    // ZEL is indexed once per count, the first count's figures are the ratios' base.
    std::vector<unsigned> zelThreadCounts{1};
};

const char* const usage =
    "usage: zel_bench_peers [--records N] [--only changelog|synthetic]\n"
    "                       [--engines zel,fts5-none,fts5-full,xapian] [--queries N]\n"
    "                       [--threads N,...]\n";

bool parseCount(const char* text, uint64_t& count) {
    char* end = nullptr;
    count = std::strtoull(text, &end, 10);
    return *text && !*end && count > 0 && count <= UINT32_MAX;
}

// Reads the options; false for a malformed command line.
bool parseOptions(int argc, char** argv, Options& options) {
    for (int index = 1; index < argc; ++index) {
        const std::string option = argv[index];
        if (index + 1 >= argc) return false;
        const char* value = argv[++index];
        uint64_t count = 0;
        if (option == "--records" && parseCount(value, count)) {
            options.syntheticRecords = static_cast<uint32_t>(count);
        } else if (option == "--queries" && parseCount(value, count)) {
            options.queriesPerShape = count;
        } else if (option == "--only" &&
                   (std::strcmp(value, "changelog") == 0 || std::strcmp(value, "synthetic") == 0)) {
            options.changelog = std::strcmp(value, "changelog") == 0;
            options.synthetic = !options.changelog;
        } else if (option == "--threads") {
            options.zelThreadCounts.clear();
            std::stringstream list(value);
            for (std::string item; std::getline(list, item, ',');) {
                if (!parseCount(item.c_str(), count) || count > 256) return false;
                options.zelThreadCounts.push_back(static_cast<unsigned>(count));
            }
            if (options.zelThreadCounts.empty()) return false;
        } else if (option == "--engines") {
            // Kept in report order, ZEL first, whatever order they are named in.
            std::vector<std::string> named;
            std::stringstream list(value);
            for (std::string name; std::getline(list, name, ',');) {
                if (!makeSearchEngine(name)) return false;
                named.push_back(name);
            }
            options.engines.clear();
            for (const std::string& name : allSearchEngineNames()) {
                if (std::find(named.begin(), named.end(), name) != named.end()) {
                    options.engines.push_back(name);
                }
            }
            if (options.engines.empty()) return false;
        } else {
            return false;
        }
    }
    return true;
}

double secondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

DataSetResults measureDataSet(const BenchDataSet& dataSet, const Options& options,
                              BenchWorkload& workload, const std::filesystem::path& scratch) {
    DataSetResults results;
    results.name = dataSet.name();
    results.recordCount = dataSet.recordCount();
    results.workload = &workload;
    std::fprintf(stderr, "%s: scanning %u records\n", results.name.c_str(), results.recordCount);

    if (dataSet.name() == "synthetic") {
        const double seconds =
            secondsOf([&] { dataSet.forEachRecord([](const BenchRecord&, uint32_t) {}); });
        results.notes.push_back("making the records alone runs at " +
                                std::to_string(static_cast<long>(results.recordCount / seconds)) +
                                " records/s; every engine's indexing rate includes it");
    }
    const PlainBodyWords words(dataSet);
    const std::vector<std::string> queryWords =
        words.wordsCarriedByAtLeast(queryWordMinimumRecords);
    if (queryWords.empty()) throw std::runtime_error("no body word is carried by enough records");
    results.notes.push_back(std::to_string(words.wordCount()) +
                            " plain body words (cut alike by every engine); the " +
                            std::to_string(queryWords.size()) + " carried by at least " +
                            std::to_string(queryWordMinimumRecords) + " records make the queries");

    std::mt19937_64 random(workloadSeed);
    for (size_t shape = 0; shape < benchQueryShapeCount; ++shape) {
        workload.queries[shape].clear();
        for (size_t index = 0; index < options.queriesPerShape; ++index) {
            workload.queries[shape].push_back(
                makeBenchQuery(allBenchQueryShapes[shape], queryWords, random));
        }
    }
    const std::string limitWord = words.wordCarriedByNearly(completionLimitRecords);
    workload.completionLimit = BenchQuery::wordQuery(limitWord);
    results.notes.push_back("completions are limited to the records of `" + limitWord + "` (" +
                            std::to_string(words.recordCountOfWord(limitWord)) + " records)");
    for (size_t length = 1; length <= completionPrefixLengths; ++length) {
        workload.prefixes[length - 1] =
            words.prefixesOfLength(length, prefixesPerLength, workloadSeed + length);
    }

    std::vector<std::string> engines;
    for (const std::string& engine : options.engines) {
        if (engine != "zel") {
            engines.push_back(engine);
            continue;
        }
        for (const unsigned threads : options.zelThreadCounts) {
            engines.push_back(threads == 1 ? "zel" : "zel-t" + std::to_string(threads));
        }
    }
    for (const std::string& engine : engines) {
        std::fprintf(stderr, "%s: %s\n", results.name.c_str(), engine.c_str());
        results.figures.push_back(measureEngine(engine, dataSet, workload, scratch / engine));
        if (!results.figures.back().error.empty()) {
            std::fprintf(stderr, "%s: %s failed: %s\n", results.name.c_str(), engine.c_str(),
                         results.figures.back().error.c_str());
        }
    }
    return results;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], readingChildArgument) == 0) {
        return answerFreshProcessRequest(answerReadingRequest);
    }
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fputs(usage, stderr);
        return 2;
    }
    const ChangelogDataSet changelog;
    if (changelog.recordCount() == 0) {
        std::fputs("no changelog text found (set ZEL_BENCH_CHANGELOG_TEXT)\n", stderr);
        return 1;
    }
    const std::filesystem::path scratch = ZELBench_ScratchFolder("peers");
    std::printf("Machine:\n\n%s\n", describeMachine().c_str());
    std::fflush(stdout);
    try {
        std::vector<std::unique_ptr<BenchDataSet>> dataSets;
        if (options.changelog) dataSets.push_back(std::make_unique<ChangelogDataSet>(changelog));
        if (options.synthetic) {
            dataSets.push_back(std::make_unique<SyntheticChangelog>(
                changelog.records(), options.syntheticRecords, syntheticSeed));
        }
        for (const auto& dataSet : dataSets) {
            BenchWorkload workload;
            const DataSetResults results = measureDataSet(*dataSet, options, workload, scratch);
            std::printf("%s", reportDataSet(results).c_str());
            std::fflush(stdout);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zel_bench_peers: %s\n", error.what());
        std::filesystem::remove_all(scratch);
        return 1;
    }
    std::filesystem::remove_all(scratch);
    return 0;
}
