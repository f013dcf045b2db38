// One copy per session: the first kestrel owns a well-known name on the session bus and answers a
// later start's request to show itself; a later start finds the name taken, asks the owner to
// show itself (a bounded call, so a hung copy cannot hang it) and ends. When the owner dies, the
// bus frees the name and the next start owns it. Main thread. Owned by the program's entry for
// the life of the application, which holds the name as long as it runs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GDBusMethodInvocation GDBusMethodInvocation;
typedef struct _GVariant GVariant;

namespace desktop::x11 {

class SingleInstance {
public:
    enum class Outcome {
        first,        // this copy owns the name
        showedOther,  // another copy owns it and was asked to show itself
        otherSilent,  // another copy owns it and did not answer in time
        noBus,        // no session bus answered: there is no telling
    };
    static constexpr int kCallTimeoutMs = 3000;
    static constexpr const char* kObjectPath = "/app/kestrel/Kestrel";
    static constexpr const char* kInterface = "app.kestrel.Kestrel";
    static constexpr const char* kShowMethod = "Show";

    explicit SingleInstance(const std::string& busName);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Outcome outcome() const { return outcome_; }
    // Why the bus could not be asked, or why the owner did not answer.
    const std::string& problem() const { return problem_; }
    // The owner's process id, when another copy owns the name and the bus knows it.
    std::optional<uint32_t> ownerPid() const { return ownerPid_; }
    // The first copy: told on the main loop when a later start asks it to show itself.
    void setShowHandler(std::function<void()> handler) { onShow_ = std::move(handler); }

private:
    static void onMethodCall(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*,
                             GDBusMethodInvocation* invocation, void* data);
    // A call to the bus daemon or the owner, bounded by kCallTimeoutMs; none (and the problem kept)
    // when it failed.
    GVariant* call(const char* destination, const char* path, const char* interface, const char* method,
                   GVariant* parameters, const char* replyType);

    std::string busName_;
    GDBusConnection* bus_ = nullptr;
    unsigned registration_ = 0;
    Outcome outcome_ = Outcome::noBus;
    std::string problem_;
    std::optional<uint32_t> ownerPid_;
    std::function<void()> onShow_;
};

}  // namespace desktop::x11
