#include "Desktop/Linux/SingleInstance.h"

#include <gio/gio.h>

#include <utility>

#include "Desktop/Linux/GLibPtr.h"

namespace desktop::x11 {

namespace {
constexpr const char* kIntrospection =
    "<node><interface name='app.kestrel.Kestrel'><method name='Show'/></interface></node>";
constexpr const char* kBusDaemon = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";
// RequestName's flag and answers.
constexpr guint32 kDoNotQueue = 4;
constexpr guint32 kPrimaryOwner = 1;
constexpr guint32 kAlreadyOwner = 4;

GDBusInterfaceInfo* interfaceInfo() {
    static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    return node->interfaces[0];
}
}  // namespace

SingleInstance::SingleInstance(const std::string& busName) : busName_(busName) {
    GError* raw = nullptr;
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw);
    GErrorPtr error(raw);
    if (!bus_) {
        problem_ = describe(error.get());
        return;
    }
    // Answer before owning the name, so a start racing this one finds the owner answering.
    static const GDBusInterfaceVTable vtable = {&SingleInstance::onMethodCall, nullptr, nullptr, {}};
    raw = nullptr;
    registration_ = g_dbus_connection_register_object(bus_, kObjectPath, interfaceInfo(), &vtable, this, nullptr, &raw);
    error.reset(raw);

    GVariant* requested = call(kBusDaemon, kBusPath, kBusDaemon, "RequestName",
                               g_variant_new("(su)", busName_.c_str(), kDoNotQueue), "(u)");
    if (!requested) return;
    guint32 answer = 0;
    g_variant_get(requested, "(u)", &answer);
    g_variant_unref(requested);
    if (answer == kPrimaryOwner || answer == kAlreadyOwner) {
        outcome_ = Outcome::first;
        return;
    }
    // Another copy owns it: this one answers nothing and only asks.
    if (registration_) g_dbus_connection_unregister_object(bus_, std::exchange(registration_, 0u));
    if (GVariant* pid = call(kBusDaemon, kBusPath, kBusDaemon, "GetConnectionUnixProcessID",
                             g_variant_new("(s)", busName_.c_str()), "(u)")) {
        guint32 value = 0;
        g_variant_get(pid, "(u)", &value);
        g_variant_unref(pid);
        ownerPid_ = value;
    }
    GVariant* shown = call(busName_.c_str(), kObjectPath, kInterface, kShowMethod, nullptr, nullptr);
    outcome_ = shown ? Outcome::showedOther : Outcome::otherSilent;
    if (shown) g_variant_unref(shown);
}

SingleInstance::~SingleInstance() {
    if (!bus_) return;
    if (registration_) g_dbus_connection_unregister_object(bus_, registration_);
    if (outcome_ == Outcome::first) {
        // Freed at once rather than when the connection closes, so a new start finds it free.
        g_dbus_connection_call(bus_, kBusDaemon, kBusPath, kBusDaemon, "ReleaseName",
                               g_variant_new("(s)", busName_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE,
                               kCallTimeoutMs, nullptr, nullptr, nullptr);
        g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
    }
    g_object_unref(bus_);
}

GVariant* SingleInstance::call(const char* destination, const char* path, const char* interface, const char* method,
                               GVariant* parameters, const char* replyType) {
    GError* raw = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus_, destination, path, interface, method, parameters,
                                                  replyType ? G_VARIANT_TYPE(replyType) : nullptr,
                                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, nullptr, &raw);
    GErrorPtr error(raw);
    if (!reply) problem_ = describe(error.get());
    return reply;
}

void SingleInstance::onMethodCall(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*,
                                  GDBusMethodInvocation* invocation, void* data) {
    // Answered first: the asking start ends at once, whatever showing takes.
    g_dbus_method_invocation_return_value(invocation, nullptr);
    auto* self = static_cast<SingleInstance*>(data);
    if (self->onShow_) self->onShow_();
}

}  // namespace desktop::x11
