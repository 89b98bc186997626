#include "platform/iethreads.h"

#include <atomic>
#include <chrono>

namespace quirelle {

void TIEEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signaled_ = true;
    }
    cv_.notify_one();
}

void TIEEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signaled_ = false;
}

void TIEEvent::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return signaled_; });
    signaled_ = false;
}

bool TIEEvent::WaitFor(int milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return signaled_; })) return false;
    signaled_ = false;
    return true;
}

void TIEMessageQueue::Post(TIEPostedMessage message) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(message));
}

int TIEMessageQueue::Drain() {
    int count = 0;
    for (;;) {
        TIEPostedMessage message;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty()) break;
            message = std::move(queue_.front());
            queue_.pop_front();
        }
        if (message.Handler) message.Handler(message);
        ++count;
    }
    return count;
}

size_t TIEMessageQueue::Pending() {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

namespace {
TIEMessageQueue& PlainQueue() {
    static TIEMessageQueue queue;
    return queue;
}
std::atomic<TIEMessageQueue*> installedQueue{nullptr};
}  // namespace

TIEMessageQueue& IEMainMessageQueue() {
    TIEMessageQueue* q = installedQueue.load();
    return q ? *q : PlainQueue();
}

void IESetMainMessageQueue(TIEMessageQueue* queue) { installedQueue.store(queue); }

}  // namespace quirelle
