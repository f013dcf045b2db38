// The general pasteboard: plain text only. Main thread only.
#pragma once

#include <optional>
#include <string>

namespace desktop {

class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    virtual void clearContents() = 0;
    // Answers whether the text was put on the pasteboard.
    virtual bool setString(const std::string& text) = 0;
    virtual std::optional<std::string> string() const = 0;
};

}  // namespace desktop
