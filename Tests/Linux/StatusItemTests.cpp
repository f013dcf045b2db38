// The status item as a StatusNotifierItem with its exported GTK menu.
#include <gtest/gtest.h>

#include "Desktop/Linux/IndicatorStatusBar.h"
#include "Desktop/Menu.h"
#include "Linux/LinuxSupport.h"

using namespace testing_support;
using desktop::Menu;
using desktop::MenuItem;

namespace {

// The menu as GTK shows it: a line per item ("-" a separator), "[x] " or "[ ] " before a switch,
// " (disabled)" after an item that cannot be chosen, a submenu's items indented below it.
std::string shown(GtkWidget* menu, const std::string& indent = "") {
    std::string out;
    GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList* it = children; it; it = it->next) {
        GtkWidget* item = GTK_WIDGET(it->data);
        if (GTK_IS_SEPARATOR_MENU_ITEM(item)) {
            out += indent + "-\n";
            continue;
        }
        out += indent;
        if (GTK_IS_CHECK_MENU_ITEM(item))
            out += gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)) ? "[x] " : "[ ] ";
        out += std::string(gtk_menu_item_get_label(GTK_MENU_ITEM(item))) + (gtk_widget_get_sensitive(item) ? "\n" : " (disabled)\n");
        if (GtkWidget* submenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(item))) out += shown(submenu, indent + "  ");
    }
    g_list_free(children);
    return out;
}

GtkWidget* itemTitled(GtkWidget* menu, const std::string& title) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
    GtkWidget* found = nullptr;
    for (GList* it = children; it && !found; it = it->next) {
        GtkWidget* item = GTK_WIDGET(it->data);
        if (!GTK_IS_SEPARATOR_MENU_ITEM(item) && title == gtk_menu_item_get_label(GTK_MENU_ITEM(item))) found = item;
    }
    g_list_free(children);
    return found;
}

class StatusItemTests : public GtkDesktopTest {
protected:
    bool muted = false;

    std::shared_ptr<Menu> statusMenu() {
        auto menu = std::make_shared<Menu>();
        menu->needsUpdate = [this](Menu& m) {
            m.removeAllItems();
            MenuItem account;
            account.title = "Ann \u00B7 Pro";
            account.enabled = false;
            m.addItem(std::move(account));
            m.addItem(MenuItem::makeSeparator());
            auto apps = std::make_shared<Menu>();
            MenuItem slack;
            slack.title = "Slack  (\u21A9)";
            slack.state = muted ? MenuItem::State::off : MenuItem::State::on;
            slack.action = [this](const MenuItem&) { muted = !muted; };
            apps->addItem(std::move(slack));
            MenuItem gate;
            gate.title = "Gate sends in";
            gate.submenu = apps;
            m.addItem(std::move(gate));
            MenuItem quit;
            quit.title = "Quit Kestrel";
            quit.action = [](const MenuItem&) {};
            m.addItem(std::move(quit));
        };
        return menu;
    }
};

}  // namespace

TEST_F(StatusItemTests, TheExportedMenuShowsWhatTheDelegateBuilt) {
    desktop::x11::IndicatorStatusBar bar("app.kestrel.test");
    auto item = std::static_pointer_cast<desktop::x11::IndicatorStatusItem>(bar.makeStatusItem());
    item->setMenu(statusMenu());

    // An item without an action is disabled; one with a submenu opens it.
    EXPECT_EQ(shown(item->gtkMenu()), "Ann \u00B7 Pro (disabled)\n-\nGate sends in\n  [x] Slack  (\u21A9)\nQuit Kestrel\n");
    // Chosen, the switch turns off and still shows its box.
    GtkWidget* apps = gtk_menu_item_get_submenu(GTK_MENU_ITEM(itemTitled(item->gtkMenu(), "Gate sends in")));
    gtk_menu_item_activate(GTK_MENU_ITEM(itemTitled(apps, "Slack  (\u21A9)")));
    pump();
    item->rebuildMenu();
    EXPECT_EQ(shown(item->gtkMenu()), "Ann \u00B7 Pro (disabled)\n-\nGate sends in\n  [ ] Slack  (\u21A9)\nQuit Kestrel\n");
}

TEST_F(StatusItemTests, SymbolsBecomeThemedIconsAndAMissingHostIsLoggedOnce) {
    desktop::x11::IndicatorStatusBar bar("app.kestrel.test");
    auto item = std::static_pointer_cast<desktop::x11::IndicatorStatusItem>(bar.makeStatusItem());
    item->setSymbol("exclamationmark.triangle.fill", "Kestrel", true);
    EXPECT_EQ(item->iconName(), "dialog-warning-symbolic");

    pump(desktop::x11::IndicatorStatusItem::kHostGraceSeconds + 0.3);
    auto lines = sim.simLog().lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Kestrel: no status-bar host is running; the status item cannot be shown");
}

namespace {

// A tray host's watcher as a status item sees it on the session bus: it owns the well-known name
// and records the items that register; stopping it is the host quitting.
class FakeTrayWatcher {
public:
    static constexpr const char* kName = "org.kde.StatusNotifierWatcher";

    void start() {
        static const char* xml =
            "<node><interface name='org.kde.StatusNotifierWatcher'>"
            "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
            "<method name='RegisterStatusNotifierHost'><arg type='s' direction='in'/></method>"
            "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
            "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
            "<property name='ProtocolVersion' type='i' access='read'/>"
            "</interface></node>";
        static const GDBusInterfaceVTable vtable = {onCall, onProperty, nullptr, {}};
        registered.clear();
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
        object_ = g_dbus_connection_register_object(bus, "/StatusNotifierWatcher", node->interfaces[0], &vtable,
                                                    this, nullptr, nullptr);
        g_dbus_node_info_unref(node);
        owner_ = g_bus_own_name_on_connection(bus, kName, G_BUS_NAME_OWNER_FLAGS_NONE, nullptr, nullptr, nullptr,
                                              nullptr);
        g_object_unref(bus);
    }
    void stop() {
        if (!owner_) return;
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        g_bus_unown_name(owner_);
        g_dbus_connection_unregister_object(bus, object_);
        g_object_unref(bus);
        owner_ = object_ = 0;
    }
    ~FakeTrayWatcher() { stop(); }

    std::vector<std::string> registered;

private:
    static void onCall(GDBusConnection*, const char* sender, const char*, const char*, const char* method,
                       GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
        if (std::string(method) == "RegisterStatusNotifierItem") {
            const char* item = nullptr;
            g_variant_get(parameters, "(&s)", &item);
            static_cast<FakeTrayWatcher*>(data)->registered.push_back(std::string(sender) + item);
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }
    static GVariant* onProperty(GDBusConnection*, const char*, const char*, const char*, const char* property,
                                GError**, gpointer data) {
        std::string name = property;
        if (name == "IsStatusNotifierHostRegistered") return g_variant_new_boolean(TRUE);
        if (name == "ProtocolVersion") return g_variant_new_int32(0);
        GVariantBuilder items;
        g_variant_builder_init(&items, G_VARIANT_TYPE("as"));
        for (const auto& item : static_cast<FakeTrayWatcher*>(data)->registered)
            g_variant_builder_add(&items, "s", item.c_str());
        return g_variant_builder_end(&items);
    }

    guint owner_ = 0;
    guint object_ = 0;
};

}  // namespace

TEST_F(StatusItemTests, TheItemComesBackWhenTheTrayHostRestarts) {
    FakeTrayWatcher host;
    host.start();
    desktop::x11::IndicatorStatusBar bar("app.kestrel.test");
    auto item = bar.makeStatusItem();
    ASSERT_TRUE(pumpUntil([&] { return host.registered.size() == 1; })) << "the item never registered";

    host.stop();
    pump(0.3);
    host.start();
    EXPECT_TRUE(pumpUntil([&] { return host.registered.size() == 1; })) << "the item did not come back";
}
