#include "Desktop/Sim/SimDesktop.h"

#include <chrono>

#include "Desktop/StateFile.h"

namespace desktop::sim {

std::optional<nlohmann::json> SimBundle::infoValue(const std::string& key) const {
    auto it = info_.find(key);
    if (it == info_.end()) return std::nullopt;
    return *it;
}

namespace {
std::optional<std::filesystem::path> stateFile(const SimOptions& options, const char* name) {
    if (!options.stateDirectory) return std::nullopt;
    return *options.stateDirectory / name;
}

statefile::Report into(MemoryLog& log) {
    return [&log](std::string line) { log.write(std::move(line)); };
}
}  // namespace

SimDesktop::SimDesktop(SimOptions options)
    : runLoop_(options.clock),
      log_(options.echoLog),
      defaults_(stateFile(options, "defaults.json"), into(log_)),
      secureStore_(stateFile(options, "keychain.json"), into(log_)),
      apps_(bundle_, runLoop_),
      events_(runLoop_, [&apps = apps_](const KeyEvent& event) { apps.receiveKey(event); }),
      executor_(std::make_unique<Executor>(2)) {
    bundle_.setInfoValue("CFBundleShortVersionString", KESTREL_VERSION);
    if (options.stateDirectory) {
        if (auto problem = statefile::folderProblem(*options.stateDirectory))
            log_.write("Kestrel: nothing can be saved in the state folder " +
                       options.stateDirectory->string() + " (" + *problem +
                       "); changes last only until Kestrel quits");
    }
}

SimDesktop::~SimDesktop() {
    // Requests in flight end now rather than at their timeouts, so the executor joins at once.
    http_.shutDown();
    executor_.reset();
}

bool SimDesktop::settle(double timeoutSeconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (;;) {
        runLoop_.drain();
        auto left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        if (!executor_->waitUntilIdle(left)) return false;
        if (!runLoop_.hasPendingTasks() && executor_->isIdle()) return true;
    }
}

}  // namespace desktop::sim
