// ID vector set algebra against the standard library's sorted-range algorithms on the same
// data: two-way and eight-way intersection and union of random normalized arrays of 10^3 to
// 10^6 IDs (first argument). The second argument is the spread: IDs are drawn from
// [1, count x spread], so spread 2 is dense (about half of the range present) and 1000 sparse.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "zel/idvector/ZELIDVector.h"
#include "zel/idvector/ZELMutableIDVector.h"

namespace {

using IDs = std::vector<uint32_t>;

// `count` distinct random IDs from [1, universe], ascending; cached per arguments.
const IDs& randomIDs(int64_t count, int64_t universe, unsigned seed) {
    count = std::max<int64_t>(count, 1);
    static std::map<std::tuple<int64_t, int64_t, unsigned>, IDs> cache;
    IDs& ids = cache[{count, universe, seed}];
    if (!ids.empty()) return ids;
    std::mt19937 random(seed);
    std::uniform_int_distribution<uint32_t> pick(1, static_cast<uint32_t>(universe));
    while (ids.size() < static_cast<size_t>(count)) {
        while (ids.size() < static_cast<size_t>(count) * 11 / 10) ids.push_back(pick(random));
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    }
    std::shuffle(ids.begin(), ids.end(), random);
    ids.resize(count);
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::shared_ptr<ZELIDVector> vectorOf(const IDs& ids) {
    return ZELIDVector::vectorWithIDs(ids.data(), static_cast<uint32_t>(ids.size()));
}

constexpr int kWays = 8;

// Each run cycles through several data sets (up to 64, fewer for large counts) so that the
// branch predictor cannot learn one input by heart, as it would for small repeated inputs.
int64_t dataSetCount(int64_t count) {
    return std::clamp<int64_t>(2000000 / count, 1, 64);
}

// The operands of one benchmark, as arrays and as vectors: `dataSetCount` groups of `ways`
// operands drawn from the same range; with a divisor, every operand but the first is that many
// times smaller.
struct Workload {
    std::vector<std::vector<const IDs*>> arrays;
    std::vector<std::vector<std::shared_ptr<ZELIDVector>>> vectors;

    Workload(int64_t count, int64_t spread, int64_t divisor, int ways) {
        for (int64_t set = 0; set < dataSetCount(count); ++set) {
            arrays.emplace_back();
            vectors.emplace_back();
            for (int way = 0; way < ways; ++way) {
                const int64_t size = way == 0 ? count : count / divisor;
                const IDs& ids =
                    randomIDs(size, count * spread, static_cast<unsigned>(set * 100 + way));
                arrays.back().push_back(&ids);
                vectors.back().push_back(vectorOf(ids));
            }
        }
    }
};

// Two operands: equal sizes, or the second a hundredth of the first (third argument: divisor).
void twoWayArguments(benchmark::internal::Benchmark* benchmark) {
    for (int64_t count : {1000, 10000, 100000, 1000000}) {
        for (int64_t spread : {2, 20, 1000}) {
            benchmark->Args({count, spread, 1});
        }
        benchmark->Args({count, 20, 100});
    }
}

void manyWayArguments(benchmark::internal::Benchmark* benchmark) {
    for (int64_t count : {1000, 10000, 100000, 1000000}) {
        for (int64_t spread : {2, 20, 100, 300, 1000}) benchmark->Args({count, spread});
    }
}

void BM_Intersection2_ZEL(benchmark::State& state) {
    const Workload work(state.range(0), state.range(1), state.range(2), 2);
    size_t set = 0;
    for (auto _ : state) {
        const auto& operands = work.vectors[set++ % work.vectors.size()];
        benchmark::DoNotOptimize(operands[0]->vectorByIntersection(*operands[1]));
    }
}

void BM_Intersection2_Std(benchmark::State& state) {
    const Workload work(state.range(0), state.range(1), state.range(2), 2);
    size_t set = 0;
    for (auto _ : state) {
        const auto& operands = work.arrays[set++ % work.arrays.size()];
        const IDs& a = *operands[0];
        const IDs& b = *operands[1];
        IDs out;
        out.reserve(std::min(a.size(), b.size()));
        std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_Union2_ZEL(benchmark::State& state) {
    const Workload work(state.range(0), state.range(1), state.range(2), 2);
    size_t set = 0;
    for (auto _ : state) {
        const auto& operands = work.vectors[set++ % work.vectors.size()];
        benchmark::DoNotOptimize(operands[0]->vectorByUnion(*operands[1]));
    }
}

void BM_Union2_Std(benchmark::State& state) {
    const Workload work(state.range(0), state.range(1), state.range(2), 2);
    size_t set = 0;
    for (auto _ : state) {
        const auto& operands = work.arrays[set++ % work.arrays.size()];
        const IDs& a = *operands[0];
        const IDs& b = *operands[1];
        IDs out;
        out.reserve(a.size() + b.size());
        std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_Intersection8_ZEL(benchmark::State& state) {
    const Workload work(state.range(0), state.range(1), 1, kWays);
    size_t set = 0;
    for (auto _ : state) {
        const auto& operands = work.vectors[set++ % work.vectors.size()];
        benchmark::DoNotOptimize(ZELIDVector::intersectionOfVectors(operands));
    }
}

// Folding std::set_intersection over the operands.
void BM_Intersection8_Std(benchmark::State& state) {
    const Workload work(state.range(0), state.range(1), 1, kWays);
    size_t set = 0;
    for (auto _ : state) {
        const auto& operands = work.arrays[set++ % work.arrays.size()];
        IDs result = *operands[0];
        IDs next;
        for (size_t n = 1; n < operands.size() && !result.empty(); ++n) {
            next.clear();
            std::set_intersection(result.begin(), result.end(), operands[n]->begin(),
                                  operands[n]->end(), std::back_inserter(next));
            result.swap(next);
        }
        benchmark::DoNotOptimize(result.data());
    }
}

void BM_Union8_ZEL(benchmark::State& state) {
    const Workload work(state.range(0), state.range(1), 1, kWays);
    size_t set = 0;
    for (auto _ : state) {
        const auto& operands = work.vectors[set++ % work.vectors.size()];
        benchmark::DoNotOptimize(ZELIDVector::unionOfVectors(operands));
    }
}

// Folding std::set_union over the operands.
void BM_Union8_Std(benchmark::State& state) {
    const Workload work(state.range(0), state.range(1), 1, kWays);
    size_t set = 0;
    for (auto _ : state) {
        const auto& operands = work.arrays[set++ % work.arrays.size()];
        IDs result = *operands[0];
        IDs next;
        for (size_t n = 1; n < operands.size(); ++n) {
            next.clear();
            next.reserve(result.size() + operands[n]->size());
            std::set_union(result.begin(), result.end(), operands[n]->begin(), operands[n]->end(),
                           std::back_inserter(next));
            result.swap(next);
        }
        benchmark::DoNotOptimize(result.data());
    }
}

// Adding IDs one by one in ascending order, and in random order, to a growable vector.
void BM_AddIDs_ZEL(benchmark::State& state) {
    const IDs& ids = randomIDs(state.range(0), state.range(0) * 4, 3);
    IDs shuffled = ids;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(4));
    const IDs& order = state.range(1) ? shuffled : ids;
    for (auto _ : state) {
        auto vector = ZELMutableIDVector::vector();
        for (uint32_t id : order) vector->addID(id);
        benchmark::DoNotOptimize(vector->count());
    }
}

void BM_AddIDs_Std(benchmark::State& state) {
    const IDs& ids = randomIDs(state.range(0), state.range(0) * 4, 3);
    IDs shuffled = ids;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(4));
    const IDs& order = state.range(1) ? shuffled : ids;
    for (auto _ : state) {
        IDs vector;
        for (uint32_t id : order) {
            const auto position = std::lower_bound(vector.begin(), vector.end(), id);
            if (position == vector.end() || *position != id) vector.insert(position, id);
        }
        benchmark::DoNotOptimize(vector.size());
    }
}

}  // namespace

BENCHMARK(BM_Intersection2_ZEL)->Apply(twoWayArguments);
BENCHMARK(BM_Intersection2_Std)->Apply(twoWayArguments);
BENCHMARK(BM_Union2_ZEL)->Apply(twoWayArguments);
BENCHMARK(BM_Union2_Std)->Apply(twoWayArguments);
BENCHMARK(BM_Intersection8_ZEL)->Apply(manyWayArguments);
BENCHMARK(BM_Intersection8_Std)->Apply(manyWayArguments);
BENCHMARK(BM_Union8_ZEL)->Apply(manyWayArguments);
BENCHMARK(BM_Union8_Std)->Apply(manyWayArguments);
BENCHMARK(BM_AddIDs_ZEL)->ArgsProduct({{1000, 10000}, {0, 1}});
BENCHMARK(BM_AddIDs_Std)->ArgsProduct({{1000, 10000}, {0, 1}});

BENCHMARK_MAIN();
