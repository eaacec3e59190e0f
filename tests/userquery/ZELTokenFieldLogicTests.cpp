// The search field's logic that needs no window: the typed term before the caret, the
// narrowing prefixes and the criteria made for tokens.

#include "ZELUserQueryTestSupport.h"
#include "zel/tokenizer/ZELDateTokenizer.h"
#include "zel/userquery/ZELAspectNarrowingPrefixes.h"
#include "zel/userquery/ZELCompletionPrefix.h"
#include "zel/userquery/ZELDateUnitCompletionLists.h"
#include "zel/userquery/ZELEnabledCompletions.h"
#include "zel/userquery/ZELSmallListCompletions.h"
#include "zel/userquery/ZELTokenCriteriaMaker.h"
#include "zel/userquery/ZELUserCriteria.h"

namespace {

TEST(CompletionPrefix, ReadsTheTermBeforeTheCaret) {
    struct Case {
        std::u16string text;
        size_t caret;
        std::u16string prefix;
        size_t start, length;
        bool negated, terminal;
    };
    const Case cases[] = {
        {u"", 0, u"", 0, 0, false, false},
        {u"   ", 3, u"", 0, 0, false, false},
        {u"app", 3, u"app", 0, 3, false, false},
        {u"app", 2, u"ap", 0, 2, false, false},
        {u"  app ", 6, u"app ", 0, 6, false, true},
        {u"\uFFFCapp", 4, u"app", 1, 3, false, false},
        {u"a\uFFFC \uFFFC ba", 7, u"ba", 4, 3, false, false},
        {u"\uFFFC!app", 5, u"app", 1, 4, true, false},
        {u"! app\n", 6, u"app\n", 0, 6, true, true},
        {u"\uFFFC", 1, u"", 0, 0, false, false},
        {u"app", 99, u"app", 0, 3, false, false},
    };
    for (const Case& c : cases) {
        const auto prefix = ZELCompletionPrefix::atCaret(c.text, c.caret);
        SCOPED_TRACE(ZELStringToUTF8(c.text));
        EXPECT_EQ(prefix.prefix, c.prefix);
        EXPECT_EQ(prefix.rangeStart, c.start);
        EXPECT_EQ(prefix.rangeLength, c.length);
        EXPECT_EQ(prefix.isNegated, c.negated);
        EXPECT_EQ(prefix.endsWithTerminal(), c.terminal);
        EXPECT_EQ(prefix.cleanPrefix(), c.terminal ? c.prefix.substr(0, c.prefix.size() - 1) : c.prefix);
    }
}

class TokenFieldLogicTest : public ZELUserQueryDatabaseTest {
protected:
    std::vector<std::string> identifiers(const ZELAspectNarrowingPrefixes::AspectList& aspects) {
        std::vector<std::string> names;
        for (const auto& aspect : aspects) names.push_back(ZELStringToUTF8(aspect->aspectIdentifier()));
        return names;
    }
};

TEST_F(TokenFieldLogicTest, TheLongestNarrowingPrefixWins) {
    const ZELAspectNarrowingPrefixes::AspectList all = {aspect("title"), aspect("tag"), aspect("label")};
    ZELAspectNarrowingPrefixes prefixes;
    // "t" sorts before "tag:": taking the first match met would narrow "tag:x" to the titles.
    prefixes.setLimitedAspectIdentifiers({u"title"}, u"t");
    prefixes.setLimitedAspectIdentifiers({u"tag", u"label"}, u"tag:");
    struct Case {
        std::u16string input, narrowed;
        std::vector<std::string> aspects;
    } const cases[] = {
        {u"tag:fruit", u"fruit", {"tag", "label"}},
        {u"tip", u"ip", {"title"}},
        {u"fruit", u"fruit", {"title", "tag", "label"}},
    };
    for (const Case& c : cases) {
        const auto narrowed = prefixes.narrow(c.input, all);
        EXPECT_EQ(narrowed.input, c.narrowed);
        EXPECT_EQ(identifiers(narrowed.aspects), c.aspects);
    }
    prefixes.setLimitedAspectIdentifiers({}, u"tag:");
    EXPECT_EQ(identifiers(prefixes.narrow(u"tag:x", all).aspects), std::vector<std::string>{"title"});
}

TEST_F(TokenFieldLogicTest, CriteriaAreSearchedInTheGroupsWhoseAspectsKnowTheirTerms) {
    addItem({{"title", "apple"}, {"tag", "apple fruit"}, {"label", "red"}});
    const auto titles = ZELAspectTokenFieldGroup::groupWithAspects({aspect("title")}, u"Title");
    const auto tags = ZELAspectTokenFieldGroup::groupWithAspects({aspect("tag"), aspect("label")}, u"Tags");
    const auto both = ZELAspectTokenFieldGroup::groupWithAspects({aspect("title"), aspect("tag")}, u"Both");
    const auto all = ZELAspectTokenFieldGroup::aspectsInGroups({titles, tags});
    struct Case {
        std::vector<std::u16string> terms;
        ZELUserCriteria::GroupList fieldGroups;
        ZELUserCriteria::GroupList expected;
    } const cases[] = {
        {{u"fruit"}, {titles, tags}, {tags}},
        {{u"Apple"}, {titles, tags}, {titles, tags}},
        {{u"red", u"apple"}, {titles, tags}, {titles, tags}},
        {{u"unknown"}, {titles, tags}, {}},
        // Of two groups where one holds the other, the smaller stays.
        {{u"apple"}, {titles, both}, {titles}},
        {{u"apple"}, {both, titles}, {titles}},
    };
    for (const Case& c : cases) {
        auto criteria = ZELTokenCriteriaMaker::criteriaForCompletions(c.terms, std::nullopt, all, c.fieldGroups);
        EXPECT_EQ(criteria->chosenAspectGroups(), c.expected);
        EXPECT_EQ(criteria->possibleAspectGroups(), c.expected);
        EXPECT_EQ(criteria->allAspectGroups(), c.fieldGroups);
    }
    ZELTokenCriteriaMaker::AspectList found;
    std::vector<ZELID> ids;
    EXPECT_EQ(ZELTokenCriteriaMaker::canonicalStringForCompletion(u"APPLE", all, &found, &ids), u"apple");
    EXPECT_EQ(found, (ZELTokenCriteriaMaker::AspectList{aspect("title"), aspect("tag")}));
    EXPECT_EQ(ids, (std::vector<ZELID>{idOf("title", "apple"), idOf("tag", "apple")}));
}

TEST_F(TokenFieldLogicTest, SourceCriteriaKeepTheirNegationAndAlternatives) {
    addItem({{"title", "Apple pie"}, {"tag", "fruit"}});
    const auto titles = ZELAspectTokenFieldGroup::groupWithAspects({aspect("title")}, u"Title");
    const auto tags = ZELAspectTokenFieldGroup::groupWithAspects({aspect("tag")}, u"Tag");
    ZELUserCriteria source;
    source.setSearchTerms({u"apple", u"pie", u"nowhere"});
    source.setAspectGroups({ZELAspectTokenFieldGroup::groupWithAspects({aspect("title")})});
    source.setIsNegate(true);
    auto criteria = ZELTokenCriteriaMaker::criteriaFromSourceCriteria(source, {u"a", u"p", u"n"}, {titles, tags});
    ASSERT_TRUE(criteria);
    EXPECT_EQ(criteria->searchTerms(), (std::vector<ZELString>{u"Apple", u"pie"}));
    EXPECT_EQ(criteria->displaySearchTerms(), (std::vector<ZELString>{u"a", u"p"}));
    EXPECT_TRUE(criteria->isNegate());
    EXPECT_EQ(criteria->chosenAspectGroups(), ZELUserCriteria::GroupList{titles});

    // Refused: no shared aspect, no known term, a chosen group without a match.
    source.setAspectGroups({ZELAspectTokenFieldGroup::groupWithAspects({aspect("body")})});
    EXPECT_FALSE(ZELTokenCriteriaMaker::criteriaFromSourceCriteria(source, {}, {titles, tags}));
    source.setAspectGroups({ZELAspectTokenFieldGroup::groupWithAspects({aspect("title")})});
    source.setSearchTerms({u"nowhere"});
    EXPECT_FALSE(ZELTokenCriteriaMaker::criteriaFromSourceCriteria(source, {}, {titles, tags}));
    source.setSearchTerms({u"fruit"});
    EXPECT_FALSE(ZELTokenCriteriaMaker::criteriaFromSourceCriteria(source, {}, {titles, tags}));
}

TEST_F(TokenFieldLogicTest, EnabledCompletionsFindItemsWithoutTheFieldsOwnConstraints) {
    addItem({{"title", "apple"}, {"tag", "fruit"}});
    addItem({{"title", "apple"}, {"tag", "dessert"}});
    addItem({{"title", "toast"}, {"tag", "savory"}});
    const ZELEnabledCompletions::CompletionSet completions = {u"fruit", u"Dessert", u"savory", u"unknown"};
    const ZELEnabledCompletions::AspectList tags = {aspect("tag")};
    const auto titleApple = ZELQuery::queryMatchingID(idOf("title", "apple"));
    const auto tagFruit = ZELQuery::queryMatchingID(idOf("tag", "fruit"));
    const auto both = ZELQuery::queryCombiningQueries({titleApple, tagFruit}, ZELBooleanOperationAND);
    struct Case {
        std::shared_ptr<ZELQuery> query;
        bool withResultSet, validation;
        std::optional<ZELEnabledCompletions::CompletionSet> enabled;
    } const cases[] = {
        {titleApple, true, false, ZELEnabledCompletions::CompletionSet{u"fruit", u"Dessert"}},
        // The tag's own constraint is taken out: every tag of an apple stays enabled.
        {both, true, false, ZELEnabledCompletions::CompletionSet{u"fruit", u"Dessert"}},
        {tagFruit, true, false, ZELEnabledCompletions::CompletionSet{u"fruit", u"Dessert", u"savory"}},
        {nullptr, false, true, ZELEnabledCompletions::CompletionSet{u"fruit", u"Dessert", u"savory"}},
        {nullptr, false, false, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto resultSet = c.withResultSet ? c.query->resultSetInDatabase(db_) : nullptr;
        EXPECT_EQ(ZELEnabledCompletions::enabledCompletions(completions, tags, c.query, resultSet, c.validation),
                  c.enabled);
    }
    EXPECT_EQ(ZELEnabledCompletions::enabledCompletions({u"fruit"}, tags, tagFruit,
                                                        tagFruit->resultSetInDatabase(db_), false),
              std::nullopt);
}

TEST(SmallListCompletions, MatchingModesAcceptOccurrencesWhereTheyMay) {
    struct Case {
        std::u16string display, input;
        bool start, wordStart, anywhere;
    } const cases[] = {
        {u"Mail-Order", u"order", false, true, true},   // after a hyphen
        {u"Mail Order", u"order", false, false, true},  // after a space
        {u"Mail Order", u"MAIL", true, true, true},
        {u"Order-Order", u"order", true, true, true},
        {u"Mail(Box)", u"box", false, true, true},
        {u"mailbox", u"box", false, false, true},
        // A refused occurrence does not end the search.
        {u"boxbox/box", u"box", true, true, true},
        {u"xbox/box", u"box", false, true, true},
        {u"\u00C9t\u00E9", u"\u00E9t\u00E9", true, true, true},
        {u"Mail", u"mails", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ZELStringToUTF8(c.display) + " / " + ZELStringToUTF8(c.input));
        const bool expected[] = {c.start, c.wordStart, c.anywhere};
        for (int32_t mode = 0; mode < 3; ++mode) {
            EXPECT_EQ(ZELSmallListCompletions::displayStringMatches(c.display, c.input, mode),
                      expected[mode])
                << mode;
        }
    }
}

TEST(SmallListCompletions, EqualDisplayStringsGetTheFirstFreeNumber) {
    // "Red (2)" is taken by a completion of its own, so the second "Red" gets " (3)".
    const std::vector<ZELString> completions = {u"red", u"red (2)", u"RED", u"Red", u"blue"};
    const auto capitalized = [](const ZELString& completion) {
        ZELString display = completion;
        for (char16_t& c : display) c = static_cast<char16_t>(std::tolower(c));
        display[0] = static_cast<char16_t>(std::toupper(display[0]));
        return display;
    };
    const auto list = ZELSmallListCompletions::listWithCompletions(completions, capitalized);
    ASSERT_EQ(list->count(), completions.size());
    EXPECT_EQ(list->displayStrings(),
              (std::vector<ZELString>{u"Blue", u"Red", u"Red (2)", u"Red (3)", u"Red (4)"}));
    for (const ZELString& completion : completions)
        EXPECT_TRUE(list->displayStringForCompletion(completion));

    const auto filtered = ZELSmallListCompletions::filteredList(
        list, u"3)", ZELSmallListCompletions::MatchingModeWordStart);
    EXPECT_EQ(filtered->completions(), std::vector<ZELString>{u"RED"});
    EXPECT_EQ(ZELSmallListCompletions::filteredList(list, u"", 0), list);
    EXPECT_EQ(ZELSmallListCompletions::filteredList(list, u"green", 2)->count(), 0u);
}

TEST(DateUnitCompletionLists, NamesComeFromTheTokenizersCalendar) {
    struct Case {
        const char* locale;
        uint32_t unit;
        std::vector<ZELString> first;  // the first display strings
        size_t count;
    } const cases[] = {
        {"en_US", ZELCalendarUnitMonth, {u"Jan (01)", u"Feb (02)", u"Mar (03)"}, 12},
        // Sunday is weekday 1, as the date tokens count.
        {"en_US", ZELCalendarUnitWeekday, {u"Sun", u"Mon", u"Tue"}, 7},
        {"de_DE", ZELCalendarUnitWeekday, {u"So.", u"Mo.", u"Di."}, 7},
        // A calendar with a leap month has 13.
        {"he_IL@calendar=hebrew", ZELCalendarUnitMonth, {}, 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + " " + std::to_string(c.unit));
        ASSERT_TRUE(ZELDateTokenizer::setCalendar("UTC", c.locale));
        const auto list = ZELDateUnitCompletionLists::listOfNamedValues(c.unit);
        EXPECT_TRUE(list->isListStatic());
        ASSERT_EQ(list->count(), c.count);
        EXPECT_EQ(std::vector<ZELString>(
                      list->displayStrings().begin(),
                      list->displayStrings().begin() + static_cast<long>(c.first.size())),
                  c.first);
        for (size_t i = 0; i < c.count; ++i)
            EXPECT_EQ(list->completions()[i], ZELStringFromUTF8(std::to_string(i + 1)));
    }
    EXPECT_FALSE(ZELDateUnitCompletionLists::listOfNamedValues(ZELCalendarUnitYear));
    ASSERT_TRUE(ZELDateTokenizer::setCalendar("UTC", "en_US"));
}

}  // namespace
