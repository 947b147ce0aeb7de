// SPDX-License-Identifier: MIT
// Locks that clang's thread-safety analysis can follow (-Wthread-safety): libstdc++'s
// std::mutex and std::lock_guard carry no capability attributes, so data marked GUARDED_BY a
// std::mutex could never be proven locked. On other compilers the marks expand to nothing and
// these are std::mutex and std::unique_lock under other names.
#pragma once

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define ZOQ_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ZOQ_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) ZOQ_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY ZOQ_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) ZOQ_THREAD_ANNOTATION(guarded_by(x))
#define REQUIRES(...) ZOQ_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) ZOQ_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) ZOQ_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ZOQ_THREAD_ANNOTATION(release_capability(__VA_ARGS__))

namespace zoq {

class CAPABILITY("mutex") Mutex {
  public:
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }

  private:
    friend class UniqueLock;
    std::mutex mutex_;
};

// Holds `mutex` for its scope.
class SCOPED_CAPABILITY LockGuard {
  public:
    explicit LockGuard(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~LockGuard() RELEASE() { mutex_.unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

  private:
    Mutex& mutex_;
};

// Holds `mutex` for its scope or until unlock(); a condition variable may release it while it
// waits.
class SCOPED_CAPABILITY UniqueLock {
  public:
    explicit UniqueLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
    ~UniqueLock() RELEASE() {}
    void unlock() RELEASE() { lock_.unlock(); }
    // `ready` runs with the mutex held, which the analysis cannot see into a lambda: it reads
    // only what no GUARDED_BY names.
    template <class Ready>
    void wait(std::condition_variable& cv, Ready ready) {
        cv.wait(lock_, ready);
    }

  private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace zoq
