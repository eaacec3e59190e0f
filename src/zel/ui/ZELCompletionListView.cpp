#include "zel/ui/ZELCompletionListView.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>

ZELCompletionListView::ZELCompletionListView(QWidget* parent) : QListView(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::NoFocus);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The window sizes the list to its rows; the scroll area's own minimum would override it.
    setMinimumSize(1, 1);
}

QItemSelectionModel::SelectionFlags ZELCompletionListView::selectionCommand(
    const QModelIndex& index, const QEvent* event) const {
    const auto* mouse = dynamic_cast<const QMouseEvent*>(event);
    if (mouse && event->type() == QEvent::MouseButtonPress) {
        const bool shift = mouse->modifiers() & Qt::ShiftModifier;
        // Shift with nothing selected yet selects the row alone rather than a range from the
        // top; while alternatives are collected, a plain click toggles.
        if (shift && !selectionModel()->hasSelection()) {
            return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
        }
        if (!shift && allowsToggle_) return QItemSelectionModel::Toggle | QItemSelectionModel::Rows;
    }
    return QListView::selectionCommand(index, event);
}

void ZELCompletionListView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QListView::mousePressEvent(event);
}

void ZELCompletionListView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit enterKeyPressed();
        return;
    }
    QListView::keyPressEvent(event);
}

void ZELCompletionListView::contextMenuEvent(QContextMenuEvent* event) {
    emit contextMenuRequestedAt(event->globalPos());
}
