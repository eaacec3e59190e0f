#include "zel/ui/ZELUserQueryListMenuController.h"

#include <QAction>
#include <QMenu>
#include <algorithm>

Q_DECLARE_METATYPE(std::shared_ptr<ZELUserQueryListEntry>)

namespace {

QString menuTitle(const std::optional<ZELString>& title) {
    return title ? QString::fromUtf16(title->data(), static_cast<qsizetype>(title->size()))
                 : QString();
}

// The index of the first (or last) separator of the actions, or -1.
int separatorIndex(const QList<QAction*>& actions, bool last) {
    for (qsizetype i = 0; i < actions.size(); ++i) {
        const qsizetype index = last ? actions.size() - 1 - i : i;
        if (actions[index]->isSeparator()) return static_cast<int>(index);
    }
    return -1;
}

}  // namespace

ZELUserQueryListMenuController::ZELUserQueryListMenuController(
    QMenu* menu, std::shared_ptr<ZELUserQueryList> list, MenuMode mode)
    : menu_(menu), list_(std::move(list)), mode_(mode) {
    connect(menu, &QMenu::aboutToShow, this, &ZELUserQueryListMenuController::menuNeedsUpdate);
}

ZELUserQueryListMenuController::~ZELUserQueryListMenuController() = default;

void ZELUserQueryListMenuController::changeUserQueryList(std::shared_ptr<ZELUserQueryList> list) {
    list_ = std::move(list);
    lastMenuUpdateChangeCount_ = ZELUserQueryList::changeCountNever;
}

std::shared_ptr<ZELUserQueryListEntry> ZELUserQueryListMenuController::entryForAction(
    const QAction* action) {
    return action ? action->data().value<std::shared_ptr<ZELUserQueryListEntry>>() : nullptr;
}

void ZELUserQueryListMenuController::menuNeedsUpdate() {
    if (!menu_ || !list_) return;
    list_->ensureLoaded();
    const uint64_t changeCount = list_->changeCount();
    if (changeCount == lastMenuUpdateChangeCount_) return;

    int index = removeExistingEntriesFromMenu();
    const auto insert = [&](QAction* action) {
        const QList<QAction*> actions = menu_->actions();
        menu_->insertAction(index < actions.size() ? actions[index] : nullptr, action);
        ownActions_.emplace_back(action);
        ++index;
    };
    for (const auto& sublist : list_->sublists()) {
        auto* submenu = new QMenu(menuTitle(sublist->title()), menu_);
        auto controller =
            std::make_unique<ZELUserQueryListMenuController>(submenu, sublist, MenuModeWhole);
        connect(controller.get(), &ZELUserQueryListMenuController::entryActivated, this,
                &ZELUserQueryListMenuController::entryActivated);
        submenuControllers_.push_back(std::move(controller));
        insert(submenu->menuAction());
    }
    for (const auto& entry : list_->entries()) {
        auto* action = new QAction(menuTitle(entry->title()), menu_);
        action->setData(QVariant::fromValue(entry));
        connect(action, &QAction::triggered, this, [this, entry] { emit entryActivated(entry); });
        insert(action);
    }
    lastMenuUpdateChangeCount_ = changeCount;
}

int ZELUserQueryListMenuController::removeExistingEntriesFromMenu() {
    submenuControllers_.clear();
    const QList<QAction*> actions = menu_->actions();
    // The range of the list's old items, [first, end), and where the new ones go.
    qsizetype first = 0;
    qsizetype end = actions.size();
    const int separator = separatorIndex(actions, mode_ == MenuModeBottom);
    if (mode_ != MenuModeWhole && separator < 0) {
        // No separator marks the host's items: only this controller's own items go.
        const auto own = [&](QAction* action) {
            return std::find(ownActions_.begin(), ownActions_.end(), action) != ownActions_.end();
        };
        first = std::find_if(actions.begin(), actions.end(), own) - actions.begin();
        if (first == actions.size()) first = mode_ == MenuModeTop ? 0 : actions.size();
        end = first;
        while (end < actions.size() && own(actions[end])) ++end;
    } else if (mode_ == MenuModeTop) {
        end = separator;
    } else if (mode_ == MenuModeBottom) {
        first = separator + 1;
    }
    for (qsizetype i = first; i < end; ++i) {
        QAction* action = actions[i];
        menu_->removeAction(action);
        if (QMenu* submenu = action->menu()) {
            submenu->deleteLater();  // its action goes with it
        } else if (action->parent() == menu_) {
            action->deleteLater();
        }
    }
    ownActions_.clear();
    return static_cast<int>(first);
}
