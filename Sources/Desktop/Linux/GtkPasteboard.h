// The general pasteboard as the GTK clipboard (the X CLIPBOARD selection): plain UTF-8 text.
// What we put there lasts while this process runs, unless a clipboard manager takes it over.
// Main thread only. Owned by the Linux desktop.
#pragma once

#include "Desktop/Pasteboard.h"

namespace desktop::x11 {

class GtkPasteboard final : public Pasteboard {
public:
    void clearContents() override;
    // Refuses text that is not valid UTF-8.
    bool setString(const std::string& text) override;
    // Asks the selection's owner, waiting in a nested main loop for its answer.
    std::optional<std::string> string() const override;
};

}  // namespace desktop::x11
