// Query latency (ZELBenchCorpora.h) on the changelog database, with terms of its body aspect,
// and on a synthetic database of ZEL_BENCH_QUERY_ITEMS items (default 1,000,000), with terms
// of its titles: single term, two-term AND, three-term OR, AND with NOT, and a four-level
// nested tree, each built from terms drawn at random (among those carried by at least 50
// items) and evaluated into a result set; median and 99th percentile per query, in
// microseconds. Without changelog text the changelog benchmarks are skipped.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <vector>

#include "ZELBenchCorpora.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/query/ZELItemResultSet.h"
#include "zel/query/ZELQuery.h"

namespace {

// A database, built once and kept open for the run; its folder is removed at exit.
struct QueryBenchDatabase {
    std::filesystem::path folder;
    std::shared_ptr<ZELDatabase> db;
    std::vector<ZELID> terms;  // aspect bit IDs carried by at least 50 items
    ~QueryBenchDatabase() {
        if (db) db->invalidate();
        if (!folder.empty()) std::filesystem::remove_all(folder);
    }
};

// Gathers the terms of `aspectIdentifier` carried by at least 50 items: the words a user
// searches for.
bool gatherFrequentTerms(QueryBenchDatabase& made, const char16_t* aspectIdentifier) {
    auto aspect = made.db->aspectWithIdentifier(aspectIdentifier);
    made.db->accessLockedUsing([&] {
        aspect->enumerateCompletionsWithNormalizedPrefix(
            u"", nullptr, [&](const ZELString&, const ZELString&, ZELID aspectBitID, bool&) {
                if (made.db->itemIDVectorForAspectBitID(aspectBitID)->count() >= 50) {
                    made.terms.push_back(aspectBitID);
                }
            });
    });
    return !made.terms.empty();
}

QueryBenchDatabase* changelogDatabase() {
    static QueryBenchDatabase database;
    static const bool built = [](QueryBenchDatabase* made) {
        if (ZELBench_ChangelogEntries().empty()) return false;
        made->folder = ZELBench_ScratchFolder("query-changelog");
        std::filesystem::remove_all(made->folder);
        made->db = ZELBench_OpenChangelogDatabase(made->folder);
        if (!made->db) return false;
        ZELBench_AddChangelogEntries(*made->db);
        return gatherFrequentTerms(*made, u"body");
    }(&database);
    return built ? &database : nullptr;
}

QueryBenchDatabase* syntheticDatabase() {
    static QueryBenchDatabase database;
    static const bool built = [](QueryBenchDatabase* made) {
        const char* sizeText = std::getenv("ZEL_BENCH_QUERY_ITEMS");
        made->folder = ZELBench_ScratchFolder("query-synthetic");
        std::filesystem::remove_all(made->folder);
        made->db = ZELBench_MakeSyntheticDatabase(made->folder, sizeText ? std::atol(sizeText) : 1000000);
        return made->db && gatherFrequentTerms(*made, u"title");
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

void measureQueries(benchmark::State& state, QueryBenchDatabase* (*databaseMaker)(), QueryMaker make) {
    QueryBenchDatabase* database = databaseMaker();
    if (!database) {
        state.SkipWithError("no database (for the changelogs: set ZEL_BENCH_CHANGELOG_TEXT)");
        return;
    }
    std::mt19937 random(42);
    std::vector<double> micros;
    uint64_t matched = 0;
    for (auto _ : state) {
        const auto query = make(database->terms, random);
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
    state.counters["terms"] = static_cast<double>(database->terms.size());
}

BENCHMARK_CAPTURE(measureQueries, ChangelogSingleTerm, changelogDatabase, singleTerm)->Iterations(2000);
BENCHMARK_CAPTURE(measureQueries, ChangelogTwoTermAND, changelogDatabase, twoTermAND)->Iterations(2000);
BENCHMARK_CAPTURE(measureQueries, ChangelogThreeTermOR, changelogDatabase, threeTermOR)->Iterations(2000);
BENCHMARK_CAPTURE(measureQueries, ChangelogANDWithNOT, changelogDatabase, andWithNOT)->Iterations(2000);
BENCHMARK_CAPTURE(measureQueries, ChangelogNested, changelogDatabase, nested)->Iterations(2000);
BENCHMARK_CAPTURE(measureQueries, SyntheticSingleTerm, syntheticDatabase, singleTerm)->Iterations(2000);
BENCHMARK_CAPTURE(measureQueries, SyntheticTwoTermAND, syntheticDatabase, twoTermAND)->Iterations(2000);
BENCHMARK_CAPTURE(measureQueries, SyntheticThreeTermOR, syntheticDatabase, threeTermOR)->Iterations(2000);
BENCHMARK_CAPTURE(measureQueries, SyntheticANDWithNOT, syntheticDatabase, andWithNOT)->Iterations(2000);
BENCHMARK_CAPTURE(measureQueries, SyntheticNested, syntheticDatabase, nested)->Iterations(2000);

}  // namespace

BENCHMARK_MAIN();
