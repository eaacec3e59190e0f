// zel-browser DIR [--searches FOLDER]: a search window over a database folder the zel tool made.

#include <QMessageBox>
#include <cstdio>
#include <filesystem>
#include <string>

#include "ZELBrowserWindow.h"
#include "zel/database/ZELRecordItem.h"
#include "zel/platform/ZELFileManager.h"
#include "zel/platform/ZELUserDefaults.h"
#include "zel/ui/ZELReportingApplication.h"

int main(int argc, char** argv) {
    ZELFileManager::setApplicationName("zel-browser");
    ZELUserDefaults::setApplicationName("zel-browser");
    ZELReportingApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    std::string folder;
    std::filesystem::path searches;
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--searches") && i + 1 < arguments.size()) {
            searches = arguments[++i].toStdString();
        } else if (folder.empty() && !arguments[i].startsWith('-')) {
            folder = arguments[i].toStdString();
        } else {
            folder.clear();
            break;
        }
    }
    if (folder.empty()) {
        std::fprintf(stderr, "usage: zel-browser DIR [--searches FOLDER]\n");
        return 2;
    }
    if (searches.empty()) {
        const auto support = ZELFileManager::mainBundleApplicationSupportFolderURLWithCreate(true, nullptr);
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
    return application.exec();
}
