#pragma once
// Environment variables set or removed for the life of an object, then put back.

#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class ScopedEnv {
public:
    ScopedEnv() = default;
    // Sets `name` to `value`, or removes it when `value` is empty (std::nullopt).
    ScopedEnv(const std::string& name, const std::optional<std::string>& value) {
        Set(name, value);
    }
    ~ScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            Apply(it->first, it->second);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    // Further variables; each gets back the value it had before its first change here.
    void Set(const std::string& name, const std::optional<std::string>& value) {
        const char* old = ::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        Apply(name, value);
    }

private:
    static void Apply(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
        // An empty value removes the variable there.
        ::_putenv_s(name.c_str(), value ? value->c_str() : "");
#else
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
#endif
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace testsupport
