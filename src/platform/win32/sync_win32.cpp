#include "platform/sync.h"

#include <windows.h>

namespace platform {

struct CriticalSection::Impl {
    CRITICAL_SECTION cs;
};
CriticalSection::CriticalSection() : impl_(new Impl) { InitializeCriticalSection(&impl_->cs); }
CriticalSection::~CriticalSection() { DeleteCriticalSection(&impl_->cs); }
void CriticalSection::Enter() { EnterCriticalSection(&impl_->cs); }
void CriticalSection::Leave() { LeaveCriticalSection(&impl_->cs); }

struct AutoResetEvent::Impl {
    HANDLE event;
};
AutoResetEvent::AutoResetEvent() : impl_(new Impl) {
    impl_->event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}
AutoResetEvent::~AutoResetEvent() { CloseHandle(impl_->event); }
void AutoResetEvent::Set() { SetEvent(impl_->event); }
bool AutoResetEvent::Wait(uint32_t timeoutMs) {
    return WaitForSingleObject(impl_->event, timeoutMs) == WAIT_OBJECT_0;
}

namespace {
struct StartRecord {
    Thread::Procedure procedure;
    void* argument;
};
DWORD WINAPI ThreadEntry(LPVOID raw) {
    StartRecord record = *static_cast<StartRecord*>(raw);
    delete static_cast<StartRecord*>(raw);
    return record.procedure(record.argument);
}
HANDLE Launch(Thread::Procedure procedure, void* argument) {
    auto* record = new StartRecord{procedure, argument};
    HANDLE handle = CreateThread(nullptr, 0, ThreadEntry, record, 0, nullptr);
    if (!handle) delete record;
    return handle;
}
}  // namespace

struct Thread::Impl {
    HANDLE handle = nullptr;
};
Thread::Thread() : impl_(new Impl) {}
Thread::~Thread() {
    if (impl_->handle) CloseHandle(impl_->handle);
}
bool Thread::Start(Procedure procedure, void* argument) {
    impl_->handle = Launch(procedure, argument);
    return impl_->handle != nullptr;
}
bool Thread::Started() const { return impl_->handle != nullptr; }
void Thread::Join() {
    if (impl_->handle) WaitForSingleObject(impl_->handle, INFINITE);
}
bool Thread::WaitFor(uint32_t timeoutMs) {
    if (!impl_->handle) return true;
    return WaitForSingleObject(impl_->handle, timeoutMs) == WAIT_OBJECT_0;
}
void Thread::Terminate(uint32_t exitCode) {
    if (impl_->handle) TerminateThread(impl_->handle, exitCode);
}

bool StartDetachedThread(Thread::Procedure procedure, void* argument) {
    HANDLE handle = Launch(procedure, argument);
    if (!handle) return false;
    CloseHandle(handle);
    return true;
}

}  // namespace platform
