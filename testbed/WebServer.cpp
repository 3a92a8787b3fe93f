#include "WebServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

#include <httplib.h>

#include "stdafx.h"

namespace testbed {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxHead = 65536;
constexpr uint64_t kMaxBody = 256ull * 1024 * 1024;
constexpr int kIdleMs = 15000;   // a client that sends nothing for this long is dropped
constexpr int kLingerMs = 2000;  // waiting for the client to close after the answer
constexpr int kSplitGapMs = 100; // pause between the two halves of a split status line
constexpr char kUploadType[] = "application/x-tolvane-upload";

const std::string kStep2Page = "/configuration/SystemStatus/step2.shtml";

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void CloseFd(int& fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Waits until fd has the events or stopFd becomes readable: 1 ready, 0 timed
// out, -1 stopped or failed.
int WaitReady(int fd, short events, int stopFd, int timeoutMs)
{
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        int r = ::poll(p, 2, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || (p[1].revents & POLLIN))
            return -1;
        if (r == 0)
            return 0;
        return 1;
    }
}

bool SendAllTo(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Sleeps unless stopped; false when stopped.
bool Pause(int stopFd, int ms)
{
    pollfd p{stopFd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 0;
}

} // namespace

struct WebServer::Impl {
    // Callbacks.
    std::mutex callbackLock;
    std::string noApplyPage; // under callbackLock; "" = every page
    PasswordLookup lookup;
    ApplyCells apply;
    PackageHandler packages;

    // The HTTP server behind the front listener.
    std::unique_ptr<httplib::Server> http;
    std::thread httpThread;
    int httpPort = -1;

    // Front listener.
    sockaddr_in bound{};
    int listenFd = -1;
    bool listening = false;
    int stopPipe[2] = {-1, -1};
    int wakePipe[2] = {-1, -1};
    std::thread acceptThread;
    std::atomic<bool> started{false};

    // Faults.
    std::atomic<Fault> fault{Fault::None};
    std::atomic<unsigned> lateMs{0};
    std::mutex stateLock;
    std::condition_variable stateChanged;
    uint64_t wantedEpoch = 0;
    uint64_t appliedEpoch = 0;

    // Connections.
    struct Connection {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    std::mutex connLock;
    std::list<Connection> connections;

    std::atomic<unsigned> accepted{0};
    std::atomic<unsigned> requests{0};
    std::atomic<unsigned> applied{0};
    std::atomic<unsigned> received{0};

    // The last requests as received (see RecordedRequest).
    mutable std::mutex recordLock;
    std::deque<std::string> recorded;
    unsigned recordedTotal = 0;
    void Record(const std::string& head, const std::string& body);

    bool Authorized(const httplib::Request& req);
    void Deny(httplib::Response& res);
    void SetupRoutes();
    int Placeholder();
    void AcceptLoop();
    void ApplyListenState();
    void Serve(int client, Fault mode, unsigned late);
    void Reap(bool all);
};

// ---------------------------------------------------------------------------
// Pages

bool WebServer::Impl::Authorized(const httplib::Request& req)
{
    if (fault.load() == Fault::Unauthorized)
        return false;
    std::string header = req.get_header_value("Authorization");
    if (header.compare(0, 6, "Basic ") != 0)
        return false;
    std::string decoded = Base64Decode(header.substr(6));
    size_t colon = decoded.find(':');
    if (colon == std::string::npos)
        return false;
    PasswordLookup copy;
    {
        std::lock_guard<std::mutex> guard(callbackLock);
        copy = lookup;
    }
    if (!copy)
        return false;
    std::optional<std::string> password = copy(decoded.substr(0, colon));
    return password && *password == decoded.substr(colon + 1);
}

void WebServer::Impl::Deny(httplib::Response& res)
{
    res.status = 401;
    res.set_header("WWW-Authenticate", "Basic realm=\"NAS\"");
    res.set_content("<html><body>401 Unauthorized</body></html>", "text/html");
}

void WebServer::Impl::SetupRoutes()
{
    http->Get("/", [this](const httplib::Request& req, httplib::Response& res) {
        ++requests;
        if (!Authorized(req))
            return Deny(res);
        res.set_content("<html><head><title>NAS</title></head><body>NAS</body></html>", "text/html");
    });

    http->Post("/cgi-bin/setobject", [this](const httplib::Request& req, httplib::Response& res) {
        ++requests;
        if (!Authorized(req))
            return Deny(res);
        size_t q = req.target.find('?');
        std::string page = q == std::string::npos ? std::string() : req.target.substr(q + 1);
        const auto& pages = FormPages();
        if (std::find(pages.begin(), pages.end(), page) == pages.end()) {
            res.status = 404;
            res.set_content("no such page", "text/plain");
            return;
        }
        std::vector<FormCell> cells;
        std::string error;
        if (!ParseFormCells(req.body, page != kStep2Page, cells, &error)) {
            DebugTrace("web: %s refused: %s\n", page.c_str(), error.c_str());
            res.status = 400;
            res.set_content(error, "text/plain");
            return;
        }
        bool skip = false;
        ApplyCells copy;
        {
            std::lock_guard<std::mutex> guard(callbackLock);
            copy = apply;
            skip = fault.load() == Fault::OkWithoutApply &&
                   (noApplyPage.empty() || page.find(noApplyPage) != std::string::npos);
        }
        if (!skip) {
            if (copy && !copy(page, cells)) {
                res.status = 400;
                res.set_content("form refused", "text/plain");
                return;
            }
            ++applied;
        }
        res.set_content("<html><body>OK</body></html>", "text/html");
    });

    http->Post("/cgi-bin/remoteinstall", [this](const httplib::Request& req, httplib::Response& res) {
        ++requests;
        if (!Authorized(req))
            return Deny(res);
        std::string type = req.get_header_value("Content-Type");
        size_t b = type.find("boundary=");
        std::string package, error;
        if (type.compare(0, sizeof kUploadType - 1, kUploadType) != 0 || b == std::string::npos ||
            !ParseRemoteInstallBody(req.body, type.substr(b + 9), package, &error)) {
            res.status = 400;
            res.set_content(error.empty() ? "not a package upload" : error, "text/plain");
            return;
        }
        PackageHandler copy;
        {
            std::lock_guard<std::mutex> guard(callbackLock);
            copy = packages;
        }
        ++received;
        if (copy)
            copy(package);
        res.set_content("<html><body>Package received</body></html>", "text/html");
    });
}

// ---------------------------------------------------------------------------
// Front listener

// A socket bound to the port but not listening: connections are refused
// while the port stays ours.
int WebServer::Impl::Placeholder()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&bound), sizeof bound) == 0)
            return fd;
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

void WebServer::Impl::ApplyListenState()
{
    bool refuse = fault.load() == Fault::Refuse;
    if (refuse && listening) {
        CloseFd(listenFd);
        listenFd = Placeholder();
        listening = false;
    } else if (!refuse && !listening) {
        if (listenFd < 0)
            listenFd = Placeholder();
        if (listenFd >= 0 && ::listen(listenFd, 64) == 0)
            listening = true;
    }
}

void WebServer::Impl::AcceptLoop()
{
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(stateLock);
            ApplyListenState();
            appliedEpoch = wantedEpoch;
        }
        stateChanged.notify_all();

        pollfd p[3] = {{stopPipe[0], POLLIN, 0}, {wakePipe[0], POLLIN, 0}, {listening ? listenFd : -1, POLLIN, 0}};
        int r = ::poll(p, 3, 200);
        if (r < 0 && errno != EINTR)
            break;
        if (p[0].revents & POLLIN)
            break;
        if (p[1].revents & POLLIN) {
            char drain[64];
            while (::read(wakePipe[0], drain, sizeof drain) > 0) {
            }
        }
        if (listening && (p[2].revents & POLLIN)) {
            int client = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                ++accepted;
                Fault mode = fault.load();
                unsigned late = lateMs.load();
                std::lock_guard<std::mutex> guard(connLock);
                connections.emplace_back();
                Connection& c = connections.back();
                c.thread = std::thread([this, client, mode, late, &c] {
                    Serve(client, mode, late);
                    c.done = true;
                });
            }
        }
        Reap(false);
    }
}

void WebServer::Impl::Reap(bool all)
{
    std::list<Connection> finished;
    {
        std::lock_guard<std::mutex> guard(connLock);
        for (auto it = connections.begin(); it != connections.end();) {
            if (all || it->done.load()) {
                auto next = std::next(it);
                finished.splice(finished.end(), connections, it);
                it = next;
            } else {
                ++it;
            }
        }
    }
    for (Connection& c : finished)
        if (c.thread.joinable())
            c.thread.join();
}

void WebServer::Impl::Serve(int client, Fault mode, unsigned late)
{
    const int stopFd = stopPipe[0];
    timeval sendLimit{5, 0};
    ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    char buffer[16384];

    auto drainClient = [&](int limitMs) {
        const auto until = Clock::now() + std::chrono::milliseconds(limitMs);
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0 || WaitReady(client, POLLIN, stopFd, static_cast<int>(left)) != 1)
                return;
            ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
        }
    };

    // Appends what the client sends next; false once it is gone or idle
    // too long.
    auto receiveMore = [&](std::string& into) {
        if (WaitReady(client, POLLIN, stopFd, kIdleMs) != 1)
            return false;
        ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        into.append(buffer, static_cast<size_t>(n));
        return true;
    };

    if (mode == Fault::Silent) {
        // Read whatever comes and say nothing until the client gives up.
        drainClient(24 * 3600 * 1000);
        ::close(client);
        return;
    }

    // The request head.
    std::string request;
    size_t headEnd = std::string::npos;
    while (headEnd == std::string::npos) {
        if (request.size() > kMaxHead || !receiveMore(request)) {
            ::close(client);
            return;
        }
        headEnd = request.find("\r\n\r\n");
    }
    std::string head = request.substr(0, headEnd + 4);
    std::string rest = request.substr(headEnd + 4);

    // Content-Length decides where the request ends; what the client sends
    // after it (the NUL byte, a line break) is read and dropped.
    uint64_t contentLength = 0;
    std::string rewritten;
    bool upload = head.compare(0, 28, "POST /cgi-bin/remoteinstall ") == 0;
    size_t lineStart = 0;
    while (lineStart < head.size()) {
        size_t lineEnd = head.find("\r\n", lineStart);
        std::string line = head.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        std::string lower = Lower(line);
        if (lower.compare(0, 15, "content-length:") == 0) {
            std::string digits = line.substr(15);
            digits.erase(0, digits.find_first_not_of(" \t"));
            errno = 0;
            char* end = nullptr;
            unsigned long long v = std::strtoull(digits.c_str(), &end, 10);
            if (digits.empty() || errno != 0 || (end && *end != '\0' && *end != ' ') || v > kMaxBody) {
                const char bad[] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
                SendAllTo(client, bad, sizeof bad - 1);
                ::close(client);
                return;
            }
            contentLength = v;
        }
        // The upload's multipart framing is the device's own (its boundary
        // lines lack the leading "--"), so the page parses it itself.
        if (upload && lower.compare(0, 13, "content-type:") == 0 &&
            lower.find("multipart/form-data") != std::string::npos) {
            size_t b = line.find("boundary=");
            line = std::string("Content-Type: ") + kUploadType +
                   (b == std::string::npos ? std::string() : "; " + line.substr(b));
        }
        if (!line.empty())
            rewritten += line + "\r\n";
    }
    rewritten += "\r\n";

    while (rest.size() < contentLength) {
        if (!receiveMore(rest)) {
            ::close(client);
            return;
        }
    }
    rest.resize(contentLength);
    Record(head, rest);

    // Hand the request to the HTTP server.
    int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(httpPort));
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (upstream < 0 || ::connect(upstream, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        !SendAllTo(upstream, rewritten.data(), rewritten.size()) || !SendAllTo(upstream, rest.data(), rest.size())) {
        if (upstream >= 0)
            ::close(upstream);
        ::close(client);
        return;
    }
    const auto requestDone = Clock::now();

    // Pass the answer back, dropping what else the client sends.
    int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    bool first = true;
    bool clientOpen = true;
    bool stopped = false;
    for (;;) {
        pollfd p[3] = {{upstream, POLLIN, 0}, {clientOpen ? client : -1, POLLIN, 0}, {stopFd, POLLIN, 0}};
        int r = ::poll(p, 3, kIdleMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0 || (p[2].revents & POLLIN)) {
            stopped = r != 0;
            break;
        }
        if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                clientOpen = false;
        }
        if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = ::recv(upstream, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            size_t size = static_cast<size_t>(n);
            if (first && mode == Fault::Late) {
                auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - requestDone);
                if (waited.count() < late && !Pause(stopFd, static_cast<int>(late - waited.count()))) {
                    stopped = true;
                    break;
                }
            }
            if (first && mode == Fault::SplitStatus) {
                std::string text(buffer, size);
                size_t ok = text.find("200 OK");
                size_t cut = ok != std::string::npos ? ok + 4 : (size > 1 ? size / 2 : size);
                if (!SendAllTo(client, buffer, cut) || !Pause(stopFd, kSplitGapMs) ||
                    !SendAllTo(client, buffer + cut, size - cut)) {
                    stopped = true;
                    break;
                }
            } else if (!SendAllTo(client, buffer, size)) {
                break;
            }
            first = false;
        }
    }
    ::close(upstream);
    if (!stopped && clientOpen) {
        // Close gently: let the client read the answer and close first, so
        // bytes it sent after the request do not turn our close into a reset.
        ::shutdown(client, SHUT_WR);
        drainClient(kLingerMs);
    }
    ::close(client);
}

void WebServer::Impl::Record(const std::string& head, const std::string& body)
{
    std::lock_guard<std::mutex> guard(recordLock);
    recorded.push_back(head + body);
    if (recorded.size() > kKeptRequests)
        recorded.pop_front();
    ++recordedTotal;
}

// ---------------------------------------------------------------------------

const std::vector<std::string>& WebServer::FormPages()
{
    static const std::vector<std::string> pages = {
        "/configuration/ShareManagement/PrivateFolder.shtml",
        "/configuration/ShareManagement/UserManagement.shtml",
        "/configuration/ShareManagement/UserGroup.shtml",
        "/configuration/ShareManagement/QuotaManagement.shtml",
        kStep2Page,
    };
    return pages;
}

WebServer::WebServer() : m(std::make_unique<Impl>()) {}

WebServer::~WebServer() { Stop(); }

void WebServer::SetPasswordLookup(PasswordLookup lookup)
{
    std::lock_guard<std::mutex> guard(m->callbackLock);
    m->lookup = std::move(lookup);
}

void WebServer::SetApplyCells(ApplyCells apply)
{
    std::lock_guard<std::mutex> guard(m->callbackLock);
    m->apply = std::move(apply);
}

void WebServer::SetPackageHandler(PackageHandler handler)
{
    std::lock_guard<std::mutex> guard(m->callbackLock);
    m->packages = std::move(handler);
}

bool WebServer::Start(const std::string& address, uint16_t port)
{
    if (m->started)
        return false;
    m->bound = sockaddr_in{};
    m->bound.sin_family = AF_INET;
    m->bound.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &m->bound.sin_addr) != 1)
        return false;

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t len = sizeof m->bound;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&m->bound), sizeof m->bound) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&m->bound), &len) != 0) {
        ::close(fd);
        return false;
    }
    m->listenFd = fd;
    m->listening = false;

    m->http = std::make_unique<httplib::Server>();
    m->http->set_keep_alive_max_count(1);
    m->http->set_read_timeout(10, 0);
    m->http->set_write_timeout(10, 0);
    m->http->set_payload_max_length(kMaxBody);
    m->SetupRoutes();
    m->httpPort = m->http->bind_to_any_port("127.0.0.1");
    if (m->httpPort <= 0 || ::pipe2(m->stopPipe, O_CLOEXEC) != 0 || ::pipe2(m->wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        CloseFd(m->listenFd);
        CloseFd(m->stopPipe[0]);
        CloseFd(m->stopPipe[1]);
        m->http.reset();
        return false;
    }
    httplib::Server* http = m->http.get();
    m->httpThread = std::thread([http] { http->listen_after_bind(); });
    for (int i = 0; i < 5000 && !m->http->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    {
        std::lock_guard<std::mutex> guard(m->stateLock);
        m->ApplyListenState(); // listening (or refusing) before Start returns
    }
    m->acceptThread = std::thread([this] { m->AcceptLoop(); });
    m->started = true;
    return true;
}

void WebServer::Stop()
{
    if (!m->started)
        return;
    m->started = false;
    char byte = 1;
    if (::write(m->stopPipe[1], &byte, 1) != 1)
        DebugTrace("web: cannot signal stop\n");
    if (m->acceptThread.joinable())
        m->acceptThread.join();
    m->Reap(true);
    m->http->stop();
    if (m->httpThread.joinable())
        m->httpThread.join();
    m->http.reset();
    CloseFd(m->listenFd);
    m->listening = false;
    m->stateChanged.notify_all();
    for (int* fd : {&m->stopPipe[0], &m->stopPipe[1], &m->wakePipe[0], &m->wakePipe[1]})
        CloseFd(*fd);
}

uint16_t WebServer::Port() const { return ntohs(m->bound.sin_port); }

void WebServer::SetFault(Fault fault, unsigned lateMs, const std::string& noApplyPage)
{
    m->lateMs = lateMs;
    {
        std::lock_guard<std::mutex> guard(m->callbackLock);
        m->noApplyPage = noApplyPage;
    }
    std::unique_lock<std::mutex> guard(m->stateLock);
    m->fault = fault;
    if (!m->started) {
        return;
    }
    uint64_t epoch = ++m->wantedEpoch;
    char byte = 1;
    if (::write(m->wakePipe[1], &byte, 1) != 1)
        DebugTrace("web: cannot wake the listener\n");
    m->stateChanged.wait(guard, [&] { return m->appliedEpoch >= epoch || !m->started; });
}

WebServer::Fault WebServer::GetFault() const { return m->fault.load(); }
unsigned WebServer::Connections() const { return m->accepted.load(); }
unsigned WebServer::Requests() const { return m->requests.load(); }
unsigned WebServer::FormsApplied() const { return m->applied.load(); }
unsigned WebServer::PackagesReceived() const { return m->received.load(); }

unsigned WebServer::RecordedRequests() const
{
    std::lock_guard<std::mutex> guard(m->recordLock);
    return m->recordedTotal;
}

std::optional<std::string> WebServer::RecordedRequest(long index) const
{
    std::lock_guard<std::mutex> guard(m->recordLock);
    const long total = static_cast<long>(m->recordedTotal);
    if (index < 0)
        index += total;
    const long first = total - static_cast<long>(m->recorded.size());
    if (index < first || index >= total)
        return std::nullopt;
    return m->recorded[static_cast<size_t>(index - first)];
}

} // namespace testbed
