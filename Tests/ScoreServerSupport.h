// A minimal HTTP responder on an ephemeral 127.0.0.1 port for the AI check tests: every request
// gets the same canned answer (connection closed after it) and its body is recorded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class ScoreServer {
public:
    ScoreServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 16);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScoreServer() {
        stopping_ = true;
        thread_.join();
        ::close(fd_);
    }

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    void reply(int status, std::string body) {
        std::lock_guard lock(mutex_);
        status_ = status;
        body_ = std::move(body);
    }
    std::vector<std::string> bodies() const {
        std::lock_guard lock(mutex_);
        return bodies_;
    }

private:
    void serve() {
        while (!stopping_) {
            pollfd waiting{fd_, POLLIN, 0};
            if (::poll(&waiting, 1, 20) <= 0) continue;
            int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            answer(client);
            ::close(client);
        }
    }
    void answer(int client) {
        std::string request;
        char buffer[4096];
        size_t bodyStart = std::string::npos, bodyLength = 0;
        while (bodyStart == std::string::npos || request.size() < bodyStart + bodyLength) {
            auto n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            request.append(buffer, static_cast<size_t>(n));
            if (bodyStart != std::string::npos) continue;
            auto end = request.find("\r\n\r\n");
            if (end == std::string::npos) continue;
            bodyStart = end + 4;
            std::string headers = request.substr(0, end);
            for (auto& c : headers) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (auto at = headers.find("content-length:"); at != std::string::npos)
                bodyLength = std::stoul(headers.substr(at + 15));
        }
        std::string response;
        {
            std::lock_guard lock(mutex_);
            bodies_.push_back(request.substr(bodyStart, bodyLength));
            response = "HTTP/1.1 " + std::to_string(status_) + " X\r\nContent-Type: application/json\r\n"
                       "Content-Length: " + std::to_string(body_.size()) +
                       "\r\nConnection: close\r\n\r\n" + body_;
        }
        ::send(client, response.data(), response.size(), MSG_NOSIGNAL);
    }

    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    int status_ = 200;
    std::string body_ = "{}";
    std::vector<std::string> bodies_;
};

}  // namespace testing_support
