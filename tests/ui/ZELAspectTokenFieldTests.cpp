// The search field and its completion list, driven by real key and mouse events over a small
// database.

#include <QCheckBox>
#include <QClipboard>
#include <QFrame>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>

#include "ZELUITestSupport.h"
#include "zel/ui/ZELAspectTokenFieldPopUpOptionsController.h"
#include "zel/userquery/ZELUserCriteria.h"

namespace {

using Tokens = std::vector<std::string>;

TEST_F(ZELTokenFieldTest, TypedTermsBecomeTokensAndQueries) {
    field_->setLimitedAspectIdentifiers({u"title"}, u"t");
    field_->setLimitedAspectIdentifiers({u"tag"}, u"tag:");
    struct Case {
        const char* typed;
        Qt::Key key;  // Qt::Key_unknown: none
        std::vector<std::string> rows;
        Tokens tokens;
        std::set<size_t> items;  // indexes of the recipes found
    } const cases[] = {
        {"ap", Qt::Key_Return, {"apple", "apricot"}, {"apple"}, {0, 3}},
        {"!ap", Qt::Key_Return, {"! apple", "! apricot"}, {"NOT apple"}, {1, 2, 4}},
        {"fru", Qt::Key_Tab, {"fruit"}, {"fruit"}, {0, 1}},
        // The longest narrowing prefix: "tag:" rather than "t".
        {"tag:des", Qt::Key_Return, {"dessert"}, {"dessert"}, {2, 3}},
        // A space ends the term: its first completion becomes a token.
        {"banana ", Qt::Key_unknown, {}, {"banana"}, {2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        field_->clear();
        field_->setFocus();
        type(c.typed);
        if (!c.rows.empty()) {
            EXPECT_TRUE(field_->isCompletionListShown());
            EXPECT_EQ(rows(), c.rows);
        }
        if (c.key == Qt::Key_Return && c.rows.size() > 1) saveScreenshot(list()->popup(), "completion-list.png");
        if (c.key != Qt::Key_unknown) QTest::keyClick(field_, c.key);
        EXPECT_EQ(tokens(), c.tokens);
        std::set<ZELID> expected;
        for (size_t index : c.items) expected.insert(static_cast<ZELID>(index + 1));
        EXPECT_EQ(found(), expected);
    }
    EXPECT_GT(delegate_.queryChanges, 0);
    EXPECT_GT(delegate_.textChanges, 0);
}

TEST_F(ZELTokenFieldTest, LeavingTheFieldKeepsTextNobodyPicked) {
    type("zzz");
    EXPECT_EQ(rows(), std::vector<std::string>{"zzz has no matches"});
    other_->setFocus();
    QApplication::processEvents();
    EXPECT_FALSE(field_->isCompletionListShown());
    EXPECT_EQ(tokens(), Tokens{"[zzz]"});
    field_->clear();
    field_->setFocus();
    type("ap");
    QTest::keyClick(field_, Qt::Key_Down);
    other_->setFocus();  // a picked row is committed
    EXPECT_EQ(tokens(), Tokens{"apple"});
}

TEST_F(ZELTokenFieldTest, AStaleCollectionIsIgnored) {
    QTest::keyClicks(field_, "a");
    // The first collection has answered; its answer waits in the event queue.
    while (field_->isCollectingInBackground()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    db_->acquireLock();  // the second collection waits for the lock
    QTest::keyClicks(field_, "p");
    QApplication::processEvents();
    EXPECT_TRUE(rows().empty());
    db_->relinquishLock();
    waitForCollection();
    EXPECT_EQ(rows(), (std::vector<std::string>{"apple", "apricot"}));
}

TEST_F(ZELTokenFieldTest, TheListSaysSoWhileTheCollectionWaitsForTheDatabase) {
    db_->acquireLock();
    QTest::keyClicks(field_, "ap");
    EXPECT_TRUE(QTest::qWaitFor([&] { return rows() == std::vector<std::string>{"[Loading Completions...]"}; }, 2000));
    db_->relinquishLock();
    waitForCollection();
    EXPECT_EQ(rows(), (std::vector<std::string>{"apple", "apricot"}));
}

TEST_F(ZELTokenFieldTest, ReturnDuringABackgroundCollectionDoesNotWaitForIt) {
    for (int i = 0; i < 150; ++i) addItem("w" + std::to_string(1000 + i), "");
    db_->slownessMilliseconds = 30;  // the collection would hold the lock for seconds
    QTest::keyClicks(field_, "w");
    ASSERT_TRUE(QTest::qWaitFor([&] { return db_->lockCount() > 0; }, 2000));
    const auto start = std::chrono::steady_clock::now();
    QTest::keyClick(field_, Qt::Key_Return);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    db_->slownessMilliseconds = 0;
    EXPECT_EQ(tokens(), Tokens{"w1000"});
    EXPECT_FALSE(field_->isCompletionListShown());
}

TEST_F(ZELTokenFieldTest, ScrollingToTheMoreRowLoadsMoreRows) {
    for (int i = 0; i < 150; ++i) addItem("w" + std::to_string(1000 + i), "");
    type("w");
    ASSERT_EQ(rows().size(), 101u);
    EXPECT_EQ(rows().back(), "[More Completions Available]");
    list()->listView()->scrollToBottom();
    EXPECT_TRUE(QTest::qWaitFor([&] { return rows().size() == 150; }, 5000));
    EXPECT_EQ(rows().back(), "w1149");
}

TEST_F(ZELTokenFieldTest, TheListStaysOnTheScreenAndFlipsAboveTheFieldNearItsBottom) {
    const QRect available = field_->screen()->availableGeometry();
    const int height = window_.frameGeometry().height();
    struct Case {
        QPoint windowAt;
        bool above;
    } const cases[] = {
        {{available.left() + 10, available.top() + 10}, false},
        {{available.left() + 10, available.bottom() - height}, true},
        {{available.right() - 200, available.top() + 10}, false},
    };
    for (const Case& c : cases) {
        field_->clear();
        window_.move(c.windowAt);
        QApplication::processEvents();
        field_->setFocus();
        type("a");
        ASSERT_TRUE(field_->isCompletionListShown());
        const QRect popup = list()->popup()->geometry();
        const QRect field(field_->mapToGlobal(QPoint(0, 0)), field_->size());
        EXPECT_TRUE(available.contains(popup));
        if (c.above) {
            EXPECT_LE(popup.bottom(), field.top());
        } else {
            EXPECT_GE(popup.top(), field.bottom());
        }
        QTest::keyClick(field_, Qt::Key_Escape);
    }
}

TEST_F(ZELTokenFieldTest, AClickWhereTheCaretIsTogglesTheListUnlessItGaveTheFocus) {
    type("ap");
    QTest::keyClick(field_, Qt::Key_Escape);
    const QPoint caret = field_->cursorRect().center();
    QTest::qWait(ZELAspectTokenField::becomingFocusMilliseconds);
    for (const bool shown : {true, false}) {
        QTest::mouseClick(field_->viewport(), Qt::LeftButton, {}, caret);
        EXPECT_EQ(field_->isCompletionListShown(), shown);
    }
    field_->setAlwaysShowCompletionListOnBecomeFirstResponder(true);
    other_->setFocus();
    QTest::mouseClick(field_->viewport(), Qt::LeftButton, {}, caret);
    EXPECT_TRUE(field_->hasFocus());
    EXPECT_TRUE(field_->isCompletionListShown());
}

TEST_F(ZELTokenFieldTest, KeyboardSelectionStopsAtBothEnds) {
    type("ap");
    const std::pair<Qt::Key, std::vector<int>> steps[] = {
        {Qt::Key_Up, {}}, {Qt::Key_Down, {0}}, {Qt::Key_Down, {1}}, {Qt::Key_Down, {1}},
        {Qt::Key_Up, {0}}, {Qt::Key_Up, {0}},
    };
    for (const auto& [key, selection] : steps) {
        QTest::keyClick(field_, key);
        EXPECT_EQ(selectedRows(), selection);
    }
    EXPECT_EQ(tokens(), Tokens{"[ap]"});  // moving picks nothing yet
}

TEST_F(ZELTokenFieldTest, ShiftCollectsAlternativesAndAltNegates) {
    type("a");
    QTest::keyPress(field_, Qt::Key_Shift);
    for (int i = 0; i < 2; ++i) {
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::ShiftModifier);
        QApplication::sendEvent(field_, &down);
    }
    EXPECT_EQ(selectedRows(), (std::vector<int>{0, 1}));
    EXPECT_EQ(tokens(), Tokens{"[a]"});
    QTest::keyRelease(field_, Qt::Key_Shift);
    EXPECT_EQ(tokens(), Tokens{"apple OR apricot"});
    EXPECT_EQ(found(), (std::set<ZELID>{1, 2, 4}));

    type("ban");
    QTest::keyPress(field_, Qt::Key_Alt);
    EXPECT_EQ(rows(), std::vector<std::string>{"! banana"});
    QTest::keyClick(field_, Qt::Key_Return);
    QTest::keyRelease(field_, Qt::Key_Alt);
    EXPECT_EQ(tokens(), (Tokens{"apple OR apricot", "NOT banana"}));
    EXPECT_EQ(found(), (std::set<ZELID>{1, 2, 4}));
}

TEST_F(ZELTokenFieldTest, PicksWithTheAlternativesBoxStayTransitoryUntilCommitted) {
    type("a");
    QTest::mouseClick(list()->alternativesButton(), Qt::LeftButton);
    ASSERT_TRUE(list()->isJoinCompletionsAsAlternatives());
    for (int row : {0, 2, 1, 1}) clickRow(row);  // the second click on row 1 undoes the first
    EXPECT_EQ(selectedRows(), (std::vector<int>{0, 2}));
    EXPECT_EQ(tokens(), Tokens{"[a]"});
    EXPECT_EQ(field_->toPlainText().count(QChar::ObjectReplacementCharacter), 1);  // the transitory token
    // A pick that the next list lacks is still shown, and still picked.
    type("p");
    EXPECT_EQ(rows(), (std::vector<std::string>{"apple", "apricot", "avocado"}));
    EXPECT_EQ(selectedRows(), (std::vector<int>{0, 2}));
    QTest::keyClick(field_, Qt::Key_Return);
    EXPECT_EQ(tokens(), Tokens{"apple OR avocado"});
    EXPECT_EQ(found(), (std::set<ZELID>{1, 4, 5}));

    // A pick undone before the list hides leaves nothing behind.
    type("ban");
    QTest::mouseClick(list()->alternativesButton(), Qt::LeftButton);
    for (int i = 0; i < 2; ++i) clickRow(0);
    QTest::keyClick(field_, Qt::Key_Escape);
    EXPECT_EQ(tokens(), (Tokens{"apple OR avocado", "[ban]"}));
    EXPECT_EQ(field_->toPlainText().count(QChar::ObjectReplacementCharacter), 1);
}

TEST_F(ZELTokenFieldTest, PasteTokenizesKnownWords) {
    type("x");
    QApplication::clipboard()->setText("Apple unknownword BANANA");
    field_->paste();
    EXPECT_EQ(tokens(), (Tokens{"apple", "banana", "[x unknownword]"}));
}

TEST_F(ZELTokenFieldTest, CopyAndPasteKeepNegationAndAlternatives) {
    auto query = ZELUserQuery::query();
    auto criteria = ZELUserCriteria::criteria();
    criteria->setSearchTerms({u"apple", u"apricot"});
    criteria->setAspectGroups({ZELAspectTokenFieldGroup::groupWithAspects({aspect(u"title")})});
    criteria->setIsNegate(true);
    query->addUserCriterias({criteria});
    query->addMatchValue(u"dessert", aspect(u"tag"));
    field_->setCriteriaFromUserQuery(*query);
    const Tokens original = {"NOT( apple OR apricot )", "dessert"};
    EXPECT_EQ(tokens(), original);
    EXPECT_EQ(found(), std::set<ZELID>{3});
    saveScreenshot(field_, "token-field.png");

    field_->selectAll();
    field_->copy();
    const QMimeData* copied = QApplication::clipboard()->mimeData();
    EXPECT_EQ(copied->text().toStdString(), " apple apricot  dessert ");
    EXPECT_TRUE(copied->hasFormat(ZELAspectTokenField::userQueryMimeType));
    field_->clear();
    field_->paste();
    EXPECT_EQ(tokens(), original);
    EXPECT_EQ(found(), std::set<ZELID>{3});

    // Without the query form, the words come back as separate tokens.
    QApplication::clipboard()->setText(copied->text());
    field_->clear();
    field_->paste();
    EXPECT_EQ(tokens(), (Tokens{"apple", "apricot", "dessert"}));
}

TEST_F(ZELTokenFieldTest, TokensMoveToTheFieldsThatSearchTheirAspects) {
    auto query = ZELUserQuery::query();
    query->addMatchValue(u"apple", aspect(u"title"));
    query->addMatchValue(u"fruit", aspect(u"tag"));
    ZELAspectTokenField titles(&window_), tags(&window_), both(&window_);
    titles.addAspectGroup({aspect(u"title")}, u"Title");
    tags.addAspectGroup({aspect(u"tag")}, u"Tag");
    both.addAspectGroup({aspect(u"title")}, u"Title");
    both.addAspectGroup({aspect(u"tag")}, u"Tag");
    std::set<const ZELUserCriteria*> claimed;
    titles.setCriteriaFromUserQuery(*query, &claimed);
    tags.setCriteriaFromUserQuery(*query, &claimed);
    EXPECT_EQ(tokens(&titles), Tokens{"apple"});
    EXPECT_EQ(tokens(&tags), Tokens{"fruit"});
    EXPECT_EQ(claimed.size(), 2u);

    both.transferCriteriaFromTokenFields({&titles, &tags});
    EXPECT_EQ(tokens(&both), (Tokens{"apple", "fruit"}));
    const auto map = both.searchTermAspectMap();
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map.at(u"apple"), ZELAspectTokenField::AspectList{aspect(u"title")});
    titles.clear();
    tags.clear();
    both.transferCriteriaToOrderedTokenFields({&tags, &titles});
    EXPECT_EQ(tokens(&titles), Tokens{"apple"});
    EXPECT_EQ(tokens(&tags), Tokens{"fruit"});
}

TEST_F(ZELTokenFieldTest, AResultWithoutTheYesValueMakesTheFieldReadOnly) {
    addItem("flag", "yes");
    field_->setEnabledStateAspect(aspect(u"tag"));
    const auto tag = [&](const char16_t* value) {
        return ZELQuery::queryMatchingID(aspect(u"tag")->aspectBitIDForValue(value, false))
            ->resultSetInDatabase(db_);
    };
    delegate_.resultSet = tag(u"yes");
    field_->itemResultSetDidChange();
    EXPECT_FALSE(field_->isReadOnly());
    delegate_.resultSet = tag(u"fruit");
    field_->itemResultSetDidChange();
    EXPECT_TRUE(field_->isReadOnly());
    other_->setFocus();
    QTest::keyClick(other_, Qt::Key_Tab);
    EXPECT_FALSE(field_->hasFocus());  // empty and read-only: disabled
}

TEST_F(ZELTokenFieldTest, TokenOptionsNegateAndKeepOneGroup) {
    type("apple ");
    QTest::keyClick(field_, Qt::Key_Escape);
    ASSERT_FALSE(field_->isCompletionListShown());
    QTest::keyClick(field_, Qt::Key_Down);
    auto* options = field_->popUpOptionsController();
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->popup()->isVisible());
    const auto& boxes = options->checkBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[1]->text(), "Search Title");
    EXPECT_TRUE(boxes[1]->isEnabled() && boxes[1]->isChecked());
    EXPECT_FALSE(boxes[2]->isEnabled());

    QTest::mouseClick(boxes[0], Qt::LeftButton);
    EXPECT_EQ(tokens(), Tokens{"NOT apple"});
    EXPECT_EQ(found(), (std::set<ZELID>{2, 3, 5}));
    // The last checked group stays checked.
    QTest::mouseClick(boxes[1], Qt::LeftButton);
    EXPECT_TRUE(boxes[1]->isChecked());
    EXPECT_EQ(tokens(), Tokens{"NOT apple"});

    options->dismissPopUpWindow();
    QApplication::processEvents();
    EXPECT_FALSE(field_->popUpOptionsController());
}

}  // namespace
