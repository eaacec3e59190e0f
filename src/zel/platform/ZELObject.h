#pragma once

#include <memory>
#include <string>

// Root of the system's reference-counted objects (held by std::shared_ptr). It gives every
// object its class name and the "%@<%p>" description head, and lets an object hand out a
// shared reference to itself.
class ZELObject : public std::enable_shared_from_this<ZELObject> {
public:
    virtual ~ZELObject() = default;

    // The object's class name, as registered and as shown in descriptions
    // ("ZELIDVector_CArray"). Defaults to the demangled dynamic type name.
    virtual std::string className() const;

    // "ClassName<0x...>", extended with details by subclasses.
    virtual std::string description() const;

    // "ClassName<0x...>": the head every description starts with.
    std::string descriptionHead() const;

protected:
    // A shared reference to this object as its own type.
    // Requires: the object is owned by a std::shared_ptr.
    template <typename T>
    std::shared_ptr<T> sharedFromThisAs() {
        return std::static_pointer_cast<T>(shared_from_this());
    }
    template <typename T>
    std::shared_ptr<const T> sharedFromThisAs() const {
        return std::static_pointer_cast<const T>(shared_from_this());
    }
};
