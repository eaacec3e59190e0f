#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <memory>
#include <vector>

#include "zel/userquery/ZELUserQueryList.h"
#include "zel/userquery/ZELUserQueryListEntry.h"

// Shows a list of saved searches in a menu: an item per entry (the entry travels in the
// item's data) and a submenu per sublist, each filled by a controller of its own when opened.
// The menu is rebuilt when it is about to show, and only when the list's change count moved
// since the last build. Choosing an item emits `entryActivated` (the submenus' choices too).
//
// The list may own the whole menu, or share it with fixed items of the host: in mode Top the
// list's items stand before the first separator, in mode Bottom after the last one. In those
// two modes a menu without a separator keeps every item the host put there: only the items
// this controller made are replaced.
//
// Owned by its creator; it refers to its menu without owning it and owns its submenu
// controllers (their menus are children of the menu, deleted when replaced). GUI thread only.
class ZELUserQueryListMenuController : public QObject {
    Q_OBJECT

public:
    enum MenuMode : uint64_t { MenuModeTop = 0, MenuModeBottom = 1, MenuModeWhole = 2 };

    ZELUserQueryListMenuController(QMenu* menu, std::shared_ptr<ZELUserQueryList> list,
                                   MenuMode mode = MenuModeWhole);
    ~ZELUserQueryListMenuController() override;

    QMenu* menu() const { return menu_; }
    MenuMode menuMode() const { return mode_; }
    const std::shared_ptr<ZELUserQueryList>& userQueryList() const { return list_; }
    // Shows another list; the next update rebuilds whatever its change count.
    void changeUserQueryList(std::shared_ptr<ZELUserQueryList> list);
    // Loads the list when its folder changed and rebuilds the menu when the list changed.
    void menuNeedsUpdate();
    const std::vector<std::unique_ptr<ZELUserQueryListMenuController>>& submenuControllers() const {
        return submenuControllers_;
    }

    // The entry an item of the menu carries, or null.
    static std::shared_ptr<ZELUserQueryListEntry> entryForAction(const QAction* action);

signals:
    void entryActivated(std::shared_ptr<ZELUserQueryListEntry> entry);

private:
    // Removes the list's old items and answers where the new ones go.
    int removeExistingEntriesFromMenu();

    QPointer<QMenu> menu_;
    std::shared_ptr<ZELUserQueryList> list_;
    const MenuMode mode_;
    uint64_t lastMenuUpdateChangeCount_ = ZELUserQueryList::changeCountNever;
    std::vector<QPointer<QAction>> ownActions_;  // the items of the last build, in order
    std::vector<std::unique_ptr<ZELUserQueryListMenuController>> submenuControllers_;
};
