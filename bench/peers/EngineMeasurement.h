#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchDataSet.h"
#include "BenchQuery.h"

constexpr size_t benchQueryShapeCount = std::size(allBenchQueryShapes);
// Completion prefixes have 1, 2 and 3 letters.
constexpr size_t completionPrefixLengths = 3;

// What every engine is asked on one data set: the same queries, the same completion prefixes
// and the same completion limit.
struct BenchWorkload {
    std::array<std::vector<BenchQuery>, benchQueryShapeCount> queries;  // by shape
    // The query whose records limit the limited completions (about 1,000 records).
    BenchQuery completionLimit;
    std::array<std::vector<std::string>, completionPrefixLengths> prefixes;  // by length - 1
    int completionRepeats = 5;    // each prefix is timed this many times
    size_t completionCount = 10;  // completions asked for
};

// Median and 99th percentile of latency samples, in microseconds.
struct LatencySummary {
    double medianMicros = 0;
    double p99Micros = 0;
    static LatencySummary ofSamples(std::vector<double> micros);
};

// A query's answer, for comparing engines: the number of records and a hash of their sorted
// positions.
struct QueryAnswer {
    uint32_t count = 0;
    uint64_t hash = 0;
    friend bool operator==(const QueryAnswer&, const QueryAnswer&) = default;
};

// One engine's figures on one data set.
struct EngineFigures {
    std::string engine;
    std::string error;  // why the engine failed; empty when it did not

    double indexSeconds = 0;   // create, add every record, save
    uint64_t bytesOnDisk = 0;  // allocated bytes of the database files
    // The peak resident size of the indexing process less its size at start.
    uint64_t indexPeakBytes = 0;
    // ZEL only: where the saved database's bytes go, store by store (a Markdown table).
    std::string diskBreakdown;

    double reopenSeconds = 0;     // open the saved database and answer the first query
    uint64_t openedBytes = 0;     // resident size added by that
    double firstPassSeconds = 0;  // every query once, after the first query, before the timed pass
    std::array<LatencySummary, benchQueryShapeCount> queries;
    std::array<std::vector<QueryAnswer>, benchQueryShapeCount> answers;
    double completionLimitSeconds = 0;  // setCompletionLimit, not part of the completion figures
    // By prefix length - 1, then unlimited (0) or limited (1).
    std::array<std::array<LatencySummary, 2>, completionPrefixLengths> completions;
    std::array<std::array<double, 2>, completionPrefixLengths> completionsPerCall{};
};

// Measures `engine` (a name of allSearchEngineNames) on the data set: indexing in a forked
// child (which has the records), reopening, queries and completions in a fresh process of this
// program (so that no engine's first writes copy pages of the parent's large heap), the
// database in `folder` (removed afterwards). A failure is kept in the figures' error.
EngineFigures measureEngine(const std::string& engine, const BenchDataSet& dataSet,
                            const BenchWorkload& workload, const std::filesystem::path& folder);

// The argument that starts this program as the reading process of measureEngine, and what
// that process does with the request it is handed.
extern const char* const readingChildArgument;
std::string answerReadingRequest(const std::string& request);
