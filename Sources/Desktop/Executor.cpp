#include "Desktop/Executor.h"

#include <chrono>

namespace desktop {

Executor::Executor(int threads) {
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { workerLoop(); });
}

Executor::~Executor() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workAvailable_.notify_all();
    for (auto& worker : workers_) worker.join();
}

void Executor::post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    workAvailable_.notify_one();
}

bool Executor::isIdle() const {
    std::lock_guard lock(mutex_);
    return queue_.empty() && running_ == 0;
}

bool Executor::waitUntilIdle(double timeoutSeconds) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                          [this] { return queue_.empty() && running_ == 0; });
}

void Executor::workerLoop() {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(mutex_);
            workAvailable_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;  // stopping with nothing left
            work = std::move(queue_.front());
            queue_.pop_front();
            ++running_;
        }
        work();
        {
            std::lock_guard lock(mutex_);
            --running_;
            if (queue_.empty() && running_ == 0) idle_.notify_all();
        }
    }
}

}  // namespace desktop
