// Our windows as GTK widgets on a real (headless) X display.

#include <algorithm>
#include <optional>
#include <string>

#include "Desktop/Observable.h"
#include "Desktop/View.h"
#include "Linux/LinuxSupport.h"

using namespace testing_support;
using namespace ui;
using desktop::makeRect;

namespace {

// A model with one published string, as the application's models have.
class Model : public desktop::Observable {
public:
    const std::string& text() const { return text_; }
    void setText(std::string text) {
        announce();
        text_ = std::move(text);
    }

private:
    std::string text_;
};

desktop::WindowConfig panelConfig(double width, double height) {
    desktop::WindowConfig config;
    config.kind = desktop::WindowKind::panel;
    config.contentRect = makeRect(0, 0, width, height);
    config.style = desktop::windowstyle::titled | desktop::windowstyle::nonactivatingPanel |
                   desktop::windowstyle::utilityWindow;
    config.level = desktop::WindowLevel::floating;
    config.backgroundColor = "white";
    return config;
}

bool contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class GtkWindowsTests : public GtkDesktopTest {
protected:
    // Shows `body` in a window (a panel unless told), rebuilt when the model changes; its GTK toplevel.
    GtkWidget* show(HostingView::Body body, const desktop::WindowConfig& config = panelConfig(300, 100)) {
        window = desk.windows().makeWindow(config);
        host = std::make_shared<HostingView>(std::move(body), std::vector<desktop::Observable*>{&model});
        window->setContent(host);
        window->orderFront();
        pump();
        return toplevel(config.title.empty() ? "Kestrel" : config.title);
    }

    Model model;
    std::unique_ptr<desktop::Window> window;
    std::shared_ptr<HostingView> host;
};

}  // namespace

// A button runs its action and a disabled one cannot be pressed; a field writes the model, and the
// rebuild that follows keeps the same field with its caret.
TEST_F(GtkWindowsTests, ButtonsAndFieldsWriteTheModelAndTheRebuildKeepsTheSameField) {
    int pressed = 0;
    GtkWidget* top = show([&] {
        return VStack(HAlign::leading, 8,
                      {Text("You typed " + model.text()),
                       HStack(VAlign::center, 6,
                              {Button("Fix", [&] { ++pressed; }).help("Replace it"),
                               Button("Ignore", [] {}).disabled(true)}),
                       TextField("Add a check", {[&] { return model.text(); },
                                                 [&](std::string t) { model.setText(std::move(t)); }})})
            .frame(300);
    });
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(findControl(top, "Replace it"), findControl(top, "Fix")) << "the tooltip is not the button's";
    ASSERT_NE(findControl(top, "Ignore"), nullptr);
    EXPECT_FALSE(gtk_widget_get_sensitive(findControl(top, "Ignore")));
    gtk_button_clicked(GTK_BUTTON(findControl(top, "Fix")));
    EXPECT_EQ(pressed, 1);

    GtkWidget* entry = findControl(top, "Add a check");
    ASSERT_TRUE(entry && GTK_IS_ENTRY(entry));
    gtk_editable_set_position(GTK_EDITABLE(entry), -1);
    gtk_entry_set_text(GTK_ENTRY(entry), "abc");
    gtk_editable_set_position(GTK_EDITABLE(entry), 1);
    pump();

    EXPECT_EQ(model.text(), "abc");
    EXPECT_TRUE(contains(labelTexts(top), "You typed abc"));
    auto after = descendants(top);
    EXPECT_NE(std::find(after.begin(), after.end(), entry), after.end()) << "the entry was replaced";
    EXPECT_EQ(gtk_editable_get_position(GTK_EDITABLE(entry)), 1) << "the caret moved";
}

// A change is laid over the shown widgets by position and kind: what it does not touch keeps its
// widget, a label takes its new text, and only what changed its kind is made anew.
TEST_F(GtkWindowsTests, AChangeKeepsTheWidgetsItDoesNotTouch) {
    struct Step {
        const char* change;
        std::vector<Node> rows;
        std::vector<bool> same;  // per row: the widget shown before this step stays
    };
    auto rows = [](std::string first, std::optional<std::string> notice, bool buttonRow = true) {
        std::vector<Node> out;
        out.push_back(Text(std::move(first)));
        out.push_back(buttonRow ? Button("Fix", [] {}) : Text("Fixed"));
        out.push_back(Text("Stripe secret key in message").withFont(Font::caption()));
        if (notice) out.push_back(Text(*notice));
        return out;
    };
    const std::vector<Step> steps = {
        {"first showing", rows("1 risk", std::nullopt), {}},
        {"a text changes", rows("2 risks", std::nullopt), {true, true, true}},
        {"a notice comes", rows("2 risks", "Copied the rewrite."), {true, true, true}},
        {"the notice goes", rows("2 risks", std::nullopt), {true, true, true}},
        {"a row changes kind", rows("2 risks", std::nullopt, false), {true, false, true}},
    };
    size_t step = 0;
    GtkWidget* top = show([&] { return VStack(HAlign::leading, 8, steps[step].rows).frame(300); });
    ASSERT_NE(top, nullptr);
    auto children = [&] {
        GtkWidget* column = nullptr;
        for (GtkWidget* widget : descendants(top)) {
            if (GTK_IS_BOX(widget) && gtk_orientable_get_orientation(GTK_ORIENTABLE(widget)) == GTK_ORIENTATION_VERTICAL &&
                gtk_box_get_spacing(GTK_BOX(widget)) == 8)
                column = widget;
        }
        std::vector<GtkWidget*> out;
        if (!column) return out;
        GList* list = gtk_container_get_children(GTK_CONTAINER(column));
        for (GList* it = list; it; it = it->next) {
            if (gtk_widget_get_visible(GTK_WIDGET(it->data))) out.push_back(GTK_WIDGET(it->data));
        }
        g_list_free(list);
        return out;
    };
    // Held, so that a widget made anew can never take the address of one that went.
    auto hold = [](std::vector<GtkWidget*> widgets) {
        for (GtkWidget* widget : widgets) g_object_ref(widget);
        return widgets;
    };
    auto shown = hold(children());
    ASSERT_EQ(shown.size(), 3u);
    for (step = 1; step < steps.size(); ++step) {
        model.setText(steps[step].change);
        pump();
        auto now = hold(children());
        SCOPED_TRACE(steps[step].change);
        ASSERT_EQ(now.size(), steps[step].rows.size());
        for (size_t row = 0; row < steps[step].same.size(); ++row)
            EXPECT_EQ(now[row] == shown[row], steps[step].same[row]) << "row " << row;
        EXPECT_TRUE(contains(labelTexts(top), "2 risks"));
        for (GtkWidget* widget : shown) g_object_unref(widget);
        shown = now;
    }
    for (GtkWidget* widget : shown) g_object_unref(widget);
    EXPECT_FALSE(contains(labelTexts(top), "Copied the rewrite."));
}

TEST_F(GtkWindowsTests, FittingHeightIsTheToolkitsAndKeepsToTheMaximumHeight) {
    show([&] {
        std::vector<Node> rows;
        for (size_t i = 0; i < model.text().size(); ++i)
            rows.push_back(Text("Finding " + std::to_string(i) + " with a title long enough to wrap onto "
                                "a second line in a narrow panel"));
        return VStack(HAlign::leading, 0,
                      {Text("Header"), ScrollView(VStack(HAlign::leading, 12, std::move(rows)).padded(14))})
            .frame(380)
            .frameMaxHeight(520);
    }, panelConfig(380, 100));
    model.setText("x");
    double one = host->fittingSize().height;
    model.setText("xx");
    double two = host->fittingSize().height;
    model.setText(std::string(100, 'x'));
    double hundred = host->fittingSize().height;

    EXPECT_GT(two, one + 20);
    EXPECT_LE(hundred, 520);
    EXPECT_GE(hundred, 500);
    EXPECT_EQ(host->fittingSize().width, 380);
}

TEST_F(GtkWindowsTests, AClearBorderlessWindowIsRound) {
    desktop::WindowConfig config;
    config.kind = desktop::WindowKind::panel;
    config.contentRect = makeRect(0, 0, 26, 26);
    config.style = desktop::windowstyle::borderless | desktop::windowstyle::nonactivatingPanel;
    config.backgroundColor = "clear";
    config.opaque = false;
    auto window = desk.windows().makeWindow(config);
    window->setContent(std::make_shared<HostingView>(
        [] { return ZStack({Circle().filled(Color::srgb(0.86, 0.25, 0.25)).frame(26, 26)}).frame(26, 26); },
        std::vector<desktop::Observable*>{}));
    GdkRectangle screen;
    gdk_monitor_get_geometry(gdk_display_get_primary_monitor(gdk_display_get_default()), &screen);
    uint32_t before = screenPixel(600, screen.height - 400 - 26);
    window->setFrameOrigin({600, 400});
    window->orderFront();
    int left = 600, top = screen.height - 400 - 26;
    pumpUntil([&] { return screenPixel(left + 13, top + 13) != before; });

    uint32_t middle = screenPixel(left + 13, top + 13);
    EXPECT_GT(middle >> 16, 0xC0u) << std::hex << middle;
    EXPECT_LT((middle >> 8) & 0xFF, 0x60u) << std::hex << middle;
    EXPECT_EQ(screenPixel(left, top), before) << "the corner is not part of the window";
    EXPECT_EQ(screenPixel(left + 25, top + 25), before);
}

TEST_F(GtkWindowsTests, TheCloseButtonRunsTheCloseHandlerAndKeepsTheWindow) {
    desktop::WindowConfig config;
    config.contentRect = makeRect(0, 0, 360, 300);
    config.style = desktop::windowstyle::titled | desktop::windowstyle::closable;
    config.title = "Sign in to Kestrel";
    GtkWidget* top = show([] { return Text("Sign in").frame(360); }, config);
    ASSERT_NE(top, nullptr);
    int closed = 0;
    window->setCloseHandler([&] { ++closed; });
    gtk_window_close(GTK_WINDOW(top));
    pump();

    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(window->isVisible());
    window->orderFront();
    pump();
    EXPECT_EQ(toplevel("Sign in to Kestrel"), top) << "the same window shows again";
}

TEST_F(GtkWindowsTests, UntrustedTextNeitherCrashesNorWidensThePanel) {
    std::string invalid = "bad \xC3\x28 bytes";
    std::string rightToLeft = "\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD";
    std::string longWord(600, 'k');
    GtkWidget* top = show([&] {
        return VStack(HAlign::leading, 4, {Text(invalid), Text(rightToLeft), Text(longWord),
                                           Button(longWord.substr(0, 80), [] {})})
            .frame(380);
    }, panelConfig(380, 100));
    ASSERT_NE(top, nullptr);
    auto texts = labelTexts(top);
    EXPECT_TRUE(contains(texts, rightToLeft));
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
                            [](const std::string& t) { return t.starts_with("bad ") && g_utf8_validate(t.c_str(), -1, nullptr); }));
    EXPECT_EQ(host->fittingSize().width, 380);
    EXPECT_EQ(gtk_widget_get_allocated_width(top), 380);
}
