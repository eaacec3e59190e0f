// The date field: its four lists in one pop-up, picked with the mouse and by typed names, give
// the items that the same terms find through a query on the database.

#include <QClipboard>
#include <QFrame>
#include <cstring>

#include "ZELUITestSupport.h"
#include "zel/tokenizer/ZELDateTokenizer.h"
#include "zel/ui/ZELDateAspectTokenField.h"

namespace {

using Field = ZELDateAspectTokenField;

class DateFieldTest : public ZELTokenFieldTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(ZELDateTokenizer::setCalendar("UTC", "en_US"));
        ZELTokenFieldTest::SetUp();
        ZELRecordItem::registerValueGetterForKey(u"date");
        const std::pair<const char16_t*, std::shared_ptr<ZELTokenizer>> units[] = {
            {u"year", dateTokenizer<ZELDateYearTokenizer>()},
            {u"month", dateTokenizer<ZELDateMonthTokenizer>()},
            {u"day", dateTokenizer<ZELDateDayTokenizer>()},
            {u"weekday", dateTokenizer<ZELDateWeekdayTokenizer>()},
        };
        for (const auto& [identifier, tokenizer] : units) {
            db_->ensureAspectExistsWithIdentifier(identifier)->setAspectValueTokenizer(tokenizer);
        }
        // Every third day of 2011 and 2012, at noon.
        for (int day = 0; day < 731; day += 3) {
            ZELValue::Dictionary values{{u"date", ZELValue(ZELDate{1293883200.0 + day * 86400.0})}};
            db_->addItem(ZELRecordItem::itemWithValues(std::move(values)), nullptr);
        }
        date_ = new Field(&window_);
        date_->setYearAspects({aspect(u"year")}, {aspect(u"month")}, {aspect(u"day")},
                              {aspect(u"weekday")});
        date_->setTokenDelegate(&delegate_);
        layout_->addWidget(date_);
        field_ = date_;  // the base field stays with the window
        date_->setFocus();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return date_->isCompletionListShown() && !date_->isBuildingLists(); }, 5000));
    }

    template <class Tokenizer>
    static std::shared_ptr<ZELTokenizer> dateTokenizer() {
        return ZELTokenizer::tokenizerWithClientObjectGetter<Tokenizer>("date", nullptr);
    }
    ZELCompletionListView* view(uint32_t unit) {
        return date_->completionListWindowControllerForDateUnit(unit)->listView();
    }
    std::vector<std::string> rowsOf(uint32_t unit) { return rows(view(unit)); }
    void click(uint32_t unit, const std::string& text) {
        const auto texts = rowsOf(unit);
        const auto row = std::find(texts.begin(), texts.end(), text) - texts.begin();
        ASSERT_LT(row, static_cast<long>(texts.size())) << text;
        clickRow(static_cast<int>(row), view(unit));
    }
    // The items a query on the database finds for those month and weekday terms.
    std::set<ZELID> queried(const std::vector<ZELString>& months,
                            const std::vector<ZELString>& weekdays, bool negated,
                            const char16_t* year = nullptr) {
        ZELUserQuery query;
        if (year) query.addMatchValue(year, aspect(u"year"));
        for (const auto& [terms, identifier] :
             {std::pair{months, u"month"}, std::pair{weekdays, u"weekday"}}) {
            if (terms.empty()) continue;
            auto criteria = std::make_shared<ZELUserCriteria>();
            criteria->setSearchTerms(terms, std::nullopt);
            criteria->setAspectGroups(
                {ZELAspectTokenFieldGroup::groupWithAspects({aspect(identifier)}, std::nullopt)});
            criteria->setIsNegate(negated && identifier == std::u16string(u"month"));
            query.addUserCriterias({criteria});
        }
        return itemsOf(query.generatedQueryForDatabase(*db_));
    }

    Field* date_ = nullptr;
};

TEST_F(DateFieldTest, OnePopupHoldsTheFourListsInCalendarOrder) {
    EXPECT_EQ(rowsOf(ZELCalendarUnitYear), (std::vector<std::string>{"2011", "2012"}));
    EXPECT_EQ(rowsOf(ZELCalendarUnitMonth).size(), 12u);
    EXPECT_EQ(rowsOf(ZELCalendarUnitMonth).at(2), "Mar (03)");
    EXPECT_EQ(rowsOf(ZELCalendarUnitWeekday),
              (std::vector<std::string>{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"}));
    const auto days = rowsOf(ZELCalendarUnitDay);
    EXPECT_EQ(std::vector<std::string>(days.begin(), days.begin() + 3),
              (std::vector<std::string>{"1", "2", "3"}));
    // The lists share the one pop-up, side by side under the field.
    QFrame* popup = date_->popup();
    int left = -1;
    for (uint32_t unit : Field::dateUnits) {
        QWidget* frame = date_->completionListWindowControllerForDateUnit(unit)->popup();
        EXPECT_EQ(frame->window(), popup);
        EXPECT_GT(frame->x(), left);
        left = frame->x();
    }
    EXPECT_EQ(popup->geometry().top(), date_->mapToGlobal(QPoint(0, date_->height())).y());
    saveScreenshot(popup, "date-field-popup.png");

    date_->copyCompletionList();
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith(
        "2011\tJan (01)\t1\tSun\n2012\tFeb (02)\t2\tMon\n\tMar (03)\t3\tTue\n"));

    // A change of the database while the lists are being built makes them stale: the field
    // builds them again before applying any.
    ZELValue::Dictionary later{{u"date", ZELValue(ZELDate{1357041600.0})}};  // 2013-01-01
    date_->databaseDidChange();
    db_->addItem(ZELRecordItem::itemWithValues(std::move(later)), nullptr);
    date_->databaseDidChange();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !date_->isBuildingLists(); }, 5000));
    EXPECT_EQ(rowsOf(ZELCalendarUnitYear), (std::vector<std::string>{"2011", "2012", "2013"}));
}

TEST_F(DateFieldTest, PickedMonthsAndWeekdaysFindWhatTheirQueryFinds) {
    struct Case {
        std::vector<std::string> clickedMonths, clickedWeekdays;
        const char* typed;  // then Return
        std::vector<ZELString> months, weekdays;
        bool negated;
        bool downReturn = false;  // the first year picked with the keyboard, too
    } const cases[] = {
        {{"Mar (03)"}, {}, "", {u"3"}, {}, false},
        {{"Mar (03)"}, {"Mon"}, "", {u"3"}, {u"2"}, false},
        // A second click in a list adds an alternative; the month token replaces the earlier one.
        {{"Mar (03)", "Jul (07)"}, {"Sun"}, "", {u"3", u"7"}, {u"1"}, false},
        // Typed names pick in the first list that has them.
        {{}, {"Sat"}, "ma", {u"3"}, {u"7"}, false},
        {{}, {}, "!Ma ", {u"3"}, {}, true},
        {{"Jan (01)"}, {}, "", {u"1"}, {}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed + std::to_string(c.clickedMonths.size()));
        date_->clear();
        other_->setFocus();
        date_->setFocus();
        ASSERT_TRUE(date_->isCompletionListShown());
        for (const auto& month : c.clickedMonths) click(ZELCalendarUnitMonth, month);
        for (const auto& weekday : c.clickedWeekdays) click(ZELCalendarUnitWeekday, weekday);
        if (*c.typed) {
            QTest::keyClicks(date_, c.typed);
            if (c.typed[std::strlen(c.typed) - 1] != ' ') QTest::keyClick(date_, Qt::Key_Return);
        }
        if (c.downReturn) {
            QTest::keyClick(date_, Qt::Key_Down);
            QTest::keyClick(date_, Qt::Key_Return);
        }
        if (c.clickedMonths.size() == 2) saveScreenshot(date_->popup(), "date-field-picked.png");
        EXPECT_EQ(tokens().size(),
                  (c.months.empty() ? 0u : 1u) + (c.weekdays.empty() ? 0u : 1u) + c.downReturn);
        auto items = queried(c.months, c.weekdays, c.negated);
        if (c.downReturn)
            std::erase_if(items,
                          [&](ZELID id) { return !queried({}, {}, false, u"2011").count(id); });
        EXPECT_FALSE(items.empty());
        EXPECT_EQ(found(), items);
    }
}

}  // namespace
