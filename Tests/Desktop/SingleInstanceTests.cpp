// The program started again in the same session: one copy runs, a later start hands over to it,
// and the name on the session bus follows the copy that runs.
#include <gio/gio.h>
#include <gmock/gmock.h>

#include "DesktopSupport.h"
#include "Desktop/Linux/GLibPtr.h"
#include "Desktop/Linux/SingleInstance.h"

using namespace testing_support;
using desktop::x11::LinuxDesktop;
using desktop::x11::SingleInstance;

namespace {

class SingleInstanceTests : public LinuxDesktopTest {
protected:
    // The program on this desktop with its own state, its output kept under `name`.
    pid_t start(const std::string& name) {
        return spawnKept({KESTREL_PROGRAM, "--state", (scratch.path() / name).string()}, output(name));
    }
    std::filesystem::path output(const std::string& name) const { return scratch.path() / (name + ".out"); }
    std::vector<std::string> lines(const std::string& name) const { return readLines(output(name)); }
    // The process that owns the application's name on the session bus.
    std::optional<pid_t> owner() {
        GVariant* reply = g_dbus_connection_call_sync(
            bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "GetConnectionUnixProcessID", g_variant_new("(s)", LinuxDesktop::kApplicationId), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
        if (!reply) return std::nullopt;
        guint32 pid = 0;
        g_variant_get(reply, "(u)", &pid);
        g_variant_unref(reply);
        return static_cast<pid_t>(pid);
    }
    bool owns(pid_t pid) {
        return waitFor([&] { return owner() == pid; }, 30);
    }

    desktop::x11::GObjectPtr<GDBusConnection> bus_{g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)};
};

}  // namespace

TEST_F(SingleInstanceTests, ASecondCopyAsksTheFirstToShowAndEndsAndAFreshStartReplacesADeadOne) {
    pid_t first = start("first");
    ASSERT_TRUE(owns(first));

    pid_t second = start("second");
    EXPECT_EQ(exitStatus(second), 0);
    EXPECT_THAT(lines("second"), ::testing::ElementsAre(::testing::HasSubstr("already running")));
    EXPECT_EQ(owner(), first);

    kill(first, SIGKILL);
    waitpid(first, nullptr, 0);
    pid_t third = start("third");
    ASSERT_TRUE(owns(third));
    EXPECT_EQ(exitStatus(third, 1), std::nullopt) << "the fresh start did not keep running";
}

TEST_F(SingleInstanceTests, ACopyThatHoldsTheNameButDoesNotAnswerCannotHangTheNextStart) {
    pid_t hung = start("hung");
    ASSERT_TRUE(owns(hung));
    kill(hung, SIGSTOP);
    pid_t next = start("next");
    auto status = exitStatus(next, SingleInstance::kCallTimeoutMs / 1000.0 * 5);
    kill(hung, SIGCONT);
    EXPECT_EQ(status, 1);
    EXPECT_THAT(lines("next"), ::testing::ElementsAre(::testing::HasSubstr("does not answer")));
}
