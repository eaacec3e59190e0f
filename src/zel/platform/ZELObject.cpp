#include "zel/platform/ZELObject.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

#include "zel/platform/ZELString.h"

std::string ZELObject::className() const {
    const char* mangled = typeid(*this).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = (status == 0 && demangled) ? demangled : mangled;
    std::free(demangled);
    return name;
}

std::string ZELObject::descriptionHead() const {
    return ZELStringWithFormat("%s<%p>", className().c_str(), static_cast<const void*>(this));
}

std::string ZELObject::description() const { return descriptionHead(); }
