#pragma once

#include <memory>

class ZELAspectTokenField;
class ZELItemResultSet;
class ZELQuery;

// The host's side of a search field: it supplies the search the field completes within and is
// told when the field's text or query changes. Held by the field without ownership; called on
// the GUI thread.
class ZELAspectBitTokenDelegate {
public:
    virtual ~ZELAspectBitTokenDelegate() = default;

    // The host's current query, or null.
    virtual std::shared_ptr<ZELQuery> aspectBitTokenFieldActiveQuery(ZELAspectTokenField& field) = 0;
    // The host's current result set, or null; completions are limited to its items.
    virtual std::shared_ptr<ZELItemResultSet> aspectBitTokenFieldActiveItemResultSet(
        ZELAspectTokenField& field) = 0;
    virtual void aspectBitTokenFieldDidChangeText(ZELAspectTokenField& field) = 0;
    // The field's criteria changed (see ZELAspectTokenField::stableTokenRepresentedObjects).
    virtual void aspectBitTokenFieldDidChangeQuery(ZELAspectTokenField& field) = 0;
};
