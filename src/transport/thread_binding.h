#pragma once
// Which station part the calling thread works on: the one bound to the thread, else the
// process's default. Each layer's part of a station (and the station itself) keeps one.
#include <atomic>
#include <utility>

template <class Part>
class ThreadBinding {
public:
    // The bound part, else the default; nullptr when there is neither.
    static Part* Get() {
        if (bound_ != nullptr) return bound_;
        return default_.load(std::memory_order_acquire);
    }
    // Binds part to the calling thread (nullptr unbinds); returns what was bound before.
    static Part* Bind(Part* part) { return std::exchange(bound_, part); }
    static void SetDefault(Part* part) { default_.store(part, std::memory_order_release); }
    // Clears the default if it is part; true when it was.
    static bool ClearDefault(Part* part) { return default_.compare_exchange_strong(part, nullptr); }

private:
    static inline thread_local Part* bound_ = nullptr;
    static inline std::atomic<Part*> default_{nullptr};
};
