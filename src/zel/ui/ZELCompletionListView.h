#pragma once

#include <QListView>

// The completion list: a list view that toggles rows on a plain click while alternatives are
// being collected, reports Return and Enter instead of editing, and does not select on a
// right click. Owned by the completion list window; GUI thread only.
class ZELCompletionListView : public QListView {
    Q_OBJECT

public:
    explicit ZELCompletionListView(QWidget* parent);

    bool allowsSingleClickSelectionToggle() const { return allowsToggle_; }
    void setAllowsSingleClickSelectionToggle(bool flag) { allowsToggle_ = flag; }

signals:
    void enterKeyPressed();
    void contextMenuRequestedAt(QPoint globalPosition);

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    bool allowsToggle_ = false;
};
