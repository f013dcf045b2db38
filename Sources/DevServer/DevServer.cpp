#include "DevServer/DevServer.h"

#include <httplib.h>

#include <chrono>

namespace kestrel::devserver {

namespace {
constexpr size_t kMaxRequestBytes = 16 * 1024 * 1024;
}  // namespace

DevServer::DevServer() : DevServer(Options{}) {}

DevServer::DevServer(Options options) : DevBackend(options.announce), options_(std::move(options)) {}

DevServer::~DevServer() { stop(); }

bool DevServer::start() {
    if (server_) return true;
    auto server = std::make_unique<httplib::Server>();
    server->set_tcp_nodelay(true);  // without it every keep-alive exchange waits ~40 ms (Nagle)
    server->set_payload_max_length(kMaxRequestBytes);
    server->set_read_timeout(5);
    // One request per connection: stop() waits for connections held open between requests (up
    // to the keep-alive timeout), and the clients' reused handles would hold them.
    server->set_keep_alive_max_count(1);
    // Handlers that read the body themselves: form bodies are otherwise refused over 8 KiB.
    auto withBody = [this](const httplib::Request& request, httplib::Response& response,
                           const httplib::ContentReader& reader) {
        std::string body;
        reader([&](const char* data, size_t length) {
            body.append(data, length);
            return body.size() <= kMaxRequestBytes;
        });
        handle(request, body, response);
    };
    auto withoutBody = [this](const httplib::Request& request, httplib::Response& response) {
        handle(request, request.body, response);
    };
    server->Get(".*", withoutBody);
    server->Post(".*", withBody);
    server->Put(".*", withBody);
    server->Patch(".*", withBody);
    server->Delete(".*", withBody);

    if (options_.port == 0) {
        port_ = server->bind_to_any_port(options_.host);
        if (port_ <= 0) return false;
    } else {
        if (!server->bind_to_port(options_.host, options_.port)) return false;
        port_ = options_.port;
    }
    server_ = std::move(server);
    thread_ = std::thread([server = server_.get()] { server->listen_after_bind(); });
    // stop() does nothing until the server runs, and would then leave its thread in accept().
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::microseconds(100));
    return true;
}

void DevServer::stop() {
    if (!server_) return;
    server_->stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
}

std::string DevServer::url() const {
    bool v6 = options_.host.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + options_.host + "]" : options_.host) + ":" + std::to_string(port_);
}

void DevServer::handle(const httplib::Request& request, const std::string& body,
                       httplib::Response& response) {
    RecordedRequest recorded;
    recorded.method = request.method;
    recorded.path = request.path;
    recorded.target = request.target;
    for (const auto& [name, value] : request.headers) {
        // cpp-httplib adds the peer's addresses as pseudo headers.
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
            name == "LOCAL_PORT")
            continue;
        recorded.headers.emplace_back(name, value);
    }
    recorded.body = body;
    auto reply = answer(std::move(recorded));
    response.status = reply.status;
    response.set_content(reply.body, reply.contentType.c_str());
}

}  // namespace kestrel::devserver
