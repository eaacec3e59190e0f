// Faults of completion folding and of query hashing found after the fact.

#include <gtest/gtest.h>

#include "query/ZELCompletionTestSupport.h"
#include "zel/query/ZELCompletionCollector.h"
#include "zel/query/ZELQuery.h"

namespace {

std::vector<std::string> ZELTestComplete(const std::string& prefix,
                                         const ZELCompletionCollector::AspectList& aspects) {
    const ZELString typed = ZELStringFromUTF8(prefix);
    std::vector<std::string> answer;
    for (const ZELString& completion :
         ZELCompletionCollector::completionsForMatchingPrefix(&typed, aspects, nullptr, 0, nullptr)) {
        answer.push_back(ZELStringToUTF8(completion));
    }
    return answer;
}

}  // namespace

// A term folds into a longer one it begins exactly when both find the same items, whatever the
// use counts say (another writer's store may hold counts that are not item counts), also where
// the longer term continues with an accented letter; a prefix that ends inside an accented
// letter does not fold. A null aspect is passed over, also in the first place.
TEST_F(ZELCompletionDatabaseTest, FoldingComparesItemsAndPassesOverNullAspects) {
    addItem("pari paris");
    addItem("\xC3\xA9t \xC3\xA9t\xC3\xA9 cafe caf\xC3\xA9");  // "ét été cafe café"
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
        EXPECT_EQ(ZELTestComplete(test.prefix, {aspect(u"words")}), test.expected) << test.prefix;
    }
    EXPECT_EQ(ZELTestComplete("par", {nullptr, aspect(u"words")}), (std::vector<std::string>{"paris"}));
}

// Every query without criteria equals every other, so they must hash alike.
TEST(ZELQueryHash, EqualQueriesWithoutCriteriaHashAlike) {
    const auto empty = ZELQuery::emptyQuery();
    const auto negated = ZELQuery::queryNegatingQuery(empty);
    const auto both = ZELQuery::queryCombiningQueries({empty, ZELQuery::emptyQuery()}, ZELBooleanOperationAND);
    for (const auto& query : {negated, both}) {
        ASSERT_TRUE(query->isEqual(empty));
        EXPECT_EQ(query->hash(), empty->hash());
    }
}
