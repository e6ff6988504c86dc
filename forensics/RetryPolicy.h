#pragma once
// How long to wait before the next try, and how many tries are left.
#include <chrono>
#include <cstdint>

namespace Pel::Core::Pattern {

namespace Detail {

template <int Retries, int DelaySeconds>
class DelayPolicy {
public:
    virtual ~DelayPolicy() = default;
    virtual std::chrono::seconds NextDelay() = 0;
};

}  // namespace Detail

// At most Retries retries, each after the same delay.
template <int Retries, int DelaySeconds>
class Linear : public Detail::DelayPolicy<Retries, DelaySeconds> {
public:
    std::chrono::seconds NextDelay() override { return std::chrono::seconds(DelaySeconds); }

    int64_t RetriesLeft() const { return retriesLeft_; }
    void CountDown() {
        if (retriesLeft_ > 0) --retriesLeft_;
    }

private:
    int64_t retriesLeft_ = Retries;
};

}  // namespace Pel::Core::Pattern
