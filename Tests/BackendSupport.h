// Fixtures for the backend client, analytics and transport tests: the in-process stand-in on an
// ephemeral loopback port, raw TCP peers that misbehave (never answer, answer without HTTP), a
// recorder of tracked events, and a way to wait for one asynchronous completion.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DevServer/DevServer.h"
#include "Kestrel/API.h"
#include "Kestrel/Analytics.h"
#include "Kestrel/Config.h"
#include "TestSupport.h"

namespace testing_support {

// A TCP peer on 127.0.0.1 that either answers every connection with fixed bytes and closes it, or
// accepts and never answers (holding the connection until it is destroyed).
class RawPeer {
public:
    enum class Mode { answerAndClose, neverAnswer };

    explicit RawPeer(Mode mode, std::string answer = {}) : mode_(mode), answer_(std::move(answer)) {
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
    ~RawPeer() {
        stop_ = true;
        thread_.join();
        for (int fd : held_) ::close(fd);
        ::close(fd_);
    }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    int port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    int connections() const { return connections_; }

private:
    void serve() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            ++connections_;
            if (mode_ == Mode::neverAnswer) {
                held_.push_back(client);
                continue;
            }
            // Read what the request sent at once, then answer and close.
            pollfd c{client, POLLIN, 0};
            char buffer[65536];
            if (::poll(&c, 1, 1000) > 0) (void)::recv(client, buffer, sizeof buffer, 0);
            (void)::send(client, answer_.data(), answer_.size(), MSG_NOSIGNAL);
            ::shutdown(client, SHUT_RDWR);
            ::close(client);
        }
    }

    Mode mode_;
    std::string answer_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::vector<int> held_;
    std::thread thread_;
};

struct TrackCall {
    std::string name;
    nlohmann::json kept;
};

// A fresh simulated desktop whose "backendUrl" points at a fresh in-process stand-in, and a fresh
// shared client on it.
class BackendTest : public SimDesktopTest {
protected:
    kestrel::devserver::DevServer server;
    std::vector<TrackCall> tracked;
    desktop::Subscription tracking;

    BackendTest() {
        EXPECT_TRUE(server.start());
        sim.simDefaults().set(kestrel::Config::kBackendUrl, server.url());
        kestrel::KestrelAPI::resetShared();
        tracking = kestrel::Analytics::observeTracks(
            [this](const std::string& name, const nlohmann::json& kept) {
                tracked.push_back({name, kept});
            });
    }
    ~BackendTest() override {
        sim.settle();
        kestrel::KestrelAPI::resetShared();
    }

    std::shared_ptr<kestrel::KestrelAPI> api() { return kestrel::KestrelAPI::shared(); }

    // Starts an asynchronous call, waits until the desktop is quiet, and answers the one result
    // its completion was given (on the main thread).
    template <class R>
    R await(const std::function<void(std::function<void(R)>)>& call) {
        std::vector<R> results;
        auto mainThread = std::this_thread::get_id();
        call([&results, mainThread](R result) {
            EXPECT_EQ(std::this_thread::get_id(), mainThread);
            results.push_back(std::move(result));
        });
        EXPECT_TRUE(sim.settle());
        EXPECT_EQ(results.size(), 1u) << "the completion must run exactly once";
        if (results.empty()) throw std::runtime_error("no completion");
        return std::move(results.front());
    }

    // Signs in through the e-mail code path of the stand-in.
    kestrel::User signIn(const std::string& email = "ann@example.com") {
        auto sent = await<kestrel::APIResult<bool>>(
            [&](auto done) { api()->startEmail(email, done); });
        EXPECT_TRUE(sent.has_value() && *sent);
        auto user = await<kestrel::APIResult<kestrel::User>>([&](auto done) {
            api()->verifyEmail(email, kestrel::devserver::DevServer::codeFor(email), done);
        });
        EXPECT_TRUE(user.has_value());
        return user.value_or(kestrel::User{});
    }

    std::vector<std::string> trackedNames() const {
        std::vector<std::string> names;
        for (const auto& e : tracked) names.push_back(e.name);
        return names;
    }

    // The recorded requests of the simulated transport whose URL begins with the stand-in's.
    std::vector<desktop::HttpRequest> backendRequests() {
        return sim.simHttp().requestsTo(server.url());
    }
};

}  // namespace testing_support
