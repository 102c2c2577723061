#pragma once
// Runs an undo action when a scope is left early; dismiss() once the work succeeded.

#include <functional>
#include <utility>

namespace tunnel {

class ScopeGuard {
public:
    explicit ScopeGuard(std::function<void()> undo) : undo_(std::move(undo)) {}
    ~ScopeGuard() {
        if (undo_) undo_();
    }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;

    void dismiss() { undo_ = nullptr; }

private:
    std::function<void()> undo_;
};

}  // namespace tunnel
