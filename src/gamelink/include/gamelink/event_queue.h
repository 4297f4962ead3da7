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
            platform::CriticalSectionGuard hold(lock);
            fifo.push_back(std::move(item));
        }
        event.Set();
    }
    // The front item, or nothing when the queue is empty.
    std::optional<T> TakeFront() {
        platform::CriticalSectionGuard hold(lock);
        if (fifo.empty()) return std::nullopt;
        std::optional<T> item(std::move(fifo.front()));
        fifo.pop_front();
        return item;
    }
    size_t Size() {
        platform::CriticalSectionGuard hold(lock);
        return fifo.size();
    }
    // Waits for an append (or Signal) at most timeoutMs.
    void Wait(uint32_t timeoutMs) { event.Wait(timeoutMs); }
    void Signal() { event.Set(); }

private:
    platform::CriticalSection lock;
    std::deque<T> fifo;
    platform::AutoResetEvent event;
};
