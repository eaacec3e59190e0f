#include "zel/query/ZELItemSortDescriptor.h"

#include <algorithm>
#include <numeric>

#include "zel/database/ZELItem.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/tokenizer/ZELStringComparison.h"

ZELItemSortDescriptor::ZELItemSortDescriptor(std::string key, bool ascending)
    : key_(std::move(key)), ascending_(ascending) {
    if (auto getter = ZELRegistry<ZELValueGetter>::shared().entryNamed(key_)) {
        getter_ = std::move(*getter);
    }
}

ZELItemSortDescriptor::ZELItemSortDescriptor(std::string key, ZELValueGetter getter,
                                             bool ascending)
    : key_(std::move(key)), getter_(std::move(getter)), ascending_(ascending) {}

ZELValue ZELItemSortDescriptor::valueForItem(const ZELItem& item) const {
    return getter_ ? getter_(item) : ZELValue();
}

namespace {

// Booleans, integers and reals compare with one another by value.
int kindRank(ZELValue::Kind kind) {
    switch (kind) {
        case ZELValue::Kind::Boolean:
        case ZELValue::Kind::Integer:
        case ZELValue::Kind::Real: return static_cast<int>(ZELValue::Kind::Integer);
        default: return static_cast<int>(kind);
    }
}

template <typename T>
int threeWay(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

int ZELItemSortDescriptor::compareValues(const ZELValue& value, const ZELValue& other) {
    const int rank = kindRank(value.kind());
    const int otherRank = kindRank(other.kind());
    if (rank != otherRank) return threeWay(rank, otherRank);
    switch (value.kind()) {
        case ZELValue::Kind::Boolean:
        case ZELValue::Kind::Integer:
            if (other.isReal()) return threeWay(value.realValue(), other.realValue());
            return threeWay(value.integerValue(), other.integerValue());
        case ZELValue::Kind::Real: return threeWay(value.realValue(), other.realValue());
        case ZELValue::Kind::String:
            return compareZELLocalized(value.stringValue(), other.stringValue());
        case ZELValue::Kind::Date: return threeWay(value.dateValue(), other.dateValue());
        case ZELValue::Kind::Data: return threeWay(value.dataValue(), other.dataValue());
        default: return 0;
    }
}

void ZELItemSortDescriptor::sortItems(std::vector<std::shared_ptr<ZELItem>>& items,
                                      const std::vector<ZELItemSortDescriptor>& criteria) {
    if (criteria.empty() || items.size() < 2) return;
    // values[i * criteria + c]: criterion c of item i.
    std::vector<ZELValue> values;
    values.reserve(items.size() * criteria.size());
    for (const auto& item : items) {
        for (const auto& criterion : criteria) {
            values.push_back(item ? criterion.valueForItem(*item) : ZELValue());
        }
    }
    std::vector<size_t> order(items.size());
    std::iota(order.begin(), order.end(), size_t{0});
    const size_t width = criteria.size();
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        for (size_t c = 0; c < width; ++c) {
            const int result = compareValues(values[a * width + c], values[b * width + c]);
            if (result != 0) return criteria[c].ascending() ? result < 0 : result > 0;
        }
        return false;
    });
    std::vector<std::shared_ptr<ZELItem>> sorted;
    sorted.reserve(items.size());
    for (size_t index : order) sorted.push_back(std::move(items[index]));
    items = std::move(sorted);
}
