#include <algorithm>
#include <random>

#include "ZELUserQueryTestSupport.h"
#include "zel/database/ZELSynonymList.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/query/ZELQuery_Negation.h"
#include "zel/userquery/ZELUserQuery.h"

namespace {

using Group = std::shared_ptr<ZELAspectTokenFieldGroup>;

std::vector<ZELString> strings(std::initializer_list<const char*> texts) {
    std::vector<ZELString> result;
    for (const char* text : texts) result.push_back(ZELStringFromUTF8(text));
    return result;
}

class UserQueryTest : public ZELUserQueryDatabaseTest {
protected:
    Group group(std::initializer_list<const char*> aspects, const char* label = nullptr) {
        ZELAspectTokenFieldGroup::AspectList list;
        for (const char* name : aspects) list.push_back(aspect(name));
        return ZELAspectTokenFieldGroup::groupWithAspects(
            list, label ? std::optional<ZELString>(ZELStringFromUTF8(label)) : std::nullopt);
    }
    std::shared_ptr<ZELUserCriteria> criteria(std::initializer_list<const char*> terms,
                                              std::vector<Group> groups, bool negated = false) {
        auto made = ZELUserCriteria::criteria();
        made->setSearchTerms(strings(terms));
        made->setAspectGroups(groups);
        made->setIsNegate(negated);
        return made;
    }
    std::shared_ptr<ZELQuery> generate(std::vector<std::shared_ptr<ZELUserCriteria>> criterias) {
        ZELUserQuery query;
        query.setUserCriterias(std::move(criterias));
        return query.generatedQueryForDatabase(*db_);
    }
    void addSampleItems() {
        addItem({{"title", "alpha beta"}, {"body", "gamma"}, {"tag", "red"}, {"first", "john"}, {"last", "smith"}});
        addItem({{"title", "beta"}, {"body", "alpha delta"}, {"tag", "blue"}, {"label", "red"}, {"first", "jane"}, {"last", "smith"}});
        addItem({{"title", "gamma"}, {"tag", "red green"}, {"first", "smith"}, {"last", "john"}});
        addItem({{"body", "beta"}, {"label", "green"}, {"first", "john"}, {"last", "doe"}});
    }
};

// ---- Generation on the documented cases ----

TEST_F(UserQueryTest, TermsOfOneCriteriaInAndAspectsAreJoinedByOr) {
    addSampleItems();
    auto query = generate({criteria({"alpha", "beta"}, {group({"title", "body"})})});
    ASSERT_TRUE(query);
    auto expected = orOf({idOf("title", "alpha"), idOf("title", "beta"), idOf("body", "alpha"),
                          idOf("body", "beta")});
    EXPECT_TRUE(query->isEqual(expected)) << query->description();
    EXPECT_EQ(query->booleanOperation(), ZELBooleanOperationOR);
    EXPECT_EQ(evaluate(query), (std::set<ZELID>{1, 2, 4}));
}

TEST_F(UserQueryTest, CriteriaOfOneOrGroupAreJoinedByOrAndAndAspectsByAnd) {
    addSampleItems();
    // Two one-term criteria in the same group of OR-aspects: one OR node over both.
    auto tags = group({"tag", "label"});
    auto query = generate({criteria({"red"}, {tags}), criteria({"blue"}, {tags})});
    ASSERT_TRUE(query);
    EXPECT_TRUE(query->isEqual(orOf({idOf("tag", "red"), idOf("label", "red"), idOf("tag", "blue")})));
    EXPECT_EQ(query->booleanOperation(), ZELBooleanOperationOR);
    EXPECT_EQ(evaluate(query), (std::set<ZELID>{1, 2, 3}));

    // Groups are told apart by identity: an equal but distinct group joins by AND.
    query = generate({criteria({"red"}, {tags}), criteria({"blue"}, {group({"tag", "label"})})});
    ASSERT_TRUE(query);
    EXPECT_EQ(query->booleanOperation(), ZELBooleanOperationAND);
    EXPECT_EQ(evaluate(query), (std::set<ZELID>{2}));

    // In an AND-aspect: AND of the two single-term queries, merged into one AND match node.
    auto titles = group({"title"});
    query = generate({criteria({"alpha"}, {titles}), criteria({"beta"}, {titles})});
    ASSERT_TRUE(query);
    EXPECT_TRUE(query->isEqual(andOf({idOf("title", "alpha"), idOf("title", "beta")})));
    EXPECT_EQ(query->booleanOperation(), ZELBooleanOperationAND);
    EXPECT_EQ(evaluate(query), (std::set<ZELID>{1}));
}

TEST_F(UserQueryTest, NegatedCriteriaComesLastAsNotOverItsBits) {
    addSampleItems();
    auto query = generate({criteria({"alpha", "gamma"}, {group({"title", "body"})}, true),
                           criteria({"smith"}, {group({"last"})})});
    ASSERT_TRUE(query);
    ASSERT_TRUE(query->subqueries());
    ASSERT_EQ(query->subqueries()->size(), 2u);
    auto negation = query->subqueries()->back();
    ASSERT_TRUE(dynamic_cast<ZELQuery_Negation*>(negation.get()));
    EXPECT_TRUE(negation->subqueries()->front()->isEqual(
        orOf({idOf("title", "alpha"), idOf("title", "gamma"), idOf("body", "alpha"),
              idOf("body", "gamma")})));
    EXPECT_EQ(negation->subqueries()->front()->booleanOperation(), ZELBooleanOperationOR);
    // Items 1 and 2 carry smith in last; both carry alpha or gamma.
    EXPECT_EQ(evaluate(query), (std::set<ZELID>{}));

    // A negation alone excludes from every item.
    query = generate({criteria({"red"}, {group({"tag"})}, true)});
    EXPECT_EQ(evaluate(query), (std::set<ZELID>{2, 4}));
}

TEST_F(UserQueryTest, JoinedAspectsAreMatchedAsCombinations) {
    addSampleItems();
    auto names = group({"first", "last"});
    auto query = generate({criteria({"john", "smith"}, {names})});
    ASSERT_TRUE(query);
    // Combinations whose term is missing in its aspect (first=smith exists, last=john exists,
    // every pairing present) are each an AND of both bits, joined by OR.
    ZELQuery::QueryList combinations;
    for (auto [first, last] : {std::pair{"john", "john"}, std::pair{"smith", "john"},
                               std::pair{"john", "smith"}, std::pair{"smith", "smith"}}) {
        combinations.push_back(andOf({idOf("first", first), idOf("last", last)}));
    }
    auto expected = ZELQuery::queryCombiningQueries(combinations, ZELBooleanOperationOR);
    EXPECT_TRUE(query->isEqual(expected)) << query->description();
    // Item 1: john smith; item 3: smith john.
    EXPECT_EQ(evaluate(query), (std::set<ZELID>{1, 3}));

    // A term missing in one aspect leaves its combinations out.
    query = generate({criteria({"jane", "doe"}, {names})});
    ASSERT_TRUE(query);
    EXPECT_TRUE(query->isEqual(andOf({idOf("first", "jane"), idOf("last", "doe")})));
    EXPECT_EQ(evaluate(query), (std::set<ZELID>{}));
}

TEST_F(UserQueryTest, NothingToSearchGeneratesNone) {
    addSampleItems();
    EXPECT_FALSE(generate({}));
    EXPECT_FALSE(generate({criteria({"nowhere", "never"}, {group({"title", "tag", "first"})})}));
    EXPECT_FALSE(generate({criteria({"alpha"}, {})}));
}

TEST_F(UserQueryTest, TermsAreNormalizedBeforeLookUp) {
    addSampleItems();
    auto query = generate({criteria({"ALPHA"}, {group({"title"})})});
    EXPECT_EQ(evaluate(query), (std::set<ZELID>{1}));
}

// ---- Generation against a brute-force reading of the rules ----

// The rules, read over item contents: criteria match items carrying any of their terms in
// any chosen aspect (terms no aspect knows are passed over); criteria are joined by AND
// except those whose terms fall only into OR-aspects of one and the same group, which are
// joined by OR with each other; OR-aspects of a joined set are matched as combinations of one
// term per aspect; negated criteria exclude last.
class BruteForce {
public:
    BruteForce(const std::vector<std::map<std::string, std::set<ZELString>>>& items) : items_(items) {}

    std::set<ZELID> carriers(const std::string& aspect, const ZELString& term) const {
        std::set<ZELID> result;
        for (size_t i = 0; i < items_.size(); ++i) {
            auto found = items_[i].find(aspect);
            if (found != items_[i].end() && found->second.count(term)) result.insert(ZELID(i + 1));
        }
        return result;
    }

    // nullopt: no query.
    std::optional<std::set<ZELID>> evaluate(const ZELUserQuery& query) const {
        std::vector<std::set<ZELID>> conjuncts;
        std::vector<std::pair<const void*, std::set<ZELID>>> groups;
        std::map<std::string, std::set<ZELString>> joined;  // first / last -> terms
        std::vector<std::string> joinedOrder;
        std::set<ZELID> negated;
        bool hasNegated = false;
        for (const auto& criteria : query.userCriterias()) {
            std::set<ZELID> plain, grouped;
            bool hasPlain = false, hasGrouped = false, single = true;
            const void* current = nullptr;
            for (const ZELString& value : criteria->searchTerms()) {
                const ZELString term = ZELNormalizedCaseInsensitiveComparisonString(value);
                for (const auto& group : criteria->chosenAspectGroups()) {
                    for (const auto& aspect : group->aspects()) {
                        const std::string name = ZELStringToUTF8(aspect->aspectIdentifier());
                        const bool isOR = name != "title" && name != "body";
                        if (!criteria->isNegate() && (name == "first" || name == "last")) {
                            if (!joined.count(name)) joinedOrder.push_back(name);
                            joined[name].insert(term);
                            continue;
                        }
                        auto items = carriers(name, term);
                        if (items.empty()) continue;
                        if (criteria->isNegate()) {
                            negated.insert(items.begin(), items.end());
                            hasNegated = true;
                            single = false;
                        } else if (!isOR) {
                            plain.insert(items.begin(), items.end());
                            hasPlain = true;
                            single = false;
                        } else {
                            if (current && current != group.get()) single = false;
                            else current = group.get();
                            grouped.insert(items.begin(), items.end());
                            hasGrouped = true;
                        }
                    }
                }
            }
            if (single && current) {
                auto found = std::find_if(groups.begin(), groups.end(),
                                          [&](const auto& pair) { return pair.first == current; });
                if (found == groups.end()) groups.push_back({current, grouped});
                else found->second.insert(grouped.begin(), grouped.end());
            } else if (hasPlain || hasGrouped) {
                plain.insert(grouped.begin(), grouped.end());
                conjuncts.push_back(plain);
            }
        }
        for (const auto& [key, items] : groups) conjuncts.push_back(items);
        std::set<ZELID> combinations;
        bool hasCombination = false;
        if (!joinedOrder.empty()) {
            // Every pairing (or single terms, when only one aspect got terms).
            std::vector<std::vector<ZELString>> lists;
            for (const auto& name : joinedOrder) lists.emplace_back(joined[name].begin(), joined[name].end());
            std::vector<size_t> counters(lists.size(), 0);
            for (;;) {
                std::set<ZELID> items;
                bool known = true;
                for (size_t i = 0; i < lists.size(); ++i) {
                    auto carrying = carriers(joinedOrder[i], lists[i][counters[i]]);
                    if (carrying.empty()) known = false;
                    if (i == 0) {
                        items = carrying;
                    } else {
                        std::set<ZELID> both;
                        std::set_intersection(items.begin(), items.end(), carrying.begin(),
                                              carrying.end(), std::inserter(both, both.end()));
                        items = both;
                    }
                }
                if (known) {
                    hasCombination = true;
                    combinations.insert(items.begin(), items.end());
                }
                size_t i = 0;
                while (i < lists.size() && counters[i] + 1 >= lists[i].size()) ++i;
                if (i == lists.size()) break;
                ++counters[i];
                std::fill(counters.begin(), counters.begin() + static_cast<ptrdiff_t>(i), 0);
            }
        }
        if (hasCombination) conjuncts.push_back(combinations);
        if (hasNegated) {
            std::set<ZELID> rest;
            for (ZELID id = 1; id <= items_.size(); ++id) {
                if (!negated.count(id)) rest.insert(id);
            }
            conjuncts.push_back(rest);
        }
        if (conjuncts.empty()) return std::nullopt;
        std::set<ZELID> result = conjuncts.front();
        for (size_t i = 1; i < conjuncts.size(); ++i) {
            std::set<ZELID> both;
            std::set_intersection(result.begin(), result.end(), conjuncts[i].begin(),
                                  conjuncts[i].end(), std::inserter(both, both.end()));
            result = both;
        }
        return result;
    }

private:
    const std::vector<std::map<std::string, std::set<ZELString>>>& items_;
};

TEST_F(UserQueryTest, RandomQueriesMatchTheBruteForceReading) {
    std::mt19937 random(20240611);
    const std::vector<std::string> words = {"ash", "birch", "cedar", "Elm", "fir", "oak"};
    std::vector<std::map<std::string, std::set<ZELString>>> contents;
    for (int item = 0; item < 40; ++item) {
        std::map<std::string, std::string> values;
        std::map<std::string, std::set<ZELString>> normalized;
        for (const std::string& name : ZELUserQueryTestAspectNames()) {
            std::string text;
            for (const std::string& word : words) {
                if (random() % 4 == 0) {
                    text += word + " ";
                    normalized[name].insert(ZELNormalizedCaseInsensitiveComparisonString(ZELStringFromUTF8(word)));
                }
            }
            values[name] = text;
        }
        addItem(values);
        contents.push_back(normalized);
    }
    const std::vector<Group> groups = {group({"title", "body"}), group({"tag"}), group({"tag", "label"}),
                                       group({"first", "last"}), group({"label", "first"})};
    BruteForce model(contents);
    int generated = 0;
    for (int round = 0; round < 300; ++round) {
        ZELUserQuery query;
        ZELUserQuery::CriteriaList criterias;
        const int count = 1 + static_cast<int>(random() % 3);
        for (int c = 0; c < count; ++c) {
            auto made = ZELUserCriteria::criteria();
            std::vector<ZELString> terms;
            for (int t = 0, n = 1 + static_cast<int>(random() % 2); t < n; ++t) {
                // One time in eight a term that no aspect knows.
                terms.push_back(random() % 8 == 0 ? ZELString(u"zzz")
                                                  : ZELStringFromUTF8(words[random() % words.size()]));
            }
            made->setSearchTerms(terms);
            std::vector<Group> chosen = {groups[random() % groups.size()]};
            if (random() % 3 == 0) chosen.push_back(groups[random() % groups.size()]);
            if (chosen.size() == 2 && chosen[0] == chosen[1]) chosen.pop_back();
            made->setAspectGroups(chosen);
            made->setIsNegate(random() % 5 == 0);
            criterias.push_back(made);
        }
        query.setUserCriterias(criterias);
        auto expected = model.evaluate(query);
        auto generatedQuery = query.generatedQueryForDatabase(*db_);
        ASSERT_EQ(expected.has_value(), generatedQuery != nullptr) << ZELStringToUTF8(query.stringRepresentation());
        if (!expected) continue;
        ++generated;
        EXPECT_EQ(evaluate(generatedQuery), *expected)
            << "round " << round << ": " << ZELStringToUTF8(query.stringRepresentation()) << "\n"
            << generatedQuery->descriptionWithDatabase(db_.get(), ZELQueryDescriptionTypeDebug);
    }
    EXPECT_GT(generated, 200);
}

// ---- Synonyms ----

TEST_F(UserQueryTest, SynonymsExpandToTheirValues) {
    addSampleItems();
    db_->synonymList()->addSynonym(u"colour", {u"red", u"blue"});
    auto made = criteria({"colour", "green"}, {group({"tag", "label"})});
    EXPECT_EQ(made->aspectBitValues(), strings({"red", "blue", "green"}));
    EXPECT_EQ(generate({made})->isEqual(orOf({idOf("tag", "red"), idOf("label", "red"),
                                              idOf("tag", "blue"), idOf("tag", "green"),
                                              idOf("label", "green")})),
              true);

    // The expansion is cached until the terms are set again.
    db_->synonymList()->removeSynonym(u"colour");
    EXPECT_EQ(made->aspectBitValues().size(), 3u);
    made->setSearchTerms(strings({"colour"}));
    EXPECT_EQ(made->aspectBitValues(), strings({"colour"}));

    // No group, or a group without aspects: no synonym list, every term stands for itself.
    auto bare = ZELUserCriteria::criteria();
    bare->setSearchTerms(strings({"colour"}));
    EXPECT_FALSE(bare->synonymList());
    bare->setAspectGroups({ZELAspectTokenFieldGroup::groupWithAspects({})});
    EXPECT_FALSE(bare->synonymList());
    EXPECT_EQ(bare->aspectBitValues(), strings({"colour"}));
}

// ---- Equality and copies ----

TEST_F(UserQueryTest, EqualityComparesTermsNegationAndChosenAspects) {
    auto a = criteria({"x", "y"}, {group({"title", "body"})});
    auto b = criteria({"x", "y"}, {group({"body"}), group({"title", "body"}, "Both")});
    b->setSearchTerms(strings({"x", "y"}), strings({"X!", "Y!"}));
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_FALSE(a->isEqual(*criteria({"y", "x"}, {group({"title", "body"})})));
    EXPECT_FALSE(a->isEqual(*criteria({"x", "y"}, {group({"title"})})));
    EXPECT_FALSE(a->isEqual(*criteria({"x", "y"}, {group({"title", "body"})}, true)));

    auto copy = b->copy();
    EXPECT_NE(copy.get(), b.get());
    EXPECT_TRUE(copy->isEqual(*b));
    EXPECT_EQ(copy->displaySearchTerms(), b->displaySearchTerms());
    EXPECT_EQ(copy->chosenAspectGroups(), b->chosenAspectGroups());

    ZELUserQuery first, second;
    first.setUserCriterias({a, criteria({"z"}, {group({"tag"})})});
    second.setUserCriterias({criteria({"z"}, {group({"tag"})}), b});
    EXPECT_TRUE(first.isEqual(second));
    // Pairing is one to one: [a, a] does not equal [a, z].
    ZELUserQuery twice;
    twice.setUserCriterias({a, a});
    EXPECT_FALSE(twice.isEqual(first));
    ZELUserQuery shorter;
    shorter.setUserCriterias({a});
    EXPECT_FALSE(shorter.isEqual(first));
}

TEST_F(UserQueryTest, MatchValuesAddOneCriteriaEach) {
    ZELUserQuery query;
    EXPECT_TRUE(query.isEmpty());
    query.addMatchValue(u"", aspect("title"));
    query.addMatchValue(u"oak", std::vector<std::shared_ptr<ZELAspect>>{});
    EXPECT_TRUE(query.isEmpty());
    query.addMatchValue(u"oak", aspect("title"));
    query.addMatchValue(u"ash", {aspect("tag"), aspect("label")});
    ASSERT_EQ(query.userCriterias().size(), 2u);
    EXPECT_TRUE(query.hasMatchValue(u"oak", *aspect("title")));
    EXPECT_TRUE(query.hasMatchValue(std::nullopt, *aspect("label")));
    EXPECT_FALSE(query.hasMatchValue(u"ash", *aspect("title")));
    EXPECT_FALSE(query.hasMatchValue(std::nullopt, *aspect("body")));
}

// ---- Titles and text forms ----

using Style = ZELStyledTitle::Style;

TEST_F(UserQueryTest, TitlesAreStyledRuns) {
    auto plain = criteria({"oak", "ash"}, {group({"title"})});
    EXPECT_EQ(plain->displayTitle().runs(),
              (std::vector<ZELStyledTitle::Run>{{u"oak", Style::Term}, {u" OR ", Style::Operator},
                                                {u"ash", Style::Term}}));
    EXPECT_EQ(plain->displayTitleWithTransitory(true).plainText(), u"oak OR ash OR ");

    // Negated with two terms: parentheses; the group prefix after NOT when fewer groups are
    // chosen than possible.
    auto people = group({"first", "last"}, "People");
    auto words = group({"title", "body"});
    auto negated = criteria({"oak", "ash"}, {people, words}, true);
    negated->setChosenAspectGroups({people, words});
    negated->setPossibleAspectGroups({people, words, group({"tag"}, "Tags")});
    EXPECT_EQ(negated->displayTitle().runs(),
              (std::vector<ZELStyledTitle::Run>{{u"NOT(", Style::Operator},
                                                {u" People/?: oak", Style::Term},
                                                {u" OR ", Style::Operator},
                                                {u"ash ", Style::Term},
                                                {u")", Style::Operator}}));
    // One negated term: "NOT" without parentheses.
    EXPECT_EQ(criteria({"oak"}, {words}, true)->displayTitle().plainText(), u"NOT oak");

    // No chosen group while some are possible: "Disabled: ".
    auto disabled = criteria({"oak"}, {words});
    disabled->setChosenAspectGroups({});
    EXPECT_EQ(disabled->displayTitle().runs(),
              (std::vector<ZELStyledTitle::Run>{{u"Disabled: ", Style::Operator}, {u"oak", Style::Term}}));

    // An aspect that shows its label brings the prefix; display terms replace search terms.
    aspect("tag")->setIsShowBitValueLabel(true);
    auto labelled = criteria({"oak"}, {group({"tag"}, "Tags")});
    labelled->setSearchTerms(strings({"oak"}), strings({"Oak tree"}));
    EXPECT_EQ(labelled->displayTitle().plainText(), u"Tags: Oak tree");
    EXPECT_EQ(labelled->description().substr(labelled->description().find(' ')), " \"Tags: Oak tree\"");

    // The fonts as data for the widget layer.
    EXPECT_EQ(ZELStyledTitle::fontChoices(Style::Operator),
              (std::vector<ZELStyledTitle::Font>{{"Monaco", 9.0}, {"Courier", 10.0}, {"", 9.0}}));
    EXPECT_EQ(ZELStyledTitle::colour(Style::Operator), (ZELStyledTitle::Colour{1.0, 1.0, 0.4, 1.0}));
    EXPECT_EQ(ZELStyledTitle::fontChoices(Style::Term), (std::vector<ZELStyledTitle::Font>{{"", 13.0}}));
}

TEST_F(UserQueryTest, StringRepresentationJoinsTitlesByAnd) {
    ZELUserQuery query;
    EXPECT_EQ(query.stringRepresentation(), u"{Empty Query}");
    auto words = group({"title"});
    query.setUserCriterias({criteria({"oak", "ash"}, {words})});
    EXPECT_EQ(query.stringRepresentation(), u"oak OR ash");
    query.setUserCriterias({criteria({"oak", "ash"}, {words}), criteria({"elm"}, {words}),
                            criteria({"fir", "yew"}, {words})});
    EXPECT_EQ(query.stringRepresentation(), u"(oak OR ash) AND elm AND (fir OR yew)");
    // A no-break space counts as whitespace.
    query.setUserCriterias({criteria({"a\u00a0b"}, {words}), criteria({"c"}, {words})});
    EXPECT_EQ(query.stringRepresentation(), u"(a\u00a0b) AND c");
    EXPECT_EQ(query.description().substr(query.description().find('>')), ">: (a\u00a0b) AND c");
}

// ---- Property lists ----

TEST_F(UserQueryTest, CriteriaPropertyListsRoundTrip) {
    auto made = criteria({"oak", "Ash"}, {group({"title", "body"}), group({"body", "first"})}, true);
    ZELValue plist = made->plistSerialization();
    ZELValue::Dictionary expected;
    expected[u"SearchTerms"] = ZELValue::Array{ZELValue(u"oak"), ZELValue(u"Ash")};
    // Sorted, each once, whatever the group order.
    expected[u"AspectIdentifiers"] = ZELValue::Array{ZELValue(u"body"), ZELValue(u"first"), ZELValue(u"title")};
    expected[u"BooleanOperation"] = ZELValue(u"OR");
    expected[u"IsNegated"] = ZELValue(true);
    expected[u"AspectGroups"] = ZELValue::Array{ZELValue::Array{ZELValue(u"title"), ZELValue(u"body")},
                                                ZELValue::Array{ZELValue(u"body"), ZELValue(u"first")}};
    EXPECT_EQ(plist, ZELValue(expected));

    ZELError error;
    auto read = ZELUserCriteria::criteriaWithPlistSerialization(plist, *db_, &error);
    ASSERT_TRUE(read) << error.description();
    EXPECT_TRUE(read->isEqual(*made));
    ASSERT_EQ(read->chosenAspectGroups().size(), 2u);
    EXPECT_FALSE(read->chosenAspectGroups()[0]->label());
    EXPECT_EQ(read->allAspectGroups(), read->chosenAspectGroups());
    EXPECT_EQ(read->possibleAspectGroups(), read->chosenAspectGroups());
    EXPECT_FALSE(read->displaySearchTerms());

    // "IsNegated" absent reads as not negated; "BooleanOperation" is not read.
    expected.erase(u"IsNegated");
    expected[u"BooleanOperation"] = ZELValue(u"AND");
    read = ZELUserCriteria::criteriaWithPlistSerialization(ZELValue(expected), *db_, &error);
    ASSERT_TRUE(read);
    EXPECT_FALSE(read->isNegate());
}

TEST_F(UserQueryTest, CriteriaPropertyListFailuresHaveTheirMessages) {
    ZELError error;
    EXPECT_FALSE(ZELUserCriteria::criteriaWithPlistSerialization(ZELValue(u"x"), *db_, &error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeInvalidData));
    EXPECT_EQ(error.failureReason(), "ZELUserCriteria plist should be a dictionary.");

    ZELValue::Dictionary dictionary;
    dictionary[u"AspectIdentifiers"] = ZELValue::Array{ZELValue(u"title")};
    error = ZELError();
    EXPECT_FALSE(ZELUserCriteria::criteriaWithPlistSerialization(ZELValue(dictionary), *db_, &error));
    EXPECT_TRUE(error.isError());
    EXPECT_NE(error.failureReason().find("SearchTerms"), std::string::npos) << error.failureReason();

    dictionary[u"SearchTerms"] = ZELValue(u"oak");  // not an array
    error = ZELError();
    EXPECT_FALSE(ZELUserCriteria::criteriaWithPlistSerialization(ZELValue(dictionary), *db_, &error));
    EXPECT_NE(error.failureReason().find("SearchTerms"), std::string::npos);

    dictionary[u"SearchTerms"] = ZELValue::Array{ZELValue(u"oak")};
    dictionary.erase(u"AspectIdentifiers");
    error = ZELError();
    EXPECT_FALSE(ZELUserCriteria::criteriaWithPlistSerialization(ZELValue(dictionary), *db_, &error));
    EXPECT_NE(error.failureReason().find("AspectIdentifiers"), std::string::npos);

    dictionary[u"AspectIdentifiers"] = ZELValue::Array{ZELValue(u"title"), ZELValue(u"colour")};
    error = ZELError();
    EXPECT_FALSE(ZELUserCriteria::criteriaWithPlistSerialization(ZELValue(dictionary), *db_, &error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeInvalidData));
    EXPECT_EQ(error.failureReason(),
              "The aspect \"colour\" is unknown, and cannot be used for search criteria.");

    // A failed read leaves the criteria as it was.
    auto kept = criteria({"elm"}, {group({"tag"})});
    EXPECT_FALSE(kept->setPlistRepresentation(ZELValue(dictionary), *db_, nullptr));
    EXPECT_EQ(kept->searchTerms(), strings({"elm"}));
}

TEST_F(UserQueryTest, QueryPropertyListsRoundTripThroughAFile) {
    addSampleItems();
    auto names = group({"first", "last"});
    ZELUserQuery query;
    query.setUserCriterias({criteria({"john", "smith"}, {names}), criteria({"red"}, {group({"tag", "label"})}),
                            criteria({"delta"}, {group({"title", "body"})}, true)});
    const std::string path = (folder_ / "q.plist").string();
    ZELError error;
    ASSERT_TRUE(ZELPropertyList::writeFile(path, query.plistSerialization(), &error)) << error.description();
    ZELValue plist;
    ASSERT_TRUE(ZELPropertyList::readFile(path, &plist, &error));
    ASSERT_TRUE(plist.valueForKey("criteria"));
    EXPECT_EQ(plist.valueForKey("criteria")->arrayValue().size(), 3u);

    auto read = ZELUserQuery::queryWithPlistSerialization(plist, *db_, &error);
    ASSERT_TRUE(read) << error.description();
    EXPECT_TRUE(read->isEqual(query));
    EXPECT_EQ(read->stringRepresentation(), query.stringRepresentation());
    auto written = query.generatedQueryForDatabase(*db_);
    auto reread = read->generatedQueryForDatabase(*db_);
    ASSERT_TRUE(written && reread);
    EXPECT_TRUE(reread->isEqual(written));
    EXPECT_EQ(evaluate(reread), evaluate(written));
    EXPECT_EQ(evaluate(written), (std::set<ZELID>{1, 3}));
}

// Two tokens of one OR-group must still be joined by OR after a save: criteria read back with
// the same aspects share one group, while criteria with other aspects keep their own.
TEST_F(UserQueryTest, CriteriaReadBackWithTheSameAspectsShareOneGroup) {
    addSampleItems();
    auto tags = group({"tag", "label"});
    ZELUserQuery query;
    query.setUserCriterias({criteria({"red"}, {tags}), criteria({"blue"}, {tags}),
                            criteria({"beta"}, {group({"title", "body"})})});
    ZELError error;
    auto read = ZELUserQuery::queryWithPlistSerialization(query.plistSerialization(), *db_, &error);
    ASSERT_TRUE(read) << error.description();
    const auto& criterias = read->userCriterias();
    ASSERT_EQ(criterias.size(), 3u);
    EXPECT_EQ(criterias[0]->chosenAspectGroups().front(), criterias[1]->chosenAspectGroups().front());
    EXPECT_NE(criterias[0]->chosenAspectGroups().front(), criterias[2]->chosenAspectGroups().front());
    auto written = query.generatedQueryForDatabase(*db_);
    auto reread = read->generatedQueryForDatabase(*db_);
    ASSERT_TRUE(written && reread);
    EXPECT_TRUE(reread->isEqual(written)) << reread->description();
    EXPECT_EQ(evaluate(reread), (std::set<ZELID>{1, 2}));
}

TEST_F(UserQueryTest, QueryPropertyListFailuresAndCache) {
    ZELError error;
    EXPECT_FALSE(ZELUserQuery::queryWithPlistSerialization(ZELValue(ZELValue::Array{}), *db_, &error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeInvalidData));
    EXPECT_EQ(error.failureReason(), "ZELUserQuery plist should be dictionary.");

    error = ZELError();
    EXPECT_FALSE(ZELUserQuery::queryWithPlistSerialization(ZELValue(ZELValue::Dictionary{}), *db_, &error));
    EXPECT_NE(error.failureReason().find("criteria"), std::string::npos) << error.failureReason();

    // The first failing criteria fails the whole query with its error.
    ZELValue::Dictionary bad;
    bad[u"criteria"] = ZELValue::Array{criteria({"a"}, {group({"title"})})->plistSerialization(),
                                       ZELValue(u"junk")};
    error = ZELError();
    EXPECT_FALSE(ZELUserQuery::queryWithPlistSerialization(ZELValue(bad), *db_, &error));
    EXPECT_EQ(error.failureReason(), "ZELUserCriteria plist should be a dictionary.");

    // The cached list survives setUserCriterias and is dropped by addUserCriterias.
    ZELUserQuery query;
    EXPECT_EQ(query.plistSerialization().valueForKey("criteria")->arrayValue().size(), 0u);
    query.setUserCriterias({criteria({"a"}, {group({"title"})})});
    EXPECT_EQ(query.plistSerialization().valueForKey("criteria")->arrayValue().size(), 0u);
    query.addUserCriterias({criteria({"b"}, {group({"title"})})});
    EXPECT_EQ(query.plistSerialization().valueForKey("criteria")->arrayValue().size(), 2u);
}

}  // namespace
