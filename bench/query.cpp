// Query latency on the changelog database (ZELBenchChangelogs.h): single term, two-term AND,
// three-term OR, AND with NOT, and a four-level nested tree, each built from terms of the
// body aspect drawn at random and evaluated into a result set; median and 99th percentile per
// query, in microseconds. Without changelog text the benchmarks are skipped.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <vector>

#include "ZELBenchChangelogs.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/query/ZELItemResultSet.h"
#include "zel/query/ZELQuery.h"

namespace {

// The database, built once and kept open for the run; its folder is removed at exit.
struct QueryBenchDatabase {
    std::filesystem::path folder;
    std::shared_ptr<ZELDatabase> db;
    std::vector<ZELID> bodyTerms;  // aspect bit IDs of frequent body words
    ~QueryBenchDatabase() {
        if (db) db->invalidate();
        if (!folder.empty()) std::filesystem::remove_all(folder);
    }
};

QueryBenchDatabase* changelogDatabase() {
    static QueryBenchDatabase database;
    static const bool built = [](QueryBenchDatabase* made) {
        if (ZELBench_ChangelogEntries().empty()) return false;
        made->folder = ZELBench_ScratchFolder("query");
        std::filesystem::remove_all(made->folder);
        made->db = ZELBench_OpenChangelogDatabase(made->folder);
        if (!made->db) return false;
        ZELBench_AddChangelogEntries(*made->db);
        // Terms carried by at least 50 items: the words a user searches for.
        auto body = made->db->aspectWithIdentifier(u"body");
        made->db->accessLockedUsing([&] {
            body->enumerateCompletionsWithNormalizedPrefix(
                u"", nullptr, [&](const ZELString&, const ZELString&, ZELID aspectBitID, bool&) {
                    if (made->db->itemIDVectorForAspectBitID(aspectBitID)->count() >= 50) {
                        made->bodyTerms.push_back(aspectBitID);
                    }
                });
        });
        return !made->bodyTerms.empty();
    }(&database);
    return built ? &database : nullptr;
}

using QueryMaker = std::shared_ptr<ZELQuery> (*)(const std::vector<ZELID>& terms, std::mt19937& random);

std::shared_ptr<ZELQuery> term(const std::vector<ZELID>& terms, std::mt19937& random) {
    return ZELQuery::queryMatchingID(terms[random() % terms.size()]);
}

std::shared_ptr<ZELQuery> combine(const std::vector<ZELID>& terms, std::mt19937& random,
                                  int count, ZELBooleanOperation operation) {
    ZELQuery::QueryList operands;
    for (int index = 0; index < count; ++index) operands.push_back(term(terms, random));
    return ZELQuery::queryCombiningQueries(operands, operation);
}

std::shared_ptr<ZELQuery> singleTerm(const std::vector<ZELID>& terms, std::mt19937& random) {
    return term(terms, random);
}
std::shared_ptr<ZELQuery> twoTermAND(const std::vector<ZELID>& terms, std::mt19937& random) {
    return combine(terms, random, 2, ZELBooleanOperationAND);
}
std::shared_ptr<ZELQuery> threeTermOR(const std::vector<ZELID>& terms, std::mt19937& random) {
    return combine(terms, random, 3, ZELBooleanOperationOR);
}
std::shared_ptr<ZELQuery> andWithNOT(const std::vector<ZELID>& terms, std::mt19937& random) {
    return ZELQuery::queryCombiningQueries(
        {term(terms, random), ZELQuery::queryNegatingQuery(term(terms, random))},
        ZELBooleanOperationAND);
}
// (a OR b) AND NOT (c AND (d OR e))
std::shared_ptr<ZELQuery> nested(const std::vector<ZELID>& terms, std::mt19937& random) {
    auto inner = ZELQuery::queryCombiningQueries(
        {term(terms, random), combine(terms, random, 2, ZELBooleanOperationOR)},
        ZELBooleanOperationAND);
    return ZELQuery::queryCombiningQueries(
        {combine(terms, random, 2, ZELBooleanOperationOR), ZELQuery::queryNegatingQuery(inner)},
        ZELBooleanOperationAND);
}

void measureQueries(benchmark::State& state, QueryMaker make) {
    QueryBenchDatabase* database = changelogDatabase();
    if (!database) {
        state.SkipWithError("no changelog text found (set ZEL_BENCH_CHANGELOG_TEXT)");
        return;
    }
    std::mt19937 random(42);
    std::vector<double> micros;
    uint64_t matched = 0;
    for (auto _ : state) {
        const auto query = make(database->bodyTerms, random);
        const auto start = std::chrono::steady_clock::now();
        const auto resultSet = query->resultSetInDatabase(database->db);
        const auto end = std::chrono::steady_clock::now();
        matched += resultSet->itemCount();
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    state.counters["mean_matches"] = static_cast<double>(matched) / static_cast<double>(micros.size());
    state.counters["terms"] = static_cast<double>(database->bodyTerms.size());
}

void BM_QuerySingleTerm(benchmark::State& state) { measureQueries(state, singleTerm); }
void BM_QueryTwoTermAND(benchmark::State& state) { measureQueries(state, twoTermAND); }
void BM_QueryThreeTermOR(benchmark::State& state) { measureQueries(state, threeTermOR); }
void BM_QueryANDWithNOT(benchmark::State& state) { measureQueries(state, andWithNOT); }
void BM_QueryNested(benchmark::State& state) { measureQueries(state, nested); }

BENCHMARK(BM_QuerySingleTerm)->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QueryTwoTermAND)->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QueryThreeTermOR)->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QueryANDWithNOT)->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QueryNested)->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
