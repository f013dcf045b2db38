// Background work: service calls run here, off the main thread, and hand their results back
// with RunLoop::async. Owned by the Desktop; tests and the scenario runner wait for it to be idle.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace desktop {

class Executor {
public:
    explicit Executor(int threads = 2);
    ~Executor();  // finishes queued work, then joins
    Executor(const Executor&) = delete;
    Executor& operator=(const Executor&) = delete;

    void post(std::function<void()> work);
    // Blocks until no work is queued or running, or `timeoutSeconds` passed; answers whether idle.
    bool waitUntilIdle(double timeoutSeconds);
    bool isIdle() const;

private:
    void workerLoop();

    mutable std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> queue_;
    int running_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace desktop
