// The libcurl transport and the simulated desktop's transport, over real loopback HTTP.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>

#include "BackendSupport.h"
#include "Desktop/CurlHttp.h"
#include "Desktop/LoopbackHttp.h"

using desktop::CurlHttp;
using desktop::HttpRequest;
using desktop::TransportError;
using testing_support::RawPeer;

namespace {

// A cpp-httplib server on an ephemeral loopback port, served from its own thread.
class LoopbackServer {
public:
    explicit LoopbackServer(std::unique_ptr<httplib::Server> server = std::make_unique<httplib::Server>())
        : server_(std::move(server)) {
        server_->set_tcp_nodelay(true);
        // stop() waits for idle keep-alive connections, which the clients' reused handles hold.
        server_->set_keep_alive_max_count(1);
    }
    ~LoopbackServer() { stop(); }
    httplib::Server& operator*() { return *server_; }
    httplib::Server* operator->() { return server_.get(); }
    void start() {
        port_ = server_->bind_to_any_port("127.0.0.1");
        thread_ = std::thread([s = server_.get()] { s->listen_after_bind(); });
        while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    void stop() {
        if (!thread_.joinable()) return;
        server_->stop();
        thread_.join();
    }
    std::string url(const std::string& host = "127.0.0.1") const {
        return "http://" + host + ":" + std::to_string(port_);
    }

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
};

HttpRequest get(std::string url, desktop::HttpHeaders headers = {}) {
    HttpRequest r;
    r.url = std::move(url);
    r.headers = std::move(headers);
    return r;
}

class HttpTests : public ::testing::Test {
protected:
    CurlHttp http;
    LoopbackServer server;
    std::mutex seenMutex;
    std::vector<std::pair<std::string, std::string>> seen;  // path, authorization

    // Registers the catch-all answers after a test's own handlers (the first match wins) and
    // starts serving.
    void startServer() {
        server->Get(".*", [this](const httplib::Request& rq, httplib::Response& rs) {
            {
                std::lock_guard lock(seenMutex);
                seen.emplace_back(rq.path, rq.get_header_value("Authorization"));
            }
            rs.set_content("ok " + rq.path, "text/plain");
        });
        server->Post("/echo", [](const httplib::Request& rq, httplib::Response& rs) {
            std::string headers;
            for (const auto& [k, v] : rq.headers) headers += k + "=" + v + "\n";
            rs.set_content(rq.body + "\n--\n" + headers, "text/plain");
        });
        server.start();
    }
};

TEST_F(HttpTests, SendsHeadersAndBodyAndAnswersStatusHeadersBody) {
    server->Get("/teapot", [](const httplib::Request&, httplib::Response& rs) {
        rs.status = 418;
        rs.set_content("short and stout", "text/plain");
    });
    startServer();
    HttpRequest r;
    r.method = "POST";
    r.url = server.url() + "/echo";
    r.headers = {{"content-type", "application/json"}, {"x-kestrel", "1"}};
    r.body = R"({"a":1})";
    auto result = http.send(r);
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_EQ(result->status, 200);
    EXPECT_TRUE(result->body.starts_with("{\"a\":1}\n--\n"));
    EXPECT_NE(result->body.find("content-type=application/json"), std::string::npos);
    EXPECT_NE(result->body.find("x-kestrel=1"), std::string::npos);
    EXPECT_EQ(result->body.find("Expect="), std::string::npos) << "no 100-continue round trip";
    EXPECT_EQ(desktop::headerValue(result->headers, "CONTENT-TYPE"), "text/plain");
    // A status code is an answer, not an error.
    auto teapot = http.send(get(server.url() + "/teapot"));
    ASSERT_TRUE(teapot);
    EXPECT_EQ(teapot->status, 418);
    EXPECT_EQ(teapot->body, "short and stout");
}

TEST_F(HttpTests, FailuresSayWhatWentWrong) {
    startServer();
    int closedPort;
    {
        RawPeer closed(RawPeer::Mode::answerAndClose);
        closedPort = closed.port();
    }
    RawPeer silent(RawPeer::Mode::answerAndClose, "");
    RawPeer neverAnswers(RawPeer::Mode::neverAnswer);
    auto ownTimeout = get(neverAnswers.url());
    ownTimeout.timeoutSeconds = 0.2;
    struct Case {
        const char* what;
        HttpRequest request;
        TransportError::Kind kind;
    };
    for (const auto& c : std::vector<Case>{
             {"refused", get("http://127.0.0.1:" + std::to_string(closedPort) + "/"), TransportError::Kind::cannotConnect},
             {"closed unanswered", get(silent.url()), TransportError::Kind::connectionLost},
             {"own timeout", ownTimeout, TransportError::Kind::timedOut}}) {
        auto result = http.send(c.request);
        ASSERT_FALSE(result) << c.what;
        EXPECT_EQ(result.error().kind, c.kind) << c.what;
    }
    // The transport's limit ends a request that carries no timeout of its own.
    http.setTimeoutLimit(0.25);
    auto started = std::chrono::steady_clock::now();
    auto result = http.send(get(neverAnswers.url()));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, TransportError::Kind::timedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST_F(HttpTests, BytesThatAreNotHttpAreAnAnswerWithStatusZero) {
    startServer();
    RawPeer peer(RawPeer::Mode::answerAndClose, "SSH-2.0-OpenSSH\r\n");
    auto result = http.send(get(peer.url()));
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_EQ(result->status, 0);
    EXPECT_EQ(result->body, "SSH-2.0-OpenSSH\r\n");
}

TEST_F(HttpTests, BodiesOverTheCapAreRefused) {
    CurlHttp small(CurlHttp::Options{.maxResponseBytes = 1000});
    server->Get("/exact", [](const httplib::Request&, httplib::Response& rs) {
        rs.set_content(std::string(1000, 'x'), "text/plain");
    });
    server->Get("/over", [](const httplib::Request&, httplib::Response& rs) {
        rs.set_content(std::string(1001, 'x'), "text/plain");
    });
    // Without a length announced in advance: the cap is enforced while reading.
    server->Get("/chunked", [](const httplib::Request&, httplib::Response& rs) {
        rs.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
            if (offset >= 5000) {
                sink.done();
                return true;
            }
            std::string chunk(500, 'y');
            return sink.write(chunk.data(), chunk.size());
        });
    });
    server->Get("/huge", [](const httplib::Request&, httplib::Response& rs) {
        rs.set_content(std::string(desktop::Http::kMaxResponseBytes + 1, 'z'), "text/plain");
    });
    startServer();
    auto exact = small.send(get(server.url() + "/exact"));
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->body.size(), 1000u);
    for (const char* path : {"/over", "/chunked"}) {
        auto over = small.send(get(server.url() + path));
        ASSERT_FALSE(over) << path;
        EXPECT_EQ(over.error().kind, TransportError::Kind::responseTooLarge) << path;
    }
    // The default cap, 8 MiB.
    auto huge = http.send(get(server.url() + "/huge"));
    ASSERT_FALSE(huge);
    EXPECT_EQ(huge.error().kind, TransportError::Kind::responseTooLarge);
}

TEST_F(HttpTests, RefusesWhatIsNotAnHttpUrlAndHeadersWithLineBreaks) {
    startServer();
    for (const char* url : {"file:///etc/passwd", "ftp://127.0.0.1/", "not a url", ""}) {
        auto result = http.send(get(url));
        ASSERT_FALSE(result) << url;
        EXPECT_EQ(result.error().kind, TransportError::Kind::invalidUrl) << url;
    }
    auto result = http.send(get(server.url(), {{"authorization", "Bearer a\r\nx-evil: 1"}}));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, TransportError::Kind::other);
    EXPECT_TRUE(seen.empty()) << "nothing was sent";
}

TEST_F(HttpTests, RedirectsKeepTheAuthorizationOnTheSameOriginOnly) {
    LoopbackServer other;
    other->Get(".*", [this](const httplib::Request& rq, httplib::Response& rs) {
        std::lock_guard lock(seenMutex);
        seen.emplace_back("other" + rq.path, rq.get_header_value("Authorization"));
        rs.set_content("elsewhere", "text/plain");
    });
    other.start();
    server->Get("/same", [](const httplib::Request&, httplib::Response& rs) {
        rs.set_redirect("/landing", 302);
    });
    std::string away = other.url() + "/away";
    server->Get("/cross", [away](const httplib::Request&, httplib::Response& rs) {
        rs.set_redirect(away, 307);
    });
    startServer();
    auto same = http.send(get(server.url() + "/same", {{"authorization", "Bearer secret"}}));
    ASSERT_TRUE(same);
    EXPECT_EQ(same->body, "ok /landing");
    EXPECT_EQ(same->url, server.url() + "/landing");
    auto cross = http.send(get(server.url() + "/cross", {{"authorization", "Bearer secret"}}));
    ASSERT_TRUE(cross);
    EXPECT_EQ(cross->body, "elsewhere");
    std::lock_guard lock(seenMutex);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(std::string("/landing"), std::string("Bearer secret")));
    EXPECT_EQ(seen[1], std::make_pair(std::string("other/away"), std::string()));
}

TEST_F(HttpTests, AtMostFiveRedirectsAndSeeOtherTurnsAPostIntoAGet) {
    server->Get(R"(/hop/(\d+))", [](const httplib::Request& rq, httplib::Response& rs) {
        int n = std::stoi(rq.matches[1]);
        if (n == 0) return rs.set_content("landed", "text/plain");
        rs.set_redirect("/hop/" + std::to_string(n - 1), 302);
    });
    server->Post("/form", [](const httplib::Request&, httplib::Response& rs) { rs.set_redirect("/hop/0", 303); });
    startServer();
    HttpRequest post = get(server.url() + "/form");
    post.method = "POST";
    post.body = "x";
    auto seeOther = http.send(post);
    ASSERT_TRUE(seeOther);
    EXPECT_EQ(seeOther->body, "landed");
    auto five = http.send(get(server.url() + "/hop/5"));
    ASSERT_TRUE(five);
    EXPECT_EQ(five->body, "landed");
    auto six = http.send(get(server.url() + "/hop/6"));
    ASSERT_FALSE(six);
    EXPECT_EQ(six.error().kind, TransportError::Kind::tooManyRedirects);
}

TEST_F(HttpTests, LoopbackNeverGoesThroughAProxy) {
    startServer();
    RawPeer deadProxy(RawPeer::Mode::answerAndClose, "");
    ::setenv("http_proxy", deadProxy.url().c_str(), 1);
    auto result = http.send(get(server.url() + "/direct"));
    ::unsetenv("http_proxy");
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_EQ(result->body, "ok /direct");
    EXPECT_EQ(deadProxy.connections(), 0);
}

TEST_F(HttpTests, RequestsReuseOneConnection) {
    startServer();
    LoopbackServer keepAlive;
    keepAlive->set_keep_alive_max_count(1000);
    std::set<int> ports;
    std::mutex portsMutex;
    keepAlive->Get(".*", [&](const httplib::Request& rq, httplib::Response& rs) {
        std::lock_guard lock(portsMutex);
        ports.insert(rq.remote_port);
        rs.set_content("fast", "text/plain");
    });
    keepAlive.start();
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(http.send(get(keepAlive.url() + "/fast")));
    EXPECT_EQ(ports.size(), 1u);
    // Lets the server stop at once.
    ASSERT_TRUE(http.send(get(keepAlive.url() + "/last", {{"connection", "close"}})));
}

TEST_F(HttpTests, ManyThreadsAtOnce) {
    startServer();
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) ok += http.send(get(server.url() + "/parallel")).has_value();
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(ok, 100);
}

// ---- TLS ----

// A self-signed certificate for 127.0.0.1, written as PEM files.
void writeSelfSignedCertificate(const std::filesystem::path& cert, const std::filesystem::path& key) {
    EVP_PKEY* pkey = EVP_EC_gen("P-256");
    X509* x509 = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(x509), 1);
    X509_gmtime_adj(X509_getm_notBefore(x509), 0);
    X509_gmtime_adj(X509_getm_notAfter(x509), 3600);
    X509_set_pubkey(x509, pkey);
    X509_NAME* name = X509_get_subject_name(x509);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(x509, name);
    X509_sign(x509, pkey, EVP_sha256());
    FILE* f = std::fopen(cert.c_str(), "wb");
    PEM_write_X509(f, x509);
    std::fclose(f);
    f = std::fopen(key.c_str(), "wb");
    PEM_write_PrivateKey(f, pkey, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(f);
    X509_free(x509);
    EVP_PKEY_free(pkey);
}

TEST(HttpTlsTests, AnUntrustedCertificateIsRefused) {
    testing_support::ScratchDirectory dir;
    writeSelfSignedCertificate(dir.path() / "cert.pem", dir.path() / "key.pem");
    LoopbackServer tls(std::make_unique<httplib::SSLServer>((dir.path() / "cert.pem").c_str(),
                                                            (dir.path() / "key.pem").c_str()));
    bool reached = false;
    tls->Get(".*", [&](const httplib::Request&, httplib::Response& rs) {
        reached = true;
        rs.set_content("secret", "text/plain");
    });
    tls.start();
    CurlHttp http;
    std::string url = tls.url();
    url.replace(0, 4, "https");
    auto result = http.send(get(url + "/"));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, TransportError::Kind::secureConnection);
    EXPECT_FALSE(reached);
}

// ---- The simulated transport ----

class LoopbackHttpTests : public testing_support::SimDesktopTest {
protected:
    kestrel::devserver::DevServer server;
    LoopbackHttpTests() { EXPECT_TRUE(server.start()); }
};

TEST_F(LoopbackHttpTests, RecordsEveryRequestAndAnswersOtherHostsOfflineAtOnce) {
    auto& http = sim.simHttp();
    HttpRequest r;
    r.method = "POST";
    r.url = "https://api.mixpanel.com/track?ip=1";
    r.headers = {{"content-type", "application/json"}};
    r.body = "[]";
    auto started = std::chrono::steady_clock::now();
    auto result = http.send(r);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(50));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, TransportError::Kind::offline);
    for (const char* url : {"http://10.0.0.1/", "http://128.0.0.1/", "http://localhost.example.com/",
                            "http://127.0.0.1.nip.io/"}) {
        auto other = http.send(get(url));
        ASSERT_FALSE(other) << url;
        EXPECT_EQ(other.error().kind, TransportError::Kind::offline) << url;
    }
    ASSERT_EQ(http.requests().size(), 5u);
    EXPECT_EQ(http.requests()[0], r);
}

TEST_F(LoopbackHttpTests, ForwardsLoopbackHosts) {
    auto& http = sim.simHttp();
    std::string path = ":" + std::to_string(server.port()) + "/api/auth/config";
    for (std::string host : {"http://127.0.0.1", "http://localhost"}) {
        auto result = http.send(get(host + path));
        ASSERT_TRUE(result) << host << ": " << result.error().message;
        EXPECT_EQ(result->status, 200);
    }
    EXPECT_EQ(server.requests().size(), 2u);
    // The rest of 127.0.0.0/8 is tried too (nothing listens there: refused, not offline).
    auto other = http.send(get("http://127.1.2.3" + path));
    ASSERT_FALSE(other);
    EXPECT_EQ(other.error().kind, TransportError::Kind::cannotConnect);
}

TEST_F(LoopbackHttpTests, ARedirectOffTheMachineIsRefused) {
    LoopbackServer redirecting;
    redirecting->Get("/leave", [](const httplib::Request&, httplib::Response& rs) {
        rs.set_redirect("http://example.com/collect", 302);
    });
    redirecting.start();
    auto result = sim.simHttp().send(get(redirecting.url() + "/leave"));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, TransportError::Kind::offline);
}

}  // namespace

TEST(SimDesktopTeardownTests, EndsRequestsInFlightAtOnceAndQueuedOnesUnsent) {
    RawPeer silent(RawPeer::Mode::neverAnswer);
    auto sim = std::make_unique<desktop::sim::SimDesktop>();
    std::atomic<int> cancelled{0};
    // Two requests take both executor threads; the third waits in the queue.
    for (int i = 0; i < 3; ++i) {
        sim->executor().post([&cancelled, &http = sim->http(), url = silent.url()] {
            HttpRequest request;
            request.url = url;
            request.timeoutSeconds = 30;
            auto result = http.send(request);
            if (!result && result.error().kind == TransportError::Kind::cancelled) ++cancelled;
        });
    }
    for (int tries = 0; silent.connections() < 2 && tries < 500; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(silent.connections(), 2);

    auto started = std::chrono::steady_clock::now();
    sim.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_EQ(cancelled, 3);
    EXPECT_EQ(silent.connections(), 2);
}
