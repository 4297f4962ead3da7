// A locked FIFO of records with an auto-reset event that producers signal.
// The queue holds raw pointers: whoever takes a record out owns it.
#pragma once

#include <cstdint>
#include <deque>

#include "gamelink/critical_lock.h"
#include "gamelink/datagram_record.h"
#include "platform/sync.h"

class EventQueue : public CriticalLock {
public:
    EventQueue() = default;
    ~EventQueue() override;

    // Appends under the lock and signals the event before releasing it.
    void Append(DatagramRecord* record);
    // Appends without signalling: for a queue that its consumer polls.
    void AppendQuietly(DatagramRecord* record);
    // The front record, or nullptr when the queue is empty.
    DatagramRecord* TakeFront();
    // Waits for a signal at most timeoutMs; true when signalled.
    bool Wait(uint32_t timeoutMs) { return event.Wait(timeoutMs); }
    void Signal() { event.Set(); }
    // Takes every record out (the stop releases them).
    std::deque<DatagramRecord*> TakeAll();

private:
    std::deque<DatagramRecord*> fifo;
    platform::AutoResetEvent event;
};
