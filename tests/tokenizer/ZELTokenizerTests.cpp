#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>

#include "TokenizerTestSupport.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/tokenizer/ZELBoolTokenizer.h"
#include "zel/tokenizer/ZELDateTokenizer.h"
#include "zel/tokenizer/ZELIdentityValueTokenizer.h"
#include "zel/tokenizer/ZELNonEmptyTokenTokenizer.h"
#include "zel/tokenizer/ZELTokenizer.h"
#include "zel/tokenizer/ZELWhitespaceTokenizer.h"
#include "zel/tokenizer/ZELWordTokenizer.h"

// Client item classes of these tests (at global scope: their names are registered names).
class TokenizerTestItem : public ZELObject {
public:
    explicit TokenizerTestItem(ZELValue title) : title(std::move(title)) {}
    ZELValue title;
};

class TokenizerTestSubItem : public TokenizerTestItem {
public:
    using TokenizerTestItem::TokenizerTestItem;
};

class TokenizerTestOtherItem : public ZELObject {};

// A host tokenizer that yields fixed tokens whatever the value.
class TokenizerTestFixedTokenizer : public ZELTokenizer {
public:
    void collectTokensForSingleValue(const ZELValue&, ZELTokenizerState& state) const override {
        for (const char* token : {"zzz", "RED", "Big"}) state.collectFoundToken(U(token));
    }
};

namespace {

void registerTestGetters() {
    ZELRegistry<ZELValueGetter>::shared().registerEntry("testTitle", [](const ZELObject& item) {
        const auto* testItem = dynamic_cast<const TokenizerTestItem*>(&item);
        return testItem ? testItem->title : ZELValue();
    });
}

ZELValue Dictionary(std::initializer_list<std::pair<const char*, ZELValue>> entries) {
    ZELValue::Dictionary dictionary;
    for (const auto& [key, value] : entries) dictionary.emplace(U(key), value);
    return ZELValue(std::move(dictionary));
}

}  // namespace

// The state against a plain set given the same reservations and insertions: the same texts
// in the same iteration order (which decides the order in which a database meets them). The
// tokens come from a small alphabet, so that most repeat one already collected; long ones are
// cut to 400 units, or 399 before a surrogate pair that would be split.
TEST(ZELTokenizerState, MatchesAPlainSetInContentsAndOrder) {
    static const char16_t alphabet[] = {u'a', u'b', u'A', u'-', 0x00E9, 0xD83D, 0xDE00};
    std::mt19937 random(7);
    auto randomToken = [&] {
        const size_t length = random() % 50 == 0 ? 395 + random() % 10 : random() % 9;
        ZELString token;
        for (size_t i = 0; i < length; ++i) token += alphabet[random() % std::size(alphabet)];
        return token;
    };
    for (int round = 0; round < 300; ++round) {
        ZELTokenizerState state;
        ZELTokenSet model;
        const int steps = static_cast<int>(random() % 600);
        for (int step = 0; step < steps; ++step) {
            const unsigned kind = random() % 100;
            if (kind < 2) {
                const size_t count = random() % 300;
                state.reserve(count);
                model.reserve(count);
            } else if (kind < 4) {
                ZELTokenSet tokens;
                for (int i = 0; i < 4; ++i) tokens.insert(randomToken());
                state.collectFoundTokens(tokens);
                model.insert(tokens.begin(), tokens.end());
            } else {
                ZELString token = randomToken();
                state.collectFoundToken(token);
                // Long tokens keep their first 400 units, or 399 before a pair that would split.
                if (token.size() > 400) token.resize(token[399] >= 0xD800 && token[399] < 0xDC00 ? 399 : 400);
                if (!token.empty()) model.insert(token);
            }
        }
        ASSERT_EQ(state.collectedCount(), model.size());
        const ZELTokenSet collected = state.finalizeCollectedTokens();
        ASSERT_EQ(collected, model);
        ASSERT_TRUE(std::equal(collected.begin(), collected.end(), model.begin(), model.end())) << "round " << round;
    }
}

TEST(ZELTokenizer, ValuesGiveTheirTokens) {
    const std::shared_ptr<ZELTokenizer> base = ZELTokenizer::tokenizer<ZELTokenizer>();
    const std::shared_ptr<ZELTokenizer> identity = ZELTokenizer::tokenizer<ZELIdentityValueTokenizer>();
    const std::shared_ptr<ZELTokenizer> whitespace = ZELTokenizer::tokenizer<ZELWhitespaceTokenizer>();
    const std::shared_ptr<ZELTokenizer> nonEmpty = ZELTokenizer::tokenizer<ZELNonEmptyTokenTokenizer>();
    const struct {
        std::shared_ptr<ZELTokenizer> tokenizer;
        ZELValue value;
        std::optional<ZELTokenSet> tokens;
    } rows[] = {
        {base, ZELValue(), std::nullopt},
        {base, ZELValue(U("text")), ZELTokenSet{}},
        {ZELTokenizer::tokenizer<ZELWordTokenizer>(), ZELValue(ZELValue::Array{}), ZELTokenSet{}},
        // The whole text, up to four hundred units.
        {identity, ZELValue(U("Big red apple")), Tokens({"Big red apple"})},
        {identity, ZELValue(ZELString(500, u'q')), ZELTokenSet{ZELString(400, u'q')}},
        {identity, ZELValue(42), ZELTokenSet{}},
        {whitespace, ZELValue(U("a  b\tc\n")), Tokens({"a", "b", "c"})},
        {whitespace, ZELValue(ZELValue::Array{ZELValue(U("x y")), ZELValue(U("y z"))}), Tokens({"x", "y", "z"})},
        {whitespace, ZELValue(U("\u3000one\u00A0two\u2029")), Tokens({"one", "two"})},
        {nonEmpty, ZELValue(), Tokens({"no"})},
        {nonEmpty, ZELValue(U("")), Tokens({"no"})},
        {nonEmpty, ZELValue(ZELValue::Array{}), Tokens({"no"})},
        {nonEmpty, ZELValue(ZELValue::Dictionary{}), Tokens({"no"})},
        {nonEmpty, ZELValue(ZELValue::Data{}), Tokens({"no"})},
        {nonEmpty, ZELValue(0), Tokens({"yes"})},
        {nonEmpty, ZELValue(U("x")), Tokens({"yes"})},
        {nonEmpty, ZELValue(ZELValue::Array{ZELValue()}), Tokens({"yes"})},
        {nonEmpty, ZELValue(ZELDate{0}), Tokens({"yes"})},
    };
    for (size_t row = 0; row < std::size(rows); ++row) {
        EXPECT_EQ(rows[row].tokenizer->tokensForValue(rows[row].value), rows[row].tokens)
            << "row " << row << ": " << Describe(rows[row].tokenizer->tokensForValue(rows[row].value));
    }
}

TEST(ZELTokenizer, ClientObjectsAnswerThroughTheNamedGetterAndRequiredClass) {
    registerTestGetters();
    const auto itemClass = ZELTokenizerItemClass::registerItemClass<TokenizerTestItem>("TokenizerTestItem");
    const auto tokenizer =
        ZELTokenizer::tokenizerWithClientObjectGetter<ZELWhitespaceTokenizer>("testTitle", itemClass);

    EXPECT_EQ(tokenizer->tokensForClientObject(TokenizerTestItem(ZELValue(U("red apple")))),
              Tokens({"red", "apple"}));
    // A derived class passes the class test; another class does not.
    EXPECT_EQ(tokenizer->tokensForClientObject(TokenizerTestSubItem(ZELValue(U("pear")))), Tokens({"pear"}));
    EXPECT_FALSE(tokenizer->tokensForClientObject(TokenizerTestOtherItem()).has_value());
    // No value under the getter, or an unregistered getter: none.
    EXPECT_FALSE(tokenizer->tokensForClientObject(TokenizerTestItem(ZELValue())).has_value());
    const auto unknownGetter =
        ZELTokenizer::tokenizerWithClientObjectGetter<ZELWhitespaceTokenizer>("noSuchGetter", nullptr);
    EXPECT_FALSE(unknownGetter->tokensForClientObject(TokenizerTestItem(ZELValue(U("x")))).has_value());
    // The non-empty tokenizer reads a missing value as "no".
    const auto nonEmpty = ZELTokenizer::tokenizerWithClientObjectGetter<ZELNonEmptyTokenTokenizer>("testTitle", nullptr);
    EXPECT_EQ(nonEmpty->tokensForClientObject(TokenizerTestOtherItem()), Tokens({"no"}));
}

TEST(ZELTokenizer, BoolTokenizerAnswersYesOnlyForTrueValues) {
    registerTestGetters();
    const auto otherClass = ZELTokenizerItemClass::registerItemClass<TokenizerTestOtherItem>("TokenizerTestOtherItem");
    // The required class is not consulted.
    const auto tokenizer = ZELTokenizer::tokenizerWithClientObjectGetter<ZELBoolTokenizer>("testTitle", otherClass);
    const ZELTokenSet yes = Tokens({"yes"});
    const ZELTokenSet no = Tokens({"no"});
    EXPECT_EQ(tokenizer->tokensForClientObject(TokenizerTestItem(ZELValue(true))), yes);
    EXPECT_EQ(tokenizer->tokensForClientObject(TokenizerTestItem(ZELValue(7))), yes);
    EXPECT_EQ(tokenizer->tokensForClientObject(TokenizerTestItem(ZELValue(false))), no);
    EXPECT_EQ(tokenizer->tokensForClientObject(TokenizerTestItem(ZELValue(U("yes")))), no);
    EXPECT_EQ(tokenizer->tokensForClientObject(TokenizerTestOtherItem()), no);
    EXPECT_EQ(ZELTokenizer::tokenizer<ZELBoolTokenizer>()->tokensForClientObject(TokenizerTestItem(ZELValue(true))), no);
}

TEST(ZELTokenizerSerialization, RepresentationsRoundTripForEveryBuiltInAndHostClass) {
    const auto itemClass = ZELTokenizerItemClass::registerItemClass<TokenizerTestItem>("TokenizerTestItem");
    for (const char* name :
         {"ZELTokenizer", "ZELIdentityValueTokenizer", "ZELNonEmptyTokenTokenizer", "ZELBoolTokenizer",
          "ZELWhitespaceTokenizer", "ZELWordTokenizer", "ZELJapaneseTokenizer", "ZELDateTokenizer",
          "ZELDateYearTokenizer", "ZELDateMonthTokenizer", "ZELDateDayTokenizer", "ZELDateHourTokenizer",
          "ZELDateMinuteTokenizer", "ZELDateSecondTokenizer", "ZELDateWeekdayTokenizer",
          "ZELDetectedTextInfoTokenizer", "ZELDetectedTextLinkTokenizer"}) {
        SCOPED_TRACE(name);
        const ZELValue bare = Dictionary({{"TokenizerClass", ZELValue::fromUTF8(name)}});
        ZELError error;
        const auto made = ZELTokenizer::tokenizerForSerializedRepresentation(bare, &error);
        ASSERT_TRUE(made);
        EXPECT_FALSE(error.isError());
        EXPECT_EQ(made->className(), name);
        EXPECT_EQ(made->serializedRepresentation(), bare);

        made->setClientObjectValueGetter("testTitle");
        made->setClientObjectRequiredClass(itemClass);
        const ZELValue full = made->serializedRepresentation();
        EXPECT_EQ(full, Dictionary({{"TokenizerClass", ZELValue::fromUTF8(name)},
                                    {"ClientObjectClass", ZELValue(U("TokenizerTestItem"))},
                                    {"ClientObjectGetter", ZELValue(U("testTitle"))}}));
        const auto again = ZELTokenizer::tokenizerForSerializedRepresentation(full, &error);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->serializedRepresentation(), full);
    }
    const auto weekday = ZELTokenizer::tokenizerForSerializedRepresentation(
        Dictionary({{"TokenizerClass", ZELValue(U("ZELDateWeekdayTokenizer"))}}), nullptr);
    ASSERT_TRUE(std::dynamic_pointer_cast<ZELDateTokenizer>(weekday));
    EXPECT_EQ(std::static_pointer_cast<ZELDateTokenizer>(weekday)->calendarUnit(), ZELCalendarUnitWeekday);

    // A host class resolves by its registered name.
    ZELTokenizer::registerTokenizerClass<TokenizerTestFixedTokenizer>("TokenizerTestFixedTokenizer");
    const ZELValue host = Dictionary({{"TokenizerClass", ZELValue(U("TokenizerTestFixedTokenizer"))}});
    const auto made = ZELTokenizer::tokenizerForSerializedRepresentation(host, nullptr);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->serializedRepresentation(), host);
}

TEST(ZELTokenizerSerialization, MissingClassesGiveNoneWithoutError) {
    for (const ZELValue& representation :
         {Dictionary({{"TokenizerClass", ZELValue(U("ZELSpectralTokenizer"))}}),
          Dictionary({{"TokenizerClass", ZELValue(U("ZELWordTokenizer"))},
                      {"ClientObjectClass", ZELValue(U("NoSuchItemClass"))}}),
          Dictionary({}), Dictionary({{"TokenizerClass", ZELValue(U(""))}})}) {
        ZELError error = ZELError::errorWithZELErrorCode(ZELErrorCodeIOFailure, "left over");
        EXPECT_FALSE(ZELTokenizer::tokenizerForSerializedRepresentation(representation, &error));
        EXPECT_FALSE(error.isError());
    }
    // Empty getter and class names mean none.
    const auto made = ZELTokenizer::tokenizerForSerializedRepresentation(
        Dictionary({{"TokenizerClass", ZELValue(U("ZELWordTokenizer"))},
                    {"ClientObjectClass", ZELValue(U(""))},
                    {"ClientObjectGetter", ZELValue(U(""))}}),
        nullptr);
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->clientObjectValueGetter().empty());
    EXPECT_FALSE(made->clientObjectRequiredClass());

    ZELError error;  // not a dictionary
    EXPECT_FALSE(ZELTokenizer::tokenizerForSerializedRepresentation(
        ZELValue(ZELValue::Array{ZELValue(U("ZELWordTokenizer"))}), &error));
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeInvalidData));
    EXPECT_EQ(error.failureReason(), "expected dictionary for tokenizer definition");
}

TEST(ZELTokenizer, UserInputTokensComeInTheOrderOfTheirFirstOccurrence) {
    const auto whitespace = ZELTokenizer::tokenizer<ZELWhitespaceTokenizer>();
    EXPECT_EQ(whitespace->tokensForUserInput(U("Big red apple")), TokenList({"Big", "red", "apple"}));
    // Found ignoring case; a token that does not occur comes last.
    const auto fixed = ZELTokenizer::tokenizer<TokenizerTestFixedTokenizer>();
    EXPECT_EQ(fixed->tokensForUserInput(U("big red apple")), TokenList({"Big", "RED", "zzz"}));
    // Case folding that changes lengths keeps the order.
    EXPECT_EQ(whitespace->tokensForUserInput(U("ßa ﬁx end")), TokenList({"ßa", "ﬁx", "end"}));
}
