#pragma once

#include <cstdlib>
#include <optional>
#include <string>

// Sets an environment variable while it lives, then restores it (or unsets it again).
class ZELTestScopedEnvironment {
public:
    ZELTestScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ZELTestScopedEnvironment() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ZELTestScopedEnvironment(const ZELTestScopedEnvironment&) = delete;
    ZELTestScopedEnvironment& operator=(const ZELTestScopedEnvironment&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};
