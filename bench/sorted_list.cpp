// The sorted list at 10^6 keys next to a std::map<ZELString, ZELID> doing the same work in the
// same run: building by insertion in random order, exact lookups, and prefix enumerations of
// 10 keys. Both compare UTF-16 code units. The list holds only IDs and fetches key text from
// a vector owned by the benchmark (as an aspect fetches it from its value store); the map holds
// the strings. Compare the times of the SortedList and Map rows; the "bytes/key" counters give
// the heap each structure takes per key (for the list, on top of the key text its owner keeps
// anyway).

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "zel/platform/ZELString.h"
#include "zel/storage/ZELSortedList.h"

namespace {

constexpr uint64_t kKeyCount = 1000000;
constexpr uint64_t kPrefixRunLength = 10;

// The keys of every benchmark: 10^6 distinct random lower-case words of 5 to 12 letters. Key
// ID i (from 1) stands for keys[i - 1]; `insertionOrder` is a random permutation of the IDs.
struct Keys {
    std::vector<ZELString> keys;
    std::vector<ZELID> insertionOrder;
    std::vector<ZELString> prefixes;  // 3-letter prefixes of random keys

    Keys() {
        std::mt19937 random(1000003);
        std::vector<ZELString> words;
        words.reserve(kKeyCount + kKeyCount / 10);
        while (words.size() < kKeyCount + kKeyCount / 10) {
            ZELString word(5 + random() % 8, u'a');
            for (char16_t& unit : word) unit = static_cast<char16_t>(u'a' + random() % 26);
            words.push_back(std::move(word));
        }
        std::sort(words.begin(), words.end());
        words.erase(std::unique(words.begin(), words.end()), words.end());
        words.resize(kKeyCount);
        std::shuffle(words.begin(), words.end(), random);
        keys = std::move(words);

        insertionOrder.resize(kKeyCount);
        std::iota(insertionOrder.begin(), insertionOrder.end(), ZELID{1});
        std::shuffle(insertionOrder.begin(), insertionOrder.end(), random);

        for (int index = 0; index < 4096; ++index) {
            prefixes.push_back(keys[random() % kKeyCount].substr(0, 3));
        }
    }

    const ZELString& keyForID(ZELID keyID) const { return keys[keyID - 1]; }
};

const Keys& sharedKeys() {
    static const Keys keys;
    return keys;
}

int compareUnits(const ZELString& a, const ZELString& b) {
    const int order = a.compare(b);
    return (order > 0) - (order < 0);
}

bool hasPrefix(const ZELString& key, const ZELString& prefix) { return key.starts_with(prefix); }

std::shared_ptr<ZELSortedList> newList(const Keys& keys) {
    // Every key is in memory: the loader lends it whether or not it is asked to load.
    auto list = ZELSortedList::listWithBaseURL(
        "/nonexistent/bench", [&keys](ZELID keyID, bool) {
            return ZELSortedListKey(std::shared_ptr<void>(), &keys.keyForID(keyID));
        });
    list->setKeyCompareSelector(compareUnits, hasPrefix);
    return list;
}

uint64_t heapBytesInUse() { return mallinfo2().uordblks; }

std::shared_ptr<ZELSortedList> buildList(const Keys& keys) {
    auto list = newList(keys);
    for (const ZELID keyID : keys.insertionOrder) list->assignID(keyID, keys.keyForID(keyID));
    return list;
}

std::map<ZELString, ZELID> buildMap(const Keys& keys) {
    std::map<ZELString, ZELID> map;
    for (const ZELID keyID : keys.insertionOrder) map.emplace(keys.keyForID(keyID), keyID);
    return map;
}

const ZELSortedList& sharedList() {
    static const std::shared_ptr<ZELSortedList> list = buildList(sharedKeys());
    return *list;
}

const std::map<ZELString, ZELID>& sharedMap() {
    static const std::map<ZELString, ZELID> map = buildMap(sharedKeys());
    return map;
}

void BM_SortedList_InsertRandomOrder(benchmark::State& state) {
    const Keys& keys = sharedKeys();
    for (auto _ : state) {
        const uint64_t before = heapBytesInUse();
        auto list = buildList(keys);
        state.counters["bytes/key"] =
            static_cast<double>(heapBytesInUse() - before) / static_cast<double>(kKeyCount);
        state.counters["slices"] = static_cast<double>(list->sliceCount());
        benchmark::DoNotOptimize(list->count());
        state.PauseTiming();
        list.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kKeyCount));
}
BENCHMARK(BM_SortedList_InsertRandomOrder)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_Map_InsertRandomOrder(benchmark::State& state) {
    const Keys& keys = sharedKeys();
    for (auto _ : state) {
        const uint64_t before = heapBytesInUse();
        auto map = buildMap(keys);
        state.counters["bytes/key"] =
            static_cast<double>(heapBytesInUse() - before) / static_cast<double>(kKeyCount);
        benchmark::DoNotOptimize(map.size());
        state.PauseTiming();
        map.clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kKeyCount));
}
BENCHMARK(BM_Map_InsertRandomOrder)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_SortedList_Lookup(benchmark::State& state) {
    const Keys& keys = sharedKeys();
    const ZELSortedList& list = sharedList();
    uint64_t index = 0;
    for (auto _ : state) {
        const ZELID keyID = keys.insertionOrder[index++ % kKeyCount];
        benchmark::DoNotOptimize(list.assignedIDForKey(keys.keyForID(keyID)));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SortedList_Lookup);

void BM_Map_Lookup(benchmark::State& state) {
    const Keys& keys = sharedKeys();
    const auto& map = sharedMap();
    uint64_t index = 0;
    for (auto _ : state) {
        const ZELID keyID = keys.insertionOrder[index++ % kKeyCount];
        benchmark::DoNotOptimize(map.find(keys.keyForID(keyID))->second);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Map_Lookup);

void BM_SortedList_PrefixRunOf10(benchmark::State& state) {
    const Keys& keys = sharedKeys();
    const ZELSortedList& list = sharedList();
    uint64_t index = 0;
    for (auto _ : state) {
        const ZELString& prefix = keys.prefixes[index++ % keys.prefixes.size()];
        uint64_t visited = 0;
        list.enumerateWithKeyPrefix(prefix, [&](ZELID keyID, const ZELString&, bool& stop) {
            benchmark::DoNotOptimize(keyID);
            stop = ++visited == kPrefixRunLength;
        });
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SortedList_PrefixRunOf10);

void BM_Map_PrefixRunOf10(benchmark::State& state) {
    const Keys& keys = sharedKeys();
    const auto& map = sharedMap();
    uint64_t index = 0;
    for (auto _ : state) {
        const ZELString& prefix = keys.prefixes[index++ % keys.prefixes.size()];
        uint64_t visited = 0;
        for (auto entry = map.lower_bound(prefix);
             entry != map.end() && visited < kPrefixRunLength && entry->first.starts_with(prefix);
             ++entry, ++visited) {
            benchmark::DoNotOptimize(entry->second);
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Map_PrefixRunOf10);

}  // namespace

BENCHMARK_MAIN();
