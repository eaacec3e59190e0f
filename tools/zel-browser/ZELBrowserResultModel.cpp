#include "ZELBrowserResultModel.h"

#include <QDateTime>

#include "zel/database/ZELRecordItem.h"

ZELBrowserResultModel::ZELBrowserResultModel(std::vector<ZELString> keys, QObject* parent)
    : QAbstractTableModel(parent), keys_(std::move(keys)) {
    for (const ZELString& key : keys_) ZELRecordItem::registerValueGetterForKey(key);
}

void ZELBrowserResultModel::setResultSet(std::shared_ptr<ZELItemResultSet> set) {
    beginResetModel();
    set_ = std::move(set);
    items_ = nullptr;
    if (set_) set_->setLoadedItemSortDescriptors(order_);
    endResetModel();
}

void ZELBrowserResultModel::resultSetDidLoad() {
    beginResetModel();
    items_ = set_ ? set_->loadedItems() : nullptr;
    endResetModel();
}

QString ZELBrowserResultModel::displayText(const ZELValue& value) {
    switch (value.kind()) {
        case ZELValue::Kind::String:
            return QString::fromStdU16String(value.stringValue()).simplified();
        case ZELValue::Kind::Integer:
            return QString::number(value.integerValue());
        case ZELValue::Kind::Real:
            return QString::number(value.realValue());
        case ZELValue::Kind::Boolean:
            return value.booleanValue() ? QStringLiteral("yes") : QStringLiteral("no");
        case ZELValue::Kind::Date:
            return QDateTime::fromMSecsSinceEpoch(
                       static_cast<qint64>(value.dateValue().timeIntervalSince1970 * 1000.0),
                       Qt::UTC)
                .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        case ZELValue::Kind::Array: {
            QStringList parts;
            for (const ZELValue& element : value.arrayValue()) parts.append(displayText(element));
            return parts.join(QStringLiteral(", "));
        }
        default:
            return QString();
    }
}

int ZELBrowserResultModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !items_ ? 0 : static_cast<int>(items_->size());
}

int ZELBrowserResultModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(keys_.size());
}

QVariant ZELBrowserResultModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !items_ || index.row() >= static_cast<int>(items_->size()))
        return {};
    const auto* record = dynamic_cast<const ZELRecordItem*>((*items_)[index.row()].get());
    if (!record) return {};
    QString text = displayText(record->valueForKey(keys_[index.column()]));
    constexpr int shownCharacters = 200;  // a changelog body can be pages long
    if (text.size() > shownCharacters) text = text.left(shownCharacters) + QChar(0x2026);
    return text;
}

QVariant ZELBrowserResultModel::headerData(int section, Qt::Orientation orientation,
                                           int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    return QString::fromStdU16String(keys_[section]);
}

void ZELBrowserResultModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= static_cast<int>(keys_.size())) return;
    order_ = ZELItemResultSet::SortCriteria{
        ZELItemSortDescriptor(ZELStringToUTF8(keys_[column]), order == Qt::AscendingOrder)};
    if (!set_) return;
    set_->setLoadedItemSortDescriptors(order_);
    resultSetDidLoad();
}
