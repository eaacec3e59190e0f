// Synchronous completion collection: prefix, result-set restriction, folding, merging across
// aspects, the limit and its surplus, checked on small fixed cases and against a brute-force
// reference on random databases.

#include <map>
#include <random>
#include <set>

#include "query/ZELQueryTestSupport.h"

using Strings = std::vector<std::string>;

using ZELCompletionCollectorTest = ZELQueryDatabaseTest;

TEST_F(ZELCompletionCollectorTest, EdgeCases) {
    for (const char* word : {"ra", "rb", "rc"}) addWords(word);
    bool surpassed = true;
    EXPECT_EQ(complete("r", {aspect(u"words")}, 0, &surpassed), (Strings{"ra", "rb", "rc"}));
    EXPECT_FALSE(surpassed) << "limit 0 means no limit";
    surpassed = true;
    EXPECT_TRUE(complete("r", {}, 10, &surpassed).empty());
    EXPECT_FALSE(surpassed) << "no aspects";
    auto empty = ZELItemResultSet::resultSetWithItemIDs(*ZELIDVector::vector(), db_);
    EXPECT_TRUE(complete("", {aspect(u"words")}, 10, nullptr, empty).empty());
    // The caller may hold the database lock.
    db_->accessLockedUsing([&] { EXPECT_EQ(complete("ra", {aspect(u"words")}), (Strings{"ra"})); });
    EXPECT_EQ(db_->lockCount(), 0u);
    auto words = aspect(u"words");
    db_->invalidate();
    EXPECT_TRUE(complete("r", {words}).empty());
}

TEST_F(ZELCompletionCollectorTest, CollectingTwiceMergesBothAnswers) {
    addWords("apple", "avocado");
    auto collector = ZELCompletionCollector::collector();
    collector->setLimitCompletionPrefix(u"A");
    EXPECT_EQ(*collector->limitCompletionNormalizedPrefix(), u"a");
    collector->addCompletionsInAspects({aspect(u"tags")});
    collector->addCompletionsInAspects({aspect(u"words")});
    EXPECT_EQ(utf8(collector->completionCanonicalStrings()), (Strings{"apple", "avocado"}));
}

// ---- Against a brute-force reference ----

namespace {

struct ReferenceTerm {
    std::string canonical;
    std::set<ZELID> items;
};
// Per aspect: normalized value -> term. The values are lower-case ASCII, whose sorted-list
// order is the byte order of std::map.
using ReferenceAspect = std::map<std::string, ReferenceTerm>;

bool isPrefixRelated(const std::string& a, const std::string& b) {
    return a.compare(0, b.size(), b) == 0 || b.compare(0, a.size(), a) == 0;
}

std::set<ZELID> within(const std::set<ZELID>& items, const std::set<ZELID>* limit) {
    if (!limit) return items;
    std::set<ZELID> kept;
    std::set_intersection(items.begin(), items.end(), limit->begin(), limit->end(),
                          std::inserter(kept, kept.end()));
    return kept;
}

// The folded values of one aspect in sorted-list order.
Strings referenceAspectAnswer(const ReferenceAspect& terms, const std::string& prefix,
                              const std::set<ZELID>* limit, int& foldCount) {
    struct Entry {
        std::string normalized;
        std::string canonical;
        std::set<ZELID> items;
    };
    std::vector<Entry> entries;
    for (const auto& [normalized, term] : terms) {
        if (normalized.compare(0, prefix.size(), prefix) != 0) continue;
        std::set<ZELID> items = within(term.items, limit);
        if (limit && items.empty()) continue;  // not a viable aspect bit of the result set
        if (!entries.empty() && isPrefixRelated(normalized, entries.back().normalized) &&
            items == entries.back().items) {
            ++foldCount;
            if (normalized.size() > entries.back().normalized.size()) {
                entries.back() = {normalized, term.canonical, items};
            }
            continue;
        }
        entries.push_back({normalized, term.canonical, items});
    }
    Strings answer;
    for (const Entry& entry : entries) answer.push_back(entry.canonical);
    return answer;
}

}  // namespace

TEST_F(ZELCompletionCollectorTest, RandomDatabasesMatchBruteForceReference) {
    std::mt19937 random(20240611);
    auto pick = [&](size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(random); };

    // Base words over a small alphabet (many prefix relations), each with an extension that
    // goes with it always (so that the two fold) or only sometimes.
    struct Family {
        std::string base;
        std::string extension;
        bool always;
    };
    std::vector<Family> families;
    std::set<std::string> used;
    while (families.size() < 40) {
        std::string base;
        const size_t length = 1 + pick(3);
        for (size_t index = 0; index < length; ++index) base += static_cast<char>('a' + pick(4));
        const std::string extension = base + static_cast<char>('a' + pick(4));
        if (used.count(base) || used.count(extension)) continue;
        used.insert(base);
        used.insert(extension);
        families.push_back({base, extension, pick(2) == 0});
    }
    // Some words are written with a capital, always the same way.
    auto written = [](const std::string& word) {
        std::string form = word;
        if (std::hash<std::string>()(word) % 3 == 0) form[0] = static_cast<char>(form[0] - 'a' + 'A');
        return form;
    };

    std::map<std::u16string, ReferenceAspect> reference;
    std::vector<ZELID> itemIDs;
    db_->beginItemChanges();
    for (int item = 0; item < 150; ++item) {
        std::string texts[2];
        std::vector<std::string> terms[2];
        for (int side = 0; side < 2; ++side) {
            const size_t count = side == 0 ? 1 + pick(3) : pick(3);
            for (size_t index = 0; index < count; ++index) {
                const Family& family = families[pick(families.size())];
                const bool useExtensionOnly = !family.always && pick(3) == 0;
                if (!useExtensionOnly) terms[side].push_back(family.base);
                if (family.always || useExtensionOnly || pick(2) == 0) terms[side].push_back(family.extension);
            }
            for (const std::string& term : terms[side]) texts[side] += written(term) + " ";
        }
        const ZELID id = addWords(texts[0], texts[1]);
        itemIDs.push_back(id);
        for (int side = 0; side < 2; ++side) {
            for (const std::string& term : terms[side]) {
                ReferenceTerm& entry = reference[side == 0 ? u"words" : u"tags"][term];
                entry.canonical = written(term);
                entry.items.insert(id);
            }
        }
    }
    db_->endItemChanges();

    int foldCount = 0, surplusCount = 0, nonEmptyCount = 0;
    const std::vector<std::string> prefixes = {"", "a", "b", "ab", "B", "cd", "dda", "abc"};
    for (int round = 0; round < 120; ++round) {
        const std::string prefix = prefixes[pick(prefixes.size())];
        const bool sorted = pick(5) != 0;
        std::vector<std::u16string> aspectOrder = {u"words", u"tags"};
        if (pick(2)) std::swap(aspectOrder[0], aspectOrder[1]);
        if (pick(3) == 0) aspectOrder.pop_back();
        const uint64_t limits[] = {ZELCompletionCollector::noLimit, 1, 3, 5, 10, 15, 40};
        const uint64_t limit = limits[pick(std::size(limits))];
        std::shared_ptr<ZELItemResultSet> resultSet;
        std::set<ZELID> resultIDs;
        if (pick(2)) {
            for (ZELID id : itemIDs) {
                if (pick(4) == 0) resultIDs.insert(id);
            }
            if (resultIDs.empty()) resultIDs.insert(itemIDs.front());
            resultSet = ZELItemResultSet::resultSetWithItemIDs(
                *vectorOf(std::vector<ZELID>(resultIDs.begin(), resultIDs.end())), db_);
        }

        // The reference: every aspect's folded values, merged.
        std::string normalizedPrefix = prefix;
        for (char& c : normalizedPrefix) c = static_cast<char>(std::tolower(c));
        const bool hasLimit = limit != ZELCompletionCollector::noLimit;
        Strings expected;
        for (const std::u16string& identifier : aspectOrder) {
            Strings answer = referenceAspectAnswer(reference[identifier], normalizedPrefix,
                                                   resultSet ? &resultIDs : nullptr, foldCount);
            // Without sorting, each aspect stops after one value more than the limit.
            if (!sorted && hasLimit && answer.size() > limit + 1) answer.resize(limit + 1);
            expected.insert(expected.end(), answer.begin(), answer.end());
        }
        auto compare = [](const std::string& a, const std::string& b) {
            return compareZELLocalizedCaseInsensitive(ZELStringFromUTF8(a), ZELStringFromUTF8(b));
        };
        if (sorted) {
            std::stable_sort(expected.begin(), expected.end(),
                             [&](const std::string& a, const std::string& b) { return compare(a, b) < 0; });
        }
        Strings merged;
        for (size_t index = 0; index < expected.size(); ++index) {
            const bool sameAsNext = index + 1 < expected.size() &&
                                    (sorted ? compare(expected[index], expected[index + 1]) == 0
                                            : expected[index] == expected[index + 1]);
            if (!sameAsNext) merged.push_back(expected[index]);
        }
        const bool expectedSurpassed = hasLimit && merged.size() > limit;
        if (expectedSurpassed) merged.resize(limit);

        auto collector = ZELCompletionCollector::collector();
        collector->setLimitCompletionPrefix(ZELStringFromUTF8(prefix));
        collector->setLimitCount(limit);
        collector->setLimitItemResultSet(resultSet);
        if (!sorted) collector->setCompletionSortSelector(nullptr);
        std::vector<std::shared_ptr<ZELAspect>> aspects;
        for (const std::u16string& identifier : aspectOrder) aspects.push_back(aspect(identifier.c_str()));
        collector->addCompletionsInAspects(aspects);

        const std::string context = "round " + std::to_string(round) + " prefix \"" + prefix +
                                    "\" limit " + std::to_string(limit) +
                                    (sorted ? "" : " unsorted") + (resultSet ? " within a result" : "") +
                                    " aspects " + std::to_string(aspects.size());
        ASSERT_EQ(utf8(collector->completionCanonicalStrings()), merged) << context;
        ASSERT_EQ(collector->limitSurpassed(), expectedSurpassed) << context;
        surplusCount += expectedSurpassed;
        nonEmptyCount += !merged.empty();
    }
    // The rounds did meet folding, surpluses and answers.
    EXPECT_GT(foldCount, 50);
    EXPECT_GT(surplusCount, 20);
    EXPECT_GT(nonEmptyCount, 80);
}
