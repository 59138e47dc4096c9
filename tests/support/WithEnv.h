#pragma once

#include <optional>
#include <string>

#include <stdlib.h>

namespace fernhollow::test {

// Sets an environment variable while it lives, then restores it, or unsets it if it was unset.
class WithEnv {
public:
    WithEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* previous = ::getenv(name)) {
            saved_ = previous;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~WithEnv() {
        if (saved_) {
            ::setenv(name_, saved_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    WithEnv(const WithEnv&) = delete;
    WithEnv& operator=(const WithEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

} // namespace fernhollow::test
