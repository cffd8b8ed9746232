#pragma once
// Handing work to another thread: a queued call on an object's thread, a blocking call, a
// task for a thread pool.
//
// Qt orders these with locks of its own (the receiving thread's event queue, the pool's
// queue). When Qt is not built with ThreadSanitizer those locks are invisible to it and each
// hand-off reads as a race between the sender building the work and the receiver running it.
// Under ThreadSanitizer the helpers also take a lock it can see, per receiving thread as in Qt
// (hashed into 61 locks) and one for all pools, so that it learns that ordering; the sharing
// can only add a little ordering that Qt does not give, never remove any. Elsewhere they are
// the plain Qt calls.
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QThreadPool>
#include <condition_variable>
#include <functional>
#include <mutex>

#if defined(__SANITIZE_THREAD__)
#define HB_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define HB_THREAD_SANITIZER 1
#endif
#endif

namespace hb {

namespace detail {
#ifdef HB_THREAD_SANITIZER
/// The lock standing for Qt's queue lock of `receiver` (a thread or a pool).
inline std::mutex& handOffLock(const void* receiver) {
    static std::mutex locks[61];
    return locks[reinterpret_cast<quintptr>(receiver) % 61];
}
#endif
} // namespace detail

/// Runs `work` on `target`'s thread, from its event loop; returns at once.
template <class Work> void postTo(QObject* target, Work work) {
#ifdef HB_THREAD_SANITIZER
    std::lock_guard sending(detail::handOffLock(target->thread()));
    QMetaObject::invokeMethod(
        target,
        [work = std::move(work)]() mutable {
            // Found from the running thread, not from the work: nothing the sender wrote is
            // read before the lock is taken.
            { std::lock_guard received(detail::handOffLock(QThread::currentThread())); }
            work();
        },
        Qt::QueuedConnection);
#else
    QMetaObject::invokeMethod(target, std::move(work), Qt::QueuedConnection);
#endif
}

/// Runs `work` on `target`'s thread and waits until it has run. Never call it on that thread.
template <class Work> void callOn(QObject* target, Work work) {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    postTo(target, [&] {
        work();
        std::lock_guard finished(mutex);
        done = true;
        changed.notify_one();
    });
    std::unique_lock waiting(mutex);
    changed.wait(waiting, [&] { return done; });
}

namespace detail {
// Pool threads cannot tell which pool they serve without reading what the sender wrote, so
// one lock stands for every pool's queue, and one for every pool's "all done".
inline const char anyPool = 0;
inline const char anyPoolDone = 0;
} // namespace detail

/// Starts `work` on one of `pool`'s threads.
template <class Work> void runInPool(QThreadPool& pool, Work work) {
#ifdef HB_THREAD_SANITIZER
    std::lock_guard sending(detail::handOffLock(&detail::anyPool));
    pool.start([work = std::move(work)]() mutable {
        { std::lock_guard received(detail::handOffLock(&detail::anyPool)); }
        work();
        { std::lock_guard finished(detail::handOffLock(&detail::anyPoolDone)); }
    });
#else
    pool.start(std::move(work));
#endif
}

/// Waits up to `milliseconds` for every task started with `runInPool` on `pool` to end.
inline bool waitForPool(QThreadPool& pool, int milliseconds) {
    const bool done = pool.waitForDone(milliseconds);
#ifdef HB_THREAD_SANITIZER
    { std::lock_guard seen(detail::handOffLock(&detail::anyPoolDone)); }
#endif
    return done;
}

} // namespace hb
