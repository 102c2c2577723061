#include "tests/support/http_test_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string_view>
#include <thread>

#include "tests/support/loopback_socket.h"

namespace orvik_test {
namespace {

using loopback::Socket;

constexpr int kPollMs = 20;                  // how soon a stop request is noticed
constexpr std::size_t kMaxHead = 64 * 1024;  // request line and headers

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return text;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// Request line and header lines of `head` (without the blank line); false when malformed.
bool parseHead(std::string_view head, HttpRequestRecord& request) {
    std::size_t end = head.find('\n');
    const std::string_view line = trim(head.substr(0, end));
    const std::size_t first = line.find(' ');
    const std::size_t second = line.find(' ', first + 1);
    if (first == 0 || first == std::string_view::npos || second == std::string_view::npos) return false;
    request.method = std::string(line.substr(0, first));
    request.target = std::string(line.substr(first + 1, second - first - 1));
    const std::size_t question = request.target.find('?');
    request.path = request.target.substr(0, question);
    request.query = question == std::string::npos ? std::string() : request.target.substr(question + 1);
    while (end != std::string_view::npos) {
        const std::size_t start = end + 1;
        end = head.find('\n', start);
        const std::string_view field = trim(head.substr(start, end == std::string_view::npos ? end : end - start));
        const std::size_t colon = field.find(':');
        if (colon == 0 || colon == std::string_view::npos) return field.empty();
        request.headers.emplace(lower(std::string(field.substr(0, colon))), std::string(trim(field.substr(colon + 1))));
    }
    return true;
}

// One accepted connection: reads one request, answers it and closes.
class Connection {
public:
    Connection(Socket socket, const std::atomic<bool>& stopping) : socket_(socket), stopping_(stopping) {}
    ~Connection() { loopback::closeSocket(socket_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool readRequest(HttpRequestRecord& request) {
        std::size_t headEnd;
        while ((headEnd = buffer_.find("\r\n\r\n")) == std::string::npos)
            if (buffer_.size() > kMaxHead || !receiveMore()) return false;
        if (!parseHead(std::string_view(buffer_).substr(0, headEnd), request)) return false;
        buffer_.erase(0, headEnd + 4);
        const std::size_t length = std::strtoull(request.header("content-length").c_str(), nullptr, 10);
        while (buffer_.size() < length)
            if (!receiveMore()) return false;
        request.body = buffer_.substr(0, length);
        return true;
    }

    void answer(const HttpReply& reply) {
        if (reply.closeAtOnce) return;
        if (reply.neverAnswer) return drain(Clock::time_point::max());
        std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " Reply\r\n";
        for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
        head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n";
        const long cut = std::max(reply.stallAfterBodyBytes, reply.closeAfterBodyBytes);
        const std::string_view body = std::string_view(reply.body).substr(0, cut >= 0 ? std::size_t(cut) : std::string::npos);
        if (!sendAll(head) || !sendAll(body)) return;
        if (reply.stallAfterBodyBytes >= 0) return drain(Clock::time_point::max());
        // Closing with unread input would reset the connection and could destroy the reply.
        loopback::shutdownSend(socket_);
        drain(Clock::now() + std::chrono::seconds(2));
    }

private:
    using Clock = std::chrono::steady_clock;

    bool receiveMore() {
        char chunk[16 * 1024];
        while (!stopping_) {
            const long received = loopback::receiveSome(socket_, chunk, sizeof chunk);
            if (received > 0) return buffer_.append(chunk, static_cast<std::size_t>(received)), true;
            if (received != loopback::kWouldBlock) return false;
            if (loopback::waitReady(socket_, false, kPollMs) == loopback::Ready::error) return false;
        }
        return false;
    }

    bool sendAll(std::string_view data) {
        while (!data.empty() && !stopping_) {
            const long sent = loopback::sendSome(socket_, data.data(), data.size());
            if (sent > 0) {
                data.remove_prefix(static_cast<std::size_t>(sent));
            } else if (sent != loopback::kWouldBlock || loopback::waitReady(socket_, true, kPollMs) == loopback::Ready::error) {
                return false;
            }
        }
        return data.empty();
    }

    // Reads and drops input until the peer closes, the server stops or the deadline passes.
    void drain(Clock::time_point deadline) {
        char chunk[4096];
        while (!stopping_ && Clock::now() < deadline) {
            const long received = loopback::receiveSome(socket_, chunk, sizeof chunk);
            if (received == 0 || received == loopback::kFailed) return;
            if (received == loopback::kWouldBlock && loopback::waitReady(socket_, false, kPollMs) == loopback::Ready::error)
                return;
        }
    }

    Socket socket_;
    const std::atomic<bool>& stopping_;
    std::string buffer_;
};

}  // namespace

std::string HttpRequestRecord::header(const std::string& lowerName) const {
    const auto found = headers.find(lowerName);
    return found == headers.end() ? std::string() : found->second;
}

struct HttpTestServer::Impl {
    struct Route {
        std::deque<HttpReply> queued;
        HttpHandler handler;
    };

    std::mutex handlerMutex;  // guards the routes; handlers run one at a time
    HttpHandler fallback;
    std::map<std::string, Route> routes;  // by "METHOD path"
    mutable std::mutex logMutex;
    std::vector<HttpRequestRecord> log;
    Socket listener = loopback::kNoSocket;
    std::string address;
    int port = 0;
    std::atomic<bool> stopping{false};
    std::mutex workersMutex;
    std::vector<std::thread> workers;
    std::thread acceptThread;

    HttpReply reply(const HttpRequestRecord& request) {
        std::lock_guard lock(handlerMutex);
        const auto found = routes.find(request.method + " " + request.path);
        if (found != routes.end() && !found->second.queued.empty()) {
            HttpReply next = std::move(found->second.queued.front());
            found->second.queued.pop_front();
            return next;
        }
        if (found != routes.end() && found->second.handler) return found->second.handler(request);
        if (fallback) return fallback(request);
        return HttpReply{404, R"({"message":"not found"})", {}};
    }

    void serve(Socket socket) {
        Connection connection(socket, stopping);
        HttpRequestRecord request;
        if (!connection.readRequest(request)) return;
        {
            std::lock_guard lock(logMutex);
            log.push_back(request);
        }
        connection.answer(reply(request));
    }

    void acceptLoop() {
        while (!stopping) {
            if (loopback::waitReady(listener, false, kPollMs) != loopback::Ready::yes) continue;
            const Socket client = loopback::acceptConnection(listener);
            if (client == loopback::kNoSocket) continue;
            std::lock_guard lock(workersMutex);
            workers.emplace_back([this, client] { serve(client); });
        }
    }
};

HttpTestServer::HttpTestServer(HttpHandler fallback, std::string address) : impl_(std::make_unique<Impl>()) {
    impl_->fallback = std::move(fallback);
    impl_->address = std::move(address);
    unsigned parts[4] = {};
    if (std::sscanf(impl_->address.c_str(), "127.%u.%u.%u", &parts[1], &parts[2], &parts[3]) != 3) return;
    const std::uint32_t binary = 0x7F000000u | (parts[1] & 255) << 16 | (parts[2] & 255) << 8 | (parts[3] & 255);
    impl_->listener = loopback::listenOnFreePort(impl_->port, binary);
    if (impl_->listener == loopback::kNoSocket) return;  // port() stays 0; requests are refused
    impl_->acceptThread = std::thread([impl = impl_.get()] { impl->acceptLoop(); });
}

HttpTestServer::~HttpTestServer() {
    impl_->stopping = true;
    if (impl_->acceptThread.joinable()) impl_->acceptThread.join();
    for (std::thread& worker : impl_->workers) worker.join();
    loopback::closeSocket(impl_->listener);
}

void HttpTestServer::on(const std::string& method, const std::string& path, HttpHandler handler) {
    std::lock_guard lock(impl_->handlerMutex);
    impl_->routes[method + " " + path].handler = std::move(handler);
}

void HttpTestServer::on(const std::string& method, const std::string& path, HttpReply reply) {
    on(method, path, [reply = std::move(reply)](const HttpRequestRecord&) { return reply; });
}

void HttpTestServer::queue(const std::string& method, const std::string& path, HttpReply reply, int times) {
    std::lock_guard lock(impl_->handlerMutex);
    for (int i = 0; i < times; ++i) impl_->routes[method + " " + path].queued.push_back(reply);
}

int HttpTestServer::port() const { return impl_->port; }

std::string HttpTestServer::origin() const { return "http://" + impl_->address + ":" + std::to_string(port()); }

std::vector<HttpRequestRecord> HttpTestServer::requests() const {
    std::lock_guard lock(impl_->logMutex);
    return impl_->log;
}

std::vector<HttpRequestRecord> HttpTestServer::requestsTo(const std::string& path) const {
    std::vector<HttpRequestRecord> matching;
    for (HttpRequestRecord& request : requests())
        if (request.path == path) matching.push_back(std::move(request));
    return matching;
}

std::vector<std::string> HttpTestServer::paths() const {
    std::vector<std::string> lines;
    for (const HttpRequestRecord& request : requests()) lines.push_back(request.method + " " + request.target);
    return lines;
}

void HttpTestServer::clearRequests() {
    std::lock_guard lock(impl_->logMutex);
    impl_->log.clear();
}

int unusedLoopbackPort() {
    int port = 0;
    const loopback::Socket socket = loopback::listenOnFreePort(port);
    loopback::closeSocket(socket);
    return socket == loopback::kNoSocket ? 0 : port;
}

}  // namespace orvik_test
