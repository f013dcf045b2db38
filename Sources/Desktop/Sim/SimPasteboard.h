// The simulated general pasteboard. Main thread.
#pragma once

#include "Desktop/Pasteboard.h"

namespace desktop::sim {

class SimPasteboard final : public Pasteboard {
public:
    void clearContents() override {
        text_.reset();
        ++changeCount_;
    }
    bool setString(const std::string& text) override {
        text_ = text;
        ++changeCount_;
        return true;
    }
    std::optional<std::string> string() const override { return text_; }
    // Rises with every change, as the platform's does.
    int changeCount() const { return changeCount_; }

private:
    std::optional<std::string> text_;
    int changeCount_ = 0;
};

}  // namespace desktop::sim
