// A locked FIFO with an auto-reset event that every append signals: the
// hand-over between the engine's threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

#include "platform/sync.h"

template <typename T>
class EventQueue {
public:
    void Append(T item) {
        {
            platform::CriticalSectionGuard hold(lock_);
            fifo_.push_back(std::move(item));
        }
        event_.Set();
    }
    // The front item, or nothing when the queue is empty.
    std::optional<T> TakeFront() {
        platform::CriticalSectionGuard hold(lock_);
        if (fifo_.empty()) return std::nullopt;
        std::optional<T> item(std::move(fifo_.front()));
        fifo_.pop_front();
        return item;
    }
    size_t Size() {
        platform::CriticalSectionGuard hold(lock_);
        return fifo_.size();
    }
    // Waits for an append (or Signal) at most timeoutMs.
    void Wait(uint32_t timeoutMs) { event_.Wait(timeoutMs); }
    void Signal() { event_.Set(); }

private:
    platform::CriticalSection lock_;
    std::deque<T> fifo_;
    platform::AutoResetEvent event_;
};
