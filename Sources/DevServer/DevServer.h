// The local stand-in for the backend and the analytics services on real HTTP over loopback
// (cpp-httplib): what DevBackend answers, served on its own threads. Used by the tests (an
// ephemeral port) and by the `kestrel-devserver` program; the application never links it. Every
// public call is safe from any thread.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "DevServer/DevBackend.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace kestrel::devserver {

class DevServer : public DevBackend {
public:
    struct Options {
        std::string host = "127.0.0.1";
        int port = 0;  // 0: an ephemeral port
        // Told a line for each e-mailed code (the program prints it). On a server thread.
        Announce announce;
    };

    DevServer();
    explicit DevServer(Options options);
    ~DevServer() override;  // stops

    // Binds and starts serving on its own thread; false when the address cannot be bound.
    bool start();
    // Waits for requests being answered, then stops. Idempotent.
    void stop();
    int port() const { return port_; }
    // "http://HOST:PORT", no trailing slash.
    std::string url() const;

private:
    void handle(const httplib::Request& request, const std::string& body, httplib::Response& response);

    Options options_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
};

}  // namespace kestrel::devserver
