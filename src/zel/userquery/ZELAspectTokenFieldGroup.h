#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"

class ZELAspect;

// A group of aspects that one token of the search field is searched in ("People" for the
// sender and the recipient), with an optional label. A plain value shared by the criteria that
// use it: user queries tell groups apart by object identity, so a group is never changed once
// criteria hold it. Any thread may read it.
class ZELAspectTokenFieldGroup : public ZELObject {
public:
    using AspectList = std::vector<std::shared_ptr<ZELAspect>>;

    static std::shared_ptr<ZELAspectTokenFieldGroup> groupWithAspects(
        AspectList aspects, std::optional<ZELString> label = std::nullopt);
    ZELAspectTokenFieldGroup(AspectList aspects, std::optional<ZELString> label);

    const std::optional<ZELString>& label() const { return label_; }
    const AspectList& aspects() const { return aspects_; }

    // The group holds at least one of `aspects`.
    bool intersectsAspects(const AspectList& aspects) const;
    // The group holds every one of `aspects`.
    bool containsAllAspects(const AspectList& aspects) const;

    // Every aspect of the groups, each once, in the order first met.
    static AspectList aspectsInGroups(
        const std::vector<std::shared_ptr<ZELAspectTokenFieldGroup>>& groups);

    // "ZELAspectTokenFieldGroup<0x...> \"label\" {a, b}".
    std::string description() const override;

private:
    const std::optional<ZELString> label_;
    const AspectList aspects_;
};
