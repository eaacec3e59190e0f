#pragma once

#include <memory>
#include <string>
#include <vector>

#include "zel/platform/ZELValue.h"
#include "zel/tokenizer/ZELTokenizer.h"

class ZELItem;

// A sort criterion of result sets: orders items by the value that one named value getter
// (ZELRegistry<ZELValueGetter>) answers for them, ascending or descending. A plain immutable
// value; any thread may use it.
class ZELItemSortDescriptor {
public:
    // The getter registered under `key`, looked up now; an unknown key gives every item the
    // none value (so the criterion tells no items apart).
    ZELItemSortDescriptor(std::string key, bool ascending);
    // A getter of the caller's own; `key` names it for equality.
    ZELItemSortDescriptor(std::string key, ZELValueGetter getter, bool ascending);

    const std::string& key() const { return key_; }
    bool ascending() const { return ascending_; }
    ZELValue valueForItem(const ZELItem& item) const;

    // The order of values: none first; then booleans and numbers by value, strings by the
    // user's collation (compareZELLocalized), dates by time, data by bytes; values of
    // different kinds by kind; arrays, dictionaries and objects all equal. Negative, 0 or
    // positive.
    static int compareValues(const ZELValue& value, const ZELValue& other);

    // Stable sort by the first criterion that tells two items apart. Each item's values are
    // fetched once.
    static void sortItems(std::vector<std::shared_ptr<ZELItem>>& items,
                          const std::vector<ZELItemSortDescriptor>& criteria);

    // Same key and direction.
    friend bool operator==(const ZELItemSortDescriptor& a, const ZELItemSortDescriptor& b) {
        return a.key_ == b.key_ && a.ascending_ == b.ascending_;
    }

private:
    std::string key_;
    ZELValueGetter getter_;  // empty when the key named no getter
    bool ascending_;
};
