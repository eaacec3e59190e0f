#pragma once

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListView>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <thread>
#include <set>
#include <vector>

#include "support/ZELTestScratchFolder.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/ZELMainQueue.h"
#include "zel/query/ZELItemResultSet.h"
#include "zel/query/ZELQuery.h"
#include "zel/tokenizer/ZELTokenizer.h"
#include "zel/tokenizer/ZELWhitespaceTokenizer.h"
#include "zel/ui/ZELAspectBitTokenDelegate.h"
#include "zel/ui/ZELAspectTokenField.h"
#include "zel/ui/ZELCompletionListWindowController.h"
#include "zel/ui/ZELCompletionListView.h"
#include "zel/userquery/ZELUserQuery.h"

// A database whose lock, each time a thread other than the GUI thread takes it while
// `slowness` is set, is held that much longer: a background collection then holds it for long.
class ZELUITestSlowDatabase : public ZELDatabase {
public:
    using ZELDatabase::ZELDatabase;
    std::atomic<int> slownessMilliseconds{0};

protected:
    void threadDidAcquireLock() override {
        ZELDatabase::threadDidAcquireLock();
        if (slownessMilliseconds && !ZELMainQueue::isMainThread()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(slownessMilliseconds));
        }
    }
};

// Records what the field tells its host.
class ZELUITestDelegate : public ZELAspectBitTokenDelegate {
public:
    std::shared_ptr<ZELQuery> aspectBitTokenFieldActiveQuery(ZELAspectTokenField&) override { return nullptr; }
    std::shared_ptr<ZELItemResultSet> aspectBitTokenFieldActiveItemResultSet(ZELAspectTokenField&) override {
        return resultSet;
    }
    void aspectBitTokenFieldDidChangeText(ZELAspectTokenField&) override { ++textChanges; }
    void aspectBitTokenFieldDidChangeQuery(ZELAspectTokenField&) override { ++queryChanges; }

    std::shared_ptr<ZELItemResultSet> resultSet;
    int textChanges = 0;
    int queryChanges = 0;
};

// A window with a search field over a small database of recipes: "title" (AND) and "tag"
// (OR) aspects of whitespace-separated words, in the groups "Title" and "Tag", and a line
// edit to move the focus to.
class ZELTokenFieldTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZELRecordItem::registerItemClass();
        folder_ = ZELTestScratchFolder("zel-ui");
        db_ = std::make_shared<ZELUITestSlowDatabase>("ui.test", nullptr, folder_);
        ASSERT_TRUE(db_->bootstrapFromDisk());
        for (const char16_t* identifier : {u"title", u"tag"}) {
            ZELRecordItem::registerValueGetterForKey(identifier);
            db_->ensureAspectExistsWithIdentifier(identifier)->setAspectValueTokenizer(
                ZELTokenizer::tokenizerWithClientObjectGetter<ZELWhitespaceTokenizer>(
                    ZELStringToUTF8(identifier), nullptr));
        }
        aspect(u"tag")->setDefaultAspectBitBooleanOperation(ZELBooleanOperationOR);
        for (const auto& [title, tag] : std::vector<std::pair<std::string, std::string>>{
                 {"apple pie", "fruit"}, {"apricot jam", "fruit"}, {"banana split", "dessert"},
                 {"apple crumble", "dessert"}, {"avocado toast", "savory"}}) {
            addItem(title, tag);
        }
        layout_ = new QVBoxLayout(&window_);
        field_ = new ZELAspectTokenField(&window_);
        field_->addAspectGroup({aspect(u"title")}, u"Title");
        field_->addAspectGroup({aspect(u"tag")}, u"Tag");
        field_->setTokenDelegate(&delegate_);
        other_ = new QLineEdit(&window_);
        layout_->addWidget(field_);
        layout_->addWidget(other_);
        window_.resize(420, 120);
        window_.move(40, 40);
        window_.show();
        window_.activateWindow();
        field_->setFocus();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    }
    void TearDown() override {
        window_.hide();
        delete field_;
        QApplication::processEvents();
        db_->invalidate();
        std::filesystem::remove_all(folder_);
    }

    ZELID addItem(const std::string& title, const std::string& tag) {
        ZELValue::Dictionary values;
        values[u"title"] = ZELValue::fromUTF8(title);
        values[u"tag"] = ZELValue::fromUTF8(tag);
        values[u"serial"] = ZELValue(static_cast<int64_t>(++serial_));
        return db_->addItem(ZELRecordItem::itemWithValues(std::move(values)), nullptr);
    }

    std::shared_ptr<ZELAspect> aspect(const char16_t* identifier) { return db_->aspectWithIdentifier(identifier); }
    ZELCompletionListWindowController* list() { return field_->completionListWindowController(); }
    // The rows the list (or that list view) shows.
    std::vector<std::string> rows(QAbstractItemView* view = nullptr) {
        std::vector<std::string> texts;
        auto* model = (view ? view : list()->listView())->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            texts.push_back(model->index(row, 0).data().toString().toStdString());
        }
        return texts;
    }
    std::vector<int> selectedRows() {
        std::vector<int> selected;
        for (const auto& index : list()->listView()->selectionModel()->selectedRows()) selected.push_back(index.row());
        std::sort(selected.begin(), selected.end());
        return selected;
    }
    // Each token as its title's text; the typed text last, in brackets.
    std::vector<std::string> tokens(ZELAspectTokenField* field = nullptr) {
        std::vector<std::string> texts;
        for (const auto& object : (field ? field : field_)->tokenRepresentedObjects(true)) {
            if (const auto* text = std::get_if<ZELString>(&object)) {
                texts.push_back("[" + ZELStringToUTF8(*text) + "]");
            } else {
                texts.push_back(ZELStringToUTF8(std::get<0>(object)->displayTitle().plainText()));
            }
        }
        return texts;
    }
    // The items a query finds (none for no query), and those the field's query finds.
    std::set<ZELID> itemsOf(const std::shared_ptr<ZELQuery>& query) {
        std::set<ZELID> items;
        if (query) query->resultSetInDatabase(db_)->itemIDs()->enumerateIDs([&](ZELID id, bool&) { items.insert(id); });
        return items;
    }
    std::set<ZELID> found() {
        QApplication::processEvents();
        return itemsOf(field_->generatedUserQuery()->generatedQueryForDatabase(*db_));
    }
    // Scrolls to a row of the list (or that list view) and clicks it with the mouse.
    void clickRow(int row, QAbstractItemView* view = nullptr) {
        view = view ? view : list()->listView();
        view->scrollTo(view->model()->index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(view->model()->index(row, 0)).center());
    }
    // Types and waits for the collection's rows.
    void type(const char* text) {
        QTest::keyClicks(field_, text);
        waitForCollection();
    }
    void waitForCollection() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !field_->isCollectingInBackground(); }, 5000));
        QApplication::processEvents();
    }
    static void saveScreenshot(QWidget* widget, const char* name) {
        const QString folder = QCoreApplication::applicationDirPath() + "/ui-screenshots";
        QDir().mkpath(folder);
        EXPECT_TRUE(widget->grab().save(folder + "/" + name));
    }

    std::filesystem::path folder_;
    std::shared_ptr<ZELUITestSlowDatabase> db_;
    int64_t serial_ = 0;
    QWidget window_;
    QVBoxLayout* layout_ = nullptr;
    ZELAspectTokenField* field_ = nullptr;
    QLineEdit* other_ = nullptr;
    ZELUITestDelegate delegate_;
};
