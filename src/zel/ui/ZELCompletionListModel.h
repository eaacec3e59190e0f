#pragma once

#include <QAbstractListModel>
#include <QColor>

#include "zel/ui/ZELCompletionRows.h"

// The completion list window's rows as a Qt list model: text, selectability and the look of
// the warning and "more" rows, read from the controller's ZELCompletionRows. Owned by the
// controller; GUI thread only.
class ZELCompletionListModel : public QAbstractListModel {
    Q_OBJECT

public:
    ZELCompletionListModel(const ZELCompletionRows& rows, QObject* parent)
        : QAbstractListModel(parent), rows_(rows) {}

    // The warning row's colour: red for a warning, gray for a status.
    void setWarningColour(QColor colour) { warningColour_ = colour; }
    // Every row changed (after the rows' list, flags or negation changed).
    void reload();
    // The rows' texts and looks changed, not their number (the selection stays).
    void refresh();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    const ZELCompletionRows& rows_;
    QColor warningColour_ = Qt::red;
};
