#include "Desktop/Linux/GtkWindows.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include "Desktop/Linux/GlobalSpace.h"
#include "Desktop/Linux/NodeLooks.h"
#include "Desktop/Linux/NodeWidgets.h"
#include "Desktop/View.h"

namespace desktop::x11 {

class GtkHostWindow;

struct GtkWindows::Registry {
    std::vector<GtkHostWindow*> windows;
};

namespace {

bool isPanel(const WindowConfig& config) {
    return config.kind == WindowKind::panel || !(config.style & windowstyle::titled);
}

// A window with a clear background and no frame is drawn as the circle inscribed in it: without
// a compositor, the only way to be round is to have no pixels outside the circle.
bool isRound(const WindowConfig& config) {
    return isPanel(config) && config.backgroundColor == "clear";
}

cairo_region_t* circleRegion(int width, int height) {
    cairo_region_t* region = cairo_region_create();
    double rx = width / 2.0, ry = height / 2.0;
    for (int row = 0; row < height; ++row) {
        double dy = (row + 0.5 - ry) / ry;
        double half = rx * std::sqrt(std::max(0.0, 1 - dy * dy));
        int left = static_cast<int>(std::floor(rx - half)), right = static_cast<int>(std::ceil(rx + half));
        cairo_rectangle_int_t line{left, row, right - left, 1};
        cairo_region_union_rectangle(region, &line);
    }
    return region;
}

void addWindowCss(GtkWidget* window, const std::string& background) {
    // A "white" panel is the theme's window background, so its text keeps the theme's contrast.
    std::string colour = background == "white" ? "@theme_bg_color" : background == "clear" ? "transparent" : "";
    if (!colour.empty()) addCss(window, "background-color:" + colour + ";");
}

}  // namespace

class GtkHostWindow final : public Window {
public:
    GtkHostWindow(WindowConfig config, std::shared_ptr<GtkWindows::Registry> registry)
        : config_(std::move(config)), registry_(registry) {
        registry->windows.push_back(this);
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(window_), config_.title.empty() ? "Kestrel" : config_.title.c_str());
        if (isPanel(config_)) {
            // Never the focus: clicking a button leaves the keyboard with the person's app.
            gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
            gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_UTILITY);
            gtk_window_set_accept_focus(GTK_WINDOW(window_), FALSE);
            gtk_window_set_focus_on_map(GTK_WINDOW(window_), FALSE);
            gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window_), TRUE);
            gtk_window_set_skip_pager_hint(GTK_WINDOW(window_), TRUE);
            g_signal_connect(window_, "state-flags-changed", G_CALLBACK(drawAsActive), nullptr);
        }
        if (config_.level == WindowLevel::floating) gtk_window_set_keep_above(GTK_WINDOW(window_), TRUE);
        if (config_.collectionBehavior & windowcollection::canJoinAllSpaces)
            gtk_window_stick(GTK_WINDOW(window_));
        addWindowCss(window_, config_.backgroundColor);
        holder_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_container_add(GTK_CONTAINER(window_), holder_);
        gtk_widget_show(holder_);
        widgets_ = std::make_unique<NodeWidgets>(GTK_CONTAINER(holder_));

        const Rect& content = config_.contentRect;
        frame_ = content;
        gtk_window_set_default_size(GTK_WINDOW(window_), std::max(1, static_cast<int>(content.width())),
                                    std::max(1, static_cast<int>(content.height())));
        gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK);
        g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
        g_signal_connect(window_, "configure-event", G_CALLBACK(onConfigure), this);
        g_signal_connect(window_, "button-press-event", G_CALLBACK(onPress), this);
        g_signal_connect(window_, "size-allocate", G_CALLBACK(onSizeAllocate), this);
    }

    ~GtkHostWindow() override {
        if (rebuildSource_) g_source_remove(rebuildSource_);
        if (content_) content_->setMeasure(nullptr);
        changes_.cancel();
        widgets_.reset();
        // Destroying the toplevel disconnects every handler that points here.
        gtk_widget_destroy(window_);
        if (auto registry = registry_.lock()) std::erase(registry->windows, this);
    }

    const WindowConfig& config() const override { return config_; }
    Rect frame() const override { return frame_; }
    void setFrame(Rect frame) override {
        frame_ = frame;
        applyFrame();
    }
    void setFrameOrigin(Point origin) override {
        frame_.origin = origin;
        applyFrame();
    }
    Rect contentLayoutRect() const override {
        return makeRect(0, 0, frame_.width(), std::max(0.0, frame_.height() - titleBar_));
    }
    double titleBarHeight() const override { return titleBar_; }
    bool isVisible() const override { return gtk_widget_get_visible(window_); }
    bool isKey() const override { return gtk_window_is_active(GTK_WINDOW(window_)); }

    void orderFront() override {
        if (stale_) rebuild();
        if (!isVisible()) {
            applyFrame();
            show();
        }
        if (GdkWindow* gdk = gtk_widget_get_window(window_)) gdk_window_raise(gdk);
    }

    void makeKeyAndOrderFront() override {
        orderFront();
        if (isPanel(config_)) return;
        GdkWindow* gdk = gtk_widget_get_window(window_);
        guint32 time = gdk ? gdk_x11_get_server_time(gdk) : GDK_CURRENT_TIME;
        gtk_window_present_with_time(GTK_WINDOW(window_), time);
    }

    void orderOut() override {
        gtk_widget_hide(window_);
        applied_.reset();
    }
    void setCloseHandler(std::function<void()> handler) override { closeHandler_ = std::move(handler); }

    void center() override {
        GdkDisplay* display = gdk_display_get_default();
        GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
        if (!monitor && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
        if (!monitor) return;
        GdkRectangle area;
        gdk_monitor_get_workarea(monitor, &area);
        Rect v = GlobalSpace::current().toGlobal({area.x, area.y, area.width, area.height});
        // Horizontally centred, a little above the middle.
        frame_.origin = {std::round(v.minX() + (v.width() - frame_.width()) / 2),
                         std::round(v.minY() + (v.height() - frame_.height()) * 2 / 3)};
        applyFrame();
    }

    void setContent(std::shared_ptr<ui::HostingView> view) override {
        if (content_) content_->setMeasure(nullptr);
        content_ = std::move(view);
        changes_ = {};
        if (!content_) return;
        std::weak_ptr<GtkHostWindow*> weak = self_;
        changes_ = content_->observeChanges([weak] {
            if (auto self = weak.lock()) (*self)->scheduleRebuild();
        });
        content_->setMeasure([weak](double width) {
            auto self = weak.lock();
            return self ? (*self)->measure(width) : Size{};
        });
        rebuild();
    }
    ui::HostingView* content() const override { return content_.get(); }

    GtkWidget* widget() const { return window_; }

private:
    static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer data) {
        auto* self = static_cast<GtkHostWindow*>(data);
        // The window is kept for the next show; the handler may drop a held send.
        auto handler = self->closeHandler_;
        if (handler) handler();
        self->orderOut();
        return TRUE;
    }

    // GTK dims an unfocused window's controls as a backdrop; a panel never has the focus, yet it is
    // the window the person works with, so it is drawn as the active one.
    static void drawAsActive(GtkWidget* widget, GtkStateFlags, gpointer) {
        if (gtk_widget_get_state_flags(widget) & GTK_STATE_FLAG_BACKDROP)
            gtk_widget_unset_state_flags(widget, GTK_STATE_FLAG_BACKDROP);
    }

    static gboolean onConfigure(GtkWidget*, GdkEventConfigure*, gpointer data) {
        auto* self = static_cast<GtkHostWindow*>(data);
        // The person moves titled windows and dragged panels; otherwise our frame is the truth,
        // and a late event from an earlier move must not undo a newer one.
        if (isPanel(self->config_) && !self->dragged_) return FALSE;
        GdkWindow* gdk = gtk_widget_get_window(self->window_);
        if (!gdk || !gtk_widget_get_mapped(self->window_)) return FALSE;
        GdkRectangle outer;
        gdk_window_get_frame_extents(gdk, &outer);
        int contentWidth = 0, contentHeight = 0;
        gtk_window_get_size(GTK_WINDOW(self->window_), &contentWidth, &contentHeight);
        self->titleBar_ = isPanel(self->config_) ? 0 : std::max(0, outer.height - contentHeight);
        self->frame_ = GlobalSpace::current().toGlobal({outer.x, outer.y, outer.width, outer.height});
        self->applied_.reset();
        return FALSE;
    }

    static gboolean onPress(GtkWidget* widget, GdkEventButton* event, gpointer data) {
        auto* self = static_cast<GtkHostWindow*>(data);
        if (!self->config_.movableByWindowBackground || event->button != GDK_BUTTON_PRIMARY) return FALSE;
        self->dragged_ = true;
        gtk_window_begin_move_drag(GTK_WINDOW(widget), static_cast<gint>(event->button),
                                   static_cast<gint>(event->x_root), static_cast<gint>(event->y_root),
                                   event->time);
        return TRUE;
    }

    static void onSizeAllocate(GtkWidget* widget, GdkRectangle* allocation, gpointer data) {
        auto* self = static_cast<GtkHostWindow*>(data);
        if (!isRound(self->config_)) return;
        cairo_region_t* region = circleRegion(allocation->width, allocation->height);
        gtk_widget_shape_combine_region(widget, region);
        cairo_region_destroy(region);
    }

    // Mapping a widget announces it to the assistive tools, one bus message each: about a
    // millisecond for a review panel. A panel's window goes to the window manager first, and its
    // content is mapped while the manager maps the window. A titled window shows as one: keeping
    // its content back would clear its focus and default button. The content is held back below
    // the holder: a window maps its child whatever that child's visibility to its parent.
    void show() {
        if (!isPanel(config_)) return gtk_widget_show(window_);
        setContentMapped(FALSE);
        gtk_widget_show(window_);
        gdk_display_flush(gtk_widget_get_display(window_));
        setContentMapped(TRUE);
    }

    void setContentMapped(gboolean mapped) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(holder_));
        for (GList* child = children; child; child = child->next)
            gtk_widget_set_child_visible(GTK_WIDGET(child->data), mapped);
        g_list_free(children);
    }

    static gboolean rebuildNow(gpointer data) {
        auto* self = static_cast<GtkHostWindow*>(data);
        self->rebuildSource_ = 0;
        self->rebuild();
        return G_SOURCE_REMOVE;
    }

    // The announcement comes before the change: rebuild once the main loop is idle again.
    void scheduleRebuild() {
        stale_ = true;
        if (!rebuildSource_) rebuildSource_ = g_idle_add_full(G_PRIORITY_HIGH_IDLE, rebuildNow, this, nullptr);
    }

    void rebuild() {
        stale_ = false;
        if (rebuildSource_) {
            g_source_remove(rebuildSource_);
            rebuildSource_ = 0;
        }
        if (!content_) return;
        if (!widgets_->show(content_->root()) || isPanel(config_)) return;
        if (GtkWidget* button = widgets_->defaultButton()) gtk_window_set_default(GTK_WINDOW(window_), button);
        // A titled window is as tall as its content at its width, its top edge staying put; the
        // application sizes only its panels.
        double height = widgets_->measure(frame_.width()).height + titleBar_;
        frame_ = makeRect(frame_.minX(), frame_.maxY() - height, frame_.width(), height);
        applyFrame();
    }

    Size measure(double width) {
        if (stale_) rebuild();
        return widgets_->measure(width);
    }

    void applyFrame() {
        RootRect root = GlobalSpace::current().toRoot(frame_);
        root.height = std::max(1, static_cast<int>(std::lround(frame_.height() - titleBar_)));
        root.width = std::max(1, root.width);
        gtk_window_move(GTK_WINDOW(window_), root.x, root.y);
        // Every resize queues a layout of the whole window, even to the size it has.
        if (applied_ != std::pair(root.width, root.height)) gtk_window_resize(GTK_WINDOW(window_), root.width, root.height);
        applied_ = std::pair(root.width, root.height);
    }

    WindowConfig config_;
    std::weak_ptr<GtkWindows::Registry> registry_;
    // Closures that may outlive a call reach the window through this handle.
    std::shared_ptr<GtkHostWindow*> self_ = std::make_shared<GtkHostWindow*>(this);
    GtkWidget* window_ = nullptr;
    GtkWidget* holder_ = nullptr;
    std::unique_ptr<NodeWidgets> widgets_;
    std::shared_ptr<ui::HostingView> content_;
    Subscription changes_;
    guint rebuildSource_ = 0;
    bool stale_ = false;
    bool dragged_ = false;
    Rect frame_;
    // The content size last asked of GTK, in its units.
    std::optional<std::pair<int, int>> applied_;
    double titleBar_ = 0;
    std::function<void()> closeHandler_;
};

GtkWindows::GtkWindows(PointerMonitor monitor)
    : monitor_(std::move(monitor)), registry_(std::make_shared<Registry>()) {}

GtkWindows::~GtkWindows() = default;

std::unique_ptr<Window> GtkWindows::makeWindow(const WindowConfig& config) {
    return std::make_unique<GtkHostWindow>(config, registry_);
}

std::vector<Window*> GtkWindows::visibleWindows() const {
    std::vector<Window*> out;
    for (auto* window : registry_->windows) {
        if (window->isVisible()) out.push_back(window);
    }
    return out;
}

MonitorToken GtkWindows::addGlobalMouseDownMonitor(std::function<void(const MouseEvent&)> handler) {
    if (!monitor_) return {};
    return monitor_(std::move(handler));
}

void GtkWindows::runModalAlert(const Alert& alert) {
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING, GTK_BUTTONS_OK,
                                               "%s", alert.message.c_str());
    if (!alert.informativeText.empty())
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", alert.informativeText.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), "Kestrel");
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

}  // namespace desktop::x11
