// Item result sets on the calling thread: synchronous loading, taking items from a similar
// set, refreshing, sort criteria, viable aspect bit IDs.

#include "query/ZELQueryTestSupport.h"

class ZELItemResultSetTest : public ZELQueryDatabaseTest {
protected:
    void SetUp() override {
        ZELQueryDatabaseTest::SetUp();
        for (const char* key : {"d", "b", "e", "a", "c"}) {
            ids_.push_back(addItem(key, std::string("word ") + key, "tag"));
        }
    }
    static ZELItemResultSet::SortCriteria byKey(bool ascending) {
        return {ZELItemSortDescriptor("testKey", ascending)};
    }
    std::vector<ZELID> ids_;  // of d, b, e, a, c
};

TEST_F(ZELItemResultSetTest, SynchronousLoadLeavesOutMissingItems) {
    std::vector<ZELID> withMissing = ids_;
    withMissing.push_back(9001);
    withMissing.push_back(9002);
    auto set = setOf(withMissing);
    EXPECT_EQ(set->itemCount(), 7u);
    EXPECT_EQ(set->loadedItemCount(), 0u);
    EXPECT_FALSE(set->finishedLoading());

    auto items = set->allItems();
    EXPECT_EQ(keysOf(items), "dbeac");  // ID order without criteria
    EXPECT_TRUE(set->finishedLoading());
    EXPECT_EQ(set->itemCount(), 5u);
    EXPECT_EQ(set->loadedItems(), items);
    EXPECT_EQ(set->allItems(), items);  // a finished set answers its list

    // Notify on a finished set runs at once on this thread.
    int calls = 0;
    set->loadInBackgroundAndNotifyUsing([&](const std::shared_ptr<ZELItemResultSet>& notified) {
        EXPECT_EQ(notified, set);
        ++calls;
    });
    EXPECT_EQ(calls, 1);
}

TEST_F(ZELItemResultSetTest, EqualityAndHashFollowTheIDs) {
    auto a = setOf(ids_);
    auto b = setOf(ids_);
    b->allItems();
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_FALSE(a->isEqual(*setOf({ids_[0]})));
    EXPECT_FALSE(a->isEqual(*vectorOf(ids_)));
}

TEST_F(ZELItemResultSetTest, SortCriteriaApplyAtOnceOrAtTheNextStore) {
    auto finished = setOf(ids_);
    finished->allItems();
    finished->setLoadedItemSortDescriptors(byKey(true));
    EXPECT_EQ(keysOf(finished->loadedItems()), "abcde");
    finished->setLoadedItemSortDescriptors(byKey(false));
    EXPECT_EQ(keysOf(finished->loadedItems()), "edcba");
    finished->setLoadedItemSortDescriptors(std::nullopt);  // keeps the present order
    EXPECT_EQ(keysOf(finished->loadedItems()), "edcba");
    EXPECT_FALSE(finished->loadedItemSortDescriptors().has_value());

    auto unfinished = setOf(ids_);
    unfinished->setLoadedItemSortDescriptors(byKey(true));
    EXPECT_EQ(keysOf(unfinished->loadedItems()), "");
    EXPECT_EQ(keysOf(unfinished->allItems()), "abcde");
    ASSERT_TRUE(unfinished->loadedItemSortDescriptors());
    EXPECT_EQ(*unfinished->loadedItemSortDescriptors(), byKey(true));
}

TEST(ZELItemSortDescriptor, ValueOrderAndTies) {
    using D = ZELItemSortDescriptor;
    EXPECT_LT(D::compareValues(ZELValue(), ZELValue(1)), 0);
    EXPECT_LT(D::compareValues(ZELValue(1), ZELValue(1.5)), 0);
    EXPECT_GT(D::compareValues(ZELValue(2.5), ZELValue(int64_t{2})), 0);
    EXPECT_EQ(D::compareValues(ZELValue(true), ZELValue(1)), 0);
    EXPECT_LT(D::compareValues(ZELValue(u"apple"), ZELValue(u"Banana")), 0);
    EXPECT_LT(D::compareValues(ZELValue(ZELDate{1.0}), ZELValue(ZELDate{2.0})), 0);
    // A second criterion decides ties of the first; equal items keep their order.
    std::vector<std::shared_ptr<ZELItem>> items;
    for (auto [key, words] : {std::pair{"b", "2"}, std::pair{"a", "9"}, std::pair{"b", "1"}, std::pair{"a", "9"}}) {
        items.push_back(std::make_shared<ZELTestItem>(key, words));
    }
    auto first = items[1], last = items[3];
    ZELTestRegisterItemClass();
    D::sortItems(items, {D("testKey", true), D("testWords", false)});
    std::string order;
    for (const auto& item : items) {
        const auto& test = static_cast<ZELTestItem&>(*item);
        order += ZELStringToUTF8(test.key + test.words);
    }
    EXPECT_EQ(order, "a9a9b2b1");
    EXPECT_EQ(items[0], first);
    EXPECT_EQ(items[1], last);
    // An unknown getter tells nothing apart.
    D::sortItems(items, {D("noSuchGetter", true)});
    EXPECT_EQ(items[0], first);
}

TEST_F(ZELItemResultSetTest, TakingItemsFromASimilarSet) {
    auto all = setOf(ids_);
    auto some = setOf({ids_[0], ids_[3]});
    // Not finished yet: nothing changes.
    EXPECT_FALSE(some->takeLoadedItemsFromSimilarResultSet(*all));
    EXPECT_FALSE(some->finishedLoading());
    all->allItems();
    all->setLoadedItemSortDescriptors(byKey(true));
    EXPECT_TRUE(some->takeLoadedItemsFromSimilarResultSet(*all));
    EXPECT_TRUE(some->finishedLoading());
    EXPECT_EQ(keysOf(some->loadedItems()), "ad");  // the other's order
    EXPECT_EQ(some->loadedItems()->front(), all->loadedItems()->front());  // the same objects

    // Not a subset: false.
    auto outside = setOf({ids_[0], 9001});
    EXPECT_FALSE(outside->takeLoadedItemsFromSimilarResultSet(*all));
    EXPECT_FALSE(outside->finishedLoading());
}

TEST_F(ZELItemResultSetTest, RefreshReplacesChangedItemsAndRemovesDeletedOnes) {
    auto set = setOf(ids_);
    // Not finished: nothing happens.
    set->forceReloadItemsWithIDs(*vectorOf({ids_[0]}));
    EXPECT_EQ(set->loadedItemCount(), 0u);

    set->setLoadedItemSortDescriptors(byKey(true));
    auto before = set->allItems();
    db_->removeItemsWithIDs(*vectorOf({ids_[1]}));  // "b"
    set->forceReloadItemsWithIDs(*vectorOf({ids_[1], ids_[2], 9001}));
    auto after = set->loadedItems();
    EXPECT_EQ(keysOf(after), "acde");
    EXPECT_NE((*after)[3], (*before)[4]);  // "e" was loaded again
    EXPECT_EQ((*after)[0], (*before)[0]);  // "a" was not
    EXPECT_EQ(set->itemIDs()->count(), 5u);  // the IDs stay
    EXPECT_TRUE(set->finishedLoading());

    // IDs the set does not hold leave the list as it was.
    set->forceReloadItemsWithIDs(*vectorOf({9001}));
    EXPECT_EQ(*set->loadedItems(), *after);
}

TEST_F(ZELItemResultSetTest, ViableAspectBitIDsAreAskedOnce) {
    auto empty = ZELItemResultSet::resultSetWithItemIDs(*ZELIDVector::vector(), db_);
    EXPECT_EQ(empty->viableAspectBitIDs(), nullptr);
    EXPECT_TRUE(empty->allItems()->empty());
    EXPECT_TRUE(empty->finishedLoading());

    auto set = setOf({ids_[0], ids_[1]});
    auto viable = set->viableAspectBitIDs();
    EXPECT_EQ(idsOf(viable), idsOf(vectorOf({idOf(u"words", "word"), idOf(u"words", "d"), idOf(u"words", "b"),
                                            idOf(u"tags", "tag")})));
    db_->removeItemsWithIDs(*vectorOf({ids_[0]}));
    EXPECT_EQ(set->viableAspectBitIDs(), viable);  // the cached vector
}
