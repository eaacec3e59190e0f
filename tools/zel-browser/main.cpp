// zel-browser DIR [--searches FOLDER] [--open FILE.query] [--screenshot FILE.png]: a search
// window over a database folder the zel tool made. --open shows a saved search at start;
// --screenshot saves a picture of the window once the first results are loaded, and quits.

#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <string>

#include "ZELBrowserWindow.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/platform/ZELFileManager.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/platform/ZELUserDefaults.h"
#include "zel/ui/ZELReportingApplication.h"
#include "zel/userquery/ZELUserQueryListEntry.h"

int main(int argc, char** argv) {
    ZELFileManager::setApplicationName("zel-browser");
    ZELUserDefaults::setApplicationName("zel-browser");
    ZELReportingApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    std::string folder;
    std::filesystem::path searches;
    std::string savedSearch;
    QString screenshot;
    for (int i = 0; i < arguments.size(); ++i) {
        const bool hasValue = i + 1 < arguments.size();
        if (arguments[i] == QLatin1String("--searches") && hasValue) {
            searches = arguments[++i].toStdString();
        } else if (arguments[i] == QLatin1String("--open") && hasValue) {
            savedSearch = arguments[++i].toStdString();
        } else if (arguments[i] == QLatin1String("--screenshot") && hasValue) {
            screenshot = arguments[++i];
        } else if (folder.empty() && !arguments[i].startsWith('-')) {
            folder = arguments[i].toStdString();
        } else {
            folder.clear();
            break;
        }
    }
    if (folder.empty()) {
        std::fprintf(stderr,
                     "usage: zel-browser DIR [--searches FOLDER] [--open FILE.query] [--screenshot "
                     "FILE.png]\n");
        return 2;
    }
    if (searches.empty()) {
        const auto support =
            ZELFileManager::mainBundleApplicationSupportFolderURLWithCreate(true, nullptr);
        searches = std::filesystem::path(support.value_or(".")) / "Searches";
    }
    ZELRecordItem::registerItemClass();
    std::string message;
    std::optional<ZELToolOpenDatabase> opened = ZELToolOpenDatabaseInFolder(folder, &message);
    if (!opened) {
        std::fprintf(stderr, "zel-browser: %s\n", message.c_str());
        return 1;
    }
    ZELBrowserWindow window(std::move(*opened), searches);
    window.resize(1100, 700);
    window.show();
    if (!savedSearch.empty()) {
        ZELValue plist;
        ZELError error;
        if (!ZELPropertyList::readFile(savedSearch, &plist, &error)) {
            std::fprintf(stderr, "zel-browser: %s: %s\n", savedSearch.c_str(),
                         error.description().c_str());
            return 1;
        }
        window.openSavedSearch(ZELUserQueryListEntry::entryWithPlistSerialization(plist));
    }
    if (!screenshot.isEmpty()) {
        QObject::connect(&window, &ZELBrowserWindow::resultsDidLoad, &application, [&] {
            // One more turn of the event loop lays out and paints the last rows.
            QTimer::singleShot(100, &application, [&] {
                if (!window.grab().save(screenshot))
                    std::fprintf(stderr, "zel-browser: cannot write %s\n", qPrintable(screenshot));
                application.quit();
            });
        });
    }
    return application.exec();
}
