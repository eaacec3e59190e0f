#pragma once

#include <QMainWindow>
#include <QPointer>
#include <filesystem>
#include <memory>
#include <vector>

#include "ZELToolDatabase.h"
#include "zel/ui/ZELAspectBitTokenDelegate.h"

class QLabel;
class QProgressBar;
class QTableView;
class ZELAspectTokenField;
class ZELDateAspectTokenField;
class ZELBrowserResultModel;
class ZELItemResultSet;
class ZELSavePanelController;
class ZELUserQuery;
class ZELUserQueryList;
class ZELUserQueryListEntry;
class ZELUserQueryListMenuController;

// The window of zel-browser: a search field over the database's text aspects (narrowed by the
// schema's search prefixes), a date field over its year, month, day and weekday aspects, the
// results table of the fields' search, loaded in the background
// with a progress indicator, and a "Searches" menu holding "Save Search…" and the saved
// searches of a folder, which it watches. Completions are limited to the current result.
//
// Owns the opened database and everything in the window; GUI thread only. Each search makes a
// new result set; reports of a set that is no longer the window's are dropped.
class ZELBrowserWindow : public QMainWindow, private ZELAspectBitTokenDelegate {
    Q_OBJECT

public:
    // Saved searches are read from and written to `searchesFolder` (made when missing).
    ZELBrowserWindow(ZELToolOpenDatabase opened, std::filesystem::path searchesFolder,
                     QWidget* parent = nullptr);
    ~ZELBrowserWindow() override;

    const std::shared_ptr<ZELDatabase>& database() const { return opened_.database; }
    ZELAspectTokenField* searchField() const { return searchField_; }
    // Null when the database has no date aspects.
    ZELDateAspectTokenField* dateField() const { return dateField_; }
    QTableView* resultsTable() const { return table_; }
    ZELBrowserResultModel* resultModel() const { return model_; }
    QProgressBar* progressIndicator() const { return progress_; }
    QMenu* searchesMenu() const { return searchesMenu_; }
    QAction* saveSearchAction() const { return saveSearchAction_; }
    const std::filesystem::path& searchesFolder() const { return searchesFolder_; }
    // The set shown; it may still be loading.
    const std::shared_ptr<ZELItemResultSet>& resultSet() const;
    bool isLoading() const;

    // The search of both fields' tokens.
    std::shared_ptr<ZELUserQuery> currentUserQuery();
    // Evaluates the current search into a new result set and starts loading it (nothing
    // happens when the set would hold the same items).
    void search();
    // Writes the current search to a query file titled by the file's name.
    bool saveSearchToFile(const std::filesystem::path& path, ZELError* outError);
    // Asks for a file in the searches folder through the save panel, then saves.
    void saveSearch();
    // Shows a saved search's tokens and results.
    void openSavedSearch(const std::shared_ptr<ZELUserQueryListEntry>& entry);

signals:
    // The shown set finished loading.
    void resultsDidLoad();

private:
    std::shared_ptr<ZELQuery> aspectBitTokenFieldActiveQuery(ZELAspectTokenField& field) override;
    std::shared_ptr<ZELItemResultSet> aspectBitTokenFieldActiveItemResultSet(
        ZELAspectTokenField& field) override;
    void aspectBitTokenFieldDidChangeText(ZELAspectTokenField&) override {}
    void aspectBitTokenFieldDidChangeQuery(ZELAspectTokenField&) override { search(); }

    void buildSearchFields();
    void buildSearchesMenu();
    void resultSetDidReport(const std::shared_ptr<ZELItemResultSet>& set);
    // The record keys of the first items, those with the shortest values first.
    std::vector<ZELString> sampleRecordKeys();

    ZELToolOpenDatabase opened_;
    const std::filesystem::path searchesFolder_;
    ZELAspectTokenField* searchField_ = nullptr;
    ZELDateAspectTokenField* dateField_ = nullptr;
    QTableView* table_ = nullptr;
    ZELBrowserResultModel* model_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* countLabel_ = nullptr;
    QMenu* searchesMenu_ = nullptr;
    QAction* saveSearchAction_ = nullptr;
    std::shared_ptr<ZELUserQueryList> searches_;
    std::unique_ptr<ZELUserQueryListMenuController> searchesController_;
    std::unique_ptr<ZELSavePanelController> savePanelController_;
    bool hasSearchTokens_ = false;  // the shown set is narrowed by tokens
    bool columnsSized_ = false;     // the columns were fitted to the first loaded rows
};
