#include "ZELUserQueryTestSupport.h"
#include "zel/userquery/ZELAspectTokenFieldGroup.h"
#include "zel/userquery/ZELUserCriteria.h"
#include "zel/userquery/ZELUserQuery.h"

namespace {

std::shared_ptr<ZELUserCriteria> ZELTestCriteria(const char16_t* term, ZELUserCriteria::GroupList groups) {
    auto made = std::make_shared<ZELUserCriteria>();
    made->setSearchTerms({term});
    made->setAspectGroups(groups);
    return made;
}

}  // namespace

// A saved search read back must find what the search it was saved from found. Groups From{tag}
// and To{label}, as in a mail window: "john" and "mary" are each found in both, so the live
// query is john AND mary; with one group {tag} shared by both tokens, it is john OR mary.
TEST_F(ZELUserQueryDatabaseTest, SavedSearchReadBackFindsWhatTheLiveSearchFound) {
    addItem({{"tag", "john"}, {"label", "john"}});
    addItem({{"tag", "mary"}, {"label", "mary"}});
    const ZELID both = addItem({{"tag", "john"}, {"label", "mary"}});
    const auto from = ZELAspectTokenFieldGroup::groupWithAspects({aspect("tag")}, u"From");
    const auto to = ZELAspectTokenFieldGroup::groupWithAspects({aspect("label")}, u"To");
    const auto criteria = ZELTestCriteria;
    struct Case {
        const char* name;
        ZELUserCriteria::GroupList groups;
        std::set<ZELID> expected;
    };
    for (const Case& test : {Case{"two groups", {from, to}, {both}},
                             Case{"one shared OR-group", {from}, {1, 2, 3}}}) {
        SCOPED_TRACE(test.name);
        ZELUserQuery live;
        live.setUserCriterias({criteria(u"john", test.groups), criteria(u"mary", test.groups)});
        ZELError error;
        auto read = ZELUserQuery::queryWithPlistSerialization(live.plistSerialization(), *db_, &error);
        ASSERT_TRUE(read) << error.description();
        EXPECT_EQ(evaluate(live.generatedQueryForDatabase(*db_)), test.expected);
        EXPECT_EQ(evaluate(read->generatedQueryForDatabase(*db_)), test.expected);
    }

    // Without "AspectGroups" (another writer's form) each criteria gets one group of its
    // aspects, shared by criteria with the same aspects.
    ZELUserQuery live;
    live.setUserCriterias({criteria(u"john", {from, to}), criteria(u"mary", {from, to})});
    ZELValue plist = live.plistSerialization();
    ZELValue::Array stripped;
    for (ZELValue element : plist.valueForKey("criteria")->arrayValue()) {
        ZELValue::Dictionary dictionary = element.dictionaryValue();
        dictionary.erase(ZELUserCriteriaPlistKey_AspectGroups);
        stripped.push_back(ZELValue(std::move(dictionary)));
    }
    auto read = ZELUserQuery::queryWithPlistSerialization(
        ZELValue(ZELValue::Dictionary{{u"criteria", ZELValue(std::move(stripped))}}), *db_, nullptr);
    ASSERT_TRUE(read);
    EXPECT_EQ(evaluate(read->generatedQueryForDatabase(*db_)), (std::set<ZELID>{1, 2, 3}));
}

// The text says what the generated query does: tokens of one OR-group are joined by OR, all
// else by AND.
TEST_F(ZELUserQueryDatabaseTest, StringRepresentationJoinsTheTokensOfAnOrGroupByOr) {
    const auto tags = ZELAspectTokenFieldGroup::groupWithAspects({aspect("tag"), aspect("label")});
    const auto titles = ZELAspectTokenFieldGroup::groupWithAspects({aspect("title")});
    ZELUserQuery query;
    EXPECT_EQ(query.stringRepresentation(), u"{Empty Query}");
    auto twoTerms = ZELTestCriteria(u"oak", {titles});
    twoTerms->setSearchTerms({u"oak", u"ash"});
    query.setUserCriterias({twoTerms, ZELTestCriteria(u"elm", {titles})});
    EXPECT_EQ(query.stringRepresentation(), u"(oak OR ash) AND elm");
    // A no-break space counts as whitespace.
    query.setUserCriterias({ZELTestCriteria(u"a\u00a0b", {titles}), ZELTestCriteria(u"c", {titles})});
    EXPECT_EQ(query.stringRepresentation(), u"(a\u00a0b) AND c");
    EXPECT_EQ(query.description().substr(query.description().find('>')), ">: (a\u00a0b) AND c");
    query.setUserCriterias({ZELTestCriteria(u"red", {tags}), ZELTestCriteria(u"beta", {titles}),
                            ZELTestCriteria(u"blue", {tags})});
    EXPECT_EQ(query.stringRepresentation(), u"(red OR blue) AND beta");
    query.setUserCriterias({ZELTestCriteria(u"red", {tags}), ZELTestCriteria(u"blue", {tags})});
    EXPECT_EQ(query.stringRepresentation(), u"red OR blue");
}
