#include "Desktop/CurlHttp.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cmath>
#include <mutex>
#include <set>

namespace desktop {

namespace {

// Before main, so before any thread starts (see globalInit).
const bool initialisedBeforeMain = (CurlHttp::globalInit(), true);

// One easy handle per thread, reused so that connections stay alive; never shared between threads.
class ThreadHandle {
public:
    ~ThreadHandle() {
        if (handle_) curl_easy_cleanup(handle_);
    }
    CURL* get() {
        if (!handle_) handle_ = curl_easy_init();
        return handle_;
    }

private:
    CURL* handle_ = nullptr;
};

CURL* threadHandle() {
    thread_local ThreadHandle handle;
    return handle.get();
}

// The calling thread's multi handle: it runs the thread's transfers one at a time and keeps their
// connections alive between calls.
class ThreadMulti {
public:
    ~ThreadMulti() {
        if (multi_) curl_multi_cleanup(multi_);
    }
    CURLM* get() {
        if (!multi_) multi_ = curl_multi_init();
        return multi_;
    }

private:
    CURLM* multi_ = nullptr;
};

CURLM* threadMulti() {
    thread_local ThreadMulti multi;
    return multi.get();
}

struct Transfer {
    size_t cap = 0;
    bool overCap = false;
    std::string body;
    HttpHeaders headers;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    size_t n = size * count;
    if (transfer->body.size() + n > transfer->cap) {
        transfer->overCap = true;
        return 0;  // aborts the transfer with CURLE_WRITE_ERROR
    }
    transfer->body.append(data, n);
    return n;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    size_t n = size * count;
    std::string_view line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    // A new status line (an interim 100, a proxy's CONNECT answer) starts a new header block.
    if (line.starts_with("HTTP/")) {
        transfer->headers.clear();
        return n;
    }
    auto colon = line.find(':');
    if (colon == std::string_view::npos) return n;
    auto value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    transfer->headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
    return n;
}

TransportError error(TransportError::Kind kind) { return transportError(kind); }

TransportError mapError(CURLcode code, const Transfer& transfer) {
    using K = TransportError::Kind;
    if (transfer.overCap || code == CURLE_FILESIZE_EXCEEDED) return error(K::responseTooLarge);
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT: return error(K::invalidUrl);
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY: return error(K::cannotFindHost);
        case CURLE_COULDNT_CONNECT: return error(K::cannotConnect);
        case CURLE_OPERATION_TIMEDOUT: return error(K::timedOut);
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM: return error(K::connectionLost);
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE: return error(K::secureConnection);
        default: break;
    }
    auto e = error(K::other);
    e.message += std::string(" (") + curl_easy_strerror(code) + ")";
    return e;
}

bool sameOrigin(const Url& a, const Url& b) {
    auto port = [](const Url& u) { return u.port.value_or(u.scheme == "https" ? 443 : 80); };
    return a.scheme == b.scheme && a.host == b.host && port(a) == port(b);
}

bool isRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

bool hasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
    bool append(const std::string& line) {
        auto* next = curl_slist_append(list, line.c_str());
        if (!next) return false;
        list = next;
        return true;
    }
};

}  // namespace

struct CurlHttp::InFlight {
    std::mutex mutex;
    std::set<CURLM*> multis;  // of the transfers running now
    bool shutDown = false;

    // Runs one prepared transfer to its end, or until shutDown() wakes its wait; a transfer ended
    // (or refused) by the shutdown answers CURLE_ABORTED_BY_CALLBACK.
    CURLcode perform(CURL* easy) {
        CURLM* multi = threadMulti();
        if (!multi) return CURLE_OUT_OF_MEMORY;
        {
            std::lock_guard lock(mutex);
            if (shutDown) return CURLE_ABORTED_BY_CALLBACK;
            multis.insert(multi);
        }
        curl_multi_add_handle(multi, easy);
        CURLcode result = CURLE_ABORTED_BY_CALLBACK;
        for (;;) {
            {
                std::lock_guard lock(mutex);
                if (shutDown) break;
            }
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                result = CURLE_RECV_ERROR;
                break;
            }
            int left = 0;
            CURLMsg* message = curl_multi_info_read(multi, &left);
            if (message && message->msg == CURLMSG_DONE) {
                result = message->data.result;
                break;
            }
            if (running == 0) {
                result = CURLE_GOT_NOTHING;
                break;
            }
            // Timeouts are the transfer's own (CURLOPT_TIMEOUT_MS); the wait only paces the loop.
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
        {
            std::lock_guard lock(mutex);
            multis.erase(multi);
        }
        curl_multi_remove_handle(multi, easy);
        return result;
    }

    void end() {
        std::lock_guard lock(mutex);
        shutDown = true;
        for (CURLM* multi : multis) curl_multi_wakeup(multi);
    }
};

void CurlHttp::globalInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        std::signal(SIGPIPE, SIG_IGN);
    });
}

CurlHttp::CurlHttp() : CurlHttp(Options{}) {}

CurlHttp::CurlHttp(Options options)
    : options_(std::move(options)), inFlight_(std::make_unique<InFlight>()) {
    globalInit();
}

CurlHttp::~CurlHttp() = default;

void CurlHttp::shutDown() { inFlight_->end(); }

void CurlHttp::setTimeoutLimit(std::optional<double> seconds) {
    timeoutLimit_.store(seconds && *seconds > 0 ? *seconds : 0);
}

HttpResult CurlHttp::send(const HttpRequest& request) {
    using K = TransportError::Kind;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    double total = request.timeoutSeconds > 0 ? request.timeoutSeconds : 60;
    if (double limit = timeoutLimit_.load(); limit > 0) total = std::min(total, limit);

    for (const auto& [name, value] : request.headers) {
        // A line break in a header would let a value (a token from a server) write headers.
        if (name.empty() || hasLineBreakOrNul(name) || hasLineBreakOrNul(value) ||
            name.find(':') != std::string::npos)
            return std::unexpected(TransportError{K::other, "The request has an invalid header."});
    }
    auto firstUrl = Url::parse(request.url);
    if (!firstUrl) return std::unexpected(error(K::invalidUrl));
    CURL* h = threadHandle();
    if (!h) return std::unexpected(error(K::other));

    Url url = *firstUrl;
    std::string method = request.method;
    std::optional<std::string> body = request.body;
    bool keepAuthorization = true;

    for (int redirects = 0;; ++redirects) {
        if (options_.mayVisit && !options_.mayVisit(url)) return std::unexpected(error(K::offline));
        double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        double remaining = total - elapsed;
        if (remaining <= 0) return std::unexpected(error(K::timedOut));
        auto remainingMs = std::max<long>(1, std::lround(remaining * 1000));
        auto connectMs = std::min<long>(remainingMs, std::lround(options_.connectTimeoutSeconds * 1000));

        curl_easy_reset(h);  // keeps live connections and caches, drops every option
        Transfer transfer;
        transfer.cap = options_.maxResponseBytes;
        curl_easy_setopt(h, CURLOPT_URL, url.text.c_str());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, remainingMs);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
        // Verification stays on whatever the configuration; the CA bundle is libcurl's default,
        // the system's.
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);  // followed below, one hop at a time
        // Bytes that are not an HTTP response are an answer (status 0), not a failure.
        curl_easy_setopt(h, CURLOPT_HTTP09_ALLOWED, 1L);
        curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(options_.maxResponseBytes));
        // libcurl reads the proxy variables itself; loopback never goes through a proxy.
        if (url.isLoopback()) curl_easy_setopt(h, CURLOPT_PROXY, "");
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);

        if (body) {
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, body->data());
            if (method != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
        } else if (method == "GET") {
            curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        } else if (method == "HEAD") {
            curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
        } else {
            curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
        }

        HeaderList headers;
        bool listOk = true;
        for (const auto& [name, value] : request.headers) {
            if (!keepAuthorization && equalsIgnoringCase(name, "authorization")) continue;
            // "Name;" is libcurl's way to send a header with an empty value.
            listOk &= headers.append(value.empty() ? name + ";" : name + ": " + value);
        }
        listOk &= headers.append("Expect:");  // no 100-continue round trip for large bodies
        if (!listOk) return std::unexpected(error(K::other));
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.list);

        CURLcode rc = inFlight_->perform(h);
        if (rc == CURLE_ABORTED_BY_CALLBACK) return std::unexpected(error(K::cancelled));
        if (rc != CURLE_OK) return std::unexpected(mapError(rc, transfer));

        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        char* location = nullptr;
        curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location);
        std::optional<Url> next;
        if (isRedirect(status) && location) next = Url::parse(location);
        if (!next) {
            return HttpResponse{static_cast<int64_t>(status), std::move(transfer.headers),
                                std::move(transfer.body), url.text};
        }
        if (redirects == kMaxRedirects) return std::unexpected(error(K::tooManyRedirects));
        // As browsers and the platform's loader do: 303 becomes GET; so do 301 and 302 after POST.
        if ((status == 303 && method != "HEAD") || ((status == 301 || status == 302) && method == "POST")) {
            method = "GET";
            body.reset();
        }
        if (!sameOrigin(*next, *firstUrl)) keepAuthorization = false;
        url = std::move(*next);
    }
}

}  // namespace desktop
