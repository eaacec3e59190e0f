// The small-list field: its matching modes and its numbered display strings, typed and
// clicked.

#include "ZELUITestSupport.h"
#include "zel/ui/ZELSmallListAspectTokenField.h"

namespace {

// Tags shown capitalized, "_" read as a space and trailing digits dropped: "order1" and
// "order" both show as "Order".
ZELString displayTag(const ZELString& tag) {
    ZELString display = tag;
    while (!display.empty() && display.back() >= u'0' && display.back() <= u'9') display.pop_back();
    for (char16_t& c : display) c = c == u'_' ? u' ' : c;
    display[0] = static_cast<char16_t>(std::toupper(display[0]));
    return display;
}

class SmallListFieldTest : public ZELTokenFieldTest {
protected:
    void SetUp() override {
        ZELTokenFieldTest::SetUp();
        for (const char* tag : {"mail-order", "by_order", "order", "order1"})
            items_[tag] = addItem("x", tag);
        auto* small = new ZELSmallListAspectTokenField(&window_);
        small->addAspectGroup({aspect(u"tag")}, u"Tag");
        small->setDisplayStringGenerator(displayTag);
        small->setTokenDelegate(&delegate_);
        layout_->addWidget(small);
        field_ = small;  // the base field stays with the window
        small_ = small;
    }

    std::map<std::string, ZELID> items_;
    ZELSmallListAspectTokenField* small_ = nullptr;
};

TEST_F(SmallListFieldTest, ModesDecideWhereTypedTextMayOccur) {
    struct Case {
        int32_t mode;
        std::vector<std::string> rows;
        int clicked;
        const char* found;  // the tag of the item the picked token finds
    } const cases[] = {
        {ZELSmallListCompletions::MatchingModeStart, {"Order", "Order (2)"}, 1, "order1"},
        {ZELSmallListCompletions::MatchingModeWordStart,
         {"Mail-order", "Order", "Order (2)"},
         0,
         "mail-order"},
        {ZELSmallListCompletions::MatchingModeAnywhere,
         {"By order", "Mail-order", "Order", "Order (2)"},
         0,
         "by_order"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        small_->clear();
        small_->setCompletionMatchingMode(c.mode);
        small_->setFocus();
        type("ord");
        ASSERT_TRUE(small_->isCompletionListShown());
        EXPECT_EQ(rows(), c.rows);
        clickRow(c.clicked);
        EXPECT_EQ(tokens(), std::vector<std::string>{c.rows[static_cast<size_t>(c.clicked)]});
        EXPECT_EQ(found(), std::set<ZELID>{items_.at(c.found)});
    }
}

TEST_F(SmallListFieldTest, ValuesNoFoundItemCarriesAreDisabledAndTheListFollowsTheDatabase) {
    ZELUserQuery search;
    search.addMatchValue(u"order", aspect(u"tag"));
    delegate_.resultSet = search.generatedQueryForDatabase(*db_)->resultSetInDatabase(db_);
    small_->setFocus();
    type("or");
    EXPECT_EQ(rows(), (std::vector<std::string>{"Order", "Order (2)"}));
    EXPECT_TRUE(list()->rows().isRowSelectable(0));
    EXPECT_FALSE(list()->rows().isRowSelectable(1));

    delegate_.resultSet = nullptr;
    addItem("y", "orchard");
    EXPECT_EQ(small_->precomputedCompletionList()->count(), 7u);  // kept until told
    small_->databaseDidChange();
    waitForCollection();
    EXPECT_EQ(rows(), (std::vector<std::string>{"Orchard", "Order", "Order (2)"}));
}

}  // namespace
