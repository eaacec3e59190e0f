// The saved-search menu, opened and clicked with real mouse events.

#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QTest>

#include "support/ZELTestScratchFolder.h"
#include "zel/platform/TarvoSecureURL.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/ui/ZELUserQueryListMenuController.h"
#include "zel/userquery/ZELUserQueryList_FromFolder.h"

namespace {

using Items = std::vector<std::string>;
using Controller = ZELUserQueryListMenuController;

// The menu's item titles, "-" for a separator.
Items items(const QMenu& menu) {
    Items titles;
    for (const QAction* action : menu.actions()) {
        titles.push_back(action->isSeparator() ? "-" : action->text().toStdString());
    }
    return titles;
}

std::shared_ptr<ZELUserQueryListEntry> entry(const char* title) {
    return ZELUserQueryListEntry::entryWithTitle(ZELStringFromUTF8(title), nullptr);
}

void replaceEntries(ZELUserQueryList& list, std::vector<const char*> titles) {
    list.mutateEntriesUsing([&](ZELUserQueryList::EntryList& entries) {
        entries.clear();
        for (const char* title : titles) entries.push_back(entry(title));
        return true;
    });
}

// Opens the menu as a user would (which rebuilds it), and closes it again.
void open(QMenu& menu) {
    menu.popup(QPoint(50, 50));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
}
void openAndClose(QMenu& menu) {
    open(menu);
    menu.hide();
}

// A list with the sublist "S" (holding "s1") and the entries X and Y.
std::shared_ptr<ZELUserQueryList> sampleList() {
    ZELValue::Dictionary sublist{
        {u"title", ZELValue(u"S")},
        {u"entries", ZELValue(ZELValue::Array{entry("s1")->plistSerialization()})}};
    ZELValue::Dictionary plist{{u"title", ZELValue(u"Saved")},
                               {u"entries", ZELValue(ZELValue::Array{})},
                               {u"sublists", ZELValue(ZELValue::Array{ZELValue(sublist)})}};
    auto list = ZELUserQueryList::listWithPlistSerialization(ZELValue(plist), nullptr);
    replaceEntries(*list, {"X", "Y"});
    return list;
}

TEST(UserQueryListMenuController, ModesReplaceOnlyTheListsItems) {
    struct Case {
        Controller::MenuMode mode;
        Items fixed, built, rebuilt;  // the rebuilt list holds the entry Z alone
    } const cases[] = {
        {Controller::MenuModeTop, {"A", "B", "-", "C"}, {"S", "X", "Y", "-", "C"}, {"S", "Z", "-", "C"}},
        {Controller::MenuModeBottom, {"A", "-", "B", "C"}, {"A", "-", "S", "X", "Y"}, {"A", "-", "S", "Z"}},
        {Controller::MenuModeWhole, {"A", "-", "B"}, {"S", "X", "Y"}, {"S", "Z"}},
        // Without a separator the host's items stay.
        {Controller::MenuModeTop, {"A", "B"}, {"S", "X", "Y", "A", "B"}, {"S", "Z", "A", "B"}},
        {Controller::MenuModeBottom, {"A", "B"}, {"A", "B", "S", "X", "Y"}, {"A", "B", "S", "Z"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixed.size() * 10 + c.mode);
        QMenu menu;
        for (const std::string& title : c.fixed) {
            title == "-" ? menu.addSeparator() : menu.addAction(QString::fromStdString(title));
        }
        auto list = sampleList();
        Controller controller(&menu, list, c.mode);
        openAndClose(menu);
        EXPECT_EQ(items(menu), c.built);

        // Unchanged, the menu keeps its very items.
        const QList<QAction*> before = menu.actions();
        openAndClose(menu);
        EXPECT_EQ(menu.actions(), before);

        QPointer<QMenu> oldSubmenu = controller.submenuControllers().at(0)->menu();
        replaceEntries(*list, {"Z"});
        openAndClose(menu);
        EXPECT_EQ(items(menu), c.rebuilt);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(oldSubmenu.isNull());
        EXPECT_EQ(controller.submenuControllers().size(), 1u);
    }
}

TEST(UserQueryListMenuController, ClickedItemsHandTheirEntryToTheSignal) {
    QMenu menu;
    auto list = sampleList();
    Controller controller(&menu, list);
    std::vector<std::shared_ptr<ZELUserQueryListEntry>> activated;
    QObject::connect(
        &controller, &Controller::entryActivated,
        [&](std::shared_ptr<ZELUserQueryListEntry> chosen) { activated.push_back(chosen); });

    open(menu);
    QAction* y = menu.actions().at(2);
    EXPECT_EQ(Controller::entryForAction(y), list->entries().at(1));
    QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.actionGeometry(y).center());
    ASSERT_EQ(activated.size(), 1u);
    EXPECT_EQ(activated[0], list->entries().at(1));

    // The submenu fills itself when opened; its choices reach the same signal.
    open(menu);
    QMenu* submenu = menu.actions().at(0)->menu();
    menu.setActiveAction(menu.actions().at(0));
    QTest::keyClick(&menu, Qt::Key_Right);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(submenu));
    ASSERT_EQ(items(*submenu), Items{"s1"});
    QTest::mouseClick(submenu, Qt::LeftButton, {},
                      submenu->actionGeometry(submenu->actions().at(0)).center());
    ASSERT_EQ(activated.size(), 2u);
    EXPECT_EQ(activated[1], list->sublists().at(0)->entries().at(0));
}

using UserQueryListMenuFolderTest = ZELTestFolderTest;

TEST_F(UserQueryListMenuFolderTest, AQueryFileAddedToTheWatchedFolderAppearsInTheMenu) {
    const auto writeQueryFile = [&](const char* name) {
        ASSERT_TRUE(ZELPropertyList::writeFile((folder_ / name).string(),
                                               entry("any")->plistSerialization(), nullptr));
    };
    writeQueryFile("oak.query");
    auto list = ZELUserQueryList::listWithContentsOfFolder(
        TarvoSecureURL::secureURLCapturingBookmarkForURL(folder_, true, nullptr),
        ZELUserQueryList::LoadFlagWatchFolder, nullptr);
    ASSERT_TRUE(list);
    QMenu menu;
    Controller controller(&menu, list);
    openAndClose(menu);
    EXPECT_EQ(items(menu), Items{"oak"});

    // The watcher reloads the list on its own thread; the next opening shows the new file.
    const uint64_t changeCount = list->changeCount();
    writeQueryFile("ash.query");
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->changeCount() != changeCount; }, 5000));
    openAndClose(menu);
    Items shown = items(menu);
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, (Items{"ash", "oak"}));
    controller.changeUserQueryList(nullptr);
    list.reset();
}

}  // namespace
