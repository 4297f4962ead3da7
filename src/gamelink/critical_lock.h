// A lock around one critical section, and a guard that holds it for a scope.
#pragma once

#include "platform/sync.h"

class CriticalLock {
public:
    CriticalLock() = default;
    virtual ~CriticalLock();
    CriticalLock(const CriticalLock&) = delete;
    CriticalLock& operator=(const CriticalLock&) = delete;

    void Enter() { section.Enter(); }
    void Leave() { section.Leave(); }

private:
    platform::CriticalSection section;
};

class CriticalLockHold {
public:
    explicit CriticalLockHold(CriticalLock& held) : lock(held) { lock.Enter(); }
    ~CriticalLockHold() { lock.Leave(); }
    CriticalLockHold(const CriticalLockHold&) = delete;
    CriticalLockHold& operator=(const CriticalLockHold&) = delete;

private:
    CriticalLock& lock;
};
