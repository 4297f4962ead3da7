// The lock of the game link's records and queues: a critical section with a
// virtual destructor, so that a queue can be one. Held for a scope with
// platform::CriticalSectionGuard, like every lock of the program.
#pragma once

#include "platform/sync.h"

class CriticalLock : public platform::CriticalSection {
public:
    CriticalLock() = default;
    virtual ~CriticalLock();
};
