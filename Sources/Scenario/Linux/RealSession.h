// What the scenario runner's real driver and the desktop tests both do on an X session: wait on a
// condition with the GLib main loop answering, start programs and wait for their end, type and
// click through the X server with xdotool, click our own controls where they show, find the app
// in front and its focused box, and read a stand-in app's sent log. Main thread.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Desktop/Accessibility.h"
#include "Desktop/Workspace.h"

namespace scenario {

// Runs the main loop until `done` holds or `seconds` passed; answers `done()`.
bool waitFor(const std::function<bool()>& done, double seconds);
// Starts a program with its standard input, output and error on those descriptors (-1: ours);
// its pid, 0 when it did not start.
pid_t spawnProcess(const std::vector<std::string>& arguments, int input = -1, int output = -1,
                   int errors = -1);
// Waits, with the main loop answering, until the process ends; its exit status, none when it did
// not end in time or was killed.
std::optional<int> exitStatus(pid_t pid, double seconds);
// Runs xdotool to completion, the main loop answering meanwhile (the keyboard may be frozen on one
// of our grabs until we decide); what went wrong, none when it succeeded.
std::optional<std::string> xdotool(std::vector<std::string> arguments, double seconds);
// Clicks our visible control named `title` once it has stood still (our panel may still be coming
// up or moving beside the box); what went wrong, none when it was clicked.
std::optional<std::string> clickControl(const std::string& title, double seconds);

// Whether the process is the frontmost app.
bool isFront(desktop::Workspace& workspace, pid_t pid);
// The focused element of the process's app, as accessibility reads it.
std::optional<desktop::Element> focusedElementOf(desktop::Accessibility& ax, pid_t pid);
// The text of an element, as accessibility reads it.
std::optional<std::string> textOf(desktop::Accessibility& ax, const desktop::Element& element);

// The messages a stand-in app sent, one a line of its log with line breaks escaped.
std::vector<std::string> sentMessages(const std::filesystem::path& log);

}  // namespace scenario
