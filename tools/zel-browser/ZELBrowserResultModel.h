#pragma once

#include <QAbstractTableModel>
#include <memory>
#include <optional>
#include <vector>

#include "zel/platform/ZELString.h"
#include "zel/query/ZELItemResultSet.h"

// The rows of the browser's results table: the loaded items of one result set, one column per
// record key. Sorting a column hands the result set an item sort descriptor for that key, so
// the set keeps its items in that order while it loads; the order carries over to later sets.
// Owned by the window; GUI thread only. The set loads on its own; the window tells the model
// when a report arrived.
class ZELBrowserResultModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // Registers each key's value getter, which the sort descriptors look up.
    ZELBrowserResultModel(std::vector<ZELString> keys, QObject* parent = nullptr);

    const std::vector<ZELString>& keys() const { return keys_; }
    const std::shared_ptr<ZELItemResultSet>& resultSet() const { return set_; }
    // Shows another set (none: no rows), giving it the present order.
    void setResultSet(std::shared_ptr<ZELItemResultSet> set);
    // Takes the set's items loaded so far.
    void resultSetDidLoad();
    // The text shown for a record value.
    static QString displayText(const ZELValue& value);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    const std::vector<ZELString> keys_;
    std::shared_ptr<ZELItemResultSet> set_;
    ZELItemResultSet::SharedItemList items_;  // the snapshot shown
    std::optional<ZELItemResultSet::SortCriteria> order_;
};
