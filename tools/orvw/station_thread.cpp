// station_thread.cpp - see station_thread.h.
#include "station_thread.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <pthread.h>
#  include <signal.h>
#endif

namespace {

struct WorkerStart {
    void (*fn)(void *);
    void *arg;
};

}   // namespace

#if defined(_WIN32)

StationMutex::StationMutex() : impl_(new CRITICAL_SECTION)
{
    InitializeCriticalSection(static_cast<CRITICAL_SECTION *>(impl_));
}
StationMutex::~StationMutex()
{
    DeleteCriticalSection(static_cast<CRITICAL_SECTION *>(impl_));
    delete static_cast<CRITICAL_SECTION *>(impl_);
}
void StationMutex::lock() { EnterCriticalSection(static_cast<CRITICAL_SECTION *>(impl_)); }
void StationMutex::unlock() { LeaveCriticalSection(static_cast<CRITICAL_SECTION *>(impl_)); }

StationWakeup::StationWakeup() : impl_(new CONDITION_VARIABLE)
{
    InitializeConditionVariable(static_cast<CONDITION_VARIABLE *>(impl_));
}
StationWakeup::~StationWakeup() { delete static_cast<CONDITION_VARIABLE *>(impl_); }
void StationWakeup::wait(StationMutex &m)
{
    SleepConditionVariableCS(static_cast<CONDITION_VARIABLE *>(impl_),
                             static_cast<CRITICAL_SECTION *>(m.impl_), INFINITE);
}
void StationWakeup::wake_all()
{
    WakeAllConditionVariable(static_cast<CONDITION_VARIABLE *>(impl_));
}

static DWORD WINAPI worker_entry(LPVOID p)
{
    WorkerStart s = *static_cast<WorkerStart *>(p);
    delete static_cast<WorkerStart *>(p);
    s.fn(s.arg);
    return 0;
}

bool start_worker(void (*fn)(void *), void *arg, void **handle)
{
    WorkerStart *s = new WorkerStart{fn, arg};
    HANDLE h = CreateThread(nullptr, 0, worker_entry, s, 0, nullptr);
    if (h == nullptr) {
        delete s;
        return false;
    }
    *handle = h;
    return true;
}

void join_worker(void *handle)
{
    WaitForSingleObject(static_cast<HANDLE>(handle), INFINITE);
    CloseHandle(static_cast<HANDLE>(handle));
}

#else

StationMutex::StationMutex() : impl_(new pthread_mutex_t)
{
    pthread_mutex_init(static_cast<pthread_mutex_t *>(impl_), nullptr);
}
StationMutex::~StationMutex()
{
    pthread_mutex_destroy(static_cast<pthread_mutex_t *>(impl_));
    delete static_cast<pthread_mutex_t *>(impl_);
}
void StationMutex::lock() { pthread_mutex_lock(static_cast<pthread_mutex_t *>(impl_)); }
void StationMutex::unlock() { pthread_mutex_unlock(static_cast<pthread_mutex_t *>(impl_)); }

StationWakeup::StationWakeup() : impl_(new pthread_cond_t)
{
    pthread_cond_init(static_cast<pthread_cond_t *>(impl_), nullptr);
}
StationWakeup::~StationWakeup()
{
    pthread_cond_destroy(static_cast<pthread_cond_t *>(impl_));
    delete static_cast<pthread_cond_t *>(impl_);
}
void StationWakeup::wait(StationMutex &m)
{
    pthread_cond_wait(static_cast<pthread_cond_t *>(impl_),
                      static_cast<pthread_mutex_t *>(m.impl_));
}
void StationWakeup::wake_all() { pthread_cond_broadcast(static_cast<pthread_cond_t *>(impl_)); }

extern "C" void *worker_entry(void *p)
{
    WorkerStart s = *static_cast<WorkerStart *>(p);
    delete static_cast<WorkerStart *>(p);
    s.fn(s.arg);
    return nullptr;
}

bool start_worker(void (*fn)(void *), void *arg, void **handle)
{
    // The new thread inherits the mask in force when it is made.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    WorkerStart *s = new WorkerStart{fn, arg};
    pthread_t *t = new pthread_t;
    int rc = pthread_create(t, nullptr, worker_entry, s);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (rc != 0) {
        delete s;
        delete t;
        return false;
    }
    *handle = t;
    return true;
}

void join_worker(void *handle)
{
    pthread_t *t = static_cast<pthread_t *>(handle);
    pthread_join(*t, nullptr);
    delete t;
}

#endif
