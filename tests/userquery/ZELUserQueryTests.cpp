#include <optional>

#include "ZELUserQueryTestSupport.h"
#include "zel/database/ZELSynonymList.h"
#include "zel/platform/ZELError.h"
#include "zel/userquery/ZELUserQuery.h"

namespace {

using Group = std::shared_ptr<ZELAspectTokenFieldGroup>;

std::vector<ZELString> strings(const std::vector<const char*>& texts) {
    std::vector<ZELString> result;
    for (const char* text : texts) result.push_back(ZELStringFromUTF8(text));
    return result;
}

class UserQueryTest : public ZELUserQueryDatabaseTest {
protected:
    Group group(const std::vector<const char*>& aspects, const char* label = nullptr) {
        ZELAspectTokenFieldGroup::AspectList list;
        for (const char* name : aspects) list.push_back(aspect(name));
        return ZELAspectTokenFieldGroup::groupWithAspects(
            list, label ? std::optional<ZELString>(ZELStringFromUTF8(label)) : std::nullopt);
    }
    std::shared_ptr<ZELUserCriteria> criteria(const std::vector<const char*>& terms,
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

// Query generation, each case worked out by hand over the sample items:
//   1: title alpha beta, body gamma, tag red, first john, last smith
//   2: title beta, body alpha delta, tag blue, label red, first jane, last smith
//   3: title gamma, tag red green, first smith, last john
//   4: body beta, label green, first john, last doe
// A criteria matches items carrying any of its terms in any chosen aspect; criteria join by
// AND, except those whose terms fall only into OR-aspects of one and the same group (one
// group object), which join by OR; first and last (a joined set) match as combinations of one
// term per aspect; negated criteria exclude. Group names stand for one group object per row.
TEST_F(UserQueryTest, HandWorkedQueriesFindTheirItems) {
    addSampleItems();
    const std::map<std::string, std::vector<const char*>> aspectsOf = {
        {"T", {"tag"}},           {"L", {"label"}},         {"TL", {"tag", "label"}},
        {"W", {"title", "body"}}, {"Ti", {"title"}},        {"N", {"first", "last"}},
        {"WT", {"title", "tag"}}, {"LF", {"label", "first"}}, {"TL2", {"tag", "label"}}};
    struct Criteria {
        std::vector<const char*> terms;
        std::vector<std::string> groups;
        bool negated = false;
    };
    struct Case {
        std::vector<Criteria> criterias;
        std::optional<std::set<ZELID>> items;  // none: no query
    };
    const Case cases[] = {
        {{{{"red", "green"}, {"TL"}}}, std::set<ZELID>{1, 2, 3, 4}},
        {{{{"alpha", "beta"}, {"W"}}}, std::set<ZELID>{1, 2, 4}},
        // Criteria in AND-aspects join by AND, also within one group object.
        {{{{"alpha"}, {"Ti"}}, {{"beta"}, {"Ti"}}}, std::set<ZELID>{1}},
        // One OR-group object: OR; two group objects, even with the same aspects: AND.
        {{{{"red"}, {"TL"}}, {{"blue"}, {"TL"}}}, std::set<ZELID>{1, 2, 3}},
        {{{{"red"}, {"TL"}}, {{"blue"}, {"TL2"}}}, std::set<ZELID>{2}},
        {{{{"red"}, {"T"}}, {{"green"}, {"TL"}}}, std::set<ZELID>{3}},
        // Terms found in two groups: the criteria stands alone, joined by AND.
        {{{{"red"}, {"T", "L"}}, {{"blue"}, {"T"}}}, std::set<ZELID>{2}},
        // A group of an AND- and an OR-aspect: the AND-aspect's term stands alone.
        {{{{"alpha"}, {"WT"}}, {{"red"}, {"WT"}}}, std::set<ZELID>{1}},
        // Of a joined set only "first" got a term: that term alone.
        {{{{"john"}, {"LF"}}}, std::set<ZELID>{1, 4}},
        // Every pairing of one term per joined aspect: (john, smith) and (smith, john).
        {{{{"john", "smith"}, {"N"}}}, std::set<ZELID>{1, 3}},
        {{{{"jane", "doe"}, {"N"}}}, std::set<ZELID>{}},
        // (jane, smith) and (smith, smith); "last jane" is unknown, so its pairings drop out.
        {{{{"jane", "smith"}, {"N"}}, {{"beta"}, {"W"}}}, std::set<ZELID>{2}},
        // Negated criteria do not combine: any carrier of john is excluded.
        {{{{"john"}, {"N"}, true}}, std::set<ZELID>{2}},
        {{{{"red"}, {"T"}, true}}, std::set<ZELID>{2, 4}},
        {{{{"alpha", "gamma"}, {"W"}, true}, {{"smith"}, {"N"}}}, std::set<ZELID>{}},
        {{{{"gamma"}, {"W"}, true}, {{"red"}, {"TL"}}}, std::set<ZELID>{2}},
        {{{{"red"}, {"TL"}}, {{"blue"}, {"TL"}}, {{"beta"}, {"Ti"}, true}}, std::set<ZELID>{3}},
        // Terms are normalized; unknown terms are passed over.
        {{{{"ALPHA", "zzz"}, {"Ti"}}}, std::set<ZELID>{1}},
        {{}, std::nullopt},
        {{{{"zzz"}, {"Ti"}}}, std::nullopt},
        {{{{"zzz"}, {"T"}, true}}, std::nullopt},
        {{{{"nowhere", "never"}, {"W", "T", "N"}}}, std::nullopt},
        {{{{"alpha"}, {}}}, std::nullopt},
    };
    for (size_t row = 0; row < std::size(cases); ++row) {
        std::map<std::string, Group> groups;
        std::vector<std::shared_ptr<ZELUserCriteria>> criterias;
        for (const Criteria& made : cases[row].criterias) {
            std::vector<Group> chosen;
            for (const std::string& name : made.groups) {
                if (!groups[name]) groups[name] = group(aspectsOf.at(name));
                chosen.push_back(groups[name]);
            }
            criterias.push_back(criteria(made.terms, chosen, made.negated));
        }
        const auto query = generate(criterias);
        ASSERT_EQ(cases[row].items.has_value(), query != nullptr) << "row " << row;
        if (query) {
            EXPECT_EQ(*cases[row].items, evaluate(query)) << "row " << row;
        }
    }
}

// ---- Synonyms ----

TEST_F(UserQueryTest, SynonymsExpandToTheirValues) {
    addSampleItems();
    db_->synonymList()->addSynonym(u"colour", {u"red", u"blue"});
    auto made = criteria({"colour", "green"}, {group({"tag", "label"})});
    EXPECT_EQ(made->aspectBitValues(), strings({"red", "blue", "green"}));
    EXPECT_EQ(evaluate(generate({criteria({"colour"}, {group({"tag"})})})), (std::set<ZELID>{1, 2, 3}));

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
    using Dictionary = ZELValue::Dictionary;
    const ZELValue title(ZELValue::Array{ZELValue(u"title")});
    const ZELValue oak(ZELValue::Array{ZELValue(u"oak")});
    const ZELValue unknown(ZELValue::Array{ZELValue(u"title"), ZELValue(u"colour")});
    const struct {
        ZELValue plist;
        std::string reason;  // the whole reason, or a key it must name
    } rows[] = {
        {ZELValue(u"x"), "ZELUserCriteria plist should be a dictionary."},
        {ZELValue(Dictionary{{u"AspectIdentifiers", title}}), "SearchTerms"},
        {ZELValue(Dictionary{{u"AspectIdentifiers", title}, {u"SearchTerms", ZELValue(u"oak")}}),
         "SearchTerms"},
        {ZELValue(Dictionary{{u"SearchTerms", oak}}), "AspectIdentifiers"},
        {ZELValue(Dictionary{{u"SearchTerms", oak}, {u"AspectIdentifiers", unknown}}),
         "The aspect \"colour\" is unknown, and cannot be used for search criteria."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reason);
        ZELError error;
        EXPECT_FALSE(ZELUserCriteria::criteriaWithPlistSerialization(row.plist, *db_, &error));
        EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeInvalidData));
        EXPECT_NE(error.failureReason().find(row.reason), std::string::npos) << error.failureReason();
    }
    // A failed read leaves the criteria as it was.
    auto kept = criteria({"elm"}, {group({"tag"})});
    EXPECT_FALSE(kept->setPlistRepresentation(rows[4].plist, *db_, nullptr));
    EXPECT_EQ(kept->searchTerms(), strings({"elm"}));
}

TEST_F(UserQueryTest, QueryPropertyListsRoundTrip) {
    addSampleItems();
    auto names = group({"first", "last"});
    ZELUserQuery query;
    query.setUserCriterias({criteria({"john", "smith"}, {names}), criteria({"red"}, {group({"tag", "label"})}),
                            criteria({"delta"}, {group({"title", "body"})}, true)});
    const ZELValue plist = query.plistSerialization();
    ASSERT_TRUE(plist.valueForKey("criteria"));
    EXPECT_EQ(plist.valueForKey("criteria")->arrayValue().size(), 3u);

    ZELError error;
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
