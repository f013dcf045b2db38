#include "Desktop/Linux/IndicatorStatusBar.h"

#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>
#include <libdbusmenu-glib/server.h>

#include "Desktop/Desktop.h"
#include "Desktop/Linux/GLibPtr.h"
#include "Desktop/Linux/Symbols.h"
#include "Desktop/Menu.h"

namespace desktop::x11 {

namespace {

constexpr const char* kItemHook = "kestrel-menu-item";

struct ItemHook {
    MenuItem item;
    IndicatorStatusItem* owner;
};

void deleteItemHook(gpointer hook) { delete static_cast<ItemHook*>(hook); }

std::string validText(const std::string& text) {
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
    GCharPtr valid(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
    return valid.get();
}

}  // namespace

struct IndicatorStatusItem::Impl {
    GObjectPtr<AppIndicator> indicator;
    GObjectPtr<DbusmenuServer> server;
    DbusmenuMenuitem* root = nullptr;
    gulong aboutToShow = 0;
    guint hostCheck = 0;
    guint rebuildSource = 0;

    static void onActivate(GtkMenuItem* widget, gpointer) {
        auto* hook = static_cast<ItemHook*>(g_object_get_data(G_OBJECT(widget), kItemHook));
        if (!hook) return;
        // The action may change what the menu shows; the rebuild waits until it is done with
        // the widget that is being activated.
        IndicatorStatusItem* owner = hook->owner;
        auto item = hook->item;
        if (item.action) item.action(item);
        owner->impl_->scheduleRebuild(owner);
    }

    static gboolean rebuildNow(gpointer data) {
        auto* owner = static_cast<IndicatorStatusItem*>(data);
        owner->impl_->rebuildSource = 0;
        owner->rebuildMenu();
        return G_SOURCE_REMOVE;
    }

    void scheduleRebuild(IndicatorStatusItem* owner) {
        if (!rebuildSource) rebuildSource = g_idle_add(rebuildNow, owner);
    }

    static void onAboutToShow(DbusmenuMenuitem*, gpointer data) {
        static_cast<IndicatorStatusItem*>(data)->rebuildMenu();
    }

    static gboolean checkHost(gpointer data) {
        auto* owner = static_cast<IndicatorStatusItem*>(data);
        owner->impl_->hostCheck = 0;
        gboolean connected = FALSE;
        g_object_get(owner->impl_->indicator.get(), "connected", &connected, nullptr);
        if (!connected)
            current().log().write("Kestrel: no status-bar host is running; the status item cannot be shown");
        return G_SOURCE_REMOVE;
    }
};

namespace {

void fill(GtkMenuShell* shell, const Menu& menu, IndicatorStatusItem* owner);

GtkWidget* menuItem(const MenuItem& item, IndicatorStatusItem* owner) {
    if (item.separator) return gtk_separator_menu_item_new();
    std::string title = validText(item.title);
    GtkWidget* widget;
    if (item.state != MenuItem::State::none) {
        // A switch shows its box also while off.
        widget = gtk_check_menu_item_new_with_label(title.c_str());
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), item.state == MenuItem::State::on);
    } else {
        widget = gtk_menu_item_new_with_label(title.c_str());
    }
    if (item.submenu) {
        GtkWidget* submenu = gtk_menu_new();
        fill(GTK_MENU_SHELL(submenu), *item.submenu, owner);
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), submenu);
    }
    gtk_widget_set_sensitive(widget, item.enabled && (item.action || item.submenu));
    if (item.action) {
        g_object_set_data_full(G_OBJECT(widget), kItemHook, new ItemHook{item, owner}, deleteItemHook);
        g_signal_connect(widget, "activate", G_CALLBACK(IndicatorStatusItem::Impl::onActivate), nullptr);
    }
    return widget;
}

void fill(GtkMenuShell* shell, const Menu& menu, IndicatorStatusItem* owner) {
    for (const auto& item : menu.items) gtk_menu_shell_append(shell, menuItem(item, owner));
}

}  // namespace

std::shared_ptr<StatusItem> IndicatorStatusBar::makeStatusItem() {
    return std::make_shared<IndicatorStatusItem>(identifier_);
}

IndicatorStatusItem::IndicatorStatusItem(const std::string& identifier) : impl_(std::make_unique<Impl>()) {
    impl_->indicator.reset(app_indicator_new(identifier.c_str(), symbolLook("checkmark.seal").iconName,
                                             APP_INDICATOR_CATEGORY_APPLICATION_STATUS));
    gtkMenu_ = gtk_menu_new();
    g_object_ref_sink(gtkMenu_);
    // A host shows an item only with a menu.
    app_indicator_set_menu(impl_->indicator.get(), GTK_MENU(gtkMenu_));
    app_indicator_set_status(impl_->indicator.get(), APP_INDICATOR_STATUS_ACTIVE);
    DbusmenuServer* server = nullptr;
    g_object_get(impl_->indicator.get(), "dbus-menu-server", &server, nullptr);
    impl_->server.reset(server);
    if (server) {
        GObjectPtr<DbusmenuMenuitem> root;
        g_object_get(server, DBUSMENU_SERVER_PROP_ROOT_NODE, &impl_->root, nullptr);
        root.reset(impl_->root);  // the server keeps its own reference
        if (impl_->root)
            impl_->aboutToShow = g_signal_connect(impl_->root, DBUSMENU_MENUITEM_SIGNAL_ABOUT_TO_SHOW,
                                                  G_CALLBACK(Impl::onAboutToShow), this);
    }
    impl_->hostCheck = g_timeout_add(kHostGraceSeconds * 1000, Impl::checkHost, this);
}

IndicatorStatusItem::~IndicatorStatusItem() {
    if (impl_->hostCheck) g_source_remove(impl_->hostCheck);
    if (impl_->rebuildSource) g_source_remove(impl_->rebuildSource);
    if (impl_->aboutToShow && impl_->root && G_IS_OBJECT(impl_->root))
        g_signal_handler_disconnect(impl_->root, impl_->aboutToShow);
    app_indicator_set_status(impl_->indicator.get(), APP_INDICATOR_STATUS_PASSIVE);
    gtk_widget_destroy(gtkMenu_);
    g_object_unref(gtkMenu_);
}

void IndicatorStatusItem::setSymbol(const std::string& symbolName, const std::string& accessibilityDescription,
                                    bool) {
    symbol_ = symbolName.empty() ? std::nullopt : std::optional(symbolName);
    const char* shown = app_indicator_get_icon(impl_->indicator.get());
    if (shown && iconName() == shown) return;
    app_indicator_set_icon_full(impl_->indicator.get(), iconName().c_str(), validText(accessibilityDescription).c_str());
}

std::string IndicatorStatusItem::iconName() const {
    return symbol_ ? symbolLook(*symbol_).iconName : "";
}

void IndicatorStatusItem::setTooltip(const std::string& tooltip) {
    if (tooltip == tooltip_) return;
    tooltip_ = tooltip;
    app_indicator_set_title(impl_->indicator.get(), validText(tooltip).c_str());
}

void IndicatorStatusItem::setMenu(std::shared_ptr<Menu> menu) {
    menu_ = std::move(menu);
    rebuildMenu();
}

void IndicatorStatusItem::rebuildMenu() {
    GList* children = gtk_container_get_children(GTK_CONTAINER(gtkMenu_));
    for (GList* it = children; it; it = it->next) gtk_widget_destroy(GTK_WIDGET(it->data));
    g_list_free(children);
    if (!menu_) return;
    menu_->prepareToOpen();
    fill(GTK_MENU_SHELL(gtkMenu_), *menu_, this);
    gtk_widget_show_all(gtkMenu_);
}

}  // namespace desktop::x11
