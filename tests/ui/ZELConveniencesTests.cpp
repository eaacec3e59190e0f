// The desktop conveniences: the save panel's remembered format, alerts with a completion
// callback, shareable copies of resources, and link targets of styled text.

#include <sys/stat.h>

#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <fstream>

#include "support/ZELTestScratchFolder.h"
#include "zel/platform/ZELFileManager.h"
#include "zel/platform/ZELUserDefaults.h"
#include "zel/ui/ZELAlert.h"
#include "zel/ui/ZELResourceBundle.h"
#include "zel/ui/ZELSavePanelController.h"
#include "zel/ui/ZELStyledText.h"

namespace fs = std::filesystem;

namespace {

using ZELConveniencesTest = ZELTestFolderTest;

QComboBox* chooser(QFileDialog* panel) {
    return panel->findChild<QComboBox*>(QLatin1String(ZELSavePanelController::formatChooserName));
}

TEST_F(ZELConveniencesTest, SavePanelRemembersTheChosenFormat) {
    ZELUserDefaults defaults((folder_ / "defaults.plist").string());
    ZELSavePanelController controller(&defaults);
    for (const char* uti : {"public.plain-text", "no.such.type", "public.html"})
        controller.addAllowedFileTypeWithUTI(uti);
    controller.addAllowedFileType("org.example.zel.query", "Saved Search", {"query"});
    EXPECT_EQ(controller.allowedTypeUTIs(),
              (QStringList{"public.plain-text", "public.html", "org.example.zel.query"}));

    // Without a defaults key nothing is remembered.
    std::unique_ptr<QFileDialog> panel(controller.newPreparedSavePanel(nullptr));
    EXPECT_EQ(ZELSavePanelController::UTISelectedInPreparedSavePanel(panel.get()),
              "public.plain-text");
    QTest::keyClick(chooser(panel.get()), Qt::Key_Down);
    EXPECT_TRUE(defaults.objectForKey("lastSaveType").isNone());

    controller.setLastUsedFileTypeDefaultsKey("lastSaveType");
    panel.reset(controller.newPreparedSavePanel(nullptr));
    panel->show();
    QTest::keyClick(chooser(panel.get()), Qt::Key_End);
    EXPECT_EQ(panel->nameFilters(), QStringList{"Saved Search (*.query)"});
    EXPECT_EQ(panel->defaultSuffix(), "query");

    // A later panel, and a later process reading the same defaults, choose it again.
    ZELUserDefaults reread((folder_ / "defaults.plist").string());
    ZELSavePanelController again(&reread);
    again.addAllowedFileTypeWithUTI("public.plain-text");
    again.addAllowedFileType("org.example.zel.query", "Saved Search", {"query"});
    again.setLastUsedFileTypeDefaultsKey("lastSaveType");
    panel.reset(again.newPreparedSavePanel(nullptr));
    EXPECT_EQ(chooser(panel.get())->currentIndex(), 1);
    EXPECT_EQ(ZELSavePanelController::UTISelectedInPreparedSavePanel(panel.get()),
              "org.example.zel.query");

    // A remembered type no longer allowed selects the first.
    ZELSavePanelController fewer(&reread);
    fewer.addAllowedFileTypeWithUTI("public.html");
    fewer.setLastUsedFileTypeDefaultsKey("lastSaveType");
    panel.reset(fewer.newPreparedSavePanel(nullptr));
    EXPECT_EQ(ZELSavePanelController::UTISelectedInPreparedSavePanel(panel.get()), "public.html");
}

TEST_F(ZELConveniencesTest, AlertReportsItsEndWithAndWithoutAWindow) {
    QWidget window;
    window.show();
    for (QWidget* parent : {&window, static_cast<QWidget*>(nullptr)}) {
        int result = -1;
        auto* alert = new QMessageBox(QMessageBox::Warning, "Title", "Text",
                                      QMessageBox::Ok | QMessageBox::Cancel);
        QPointer<QMessageBox> watched(alert);
        ZELAlert_ShowWithWindow(alert, parent, [&](int code) { result = code; });
        EXPECT_TRUE(alert->isVisible());
        EXPECT_EQ(alert->windowModality(), parent ? Qt::WindowModal : Qt::ApplicationModal);
        EXPECT_EQ(alert->parentWidget(), parent);
        QTest::mouseClick(alert->button(QMessageBox::Cancel), Qt::LeftButton);
        EXPECT_EQ(result, QMessageBox::Cancel);
        QApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(watched.isNull());
    }
}

TEST_F(ZELConveniencesTest, ShareableCopyIsReusedUntilTheResourceChanges) {
    const QByteArray previousDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((folder_ / "data").string()));
    fs::create_directories(folder_ / "bundle");
    std::ofstream(folder_ / "bundle" / "help.html") << "<p>help</p>";
    ZELResourceBundle bundle(QString::fromStdString((folder_ / "bundle").string()));
    const fs::path expected =
        folder_ / "data" / ZELFileManager::applicationName() / "Shared" / "help.html";
    auto inode = [](const fs::path& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
    };

    EXPECT_FALSE(bundle.shareableURLForResource("missing", "html"));
    ASSERT_EQ(bundle.shareableURLForResource("help", "html"),
              QString::fromStdString(expected.string()));
    const ino_t first = inode(expected);
    EXPECT_EQ(fs::last_write_time(expected), fs::last_write_time(folder_ / "bundle" / "help.html"));
    EXPECT_EQ(bundle.shareableURLForResource("help", "html"),
              QString::fromStdString(expected.string()));
    EXPECT_EQ(inode(expected), first);  // not copied again

    std::ofstream(folder_ / "bundle" / "help.html") << "<p>more help</p>";
    fs::last_write_time(folder_ / "bundle" / "help.html",
                        fs::last_write_time(expected) + std::chrono::seconds(5));
    EXPECT_EQ(bundle.shareableURLForResource("help", "html"),
              QString::fromStdString(expected.string()));
    EXPECT_NE(inode(expected), first);
    EXPECT_EQ(fs::file_size(expected), std::string("<p>more help</p>").size());
    EXPECT_EQ(
        std::distance(fs::directory_iterator(expected.parent_path()), fs::directory_iterator()), 1);
    qputenv("XDG_DATA_HOME", previousDataHome);
}

TEST(ZELStyledTextTest, LinkTargetsAreReadInStrictMode) {
    const struct {
        const char* href;
        const char* expected;  // null: none
    } cases[] = {
        {"https://example.org/a?b=c", "https://example.org/a?b=c"},
        {"mailto:someone@example.org", "mailto:someone@example.org"},
        {"http://exa mple.org/", nullptr},
        {"http://[::1/", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        auto document = ZELStyledText::documentWithString(QString("see "), QTextCharFormat());
        QTextCharFormat link;
        link.setAnchor(true);
        link.setAnchorHref(c.href);
        ZELStyledText::appendString(*document, "here", link);
        ZELStyledText::appendStringAndExtendAttributes(*document, "!");
        std::pair<int, int> range;
        const std::optional<QUrl> url = ZELStyledText::linkURLAtIndex(*document, 5, &range);
        EXPECT_EQ(url ? url->toString().toStdString() : "none", c.expected ? c.expected : "none")
            << c.href;
        if (url) {
            EXPECT_EQ(range, (std::pair<int, int>{4, 5}));  // the appended "!" extends the link
        }
        EXPECT_FALSE(ZELStyledText::linkURLAtIndex(*document, 1));
    }
}

}  // namespace
