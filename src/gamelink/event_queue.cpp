#include "gamelink/event_queue.h"

EventQueue::~EventQueue() = default;

void EventQueue::Append(DatagramRecord* record) {
    platform::CriticalSectionGuard hold(*this);
    fifo.push_back(record);
    event.Set();
}

void EventQueue::AppendQuietly(DatagramRecord* record) {
    platform::CriticalSectionGuard hold(*this);
    fifo.push_back(record);
}

DatagramRecord* EventQueue::TakeFront() {
    platform::CriticalSectionGuard hold(*this);
    if (fifo.empty()) return nullptr;
    DatagramRecord* record = fifo.front();
    fifo.pop_front();
    return record;
}

std::deque<DatagramRecord*> EventQueue::TakeAll() {
    platform::CriticalSectionGuard hold(*this);
    std::deque<DatagramRecord*> all;
    all.swap(fifo);
    return all;
}
