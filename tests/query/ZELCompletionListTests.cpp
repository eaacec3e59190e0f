// Completion lists: both kinds through the common operations, their derived lists, the sort
// modes of map lists and the description.

#include <gtest/gtest.h>

#include "zel/query/ZELCompletionList.h"
#include "zel/query/ZELCompletionList_Array.h"
#include "zel/query/ZELCompletionList_Map.h"

namespace {

using Strings = std::vector<ZELString>;
using Set = ZELCompletionList::CompletionSet;

std::vector<std::pair<ZELString, ZELString>> entriesOf(const ZELCompletionList& list) {
    std::vector<std::pair<ZELString, ZELString>> entries;
    list.enumerateEntries([&](const ZELString& completion, const ZELString& displayString, bool&) {
        entries.emplace_back(completion, displayString);
    });
    return entries;
}

// Display "Label N" for the completion "vN".
ZELCompletionList_Map::Map labelledMap(std::initializer_list<const char16_t*> numbers) {
    ZELCompletionList_Map::Map map;
    for (const char16_t* number : numbers) map[ZELString(u"Label ") + number] = ZELString(u"v") + number;
    return map;
}

}  // namespace

// An array list answers its completions as display strings; the prefix ignores case but not
// accents; enumeration stops when asked.
TEST(ZELCompletionList, ArrayAnswersItsCompletionsAsDisplayStrings) {
    auto list = ZELCompletionList::listWithCompletions({u"Paris", u"parish", u"\u00E9t\u00E9", u"etage"});
    EXPECT_EQ(list->displayStrings(), (Strings{u"Paris", u"parish", u"\u00E9t\u00E9", u"etage"}));
    EXPECT_EQ(list->completionForDisplayString(u"anything"), u"anything");
    EXPECT_EQ(list->displayStringForCompletion(u"etage"), u"etage");
    EXPECT_EQ(list->displayStringForCompletion(u"Etage"), std::nullopt);
    EXPECT_EQ(list->completionsWithDiplayStringPrefix(u""), (Set{u"Paris", u"parish", u"\u00E9t\u00E9", u"etage"}));
    EXPECT_EQ(list->completionsWithDiplayStringPrefix(u"PAR"), (Set{u"Paris", u"parish"}));
    EXPECT_EQ(list->completionsWithDiplayStringPrefix(u"e"), (Set{u"etage"}));
    EXPECT_EQ(list->completionsWithDiplayStringPrefix(u"\u00C9"), (Set{u"\u00E9t\u00E9"}));
    int visited = 0;
    EXPECT_FALSE(list->enumerateEntries([&](const ZELString&, const ZELString&, bool& stop) {
        stop = ++visited == 2;
    }));
    EXPECT_EQ(visited, 2);
    EXPECT_TRUE(list->enumerateEntries([](const ZELString&, const ZELString&, bool&) {}));
}

TEST(ZELCompletionList, ArraySublistAndAdditionAreSortedNewLists) {
    auto list = ZELCompletionList::listWithCompletions({u"delta", u"alpha"});
    list->setIsListStatic(true);
    auto sublist = list->sublistWithCompletions({u"delta", u"Charlie"});
    EXPECT_EQ(sublist->completions(), (Strings{u"Charlie", u"delta"}));
    EXPECT_FALSE(sublist->isListStatic());
    auto added = list->completionListByAddingCompletions({u"Bravo", u"alpha"}, nullptr);
    EXPECT_EQ(added->completions(), (Strings{u"alpha", u"Bravo", u"delta"}));
    EXPECT_FALSE(added->isListStatic());
    EXPECT_EQ(list->completionListByAddingCompletions({}, nullptr), list);
}

TEST(ZELCompletionList, MapSortModes) {
    ZELCompletionList_Map::Map map{{u"ten", u"10"}, {u"Two", u"2"}, {u"one", u"1"}};
    auto byCompletion = ZELCompletionList_Map::listWithMap(map, ZELCompletionList_Map::SortModeNumericCompletion);
    EXPECT_EQ(byCompletion->displayStrings(), (Strings{u"one", u"Two", u"ten"}));
    EXPECT_EQ(byCompletion->completions(), (Strings{u"1", u"2", u"10"}));
    auto localized = ZELCompletionList_Map::listWithMap(map, ZELCompletionList_Map::SortModeLocalizedCaseInsensitive);
    EXPECT_EQ(localized->displayStrings(), (Strings{u"one", u"ten", u"Two"}));
    auto userLocale = ZELCompletionList_Map::listWithMap(map, ZELCompletionList_Map::SortModeUserLocaleCaseInsensitive);
    EXPECT_EQ(userLocale->displayStrings(), (Strings{u"one", u"ten", u"Two"}));
    auto unknown = ZELCompletionList_Map::listWithMap(map, 7);
    EXPECT_TRUE(unknown->completions().empty());
}

TEST(ZELCompletionList, MapWithExplicitOrderMarksMissingDisplayStrings) {
    auto list = ZELCompletionList_Map::listWithMap(labelledMap({u"1", u"2"}), 5, {u"Label 2", u"Nowhere", u"Label 1"});
    EXPECT_EQ(list->completions(), (Strings{u"v2", u"-ERROR-", u"v1"}));
    EXPECT_EQ(list->completionForDisplayString(u"Label 1"), u"v1");
    EXPECT_EQ(list->completionForDisplayString(u"Nowhere"), std::nullopt);
    EXPECT_EQ(list->displayStringForCompletion(u"v1"), u"Label 1");
    EXPECT_EQ(list->completionsWithDiplayStringPrefix(u"label"), (Set{u"v1", u"v2"}));
}

TEST(ZELCompletionList, MapSublistKeepsDisplayOrderAndSortMode) {
    auto list = ZELCompletionList_Map::listWithMap(labelledMap({u"3", u"1", u"2"}), 5,
                                                   {u"Label 3", u"Label 1", u"Label 2"});
    list->setIsListStatic(true);
    EXPECT_EQ(list->sublistWithCompletions({}), nullptr);
    auto sublist = std::dynamic_pointer_cast<ZELCompletionList_Map>(list->sublistWithCompletions({u"v2", u"v3", u"v9"}));
    ASSERT_TRUE(sublist);
    EXPECT_EQ(sublist->displayStrings(), (Strings{u"Label 3", u"Label 2"}));
    EXPECT_EQ(sublist->map().size(), 2u);
    EXPECT_EQ(sublist->sortMode(), 5);
    EXPECT_FALSE(sublist->isListStatic());
}

TEST(ZELCompletionList, MapAdditionTakesEntriesFromOtherList) {
    auto list = ZELCompletionList_Map::listWithMap(labelledMap({u"1"}), ZELCompletionList_Map::SortModeNumericCompletion);
    auto other = ZELCompletionList_Map::listWithMap(labelledMap({u"10", u"2", u"3"}),
                                                    ZELCompletionList_Map::SortModeLocalizedCaseInsensitive);
    EXPECT_EQ(list->completionListByAddingCompletions({}, other.get()), list);
    auto added = list->completionListByAddingCompletions({u"v10", u"v2"}, other.get());
    EXPECT_EQ(added->displayStrings(), (Strings{u"Label 1", u"Label 2", u"Label 10"}));
    EXPECT_EQ(entriesOf(*added)[2], (std::pair<ZELString, ZELString>{u"v10", u"Label 10"}));
    // Without a list to take display strings from, only a copy remains.
    EXPECT_EQ(list->completionListByAddingCompletions({u"v2"}, nullptr)->count(), 1u);
}
