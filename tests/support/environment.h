#pragma once
// Setting process environment variables in tests, the way the code under test reads them
// (the Win32 environment on Windows, so child processes inherit the change too).

#include <optional>
#include <string>

namespace orvik_test {

void setEnvironment(const std::string& name, const std::string& value);
void unsetEnvironment(const std::string& name);

// Sets (or, with nothing, unsets) a variable for the object's lifetime, then restores the
// previous state.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::optional<std::string>& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace orvik_test
