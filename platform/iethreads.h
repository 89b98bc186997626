// Threading helpers: an auto-reset event, and the message queue through which background workers
// post progress and finish notices to the thread that owns the user interface.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace quirelle {

// Auto-reset event: Set wakes one waiter (or the next one to wait) and resets itself.
class TIEEvent {
public:
    void Set();
    void Reset();
    void Wait();
    // Returns false when the timeout passed without the event.
    bool WaitFor(int milliseconds);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signaled_ = false;
};

// Message numbers of the notices a worker posts to the view.
inline constexpr uint32_t IEM_PROGRESS = 8027;
inline constexpr uint32_t IEM_FINISHWORK = 8028;
inline constexpr uint32_t IEM_UPDATEVIEW = 8029;  // the buffer changed: the view repaints

struct TIEPostedMessage {
    uint32_t Message = 0;
    intptr_t Param = 0;
    std::function<void(const TIEPostedMessage&)> Handler;  // runs on the draining thread
};

// A queue of posted messages. The plain queue keeps them until Drain() runs them on the calling
// thread; the GUI installs a queue of its own that hands them to its event loop.
class TIEMessageQueue {
public:
    virtual ~TIEMessageQueue() = default;
    virtual void Post(TIEPostedMessage message);
    // Runs every queued message's handler; returns how many ran.
    int Drain();
    size_t Pending();

private:
    std::mutex mutex_;
    std::deque<TIEPostedMessage> queue_;
};

// The queue of the user-interface thread (a plain queue until the GUI installs its own).
TIEMessageQueue& IEMainMessageQueue();
void IESetMainMessageQueue(TIEMessageQueue* queue);  // null restores the plain queue

}  // namespace quirelle
