#include "Desktop/Linux/XdgLoginItems.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Desktop/Linux/XdgPaths.h"

namespace desktop::x11 {

namespace {

std::string systemError(const std::string& what, int error) { return what + ": " + std::strerror(error); }

// The Exec key's quoting: reserved characters inside double quotes, escaped.
std::string quotedForExec(const std::string& path) {
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::expected<void, std::string> writeAtomically(const std::filesystem::path& path, const std::string& text) {
    std::string temporary = path.string() + ".XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0) return std::unexpected(systemError("cannot create " + temporary, errno));
    bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0 &&
                   fchmod(fd, 0644) == 0;
    int error = errno;
    ::close(fd);
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = written ? errno : error;
        ::unlink(temporary.c_str());
        return std::unexpected(systemError("cannot write " + path.string(), error));
    }
    return {};
}

}  // namespace

XdgLoginItems::XdgLoginItems(std::string applicationId, std::filesystem::path executable)
    : applicationId_(std::move(applicationId)), executable_(std::move(executable)) {}

std::filesystem::path XdgLoginItems::entryPath() const {
    return configHome() / "autostart" / (applicationId_ + ".desktop");
}

std::string XdgLoginItems::entry() const {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Kestrel\n"
           "Comment=Checks a message before it is sent\n"
           "Exec=" + quotedForExec(executable_.string()) + "\n"
           "Icon=" + applicationId_ + "\n"
           "Terminal=false\n"
           "NoDisplay=true\n"
           "X-GNOME-Autostart-enabled=true\n";
}

LoginItems::Status XdgLoginItems::status() const {
    std::ifstream in(entryPath());
    if (!in) return Status::notRegistered;
    std::string line;
    while (std::getline(in, line)) {
        if (line == "Hidden=true") return Status::notRegistered;
    }
    return Status::enabled;
}

std::expected<void, std::string> XdgLoginItems::registerApp() {
    std::error_code ec;
    std::filesystem::create_directories(entryPath().parent_path(), ec);
    if (ec) return std::unexpected("cannot create " + entryPath().parent_path().string() + ": " + ec.message());
    return writeAtomically(entryPath(), entry());
}

std::expected<void, std::string> XdgLoginItems::unregisterApp() {
    if (::unlink(entryPath().c_str()) != 0 && errno != ENOENT)
        return std::unexpected(systemError("cannot remove " + entryPath().string(), errno));
    return {};
}

}  // namespace desktop::x11
