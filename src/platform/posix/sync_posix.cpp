#include "platform/sync.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace platform {

struct CriticalSection::Impl {
    pthread_mutex_t mutex;
};
CriticalSection::CriticalSection() : impl_(new Impl) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&impl_->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}
CriticalSection::~CriticalSection() { pthread_mutex_destroy(&impl_->mutex); }
void CriticalSection::Enter() { pthread_mutex_lock(&impl_->mutex); }
void CriticalSection::Leave() { pthread_mutex_unlock(&impl_->mutex); }

namespace {
timespec DeadlineAfter(uint32_t timeoutMs) {
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += long(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}
}  // namespace

struct AutoResetEvent::Impl {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t signal = PTHREAD_COND_INITIALIZER;
    bool signalled = false;
};
AutoResetEvent::AutoResetEvent() : impl_(new Impl) {}
AutoResetEvent::~AutoResetEvent() {
    pthread_cond_destroy(&impl_->signal);
    pthread_mutex_destroy(&impl_->mutex);
}
void AutoResetEvent::Set() {
    pthread_mutex_lock(&impl_->mutex);
    impl_->signalled = true;
    pthread_cond_signal(&impl_->signal);
    pthread_mutex_unlock(&impl_->mutex);
}
bool AutoResetEvent::Wait(uint32_t timeoutMs) {
    timespec deadline = DeadlineAfter(timeoutMs);
    pthread_mutex_lock(&impl_->mutex);
    int result = 0;
    while (!impl_->signalled && result != ETIMEDOUT)
        result = pthread_cond_timedwait(&impl_->signal, &impl_->mutex, &deadline);
    bool signalled = impl_->signalled;
    impl_->signalled = false;
    pthread_mutex_unlock(&impl_->mutex);
    return signalled;
}

namespace {
struct StartRecord {
    Thread::Procedure procedure;
    void* argument;
};
void* ThreadEntry(void* raw) {
    StartRecord record = *static_cast<StartRecord*>(raw);
    delete static_cast<StartRecord*>(raw);
    record.procedure(record.argument);
    return nullptr;
}
bool Launch(pthread_t* thread, Thread::Procedure procedure, void* argument) {
    auto* record = new StartRecord{procedure, argument};
    if (pthread_create(thread, nullptr, ThreadEntry, record) != 0) {
        delete record;
        return false;
    }
    return true;
}
}  // namespace

struct Thread::Impl {
    pthread_t thread{};
    bool started = false;  // launched and neither joined nor detached yet
    bool launched = false;
};
Thread::Thread() : impl_(new Impl) {}
Thread::~Thread() {
    if (impl_->started) pthread_detach(impl_->thread);
}
bool Thread::Start(Procedure procedure, void* argument) {
    impl_->started = impl_->launched = Launch(&impl_->thread, procedure, argument);
    return impl_->started;
}
bool Thread::Started() const { return impl_->launched; }
void Thread::Join() {
    if (!impl_->started) return;
    pthread_join(impl_->thread, nullptr);
    impl_->started = false;
}
bool Thread::WaitFor(uint32_t timeoutMs) {
    if (!impl_->started) return true;
    timespec deadline = DeadlineAfter(timeoutMs);
    if (pthread_timedjoin_np(impl_->thread, nullptr, &deadline) != 0) return false;
    impl_->started = false;
    return true;
}
void Thread::Terminate(uint32_t) {
    if (!impl_->started) return;
    pthread_detach(impl_->thread);
    impl_->started = false;
}

bool StartDetachedThread(Thread::Procedure procedure, void* argument) {
    pthread_t thread;
    if (!Launch(&thread, procedure, argument)) return false;
    pthread_detach(thread);
    return true;
}

}  // namespace platform
