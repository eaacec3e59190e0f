// Query nodes: equality, hash, descriptions and the property-list form.

#include "query/ZELQueryTestSupport.h"
#include "zel/platform/ZELError.h"
#include "zel/query/ZELQuery_Empty.h"
#include "zel/query/ZELQuery_MatchIDs.h"
#include "zel/query/ZELQuery_Negation.h"
#include "zel/query/ZELQuery_SubQueries.h"
#include "zel/tokenizer/ZELIdentityValueTokenizer.h"

namespace {

using QueryList = ZELQuery::QueryList;

std::shared_ptr<ZELQuery> match(std::vector<ZELID> list, ZELBooleanOperation operation) {
    return ZELQuery::queryMatchingIDsInVector(vectorOf(std::move(list)).get(), operation);
}
std::vector<ZELID> idList(const std::shared_ptr<ZELQuery>& query) { return idsOf(query->aspectBitIDs()); }

ZELValue::Dictionary dict(std::initializer_list<std::pair<const ZELString, ZELValue>> entries) {
    return ZELValue::Dictionary(entries);
}
ZELValue node(const char16_t* operatorName, ZELValue::Array operands) {
    return ZELValue(dict({{u"operator", ZELValue(operatorName)}, {u"operands", ZELValue(std::move(operands))}}));
}
ZELValue document(ZELValue query, ZELValue version = ZELValue(1.0)) {
    ZELValue::Dictionary entries{{u"query", std::move(query)}};
    if (!version.isNone()) entries.emplace(u"version", std::move(version));
    return ZELValue(std::move(entries));
}

}  // namespace

// ---- Equality and hash ----

TEST(ZELQueryEquality, ComparesContentsButNotTheOperation) {
    EXPECT_TRUE(match({1, 2}, ZELBooleanOperationAND)->isEqual(match({1, 2}, ZELBooleanOperationOR)));
    EXPECT_FALSE(match({1, 2}, ZELBooleanOperationAND)->isEqual(match({1, 3}, ZELBooleanOperationAND)));

    auto x = match({4, 5}, ZELBooleanOperationOR);
    auto wrapped = std::make_shared<ZELQuery_SubQueries>(QueryList{x}, ZELBooleanOperationAND);
    EXPECT_FALSE(wrapped->isEqual(ZELQuery::queryNegatingQuery(x)));
    EXPECT_FALSE(ZELQuery::queryNegatingQuery(x)->isEqual(*wrapped));
    EXPECT_TRUE(ZELQuery::queryNegatingQuery(x)->isEqual(ZELQuery::queryNegatingQuery(match({4, 5}, ZELBooleanOperationAND))));

    auto y = match({6, 7}, ZELBooleanOperationAND);
    auto xy = ZELQuery::queryCombiningQueries({x, y}, ZELBooleanOperationAND);
    EXPECT_TRUE(xy->isEqual(ZELQuery::queryCombiningQueries({match({4, 5}, ZELBooleanOperationOR), y}, ZELBooleanOperationOR)));
    EXPECT_FALSE(xy->isEqual(ZELQuery::queryCombiningQueries({y, x}, ZELBooleanOperationAND)));
    EXPECT_FALSE(x->isEqual(*vectorOf({4, 5})));  // not a query
}

// ---- User descriptions (what the tool prints) without database ----

TEST(ZELQueryDescription, UserFormsWithoutDatabase) {
    EXPECT_EQ(ZELQuery::emptyQuery()->descriptionWithDatabase(nullptr, ZELQueryDescriptionTypeUser),
              "(Empty Query)");
    auto orNode = match({12, 3}, ZELBooleanOperationOR);
    EXPECT_EQ(orNode->descriptionWithDatabase(nullptr, ZELQueryDescriptionTypeUser), "ID=12 OR ID=3");
    auto tree = ZELQuery::queryCombiningQueries(
        {match({1, 2}, ZELBooleanOperationAND), ZELQuery::queryNegatingQuery(orNode)}, ZELBooleanOperationOR);
    EXPECT_EQ(tree->descriptionWithDatabase(nullptr, ZELQueryDescriptionTypeUser),
              "(ID=1 AND ID=2) OR ((NOT (ID=12 OR ID=3)))");
    EXPECT_EQ(ZELQuery::queryNegatingQuery(ZELQuery::queryMatchingID(5))
                  ->descriptionWithDatabase(nullptr, ZELQueryDescriptionTypeUser),
              "(NOT ID=5)");
}

// ---- With a database ----

class ZELQueryPlistTest : public ZELQueryDatabaseTest {
protected:
    void SetUp() override {
        ZELQueryDatabaseTest::SetUp();
        // "City": the whole key is the term, so values keep their spaces.
        db_->ensureAspectExistsWithIdentifier(u"City")->setAspectValueTokenizer(
            ZELTokenizer::tokenizerWithClientObjectGetter<ZELIdentityValueTokenizer>("testKey", nullptr));
        addItem("New York", "alpha beta", "red");
        addItem("Paris", "beta gamma", "blue");
        addItem("x: y", "gamma", "red");
        newYork_ = idOf(u"City", "new york");
        paris_ = idOf(u"City", "paris");
        alpha_ = idOf(u"words", "alpha");
        beta_ = idOf(u"words", "beta");
        gamma_ = idOf(u"words", "gamma");
        ASSERT_NE(newYork_, 0u);
        ASSERT_NE(gamma_, 0u);
    }

    std::shared_ptr<ZELQuery> read(const ZELValue& value, ZELError* error) {
        return ZELQuery::queryWithPlistSerialization(value, db_.get(), error);
    }
    // Reading fails with this code and message.
    void expectFailure(const ZELValue& value, int code, const std::string& message) {
        ZELError error;
        EXPECT_EQ(read(value, &error), nullptr);
        EXPECT_TRUE(error.matchesZELErrorCode(code)) << error.description();
        EXPECT_EQ(error.failureReason(), message);
        EXPECT_EQ(read(value, nullptr), nullptr);  // without an error slot
    }

    ZELID newYork_ = 0, paris_ = 0, alpha_ = 0, beta_ = 0, gamma_ = 0;
};

TEST_F(ZELQueryPlistTest, UserDescriptionsWithTheDatabase) {
    auto cities = match({newYork_, paris_}, ZELBooleanOperationOR);
    const std::string user = cities->descriptionWithDatabase(db_.get(), ZELQueryDescriptionTypeUser);
    EXPECT_TRUE(user == "\"New York\" OR Paris" || user == "Paris OR \"New York\"") << user;
    EXPECT_EQ(match({alpha_, 999}, ZELBooleanOperationAND)
                  ->descriptionWithDatabase(db_.get(), ZELQueryDescriptionTypeUser),
              "ID=999 AND alpha");
    EXPECT_EQ(ZELQuery::queryNegatingQuery(ZELQuery::queryMatchingID(newYork_))
                  ->descriptionWithDatabase(db_.get(), ZELQueryDescriptionTypeUser),
              "(NOT (\"New York\"))");
}

TEST_F(ZELQueryPlistTest, SingleTermWritesItsStringAndReadsBackAsAnANDNode) {
    for (auto operation : {ZELBooleanOperationAND, ZELBooleanOperationOR}) {
        auto query = match({newYork_}, operation);
        const ZELValue written = query->plistSerialization(db_.get());
        EXPECT_EQ(written, document(ZELValue(u"City: New York")));
        EXPECT_TRUE(written.valueForKey(u"version")->isReal());
        auto back = read(written, nullptr);
        ASSERT_TRUE(isKind<ZELQuery_MatchIDs>(back));
        EXPECT_EQ(back->booleanOperation(), ZELBooleanOperationAND);
        EXPECT_EQ(idList(back), (std::vector<ZELID>{newYork_}));
    }
    // The value after the first delimiter is taken whole.
    auto tricky = read(document(ZELValue(u"City: x: y")), nullptr);
    ASSERT_TRUE(tricky);
    EXPECT_EQ(idList(tricky), (std::vector<ZELID>{idOf(u"City", "x: y")}));
    EXPECT_EQ(tricky->plistSerialization(db_.get()), document(ZELValue(u"City: x: y")));
}

TEST_F(ZELQueryPlistTest, EmptyQueryAndEmptyOperands) {
    const ZELValue written = ZELQuery::emptyQuery()->plistSerialization(db_.get());
    EXPECT_EQ(written, document(ZELValue(ZELValue::Dictionary{})));
    EXPECT_TRUE(isKind<ZELQuery_Empty>(read(written, nullptr)));

    // An empty child is written as an empty dictionary, which fails to read at that depth.
    auto withEmpty = ZELQuery::queryCombiningQueries(
        {ZELQuery::emptyQuery(), match({alpha_, beta_}, ZELBooleanOperationOR)}, ZELBooleanOperationAND);
    const ZELValue nested = withEmpty->plistSerialization(db_.get());
    // Terms in ascending ID order.
    ZELValue::Array terms{ZELValue(u"words: alpha"), ZELValue(u"words: beta")};
    if (alpha_ > beta_) std::swap(terms[0], terms[1]);
    EXPECT_EQ(nested, document(node(u"AND", {ZELValue(ZELValue::Dictionary{}), node(u"OR", terms)})));
    expectFailure(nested, 3, "ZELQuery serialization has unknown operator \"(null)\".");

    // Without a database a match node has no operands to write.
    EXPECT_EQ(match({alpha_, beta_}, ZELBooleanOperationOR)->plistSerialization(nullptr),
              document(node(u"OR", {})));
    EXPECT_TRUE(ZELQuery::queryNegatingQuery(match({alpha_}, ZELBooleanOperationOR))
                    ->plistSerialization(nullptr)
                    .valueForKey(u"query")
                    ->isDictionary());
}

TEST_F(ZELQueryPlistTest, NegationOfSeveralOperandsNegatesTheirDisjunction) {
    auto query = read(document(node(u"NOT", {ZELValue(u"words: beta"), ZELValue(u"words: Alpha")})), nullptr);
    ASSERT_TRUE(isKind<ZELQuery_Negation>(query));
    const auto& inner = static_cast<ZELQuery_Negation&>(*query).subquery();
    ASSERT_TRUE(isKind<ZELQuery_MatchIDs>(inner));
    EXPECT_EQ(inner->booleanOperation(), ZELBooleanOperationOR);
    EXPECT_EQ(idList(inner), idList(match({alpha_, beta_}, ZELBooleanOperationOR)));
    // A negation keeps its node dictionary even around one term.
    EXPECT_EQ(ZELQuery::queryNegatingQuery(ZELQuery::queryMatchingID(gamma_))->plistSerialization(db_.get()),
              document(node(u"NOT", {ZELValue(u"words: gamma")})));
}

TEST_F(ZELQueryPlistTest, VersionsAndEveryFailureMessage) {
    EXPECT_TRUE(read(document(ZELValue(u"words: alpha"), ZELValue(1.99)), nullptr));
    EXPECT_TRUE(read(document(ZELValue(u"words: alpha"), ZELValue(1)), nullptr));
    const struct {
        ZELValue document;
        int code;
        const char* message;
    } rows[] = {
        {document(ZELValue(u"words: alpha"), ZELValue(2.0)), 3, "ZELQuery serializaion has unsupported version=2.00"},
        {document(ZELValue(u"words: alpha"), ZELValue()), 3, "ZELQuery serializaion has unsupported version=0.00"},
        {document(ZELValue(ZELValue::Array{})), 3, "Expected dictionary or string for query object."},
        {ZELValue(dict({{u"version", ZELValue(1.0)}})), 3, "Expected dictionary or string for query object."},
        {document(node(u"XOR", {ZELValue(u"words: alpha")})), 3, "ZELQuery serialization has unknown operator \"XOR\"."},
        {document(node(u"OR", {ZELValue(u"words: alpha"), ZELValue(42)})), 3,
         "ZELQuery serialization has unknown operand: 42"},
        {document(node(u"OR", {})), 3, "ZELQuery serialization cannot contain empty operands."},
        {document(node(u"AND", {ZELValue(u"words:alpha")})), 3,
         "ZELQuery serialization is invalid for the aspect value string \"words:alpha\"."},
        {document(ZELValue(u"colour: red")), 9,
         "The aspect \"colour\" is unknown, and cannot be used for search criteria."},
        {document(node(u"OR", {node(u"AND", {ZELValue(u"words: alpha"), ZELValue(u"words: delta")})})), 9,
         "The selector \"delta\" does not occur for the \"words\" aspect, and cannot be used as a search condition."},
        // A failure deep in the tree fails the whole read.
        {document(node(u"OR", {ZELValue(u"words: alpha"), node(u"NOT", {node(u"AND", {})})})), 3,
         "ZELQuery serialization cannot contain empty operands."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.message);
        expectFailure(row.document, row.code, row.message);
    }
    // Without a database no aspect is known.
    ZELError error;
    EXPECT_EQ(ZELQuery::queryWithPlistSerialization(document(ZELValue(u"words: alpha")), nullptr, &error), nullptr);
    EXPECT_EQ(error.code(), 9);
}

TEST_F(ZELQueryPlistTest, WrittenDocumentsReadBackAsEqualTrees) {
    auto nyOrParis = match({newYork_, paris_}, ZELBooleanOperationOR);
    auto alphaAndBeta = match({alpha_, beta_}, ZELBooleanOperationAND);
    auto notGamma = ZELQuery::queryNegatingQuery(ZELQuery::queryMatchingID(gamma_));
    auto red = ZELQuery::queryMatchingID(idOf(u"tags", "red"));
    const std::vector<std::shared_ptr<ZELQuery>> trees = {
        nyOrParis,
        alphaAndBeta,
        notGamma,
        ZELQuery::queryCombiningQueries({nyOrParis, notGamma}, ZELBooleanOperationAND),
        ZELQuery::queryCombiningQueries({alphaAndBeta, ZELQuery::queryNegatingQuery(nyOrParis)}, ZELBooleanOperationOR),
        ZELQuery::queryNegatingQuery(ZELQuery::queryCombiningQueries({alphaAndBeta, nyOrParis}, ZELBooleanOperationOR)),
        ZELQuery::queryCombiningQueries({ZELQuery::queryCombiningQueries({nyOrParis, notGamma}, ZELBooleanOperationAND),
                                         alphaAndBeta, red},
                                        ZELBooleanOperationOR),
    };
    for (const auto& tree : trees) {
        const ZELValue written = tree->plistSerialization(db_.get());
        ZELError error;
        auto back = read(written, &error);
        ASSERT_TRUE(back) << error.description() << "\n" << tree->description();
        EXPECT_TRUE(back->isEqual(tree)) << tree->description() << "\nread back as\n" << back->description();
        EXPECT_EQ(back->plistSerialization(db_.get()), written);
    }
}

TEST_F(ZELQueryPlistTest, QueryMatchingValue) {
    auto query = ZELQuery::queryMatchingValue(u"NEW YORK", u"City", *db_);
    EXPECT_EQ(idList(query), (std::vector<ZELID>{newYork_}));
    EXPECT_TRUE(isKind<ZELQuery_Empty>(ZELQuery::queryMatchingValue(u"Rome", u"City", *db_)));
    EXPECT_TRUE(isKind<ZELQuery_Empty>(ZELQuery::queryMatchingValue(u"Paris", u"Town", *db_)));
    EXPECT_EQ(idOf(u"City", "rome"), 0u);  // looked up, never assigned
}
