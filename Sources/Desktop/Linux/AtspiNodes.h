// Another application's accessible objects through libatspi, one bounded question at a time:
// owning references, an object's process, parent, role, states and attributes, and the text it
// sends cleaned of what a toolkit may put in it. Main thread; every call to the app is bounded.
// Free functions, used by the accessibility service and its draft reader.
#pragma once

#include <atspi/atspi.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace desktop::x11::atspi {

// Holds a reference libatspi handed us; none for none.
std::shared_ptr<AtspiAccessible> own(AtspiAccessible* accessible);
// Takes a reference of our own on an object we were lent.
std::shared_ptr<AtspiAccessible> retain(AtspiAccessible* accessible);
// Drops the error an AT-SPI call reported; answers whether there was one.
bool failed(GError*& error);

std::optional<int32_t> pidOf(AtspiAccessible* accessible);
// The process of the application an element belongs to: the top application reached through its
// parents. A sandboxed web process answers the bus through a proxy whose pid is not its app's.
std::optional<int32_t> ownerPid(AtspiAccessible* accessible);
std::shared_ptr<AtspiAccessible> parentOf(AtspiAccessible* accessible);
std::optional<AtspiRole> roleOf(AtspiAccessible* accessible);
bool hasState(AtspiAccessible* accessible, AtspiStateType state);
std::optional<std::string> objectAttribute(AtspiAccessible* accessible, const char* name);
bool hasText(AtspiAccessible* accessible);
// A web editor's body: focusable with Text, the document's body element, yet without the editable
// state (WebKit's composer body).
bool isWebEditorBody(AtspiAccessible* accessible);
// Another process's text: valid UTF-8 with no NUL, whatever the toolkit sent.
std::string cleanText(const char* text);

}  // namespace desktop::x11::atspi
