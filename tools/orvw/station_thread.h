// station_thread.h - the little threading the collecting station needs:
// one background worker, a mutex and a wake-up.  std::thread is missing
// from some MinGW tool chains, so these wrap the system's own calls.
#pragma once

class StationMutex {
public:
    StationMutex();
    ~StationMutex();
    StationMutex(const StationMutex &) = delete;
    StationMutex &operator=(const StationMutex &) = delete;
    void lock();
    void unlock();

private:
    friend class StationWakeup;
    void *impl_;
};

class StationGuard {
public:
    explicit StationGuard(StationMutex &m) : m_(m) { m_.lock(); }
    ~StationGuard() { m_.unlock(); }
    StationGuard(const StationGuard &) = delete;
    StationGuard &operator=(const StationGuard &) = delete;

private:
    StationMutex &m_;
};

// A condition variable: wait() releases the mutex while it sleeps.
class StationWakeup {
public:
    StationWakeup();
    ~StationWakeup();
    StationWakeup(const StationWakeup &) = delete;
    StationWakeup &operator=(const StationWakeup &) = delete;
    void wait(StationMutex &m);
    void wake_all();

private:
    void *impl_;
};

// Runs fn(arg) on a thread of its own.  On POSIX the thread blocks every
// signal, so that Ctrl-C and SIGTERM reach the main thread, which runs
// the session that they abort.  False when no thread could be made.
bool start_worker(void (*fn)(void *), void *arg, void **handle);
void join_worker(void *handle);
