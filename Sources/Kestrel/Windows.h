// The sign-in window (e-mail, then a six-digit code) and the window that asks for Accessibility
// access, with their views. Main thread only. Owned by the application delegate for the whole run;
// hiding a window keeps its view and state.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Desktop/Observable.h"
#include "Desktop/View.h"
#include "Desktop/Windows.h"

namespace kestrel {

class KestrelAPI;

// The sign-in form's state and content; announces every change of its fields.
class SignInView : public desktop::Observable, public std::enable_shared_from_this<SignInView> {
public:
    static constexpr double kWidth = 360;
    static constexpr const char* kEmailPlaceholder = "you@company.com";
    static constexpr const char* kCodePlaceholder = "Six-digit code";
    static constexpr const char* kInvalidEmail = "Enter a valid email address.";
    static constexpr const char* kInvalidCode = "Enter the six-digit code.";

    SignInView(std::shared_ptr<KestrelAPI> api, std::function<void()> done);

    ui::Node body();
    // The e-mail step's submit: asks the service to send a code.
    void start();
    // The code step's submit: signs in with the six digits.
    void verify();
    // Back from the code step to the e-mail step.
    void useDifferentEmail();

    const std::string& email() const { return email_; }
    const std::string& code() const { return code_; }
    bool codeSent() const { return codeSent_; }
    bool busy() const { return busy_; }
    const std::optional<std::string>& error() const { return error_; }
    void setEmail(std::string email);
    void setCode(std::string code);

private:
    template <class T>
    void assign(T& field, T value) {
        announce();
        field = std::move(value);
    }
    void failed(const std::string& reason);

    std::shared_ptr<KestrelAPI> api_;
    std::function<void()> done_;
    std::string email_;
    std::string code_;
    bool codeSent_ = false;
    bool busy_ = false;
    std::optional<std::string> error_;
};

class SignInWindow {
public:
    static constexpr const char* kTitle = "Sign in to Kestrel";

    explicit SignInWindow(std::shared_ptr<KestrelAPI> api);
    // Makes the window on first use, then activates the application and brings it to the front.
    void show();
    desktop::Window* window() const { return window_.get(); }
    SignInView* view() const { return view_.get(); }

private:
    std::shared_ptr<KestrelAPI> api_;
    std::shared_ptr<desktop::Window> window_;
    std::shared_ptr<SignInView> view_;
};

namespace AccessibilityView {
inline constexpr double kWidth = 420;
ui::Node body();
// Shows the system's trust prompt (on Linux: switches the accessibility setting on), then the
// Accessibility settings page where the desktop has one.
void openSettings();
}  // namespace AccessibilityView

class AccessibilityWindow {
public:
    static constexpr const char* kTitle = "Kestrel needs one permission";

    // Makes the window (once), centers it, activates the application and brings it to the front.
    void show();
    void hide();
    desktop::Window* window() const { return window_.get(); }

private:
    std::unique_ptr<desktop::Window> window_;
};

}  // namespace kestrel
