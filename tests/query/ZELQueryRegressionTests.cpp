// Faults of completion folding and of query hashing found after the fact.

#include "query/ZELQueryTestSupport.h"

// A term folds into a longer one it begins exactly when both find the same items, whatever the
// use counts say (another writer's store may hold counts that are not item counts), also where
// the longer term continues with an accented letter; a prefix that ends inside an accented
// letter does not fold. A null aspect is passed over, also in the first place.
TEST_F(ZELQueryDatabaseTest, FoldingComparesItemsAndPassesOverNullAspects) {
    addWords("pari paris");
    addWords("\xC3\xA9t \xC3\xA9t\xC3\xA9 cafe caf\xC3\xA9");  // "ét été cafe café"
    const ZELID pari = aspect(u"words")->aspectBitIDForValue(u"pari", false);
    db_->accessLockedUsing([&] { db_->incrementUseCountForAspectBitID(pari); });
    const struct {
        const char* prefix;
        std::vector<std::string> expected;
    } cases[] = {
        {"par", {"paris"}},
        {"\xC3\xA9", {"\xC3\xA9t\xC3\xA9"}},
        {"caf", {"cafe", "caf\xC3\xA9"}},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(complete(test.prefix, {aspect(u"words")}), test.expected) << test.prefix;
    }
    EXPECT_EQ(complete("par", {nullptr, aspect(u"words")}), (std::vector<std::string>{"paris"}));
}

// Every query without criteria equals every other (and no query with criteria), so they must
// hash alike.
TEST(ZELQueryHash, EqualQueriesWithoutCriteriaHashAlike) {
    const auto empty = ZELQuery::emptyQuery();
    const auto negated = ZELQuery::queryNegatingQuery(empty);
    const auto both = ZELQuery::queryCombiningQueries({empty, ZELQuery::emptyQuery()}, ZELBooleanOperationAND);
    for (const auto& query : {negated, both}) {
        ASSERT_TRUE(query->isEqual(empty));
        ASSERT_TRUE(empty->isEqual(query));
        EXPECT_EQ(query->hash(), empty->hash());
        EXPECT_FALSE(query->isEqual(ZELQuery::queryMatchingID(1)));
        EXPECT_FALSE(ZELQuery::queryMatchingID(1)->isEqual(query));
    }
}
