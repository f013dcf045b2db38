#include "Kestrel/Windows.h"

#include "Desktop/Desktop.h"
#include "Desktop/Unicode.h"
#include "Kestrel/AX.h"
#include "Kestrel/Analytics.h"
#include "Kestrel/API.h"
#include "Kestrel/Config.h"

namespace kestrel {

namespace {

constexpr const char* kMethod = "email_code";

// Spaces and tabs only: a line break in the field is kept and fails the address.
std::string trimSpacesAndTabs(const std::string& text) {
    auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The code's numeric characters (any script's digits), and how many there are.
std::pair<std::string, size_t> numericCharacters(const std::string& text) {
    std::string digits;
    size_t count = 0;
    for (char32_t c : desktop::unicode::codePoints(text)) {
        if (!desktop::unicode::isNumeric(c)) continue;
        desktop::unicode::appendUtf8(digits, c);
        ++count;
    }
    return {digits, count};
}

std::unique_ptr<desktop::Window> makeTitledWindow(const char* title, double width, double height) {
    desktop::WindowConfig config;
    config.contentRect = {{0, 0}, {width, height}};
    config.style = desktop::windowstyle::titled | desktop::windowstyle::closable;
    config.title = title;
    config.releasedWhenClosed = false;
    return desktop::current().windows().makeWindow(config);
}

void bringToFront(desktop::Window& window) {
    desktop::current().workspace().activate();
    window.makeKeyAndOrderFront();
}

}  // namespace

SignInView::SignInView(std::shared_ptr<KestrelAPI> api, std::function<void()> done)
    : api_(std::move(api)), done_(std::move(done)) {}

void SignInView::setEmail(std::string email) { assign(email_, std::move(email)); }
void SignInView::setCode(std::string code) { assign(code_, std::move(code)); }

void SignInView::failed(const std::string& reason) {
    assign(busy_, false);
    assign(error_, std::optional(reason));
    Analytics::track("Sign In Failed", {{"method", kMethod}, {"reason", reason}});
}

void SignInView::start() {
    // Return in the field submits like the default button, which is disabled while busy.
    if (busy_) return;
    auto email = trimSpacesAndTabs(email_);
    if (email.find('@') == std::string::npos) {
        assign(error_, std::optional<std::string>(kInvalidEmail));
        return;
    }
    assign(busy_, true);
    assign(error_, std::optional<std::string>());
    Analytics::track("Sign In Started", {{"method", kMethod}});
    api_->startEmail(email, [weak = weak_from_this()](APIResult<bool> sent) {
        auto self = weak.lock();
        if (!self) return;
        if (!sent) return self->failed(sent.error().localizedDescription());
        self->assign(self->busy_, false);
        if (*sent) self->assign(self->codeSent_, true);
        else if (self->done_) self->done_();
    });
}

void SignInView::verify() {
    if (busy_) return;
    auto [digits, count] = numericCharacters(code_);
    if (count != 6) {
        assign(error_, std::optional<std::string>(kInvalidCode));
        return;
    }
    assign(busy_, true);
    assign(error_, std::optional<std::string>());
    api_->verifyEmail(trimSpacesAndTabs(email_), digits,
                      [weak = weak_from_this()](APIResult<User> signedIn) {
                          auto self = weak.lock();
                          if (!self) return;
                          if (!signedIn) return self->failed(signedIn.error().localizedDescription());
                          self->assign(self->busy_, false);
                          if (self->done_) self->done_();
                      });
}

void SignInView::useDifferentEmail() {
    assign(codeSent_, false);
    assign(code_, std::string());
    assign(error_, std::optional<std::string>());
}

ui::Node SignInView::body() {
    using namespace ui;
    auto weak = weak_from_this();
    auto call = [weak](void (SignInView::*method)()) {
        return [weak, method] {
            if (auto self = weak.lock()) ((*self).*method)();
        };
    };
    auto bind = [weak](std::string SignInView::*field, void (SignInView::*setter)(std::string)) {
        return Binding{[weak, field] {
                           auto self = weak.lock();
                           return self ? (*self).*field : std::string();
                       },
                       [weak, setter](std::string value) {
                           if (auto self = weak.lock()) ((*self).*setter)(std::move(value));
                       }};
    };

    std::vector<Node> items;
    items.push_back(VStack(
        HAlign::leading, 4,
        {Text("The gate before Send.").withFont(Font::title3().weighted(Weight::semibold)),
         Text(codeSent_ ? "We sent a six-digit code to " + email_ + "."
                        : "Sign in with the email you use on the dashboard. A code will arrive in "
                          "your inbox.")
             .withFont(Font::callout())
             .foregroundColor(Color::secondary())}));
    if (codeSent_) {
        items.push_back(TextField(kCodePlaceholder, bind(&SignInView::code_, &SignInView::setCode))
                            .onSubmit(call(&SignInView::verify)));
    } else {
        items.push_back(
            TextField(kEmailPlaceholder, bind(&SignInView::email_, &SignInView::setEmail))
                .onSubmit(call(&SignInView::start)));
    }
    if (error_) items.push_back(Text(*error_).withFont(Font::caption()).foregroundColor(Color::red()));

    std::vector<Node> row;
    if (codeSent_)
        row.push_back(Button("Use a different email", call(&SignInView::useDifferentEmail))
                          .style(ButtonStyle::plain));
    row.push_back(Spacer());
    if (busy_) row.push_back(ProgressView(ProgressSize::small));
    row.push_back(Button(codeSent_ ? "Verify" : "Continue",
                         call(codeSent_ ? &SignInView::verify : &SignInView::start))
                      .defaultAction()
                      .disabled(busy_));
    items.push_back(HStack(VAlign::center, 8, std::move(row)));
    items.push_back(Text("Prefer Google? Sign in on the dashboard with the same email, then use the "
                         "code here.")
                        .withFont(Font::caption2())
                        .foregroundColor(Color::tertiary()));
    return VStack(HAlign::leading, 14, std::move(items)).padded(20).frame(kWidth);
}

SignInWindow::SignInWindow(std::shared_ptr<KestrelAPI> api) : api_(std::move(api)) {}

void SignInWindow::show() {
    if (!window_) {
        window_ = makeTitledWindow(kTitle, SignInView::kWidth, 300);
        view_ = std::make_shared<SignInView>(
            api_, [weak = std::weak_ptr<desktop::Window>(window_)] {
                if (auto window = weak.lock()) window->orderOut();
            });
        std::weak_ptr<SignInView> weakView = view_;
        window_->setContent(std::make_shared<ui::HostingView>(
            [weakView] {
                auto view = weakView.lock();
                return view ? view->body() : ui::EmptyView();
            },
            std::vector<desktop::Observable*>{view_.get(), api_.get()}));
        window_->center();
    }
    bringToFront(*window_);
}

namespace AccessibilityView {

namespace {

// The apps the window names: the reference system's as it words them, else the table's rows that
// exist on Linux.
std::string watchedApps(const desktop::Wording& wording) {
    if (wording.appNames == desktop::Wording::AppNames::reference)
        return "Mail, Outlook, Slack, Teams, Discord and Messages";
    std::vector<std::string> labels;
    for (const auto& app : SupportedApp::all()) {
        if (!app.linuxLabel.empty()) labels.push_back(app.linuxLabel);
    }
    std::string out;
    for (size_t i = 0; i < labels.size(); ++i) {
        if (i > 0) out += i + 1 == labels.size() ? " and " : ", ";
        out += labels[i];
    }
    return out;
}

}  // namespace

ui::Node body() {
    using namespace ui;
    auto wording = desktop::current().wording();
    return VStack(
               HAlign::leading, 14,
               {Text("Let Kestrel read what you are about to send")
                    .withFont(Font::title3().weighted(Weight::semibold)),
                Text("Kestrel checks the message in the box you are typing in and stands in front "
                     "of the Send shortcut in " +
                     watchedApps(wording) + ". " + wording.accessibilitySetting +
                     "\n\nWhat you type stays on " + wording.thisComputer +
                     " unless you are signed in and an AI check runs; then the text goes to "
                     "Kestrel's backend and nowhere else. Nothing is stored.")
                    .withFont(Font::callout())
                    .foregroundColor(Color::secondary()),
                HStack(VAlign::center, 8,
                       {Spacer(), Button(wording.accessibilityButton, openSettings).defaultAction()}),
                Text(wording.accessibilityWhere).withFont(Font::caption()).foregroundColor(Color::tertiary())})
        .padded(20)
        .frame(kWidth);
}

void openSettings() {
    desktop::current().accessibility().isTrustedWithPrompt();
    if (desktop::current().wording().opensSettingsPage) AX::openAccessibilitySettings();
}

}  // namespace AccessibilityView

void AccessibilityWindow::show() {
    if (!window_) {
        window_ = makeTitledWindow(kTitle, AccessibilityView::kWidth, 260);
        window_->setContent(std::make_shared<ui::HostingView>(
            AccessibilityView::body, std::vector<desktop::Observable*>{}));
        window_->center();
    }
    bringToFront(*window_);
}

void AccessibilityWindow::hide() {
    if (window_) window_->orderOut();
}

}  // namespace kestrel
