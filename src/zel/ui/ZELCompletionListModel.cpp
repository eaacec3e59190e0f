#include "zel/ui/ZELCompletionListModel.h"

#include <QApplication>
#include <QFont>
#include <QPalette>

void ZELCompletionListModel::reload() {
    beginResetModel();
    endResetModel();
}

void ZELCompletionListModel::refresh() {
    if (rowCount() > 0) emit dataChanged(index(0), index(rowCount() - 1));
}

int ZELCompletionListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.rowCount());
}

QVariant ZELCompletionListModel::data(const QModelIndex& index, int role) const {
    const auto row = static_cast<uint64_t>(index.row());
    const bool isWarning = rows_.warningRow() == row;
    switch (role) {
        case Qt::DisplayRole: {
            const ZELString text = rows_.textForRow(row);
            return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
        }
        case Qt::ForegroundRole:
            if (isWarning) return warningColour_;
            if (!rows_.isRowSelectable(row)) {
                return QApplication::palette().color(QPalette::Disabled, QPalette::Text);
            }
            return {};
        case Qt::FontRole:
            if (isWarning && warningColour_ == QColor(Qt::red)) {
                QFont font = QApplication::font();
                font.setBold(true);
                return font;
            }
            return {};
        default:
            return {};
    }
}

Qt::ItemFlags ZELCompletionListModel::flags(const QModelIndex& index) const {
    const auto row = static_cast<uint64_t>(index.row());
    if (rows_.isRowSelectable(row)) return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    // The "more" row takes clicks (they load more) but is never selected.
    return rows_.moreRow() == row ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}
