// Query evaluation against a brute-force model, restricting and removing aspects, and the two
// builder maps.

#include <map>
#include <random>
#include <set>

#include "query/ZELQueryTestSupport.h"
#include "zel/database/ZELJoinedAspectSet.h"
#include "zel/idvector/ZELMutableIDVector.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/query/ZELGroupedMatchIDMap.h"
#include "zel/query/ZELJoinedAspectSetMatchMap.h"
#include "zel/query/ZELQuery_Empty.h"
#include "zel/query/ZELQuery_MatchIDs.h"
#include "zel/query/ZELQuery_Negation.h"
#include "zel/query/ZELQuery_SubQueries.h"

namespace {

using QueryList = ZELQuery::QueryList;

// A node that records whether it was evaluated; it matches everything it is offered.
class ZELProbeQuery : public ZELQuery {
public:
    ZELProbeQuery() : ZELQuery(ZELBooleanOperationAND) {}
    bool hasAnyCriteria() const override { return true; }
    std::shared_ptr<ZELIDVector> calculateMatchingItemIDVector(ZELDatabase& database,
                                                               const ZELIDVector* constraint) const override {
        wasEvaluated = true;
        return constraint ? constraint->copy() : database.allExistingItemIDs();
    }
    mutable bool wasEvaluated = false;
};

}  // namespace

class ZELQueryEvaluationTest : public ZELQueryDatabaseTest {
protected:
    std::vector<ZELID> evaluate(const std::shared_ptr<ZELQuery>& query) {
        return idsOf(db_->accessLockedUsing([&] { return query->calculateMatchingItemIDVector(*db_, nullptr); }));
    }
    std::shared_ptr<ZELQuery> term(const char16_t* aspectIdentifier, const std::string& value) {
        const ZELID id = idOf(aspectIdentifier, value);
        EXPECT_NE(id, 0u) << value;
        return ZELQuery::queryMatchingID(id);
    }
};

// ---- The differential test ----

// Random trees over a few hundred random items, evaluated by the engine and by a model that
// checks each item's terms directly.
class ZELQueryDifferentialTest : public ZELQueryEvaluationTest {
protected:
    void SetUp() override {
        ZELQueryEvaluationTest::SetUp();
        std::mt19937 random(20240611);
        std::map<ZELID, std::set<std::pair<const char16_t*, std::string>>> terms;
        for (int index = 0; index < 300; ++index) {
            std::string words, tags;
            std::set<std::pair<const char16_t*, std::string>> itemTerms;
            // Skewed draws, so that some terms are common and some rare.
            const int wordCount = 1 + static_cast<int>(random() % 5);
            for (int w = 0; w < wordCount; ++w) {
                const std::string word = "w" + std::to_string(std::min(random() % 24, random() % 24));
                words += word + " ";
                itemTerms.insert({u"words", word});
            }
            for (int t = 0, tagCount = static_cast<int>(random() % 3); t < tagCount; ++t) {
                const std::string tag = "t" + std::to_string(random() % 6);
                tags += tag + " ";
                itemTerms.insert({u"tags", tag});
            }
            terms[addItem("k" + std::to_string(index), words, tags)] = itemTerms;
        }
        // Some items go, so that "all existing items" is not simply 1..n.
        std::vector<ZELID> removed;
        for (const auto& [itemID, unused] : terms) {
            if (random() % 10 == 0) removed.push_back(itemID);
        }
        db_->removeItemsWithIDs(*vectorOf(removed));
        for (ZELID itemID : removed) terms.erase(itemID);

        for (const auto& [itemID, itemTerms] : terms) {
            std::set<ZELID> bits;
            for (const auto& [aspectIdentifier, value] : itemTerms) bits.insert(idOf(aspectIdentifier, value));
            itemBits_[itemID] = bits;
        }
        // (A term whose only items went has no aspect bit any more.)
        for (int w = 0; w < 24; ++w) {
            if (ZELID id = idOf(u"words", "w" + std::to_string(w))) termIDs_.push_back(id);
        }
        for (int t = 0; t < 6; ++t) {
            if (ZELID id = idOf(u"tags", "t" + std::to_string(t))) termIDs_.push_back(id);
        }
        ASSERT_EQ(idsOf(db_->allExistingItemIDs()).size(), itemBits_.size());
    }

    struct Tree {
        std::shared_ptr<ZELQuery> query;
        bool hasEmpty = false;
    };

    Tree randomTree(std::mt19937& random, int depth) {
        const unsigned choice = random() % 20;
        if (depth == 0 || choice < 6) {
            if (choice == 0) return {ZELQuery::emptyQuery(), true};
            std::vector<ZELID> chosen;
            for (unsigned n = 1 + random() % 3; n > 0; --n) chosen.push_back(termIDs_[random() % termIDs_.size()]);
            auto operation = random() % 2 ? ZELBooleanOperationOR : ZELBooleanOperationAND;
            return {ZELQuery::queryMatchingIDsInVector(vectorOf(chosen).get(), operation), false};
        }
        if (choice < 10) {
            Tree child = randomTree(random, depth - 1);
            return {ZELQuery::queryNegatingQuery(child.query), child.hasEmpty};
        }
        QueryList children;
        bool hasEmpty = false;
        for (unsigned n = 1 + random() % 4; n > 0; --n) {
            Tree child = randomTree(random, depth - 1);
            children.push_back(child.query);
            hasEmpty = hasEmpty || child.hasEmpty;
        }
        auto operation = random() % 2 ? ZELBooleanOperationOR : ZELBooleanOperationAND;
        // Both the merging factory and nodes built directly.
        if (random() % 2) return {ZELQuery::queryCombiningQueries(children, operation), hasEmpty};
        return {std::make_shared<ZELQuery_SubQueries>(children, operation), hasEmpty};
    }

    // The model: what the node means for one item.
    static bool matches(const ZELQuery& query, const std::set<ZELID>& bits) {
        if (auto ids = query.aspectBitIDs()) {
            const bool isAND = query.booleanOperation() == ZELBooleanOperationAND;
            bool all = true, any = false;
            ids->enumerateIDs([&](ZELID id, bool&) {
                const bool has = bits.count(id) != 0;
                all = all && has;
                any = any || has;
            });
            return isAND ? all : any;
        }
        if (const auto* negation = dynamic_cast<const ZELQuery_Negation*>(&query)) {
            return !matches(*negation->subquery(), bits);
        }
        const QueryList* children = query.subqueries();
        if (!children || children->empty()) return false;  // the empty query, or no children
        const bool isAND = query.booleanOperation() == ZELBooleanOperationAND;
        for (const auto& child : *children) {
            if (matches(*child, bits) != isAND) return !isAND;
        }
        return isAND;
    }
    std::vector<ZELID> bruteForce(const ZELQuery& query) {
        std::vector<ZELID> result;
        for (const auto& [itemID, bits] : itemBits_) {
            if (matches(query, bits)) result.push_back(itemID);
        }
        return result;
    }

    std::map<ZELID, std::set<ZELID>> itemBits_;
    std::vector<ZELID> termIDs_;
};

TEST_F(ZELQueryDifferentialTest, RandomTreesMatchTheModel) {
    std::mt19937 random(7);
    int nonEmptyAnswers = 0, roundTrips = 0;
    for (int round = 0; round < 300; ++round) {
        const Tree tree = randomTree(random, 1 + round % 4);
        const std::vector<ZELID> expected = bruteForce(*tree.query);
        nonEmptyAnswers += expected.empty() ? 0 : 1;

        ASSERT_EQ(evaluate(tree.query), expected) << tree.query->description();
        auto optimized = tree.query->queryByOptimizingOperations();
        ASSERT_EQ(evaluate(optimized), expected)
            << tree.query->description() << "\noptimized:\n" << optimized->description();

        // Trees without empty nodes survive the property-list form with their meaning.
        if (!tree.hasEmpty) {
            ZELError error;
            auto back = ZELQuery::queryWithPlistSerialization(tree.query->plistSerialization(db_.get()),
                                                              db_.get(), &error);
            ASSERT_TRUE(back) << error.description() << "\n" << tree.query->description();
            ASSERT_EQ(evaluate(back), expected) << tree.query->description();
            ++roundTrips;
        }
        // The result set holds the same IDs.
        ASSERT_EQ(idsOf(tree.query->resultSetInDatabase(db_)->itemIDs()), expected);
    }
    // The trees are not trivially empty, and most were written and read.
    EXPECT_GT(nonEmptyAnswers, 100);
    EXPECT_GT(roundTrips, 150);
}

// ---- Evaluation edge cases ----

// Empty queries and negations at any level are checked by the differential test.
TEST_F(ZELQueryEvaluationTest, NodesWithoutMeaningMatchNothing) {
    addItem("1", "apple");
    // A match node of another operation cannot be evaluated and counts as matching nothing.
    auto odd = ZELQuery::queryMatchingIDsInVector(term(u"words", "apple")->aspectBitIDs().get(),
                                                  ZELBooleanOperationNOT);
    EXPECT_TRUE(evaluate(odd).empty());
    EXPECT_TRUE(evaluate(std::make_shared<ZELQuery_SubQueries>(QueryList{}, ZELBooleanOperationOR)).empty());
}

TEST_F(ZELQueryEvaluationTest, ANDStopsAtTheFirstEmptyIntersection) {
    addItem("1", "apple");
    addItem("2", "pear");
    auto probe = std::make_shared<ZELProbeQuery>();
    auto query = std::make_shared<ZELQuery_SubQueries>(
        QueryList{term(u"words", "apple"), term(u"words", "pear"), probe}, ZELBooleanOperationAND);
    EXPECT_TRUE(evaluate(query).empty());
    EXPECT_FALSE(probe->wasEvaluated);
    // Under OR every child is evaluated.
    auto either = std::make_shared<ZELQuery_SubQueries>(QueryList{term(u"words", "apple"), probe},
                                                        ZELBooleanOperationOR);
    EXPECT_EQ(evaluate(either).size(), 2u);
    EXPECT_TRUE(probe->wasEvaluated);
}

// ---- Restricting and removing ----

TEST_F(ZELQueryEvaluationTest, RestrictingAndRemovingAspects) {
    addItem("1", "apple pear", "red");
    addItem("2", "plum", "blue");
    auto words = aspect(u"words");
    auto tags = aspect(u"tags");
    auto mixed = ZELQuery::queryMatchingIDsInVector(
        vectorOf({idOf(u"words", "apple"), idOf(u"words", "pear"), idOf(u"tags", "red")}).get(),
        ZELBooleanOperationOR);
    auto tree = ZELQuery::queryCombiningQueries(
        {mixed, ZELQuery::queryNegatingQuery(term(u"tags", "blue")), term(u"words", "plum")},
        ZELBooleanOperationAND);

    EXPECT_EQ(tree->queryByRestrictingConstraintsToAspects({}), tree);
    EXPECT_EQ(tree->queryByRemovingConstraintsForAspects({}), tree);
    EXPECT_EQ(tree->queryByRestrictingConstraintsToAspects({words, tags}), tree);
    EXPECT_EQ(mixed->queryByRemovingConstraintsForAspects({aspect(u"City")}), mixed);

    auto wordsOnly = tree->queryByRestrictingConstraintsToAspects({words});
    auto expected = std::make_shared<ZELQuery_SubQueries>(
        QueryList{ZELQuery::queryMatchingIDsInVector(
                      vectorOf({idOf(u"words", "apple"), idOf(u"words", "pear")}).get(), ZELBooleanOperationOR),
                  term(u"words", "plum")},
        ZELBooleanOperationAND);
    EXPECT_TRUE(wordsOnly->isEqual(expected)) << wordsOnly->description();
    EXPECT_EQ((*wordsOnly->subqueries())[0]->booleanOperation(), ZELBooleanOperationOR);

    auto withoutWords = tree->queryByRemovingConstraintsForAspects({words});
    ASSERT_TRUE(isKind<ZELQuery_SubQueries>(withoutWords));
    ASSERT_EQ(withoutWords->subqueries()->size(), 2u);
    EXPECT_TRUE((*withoutWords->subqueries())[0]->isEqual(term(u"tags", "red")));
    EXPECT_TRUE(isKind<ZELQuery_Negation>((*withoutWords->subqueries())[1]));

    // A single remaining child stays wrapped.
    auto tagsGone = withoutWords->queryByRemovingConstraintsForAspects({tags});
    EXPECT_TRUE(isKind<ZELQuery_Empty>(tagsGone));
    auto notBlue = ZELQuery::queryNegatingQuery(term(u"tags", "blue"));
    EXPECT_TRUE(isKind<ZELQuery_Empty>(notBlue->queryByRemovingConstraintsForAspects({tags})));
    EXPECT_EQ(notBlue->queryByRemovingConstraintsForAspects({words}), notBlue);
    auto wrapped = std::make_shared<ZELQuery_SubQueries>(QueryList{term(u"words", "plum"), notBlue},
                                                         ZELBooleanOperationOR);
    auto kept = wrapped->queryByRestrictingConstraintsToAspects({tags});
    ASSERT_TRUE(isKind<ZELQuery_SubQueries>(kept));
    EXPECT_EQ(kept->subqueries()->size(), 1u);
}

// ---- Builder maps ----

TEST_F(ZELQueryEvaluationTest, JoinedAspectSetMatchMapVisitsEveryCombination) {
    addItem("1", "x y", "z");
    auto words = aspect(u"words");
    auto tags = aspect(u"tags");
    auto joined = ZELJoinedAspectSet::setWithAspectIdentifiers({u"words", u"tags"});
    ZELJoinedAspectSetMatchMap map;
    map.addNormalizedTerm(u"x", words, joined.get());
    map.addNormalizedTerm(u"y", words, joined.get());
    map.addNormalizedTerm(u"x", words, joined.get());  // held once
    map.addNormalizedTerm(u"z", tags, joined.get());
    std::vector<std::string> visited;
    map.visitTermPermutationsUsing([&](const ZELJoinedAspectSetMatchMap::TermCombination& combination) {
        std::string text;
        for (const auto& [aspect, term] : combination) {
            text += ZELStringToUTF8(aspect->aspectIdentifier()) + "=" + ZELStringToUTF8(term) + " ";
        }
        visited.push_back(text);
    });
    EXPECT_EQ(visited, (std::vector<std::string>{"words=x tags=z ", "words=y tags=z "}));
    auto queries = map.generatedQueries();
    ASSERT_EQ(queries.size(), 2u);
    EXPECT_EQ(idsOf(queries[0]->aspectBitIDs()), idsOf(vectorOf({idOf(u"words", "x"), idOf(u"tags", "z")})));
    EXPECT_EQ(queries[0]->booleanOperation(), ZELBooleanOperationAND);

    // A term without an aspect bit in its aspect yields nothing for its combinations.
    ZELJoinedAspectSetMatchMap partial;
    partial.addNormalizedTerm(u"x", words, joined.get());
    partial.addNormalizedTerm(u"unknown", words, joined.get());
    partial.addNormalizedTerm(u"z", tags, joined.get());
    auto generated = partial.generatedQueries();
    ASSERT_EQ(generated.size(), 1u);
    EXPECT_TRUE(generated[0]->isEqual(queries[0]));

    // Three aspects' counters: the first turns fastest; every combination once.
    ZELJoinedAspectSetMatchMap three;
    auto other = ZELJoinedAspectSet::setWithAspectIdentifiers({u"a"});
    for (auto term : {u"1", u"2"}) three.addNormalizedTerm(term, words, other.get());
    for (auto term : {u"a", u"b", u"c"}) three.addNormalizedTerm(term, tags, other.get());
    std::vector<std::string> order;
    three.visitTermPermutationsUsing([&](const ZELJoinedAspectSetMatchMap::TermCombination& combination) {
        order.push_back(ZELStringToUTF8(combination[0].second + combination[1].second));
    });
    EXPECT_EQ(order, (std::vector<std::string>{"1a", "2a", "1b", "2b", "1c", "2c"}));
}

TEST(ZELGroupedMatchIDMap, UnitesByGroupInFirstAddedOrder) {
    ZELGroupedMatchIDMap map;
    int first = 0, second = 0, third = 0;
    map.addMatchIDs(*vectorOf({5, 9}), &second);
    map.addMatchIDs(*vectorOf({1}), &first);
    map.addMatchIDs(*vectorOf({2, 9}), &second);
    map.addMatchIDs(*vectorOf({}), &third);
    auto queries = map.queriesJoinedUsingOperator(ZELBooleanOperationOR);
    ASSERT_EQ(queries.size(), 3u);
    EXPECT_EQ(idsOf(queries[0]->aspectBitIDs()), (std::vector<ZELID>{2, 5, 9}));
    EXPECT_EQ(queries[0]->booleanOperation(), ZELBooleanOperationOR);
    EXPECT_EQ(queries[1]->aspectBitIDs()->count(), 1u);
    EXPECT_TRUE(isKind<ZELQuery_Empty>(queries[2]));
}
