// Locks, events and threads: the few threading services the portable code
// needs, each standing for the Win32 object of the same purpose.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

// A critical section: recursive, like the Win32 one.
class CriticalSection {
public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter();
    void Leave();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Holds a critical section for one scope.
class CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    ~CriticalSectionGuard() { cs_.Leave(); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

private:
    CriticalSection& cs_;
};

// An auto-reset event, not signalled at creation.
class AutoResetEvent {
public:
    AutoResetEvent();
    ~AutoResetEvent();
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    void Set();
    // Waits at most timeoutMs; true when the event was signalled (and is
    // reset again by this wait), false on time-out.
    bool Wait(uint32_t timeoutMs);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A thread with a bounded join. The procedure gets the argument given to
// Start and returns the thread's exit code.
class Thread {
public:
    using Procedure = uint32_t (*)(void* argument);

    Thread();
    ~Thread();  // does not join: a thread still running is left to end alone
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool Start(Procedure procedure, void* argument);
    bool Started() const;
    // Waits for the thread to end, without bound.
    void Join();
    // Waits at most timeoutMs for the thread to end; true when it ended.
    bool WaitFor(uint32_t timeoutMs);
    // Ends a thread that did not stop in time. On Windows the thread is
    // terminated with the exit code; elsewhere it is detached and left to
    // finish on its own, since POSIX offers no safe way to kill one.
    void Terminate(uint32_t exitCode);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Starts a detached thread (the caller never waits for it; the progress
// dialogs' threads). False when it could not be started.
bool StartDetachedThread(Thread::Procedure procedure, void* argument);

}  // namespace platform
