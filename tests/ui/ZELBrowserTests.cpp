// A scripted session of zel-browser's window over a database the zel tool made: search with
// typed and picked tokens and a picked month, compare with `zel search`, save the search and
// find it in the menu.

#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QTableView>
#include <QTest>
#include <map>
#include <fstream>
#include <sstream>

#include "ZELBrowserResultModel.h"
#include "ZELBrowserWindow.h"
#include "ZELTool.h"
#include "support/ZELTestScratchFolder.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/ui/ZELAspectTokenField.h"
#include "zel/ui/ZELCompletionListView.h"
#include "zel/ui/ZELCompletionListWindowController.h"
#include "zel/ui/ZELDateAspectTokenField.h"
#include "zel/ui/ZELUserQueryListMenuController.h"

namespace fs = std::filesystem;

namespace {

constexpr int recordCount = 300;
constexpr int waitMilliseconds = 10000;

class ZELBrowserTest : public ZELTestFolderTest {
protected:
    void SetUp() override {
        ZELTestFolderTest::SetUp();
        std::ofstream(folder_ / "schema.json")
            << R"({"identifier": "org.example.recipes", "dateKeys": ["date"],
            "aspects": [
              {"identifier": "title", "tokenizer": "ZELWordTokenizer"},
              {"identifier": "tag", "tokenizer": "ZELIdentityValueTokenizer", "defaultBooleanOp": "OR",
               "searchPrefixes": ["kind"]},
              {"identifier": "year", "tokenizer": "ZELDateYearTokenizer", "key": "date", "defaultBooleanOp": "OR"},
              {"identifier": "month", "tokenizer": "ZELDateMonthTokenizer", "key": "date", "defaultBooleanOp": "OR"},
              {"identifier": "day", "tokenizer": "ZELDateDayTokenizer", "key": "date", "defaultBooleanOp": "OR"},
              {"identifier": "weekday", "tokenizer": "ZELDateWeekdayTokenizer", "key": "date", "defaultBooleanOp": "OR"}]})";
        const char* words[] = {"apple", "apricot", "banana", "cherry", "date",
                               "fig",   "grape",   "lemon",  "mango"};
        const char* tags[] = {"fruit", "dessert", "savory"};
        std::ofstream records(folder_ / "records.jsonl");
        for (int i = 0; i < recordCount; ++i) {
            char date[32];
            const time_t when =
                1704110400 + static_cast<time_t>(i) * 86400;  // 2024-01-01 12:00 UTC onwards
            std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&when));
            records << R"({"title": ")" << words[i % 9] << ' ' << words[(i / 9) % 9]
                    << R"(", "tag": ")" << tags[i % 3] << R"(", "date": ")" << date
                    << R"(", "serial": )" << i << "}\n";
        }
        records.close();
        ASSERT_EQ(tool({"create", database(), "--schema", (folder_ / "schema.json").string()}), 0);
        ASSERT_EQ(tool({"add", database(), (folder_ / "records.jsonl").string()}), 0);
    }
    std::string database() const { return (folder_ / "db").string(); }
    int tool(const std::vector<std::string>& arguments) {
        std::ostringstream err;
        out_.str("");
        out_.clear();
        const int status = ZELToolMain(arguments, {out_, err});
        EXPECT_EQ(err.str(), "");
        return status;
    }
    // The number of items `zel search` finds for the words.
    int toolSearchCount(std::vector<std::string> words) {
        words.insert(words.begin(), {"search", database()});
        EXPECT_EQ(tool(words), 0);
        std::string query, count;
        std::getline(out_, query);  // "query: ..."
        std::getline(out_, count);  // "N items"
        return std::stoi(count);
    }
    static bool waitForResults(ZELBrowserWindow& window, int rows) {
        return QTest::qWaitFor(
            [&] { return !window.isLoading() && window.resultModel()->rowCount() == rows; },
            waitMilliseconds);
    }

    std::stringstream out_;
};

TEST_F(ZELBrowserTest, ScriptedSession) {
    ZELRecordItem::registerItemClass();
    // `zel search` answers first: the browser then holds the folder, which admits one database.
    const int apricots = toolSearchCount({"apricot"});
    const int desserts = toolSearchCount({"apricot", "kind:dessert"});
    std::map<std::string, int> monthDesserts;
    for (int number = 1; number <= 12; ++number) {
        const std::string plain = std::to_string(number);
        for (const std::string& term : {plain, (number < 10 ? "0" : "") + plain}) {
            monthDesserts[term] = toolSearchCount({"apricot", "kind:dessert", "month:" + term});
        }
    }
    std::string message;
    auto opened = ZELToolOpenDatabaseInFolder(database(), &message);
    ASSERT_TRUE(opened) << message;
    ZELBrowserWindow window(std::move(*opened), folder_ / "searches");
    window.resize(900, 500);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(waitForResults(window, recordCount));
    EXPECT_TRUE(window.progressIndicator()->isHidden());
    EXPECT_EQ(
        window.resultModel()->keys(),
        (std::vector<ZELString>{u"serial", u"tag", u"title", u"date"}));  // shortest values first

    // Type a prefix and pick a completion with the mouse.
    ZELAspectTokenField* field = window.searchField();
    field->setFocus();
    QListView* list = field->completionListWindowController()->listView();
    // The rows the list shows once the collection for the typed text is done.
    auto rows = [&] {
        QStringList texts;
        for (int row = 0; row < list->model()->rowCount(); ++row)
            texts.append(list->model()->index(row, 0).data().toString());
        return texts;
    };
    auto waitForRows = [&](const QStringList& expected) {
        return QTest::qWaitFor(
            [&] { return !field->isCollectingInBackground() && rows() == expected; },
            waitMilliseconds);
    };
    QTest::keyClicks(field, "apr");
    ASSERT_TRUE(waitForRows({"apricot"})) << rows().join(' ').toStdString();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(0, 0)).center());
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(apricots, 66);  // 34 records have it first, 36 second, 4 both
    ASSERT_TRUE(waitForResults(window, apricots));

    // "kind:" narrows the completions to the tags; they come from the current result only.
    QTest::keyClicks(field, "kind:des");
    ASSERT_TRUE(waitForRows({"dessert"})) << rows().join(' ').toStdString();
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitForResults(window, desserts));
    EXPECT_LT(desserts, apricots);
    QTest::keyClicks(field, "kind:");
    ASSERT_TRUE(waitForRows({"dessert"}))
        << rows().join(' ').toStdString();  // no "fruit", no "savory"
    for (int i = 0; i < 5; ++i) QTest::keyClick(field, Qt::Key_Backspace);

    // Pick March in the date field's month list.
    ZELDateAspectTokenField* date = window.dateField();
    date->setFocus();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return date->isCompletionListShown() && !date->isBuildingLists(); },
                        waitMilliseconds));
    QListView* months =
        date->completionListWindowControllerForDateUnit(ZELCalendarUnitMonth)->listView();
    const QModelIndexList march = months->model()->match(
        months->model()->index(0, 0), Qt::DisplayRole, "(03)", 1, Qt::MatchEndsWith);
    ASSERT_EQ(march.size(), 1);
    QTest::mouseClick(months->viewport(), Qt::LeftButton, {},
                      months->visualRect(march[0]).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return date->stableTokenRepresentedObjects().size() == 1; },
                                waitMilliseconds));
    const std::string month =
        ZELStringToUTF8(date->stableTokenRepresentedObjects()[0]->searchTerms().at(0));
    ASSERT_EQ(monthDesserts.count(month), 1u) << month;
    const int marchDesserts = monthDesserts[month];
    ASSERT_TRUE(waitForResults(window, marchDesserts));
    EXPECT_LT(marchDesserts, desserts);

    // Sorting by a column orders the rows through the result set.
    const auto& keys = window.resultModel()->keys();
    const int serial =
        static_cast<int>(std::find(keys.begin(), keys.end(), u"serial") - keys.begin());
    window.resultsTable()->sortByColumn(serial, Qt::DescendingOrder);
    auto cell = [&](int row) { return window.resultModel()->index(row, serial).data().toInt(); };
    EXPECT_GT(cell(0), cell(1));

    // Save the search through the panel, then find it in the menu and open it again.
    window.saveSearchAction()->trigger();
    auto* panel = window.findChild<QFileDialog*>();
    ASSERT_TRUE(panel);
    auto* name = panel->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_TRUE(name);
    QTest::keyClicks(name, "apricot desserts");
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_TRUE(fs::exists(folder_ / "searches" / "apricot desserts.query"));
    field->clear();
    date->clear();
    window.search();
    ASSERT_TRUE(waitForResults(window, recordCount));

    QAction* saved = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            emit window.searchesMenu()->aboutToShow();
            for (QAction* action : window.searchesMenu()->actions()) {
                if (action->text() == "apricot desserts") saved = action;
            }
            return saved != nullptr;
        },
        waitMilliseconds));
    window.searchesMenu()->popup(window.mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.searchesMenu()));
    QTest::mouseClick(window.searchesMenu(), Qt::LeftButton, {},
                      window.searchesMenu()->actionGeometry(saved).center());
    ASSERT_TRUE(waitForResults(window, marchDesserts));
    EXPECT_EQ(field->stableTokenRepresentedObjects().size(), 2u);
    EXPECT_EQ(date->stableTokenRepresentedObjects().size(), 1u);
    const QString shots = QCoreApplication::applicationDirPath() + "/ui-screenshots";
    QDir().mkpath(shots);
    EXPECT_TRUE(window.grab().save(shots + "/browser-session.png"));
}

}  // namespace
