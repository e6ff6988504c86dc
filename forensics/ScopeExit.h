#pragma once
// Runs a callable when the scope ends, on every path out of it.
#include <utility>

namespace Pel::Core {

template <class Callable>
class ScopeExit {
public:
    explicit ScopeExit(Callable callable) : callable_(std::move(callable)) {}
    virtual ~ScopeExit() { callable_(); }

    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Callable callable_;
};

}  // namespace Pel::Core
