// The desktop of the tool commands (the self test, one check): a real-time run loop, an
// executor, defaults and a log in memory, the bundle's resources, a loopback-only transport, and
// no screen, apps, keyboard, windows, clipboard, keychain or login items. Neither the simulated
// nor a real desktop. Main thread, except the executor. The program owns it.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "Desktop/Desktop.h"
#include "Desktop/FileDefaults.h"
#include "Desktop/LoopbackHttp.h"
#include "Desktop/MemoryLog.h"

namespace desktop {

class HeadlessDesktop final : public Desktop {
public:
    // Log lines go to standard error as they are written.
    explicit HeadlessDesktop(std::optional<std::filesystem::path> resourceDirectory);
    ~HeadlessDesktop() override;

    RunLoop& runLoop() override { return runLoop_; }
    Executor& executor() override { return *executor_; }
    const Bundle& bundle() const override;
    Defaults& defaults() override { return defaults_; }
    Log& log() override { return log_; }
    Http& http() override { return http_; }
    SecureStore& secureStore() override;
    Workspace& workspace() override;
    Accessibility& accessibility() override;
    Events& events() override;
    Screens& screens() override;
    Windows& windows() override;
    Pasteboard& pasteboard() override;
    StatusBar& statusBar() override;
    LoginItems& loginItems() override;

private:
    struct Absent;

    RunLoop runLoop_;
    MemoryLog log_;
    FileDefaults defaults_;
    LoopbackHttp http_;
    std::unique_ptr<Absent> absent_;
    std::unique_ptr<Executor> executor_;  // last member: joined first, before what it may touch
};

}  // namespace desktop
