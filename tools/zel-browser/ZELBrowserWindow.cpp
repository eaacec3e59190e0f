#include "ZELBrowserWindow.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <set>

#include "ZELBrowserResultModel.h"
#include "zel/database/ZELAspect.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/TarvoSecureURL.h"
#include "zel/platform/ZELLog.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/query/ZELItemResultSet.h"
#include "zel/query/ZELQuery.h"
#include "zel/tokenizer/ZELDateTokenizer.h"
#include "zel/ui/ZELAspectTokenField.h"
#include "zel/ui/ZELDateAspectTokenField.h"
#include "zel/ui/ZELSavePanelController.h"
#include "zel/ui/ZELUserQueryListMenuController.h"
#include "zel/userquery/ZELUserQuery.h"
#include "zel/userquery/ZELUserQueryList.h"
#include "zel/userquery/ZELUserQueryListEntry.h"

namespace {

constexpr const char* savedSearchUTI = "org.example.zel.query";
constexpr int sampledItemCount = 100;

}  // namespace

ZELBrowserWindow::ZELBrowserWindow(ZELToolOpenDatabase opened, std::filesystem::path searchesFolder,
                                   QWidget* parent)
    : QMainWindow(parent), opened_(std::move(opened)), searchesFolder_(std::move(searchesFolder)) {
    setWindowTitle(QString::fromStdString(opened_.database->identifier()) +
                   QStringLiteral(" — zel-browser"));
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* fields = new QHBoxLayout;
    searchField_ = new ZELAspectTokenField(central);
    fields->addWidget(searchField_, 3);
    layout->addLayout(fields);
    model_ = new ZELBrowserResultModel(sampleRecordKeys(), this);
    table_ = new QTableView(central);
    table_->setModel(model_);
    table_->setSortingEnabled(true);
    table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setWordWrap(false);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    layout->addWidget(table_, 1);
    setCentralWidget(central);

    countLabel_ = new QLabel(this);
    progress_ = new QProgressBar(this);
    progress_->setMaximumWidth(200);
    statusBar()->addWidget(countLabel_, 1);
    statusBar()->addPermanentWidget(progress_);

    buildSearchFields();
    if (dateField_) fields->addWidget(dateField_, 2);
    buildSearchesMenu();
    search();
}

ZELBrowserWindow::~ZELBrowserWindow() {
    if (const auto& set = model_->resultSet()) set->cancelBackgroundLoading();
}

const std::shared_ptr<ZELItemResultSet>& ZELBrowserWindow::resultSet() const {
    return model_->resultSet();
}

bool ZELBrowserWindow::isLoading() const {
    return resultSet() && !resultSet()->finishedLoading();
}

std::vector<ZELString> ZELBrowserWindow::sampleRecordKeys() {
    std::vector<ZELID> ids;
    opened_.database->allExistingItemIDs()->enumerateIDs([&](ZELID id, bool& stop) {
        ids.push_back(id);
        stop = ids.size() >= sampledItemCount;
    });
    auto sample = ZELItemResultSet::resultSetWithItemIDs(
        *ZELIDVector::vectorWithIDs(ids.data(), static_cast<uint32_t>(ids.size())),
        opened_.database);
    // Short values first, so that long texts take the room left at the right.
    std::map<ZELString, size_t> textLengths;
    for (const auto& item : *sample->allItems()) {
        if (const auto* record = dynamic_cast<const ZELRecordItem*>(item.get())) {
            for (const auto& [key, value] : record->values()) {
                textLengths[key] +=
                    static_cast<size_t>(ZELBrowserResultModel::displayText(value).size());
            }
        }
    }
    std::vector<ZELString> keys;
    for (const auto& [key, length] : textLengths) keys.push_back(key);
    std::stable_sort(keys.begin(), keys.end(), [&](const ZELString& a, const ZELString& b) {
        return textLengths[a] < textLengths[b];
    });
    return keys;
}

void ZELBrowserWindow::buildSearchFields() {
    ZELAspectTokenField::AspectList textAspects, years, months, days, weekdays;
    for (const auto& aspect : opened_.database->allAspects()) {
        const ZELTokenizer* tokenizer = aspect->aspectValueTokenizer().get();
        if (dynamic_cast<const ZELDateYearTokenizer*>(tokenizer)) {
            years.push_back(aspect);
        } else if (dynamic_cast<const ZELDateMonthTokenizer*>(tokenizer)) {
            months.push_back(aspect);
        } else if (dynamic_cast<const ZELDateDayTokenizer*>(tokenizer)) {
            days.push_back(aspect);
        } else if (dynamic_cast<const ZELDateWeekdayTokenizer*>(tokenizer)) {
            weekdays.push_back(aspect);
        } else if (!dynamic_cast<const ZELDateTokenizer*>(tokenizer)) {
            textAspects.push_back(aspect);  // times of day are left out
        }
    }
    // A group per aspect: a picked term searches the aspects it occurs in, and a token of an
    // aspect that shows its label says which.
    for (const auto& aspect : textAspects) {
        searchField_->addAspectGroup({aspect}, aspect->aspectIdentifier());
        searchField_->setLimitedAspectIdentifiers({aspect->aspectIdentifier()},
                                                  aspect->aspectIdentifier() + u":");
    }
    for (const auto& [prefix, identifiers] : opened_.settings.searchPrefixes) {
        searchField_->setLimitedAspectIdentifiers({identifiers.begin(), identifiers.end()},
                                                  prefix + u":");
    }
    searchField_->setTokenDelegate(this);
    searchField_->setPlaceholderText(QStringLiteral("Search"));
    if (years.empty() && months.empty() && days.empty() && weekdays.empty()) return;
    dateField_ = new ZELDateAspectTokenField(centralWidget());
    dateField_->setYearAspects(years, months, days, weekdays);
    dateField_->setTokenDelegate(this);
    dateField_->setPlaceholderText(QStringLiteral("Date"));
}

void ZELBrowserWindow::buildSearchesMenu() {
    searchesMenu_ = menuBar()->addMenu(QStringLiteral("&Searches"));
    saveSearchAction_ =
        searchesMenu_->addAction(QStringLiteral("Save Search…"), this, [this] { saveSearch(); });
    searchesMenu_->addSeparator();
    savePanelController_ = std::make_unique<ZELSavePanelController>();
    savePanelController_->addAllowedFileType(savedSearchUTI, QStringLiteral("Saved Search"),
                                             {QStringLiteral("query")});
    savePanelController_->setLastUsedFileTypeDefaultsKey(
        QStringLiteral("ZELBrowserSavedSearchType"));

    ZELError error;
    std::error_code ignored;
    std::filesystem::create_directories(searchesFolder_, ignored);
    auto folder = TarvoSecureURL::secureURLCapturingBookmarkForURL(searchesFolder_, false, &error);
    if (folder) {
        searches_ = ZELUserQueryList::listWithContentsOfFolder(
            folder,
            ZELUserQueryList::LoadFlagWatchFolder | ZELUserQueryList::LoadFlagLoadSubfolders,
            &error);
    }
    if (!searches_) {
        ZELLog("saved searches unavailable: " + error.description());
        searches_ = ZELUserQueryList::list();
    }
    searchesController_ = std::make_unique<ZELUserQueryListMenuController>(
        searchesMenu_, searches_, ZELUserQueryListMenuController::MenuModeBottom);
    connect(searchesController_.get(), &ZELUserQueryListMenuController::entryActivated, this,
            [this](std::shared_ptr<ZELUserQueryListEntry> entry) { openSavedSearch(entry); });
}

std::shared_ptr<ZELUserQuery> ZELBrowserWindow::currentUserQuery() {
    auto query = ZELUserQuery::query();
    query->addUserCriterias(searchField_->stableTokenRepresentedObjects());
    if (dateField_) query->addUserCriterias(dateField_->stableTokenRepresentedObjects());
    return query;
}

void ZELBrowserWindow::search() {
    const std::shared_ptr<ZELDatabase>& database = opened_.database;
    std::shared_ptr<ZELUserQuery> userQuery = currentUserQuery();
    std::shared_ptr<ZELItemResultSet> set;
    if (userQuery->isEmpty()) {
        set = ZELItemResultSet::resultSetWithItemIDs(*database->allExistingItemIDs(), database);
    } else if (std::shared_ptr<ZELQuery> query = userQuery->generatedQueryForDatabase(*database)) {
        set = query->resultSetInDatabase(database);
    } else {
        set = ZELItemResultSet::resultSetWithItemIDs(*ZELIDVector::vector(), database);
    }
    hasSearchTokens_ = !userQuery->isEmpty();
    if (const auto& shown = resultSet(); shown && shown->isEqual(*set)) return;
    if (const auto& shown = resultSet()) shown->cancelBackgroundLoading();
    model_->setResultSet(set);
    progress_->setRange(0, static_cast<int>(set->itemIDs()->count()));
    progress_->setValue(0);
    progress_->show();
    countLabel_->setText(QStringLiteral("Loading %1 items…").arg(set->itemIDs()->count()));
    QPointer<ZELBrowserWindow> window(this);
    set->loadInBackgroundAndNotifyUsing([window](const std::shared_ptr<ZELItemResultSet>& loaded) {
        if (window) window->resultSetDidReport(loaded);
    });
    searchField_->itemResultSetDidChange();
    if (dateField_) dateField_->itemResultSetDidChange();
}

void ZELBrowserWindow::resultSetDidReport(const std::shared_ptr<ZELItemResultSet>& set) {
    if (set != resultSet()) return;  // a report of a search that was replaced
    model_->resultSetDidLoad();
    progress_->setValue(static_cast<int>(set->loadedItemCount()));
    if (!set->finishedLoading()) return;
    progress_->hide();
    if (!columnsSized_) {
        // Fitted to the rows in view, but no column may crowd out the others.
        table_->resizeColumnsToContents();
        const int widest = std::max(120, table_->viewport()->width() / 4);
        for (int column = 0; column < model_->columnCount(); ++column) {
            table_->setColumnWidth(column, std::min(table_->columnWidth(column), widest));
        }
        columnsSized_ = true;
    }
    const uint32_t count = set->itemCount();
    countLabel_->setText(QStringLiteral("%1 %2").arg(count).arg(count == 1 ? "item" : "items"));
    emit resultsDidLoad();
}

std::shared_ptr<ZELQuery> ZELBrowserWindow::aspectBitTokenFieldActiveQuery(ZELAspectTokenField&) {
    std::shared_ptr<ZELUserQuery> userQuery = currentUserQuery();
    return userQuery->isEmpty() ? nullptr : userQuery->generatedQueryForDatabase(*opened_.database);
}

std::shared_ptr<ZELItemResultSet> ZELBrowserWindow::aspectBitTokenFieldActiveItemResultSet(
    ZELAspectTokenField&) {
    // Every item is a candidate while no token narrows the search.
    return hasSearchTokens_ ? resultSet() : nullptr;
}

bool ZELBrowserWindow::saveSearchToFile(const std::filesystem::path& path, ZELError* outError) {
    auto entry = ZELUserQueryListEntry::entryWithTitle(ZELStringFromUTF8(path.stem().string()),
                                                       currentUserQuery());
    if (!ZELPropertyList::writeFile(path.string(), entry->plistSerialization(), outError))
        return false;
    searches_->ensureLoaded();
    return true;
}

void ZELBrowserWindow::saveSearch() {
    QFileDialog* panel = savePanelController_->newPreparedSavePanel(this);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowTitle(QStringLiteral("Save Search"));
    panel->setDirectory(QString::fromStdString(searchesFolder_.string()));
    connect(panel, &QFileDialog::fileSelected, this, [this](const QString& file) {
        ZELError error;
        if (!saveSearchToFile(file.toStdString(), &error))
            ZELLog(file.toStdString() + ": " + error.description());
    });
    panel->open();
}

void ZELBrowserWindow::openSavedSearch(const std::shared_ptr<ZELUserQueryListEntry>& entry) {
    ZELError error;
    std::shared_ptr<ZELUserQuery> userQuery =
        entry->userQueryWithDatabase(*opened_.database, &error);
    if (!userQuery) {
        ZELLog("saved search unreadable: " + error.description());
        return;
    }
    std::set<const ZELUserCriteria*> claimed;
    searchField_->setCriteriaFromUserQuery(*userQuery, &claimed);
    if (dateField_) dateField_->setCriteriaFromUserQuery(*userQuery, &claimed);
    search();
}
