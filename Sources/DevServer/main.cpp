// kestrel-devserver: the local stand-in for the backend and the analytics services, for demos.
// Serves until interrupted; prints the sign-in codes it "e-mails".
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <string_view>

#include "DevServer/DevServer.h"

namespace {
int usage() {
    std::cerr << "usage: kestrel-devserver [--port N] [--host ADDRESS]\n"
                 "  --port N        port to listen on (default 8787; 0 picks a free one)\n"
                 "  --host ADDRESS  address to bind (default 127.0.0.1)\n";
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    kestrel::devserver::DevServer::Options options;
    options.port = 8787;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if ((arg == "--port" || arg == "--host") && i + 1 < argc) {
            std::string value = argv[++i];
            if (arg == "--host") {
                options.host = value;
                continue;
            }
            char* end = nullptr;
            long port = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || port < 0 || port > 65535) return usage();
            options.port = static_cast<int>(port);
        } else if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        } else {
            return usage();
        }
    }

    // Signals are taken by sigwait below, so every thread started from here on blocks them. A
    // signal ignored on entry (SIGINT for a background job of a script) would never arrive.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::mutex printing;
    options.announce = [&printing](const std::string& line) {
        std::lock_guard lock(printing);
        std::cout << "kestrel-devserver: " << line << std::endl;
    };
    kestrel::devserver::DevServer server(options);
    if (!server.start()) {
        std::cerr << "kestrel-devserver: cannot listen on " << options.host << ":" << options.port
                  << "\n";
        return 1;
    }
    {
        std::lock_guard lock(printing);
        std::cout << "kestrel-devserver: listening on " << server.url() << std::endl;
    }
    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    return 0;
}
