// Our desktop layer: the one object through which application code reaches OS services, at the
// point of use. The program installs the simulated desktop at start; each test installs a fresh
// one with an InstallGuard. Main thread, except where a service says otherwise.
#pragma once

#include "Desktop/Accessibility.h"
#include "Desktop/Bundle.h"
#include "Desktop/Defaults.h"
#include "Desktop/Events.h"
#include "Desktop/Executor.h"
#include "Desktop/Http.h"
#include "Desktop/Log.h"
#include "Desktop/LoginItems.h"
#include "Desktop/Pasteboard.h"
#include "Desktop/RunLoop.h"
#include "Desktop/Screens.h"
#include "Desktop/SecureStore.h"
#include "Desktop/StatusBar.h"
#include "Desktop/Windows.h"
#include "Desktop/Wording.h"
#include "Desktop/Workspace.h"

namespace desktop {

class Desktop {
public:
    Desktop();
    virtual ~Desktop() = default;
    virtual RunLoop& runLoop() = 0;
    virtual Executor& executor() = 0;
    virtual const Bundle& bundle() const = 0;
    virtual Defaults& defaults() = 0;
    virtual Log& log() = 0;
    virtual Workspace& workspace() = 0;
    virtual Accessibility& accessibility() = 0;
    virtual Events& events() = 0;
    virtual Screens& screens() = 0;
    virtual Windows& windows() = 0;
    virtual Pasteboard& pasteboard() = 0;
    virtual StatusBar& statusBar() = 0;
    virtual LoginItems& loginItems() = 0;
    // Called on the executor.
    virtual Http& http() = 0;
    virtual SecureStore& secureStore() = 0;
    // How this desktop names its own things; the reference system's words unless it says.
    virtual Wording wording() const { return {}; }

    // Distinct for every desktop made in this process: process-wide application objects keep it
    // to notice that they were made on an earlier desktop.
    uint64_t serial() const { return serial_; }

private:
    uint64_t serial_;
};

// The installed desktop; asserts that one is installed.
Desktop& current();
bool isInstalled();

// Installs a desktop for its lifetime and restores the previous one afterwards.
class InstallGuard {
public:
    explicit InstallGuard(Desktop& desktop);
    ~InstallGuard();
    InstallGuard(const InstallGuard&) = delete;
    InstallGuard& operator=(const InstallGuard&) = delete;

private:
    Desktop* previous_;
};

}  // namespace desktop
