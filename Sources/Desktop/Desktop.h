// Our desktop layer: the one object through which application code reaches OS services, at the
// point of use. The program installs the simulated desktop at start; each test installs a fresh
// one with an InstallGuard. Main thread, except where a service says otherwise.
#pragma once

#include "Desktop/Bundle.h"
#include "Desktop/Defaults.h"
#include "Desktop/Executor.h"
#include "Desktop/Log.h"
#include "Desktop/RunLoop.h"

namespace desktop {

class Desktop {
public:
    virtual ~Desktop() = default;
    virtual RunLoop& runLoop() = 0;
    virtual Executor& executor() = 0;
    virtual const Bundle& bundle() const = 0;
    virtual Defaults& defaults() = 0;
    virtual Log& log() = 0;
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
