#pragma once

#include <memory>
#include <set>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"

class ZELAspect;

// The normalized terms gathered for one aspect while a query is assembled
// (ZELJoinedAspectSetMatchMap). Shares its aspect, owns its terms; one thread at a time.
class ZELAspectTermGroup : public ZELObject {
public:
    explicit ZELAspectTermGroup(std::shared_ptr<ZELAspect> aspect) : aspect_(std::move(aspect)) {}

    const std::shared_ptr<ZELAspect>& aspect() const { return aspect_; }
    // In ascending code-unit order; each term once.
    const std::set<ZELString>& normalizedTerms() const { return normalizedTerms_; }
    void addNormalizedTerm(const ZELString& term) { normalizedTerms_.insert(term); }

private:
    const std::shared_ptr<ZELAspect> aspect_;
    std::set<ZELString> normalizedTerms_;
};
