#pragma once

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "zel/platform/ZELString.h"

class ZELAspect;

// Typed prefixes that narrow a search field's completions to some of its aspects ("from:"
// for the sender). Owned by its field; one thread at a time.
class ZELAspectNarrowingPrefixes {
public:
    using AspectList = std::vector<std::shared_ptr<ZELAspect>>;

    struct Narrowed {
        ZELString input;     // the input without the narrowing prefix
        AspectList aspects;  // the aspects that apply, in the field's order
    };

    // Registers (or, with no identifiers, removes) a prefix.
    void setLimitedAspectIdentifiers(std::set<ZELString> identifiers, const ZELString& prefix);

    // When the input begins with registered prefixes, the longest of them is cut off and only
    // its aspects of `aspects` apply, so the answer never depends on the registration order;
    // otherwise the input and every aspect.
    Narrowed narrow(const ZELString& input, const AspectList& aspects) const;

private:
    std::map<ZELString, std::set<ZELString>> identifiersByPrefix_;
};
