#include "Desktop/StateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "Desktop/Unicode.h"

namespace desktop::statefile {

namespace fs = std::filesystem;

namespace {

std::string systemError(int error) {
    return std::strerror(error);
}

// The whole file, or why it cannot be read.
std::expected<std::string, std::string> readAll(const fs::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::unexpected("cannot open it: " + systemError(errno));
    std::string text;
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            int error = errno;
            ::close(fd);
            return std::unexpected("cannot read it: " + systemError(error));
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

// 20261206T231305Z
std::string utcStamp() {
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

// A name beside `file` that nothing uses yet.
fs::path asideName(const fs::path& file) {
    auto base = file.filename().string() + ".unreadable-" + utcStamp();
    auto candidate = file.parent_path() / base;
    std::error_code ec;
    for (int n = 2; fs::exists(fs::symlink_status(candidate, ec)); ++n)
        candidate = file.parent_path() / (base + "-" + std::to_string(n));
    return candidate;
}

bool writeFully(int fd, std::string_view text) {
    errno = 0;
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

std::expected<std::optional<json::Json>, std::string> readJson(const fs::path& file) {
    std::error_code ec;
    auto status = fs::status(file, ec);
    // Not there, or behind a folder that cannot be looked into: nothing to read, nothing to lose.
    if (!fs::exists(status)) return std::nullopt;
    if (fs::is_directory(status)) return std::unexpected("it is a folder");
    auto text = readAll(file);
    if (!text) return std::unexpected(text.error());
    if (text->empty()) return std::unexpected("it is empty");
    if (!unicode::isValidUtf8(*text)) return std::unexpected("it is not UTF-8 text");
    auto parsed = json::parse(*text);
    if (!parsed) return std::unexpected("it is not JSON");
    return std::optional(std::move(*parsed));
}

bool setAside(const fs::path& file, std::string_view what, std::string_view why,
              std::string_view goingOn, const Report& report) {
    auto aside = asideName(file);
    std::error_code ec;
    fs::rename(file, aside, ec);
    std::string line = "Kestrel: " + std::string(what) + " in " + file.string() +
                       " could not be read (" + std::string(why) + ")";
    if (ec) {
        line += " nor moved aside (" + ec.message() + "); " + std::string(goingOn) +
                ", and nothing is saved there this run";
    } else {
        line += "; moved it to " + aside.string() + ", " + std::string(goingOn);
    }
    if (report) report(line);
    return !ec;
}

std::optional<std::string> write(const fs::path& file, std::string_view text, Access access) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    auto temporary = file;
    temporary += ".tmp";
    mode_t mode = access == Access::ownerOnly ? 0600 : 0666;
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return systemError(errno);
    // A leftover temporary file keeps its old mode: narrow it before writing anything secret.
    int error = 0;
    if (access == Access::ownerOnly && ::fchmod(fd, 0600) != 0) error = errno;
    if (!error && !writeFully(fd, text)) error = errno ? errno : EIO;
    if (::close(fd) != 0 && !error) error = errno;
    if (error) {
        fs::remove(temporary, ec);
        return systemError(error);
    }
    fs::rename(temporary, file, ec);
    if (ec) {
        auto message = ec.message();
        fs::remove(temporary, ec);
        return message;
    }
    return std::nullopt;
}

std::optional<std::string> folderProblem(const fs::path& folder) {
    std::error_code ec;
    auto status = fs::status(folder, ec);
    if (fs::exists(status) && !fs::is_directory(status)) return "it is a file, not a folder";
    fs::create_directories(folder, ec);
    if (ec) return ec.message();
    auto probe = (folder / ".write-check-XXXXXX").string();
    int fd = ::mkstemp(probe.data());
    if (fd < 0) return systemError(errno);
    ::close(fd);
    ::unlink(probe.c_str());
    return std::nullopt;
}

}  // namespace desktop::statefile
