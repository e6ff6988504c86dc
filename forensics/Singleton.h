#pragma once
// One instance of a class per process: made on first use, destroyed at exit.

namespace Pel::Core::Pattern {

template <class T, class Tag>
class Singleton {
public:
    // Thread-safe: concurrent first calls wait for one construction. A constructor
    // that throws leaves no instance, and the next call tries again.
    static T& Instance() {
        static T instance;
        return instance;
    }

    Singleton(const Singleton&) = delete;
    Singleton& operator=(const Singleton&) = delete;

protected:
    Singleton() = default;
    ~Singleton() = default;
};

}  // namespace Pel::Core::Pattern
