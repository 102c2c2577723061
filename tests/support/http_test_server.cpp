#include "tests/support/http_test_server.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <list>
#include <string_view>

#include "tests/support/loopback_socket.h"

namespace orvik_test {
namespace {

using loopback::Socket;

constexpr int kPollMs = 20;                            // how soon a stop request is noticed
constexpr std::size_t kMaxHead = 64 * 1024;            // request line and headers
constexpr std::size_t kMaxBody = 256u * 1024 * 1024;   // a test never sends more

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 200: return "OK";
        case 201: return "Created";
        case 204: return "No Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 303: return "See Other";
        case 307: return "Temporary Redirect";
        case 308: return "Permanent Redirect";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 411: return "Length Required";
        case 413: return "Payload Too Large";
        case 422: return "Unprocessable Entity";
        case 429: return "Too Many Requests";
        case 500: return "Internal Server Error";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

// Request line and header lines of `head` (without the blank line); false when malformed.
bool parseHead(std::string_view head, HttpRequestRecord& request) {
    std::size_t lineEnd = head.find('\n');
    std::string_view line = head.substr(0, lineEnd);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t firstSpace = line.find(' ');
    const std::size_t secondSpace = line.find(' ', firstSpace + 1);
    if (firstSpace == std::string_view::npos || secondSpace == std::string_view::npos) return false;
    request.method = std::string(line.substr(0, firstSpace));
    request.target = std::string(line.substr(firstSpace + 1, secondSpace - firstSpace - 1));
    if (request.method.empty() || request.target.empty()) return false;
    const std::size_t question = request.target.find('?');
    request.path = request.target.substr(0, question);
    request.query = question == std::string::npos ? std::string() : request.target.substr(question + 1);

    while (lineEnd != std::string_view::npos) {
        const std::size_t start = lineEnd + 1;
        lineEnd = head.find('\n', start);
        line = head.substr(start, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return false;
        request.headers.emplace(lower(std::string(line.substr(0, colon))), trim(line.substr(colon + 1)));
    }
    return true;
}

// Content-Length as a number; false when it is not a plain decimal number.
bool parseLength(const std::string& text, std::size_t& length) {
    if (text.empty() || text.size() > 12) return false;
    length = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        length = length * 10 + static_cast<std::size_t>(c - '0');
    }
    return true;
}

std::string replyHead(const HttpReply& reply, std::size_t bodySize) {
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reasonPhrase(reply.status) + "\r\n";
    bool hasLength = false;
    for (const auto& [name, value] : reply.headers) {
        const std::string lowered = lower(name);
        if (lowered == "connection") continue;  // every connection carries one request
        hasLength = hasLength || lowered == "content-length";
        head += name + ": " + value + "\r\n";
    }
    if (!hasLength) head += "Content-Length: " + std::to_string(bodySize) + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head;
}

// One accepted connection: reads one request, answers it and closes.
class Connection {
public:
    Connection(Socket socket, const std::atomic<bool>& stopping) : socket_(socket), stopping_(stopping) {}
    ~Connection() { loopback::closeSocket(socket_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Reads the request; false when the peer went away or the server stops. `status` is
    // 0 for a usable request, else the error status to answer with.
    bool readRequest(HttpRequestRecord& request, int& status);
    bool sendReply(const HttpReply& reply, bool headOnly);
    void sendError(int status);
    // Keeps the connection open until the peer closes it or the server stops.
    void hold();
    // Ends the exchange so the peer reads the whole reply before the close.
    void finish();

private:
    bool receiveMore();
    bool sendAll(std::string_view data);

    Socket socket_;
    const std::atomic<bool>& stopping_;
    std::string buffer_;
};

bool Connection::receiveMore() {
    char chunk[16 * 1024];
    while (!stopping_) {
        const long received = loopback::receiveSome(socket_, chunk, sizeof chunk);
        if (received > 0) {
            buffer_.append(chunk, static_cast<std::size_t>(received));
            return true;
        }
        if (received != loopback::kWouldBlock) return false;
        if (loopback::waitReady(socket_, false, kPollMs) == loopback::Ready::error) return false;
    }
    return false;
}

bool Connection::sendAll(std::string_view data) {
    while (!data.empty()) {
        if (stopping_) return false;
        const long sent = loopback::sendSome(socket_, data.data(), data.size());
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
        } else if (sent != loopback::kWouldBlock ||
                   loopback::waitReady(socket_, true, kPollMs) == loopback::Ready::error) {
            return false;
        }
    }
    return true;
}

bool Connection::readRequest(HttpRequestRecord& request, int& status) {
    status = 0;
    std::size_t headEnd;
    while ((headEnd = buffer_.find("\r\n\r\n")) == std::string::npos) {
        if (buffer_.size() > kMaxHead) return status = 431, true;
        if (!receiveMore()) return false;
    }
    if (!parseHead(std::string_view(buffer_).substr(0, headEnd), request)) return status = 400, true;
    buffer_.erase(0, headEnd + 4);

    const std::string encoding = lower(request.header("transfer-encoding"));
    if (!encoding.empty() && encoding != "identity") return status = 411, true;
    std::size_t length = 0;
    if (request.hasHeader("content-length") && !parseLength(request.header("content-length"), length))
        return status = 400, true;
    if (length > kMaxBody) return status = 413, true;
    if (length > 0 && lower(request.header("expect")) == "100-continue" && buffer_.empty() &&
        !sendAll("HTTP/1.1 100 Continue\r\n\r\n"))
        return false;
    while (buffer_.size() < length)
        if (!receiveMore()) return false;
    request.body = buffer_.substr(0, length);
    return true;
}

bool Connection::sendReply(const HttpReply& reply, bool headOnly) {
    std::string_view body = headOnly ? std::string_view() : std::string_view(reply.body);
    if (!sendAll(replyHead(reply, reply.body.size()))) return false;
    if (reply.stallAfterBodyBytes >= 0) {
        const auto limit = static_cast<std::size_t>(reply.stallAfterBodyBytes);
        if (limit < body.size()) {
            if (sendAll(body.substr(0, limit))) hold();
            return false;
        }
    }
    return sendAll(body);
}

void Connection::sendError(int status) {
    HttpReply reply;
    reply.status = status;
    if (sendReply(reply, false)) finish();
}

void Connection::hold() {
    while (!stopping_) {
        char chunk[4096];
        const long received = loopback::receiveSome(socket_, chunk, sizeof chunk);
        if (received == 0 || received == loopback::kFailed) return;
        if (received == loopback::kWouldBlock &&
            loopback::waitReady(socket_, false, kPollMs) == loopback::Ready::error)
            return;
    }
}

void Connection::finish() {
    loopback::shutdownSend(socket_);
    // Read until the peer closes (briefly): closing with unread input would reset the
    // connection and could destroy the reply on its way.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    char chunk[4096];
    while (!stopping_ && std::chrono::steady_clock::now() < deadline) {
        const long received = loopback::receiveSome(socket_, chunk, sizeof chunk);
        if (received == 0 || received == loopback::kFailed) return;
        if (received == loopback::kWouldBlock) loopback::waitReady(socket_, false, kPollMs);
    }
}

// "127.a.b.c" in host byte order; false for anything else.
bool parseLoopbackAddress(const std::string& text, std::uint32_t& address) {
    unsigned parts[4] = {};
    char end = 0;
    if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2], &parts[3], &end) != 4 ||
        parts[0] != 127 || parts[1] > 255 || parts[2] > 255 || parts[3] > 255)
        return false;
    address = (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
    return true;
}

}  // namespace

bool HttpRequestRecord::hasHeader(const std::string& lowerName) const {
    return headers.find(lowerName) != headers.end();
}

std::string HttpRequestRecord::header(const std::string& lowerName) const {
    const auto found = headers.find(lowerName);
    return found == headers.end() ? std::string() : found->second;
}

struct HttpTestServer::Impl {
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done = std::make_shared<std::atomic<bool>>(false);
    };

    HttpHandler handler;
    std::mutex handlerMutex;  // handlers need not be thread-safe: one runs at a time
    Socket listener = loopback::kNoSocket;
    std::string address;
    int port = 0;
    std::atomic<bool> stopping{false};
    mutable std::mutex recordsMutex;
    std::vector<HttpRequestRecord> records;
    std::list<Worker> workers;  // touched only by the accept thread and the destructor
    std::thread acceptThread;

    void acceptLoop();
    void reapFinishedWorkers();
    void serve(Socket socket);
    HttpReply answer(const HttpRequestRecord& request);
};

void HttpTestServer::Impl::acceptLoop() {
    while (!stopping) {
        reapFinishedWorkers();
        if (loopback::waitReady(listener, false, kPollMs) != loopback::Ready::yes) continue;
        const Socket client = loopback::acceptConnection(listener);
        if (client == loopback::kNoSocket) continue;
        Worker& worker = workers.emplace_back();
        worker.thread = std::thread([this, client, done = worker.done] {
            serve(client);
            *done = true;
        });
    }
}

void HttpTestServer::Impl::reapFinishedWorkers() {
    for (auto it = workers.begin(); it != workers.end();) {
        if (*it->done) {
            it->thread.join();
            it = workers.erase(it);
        } else {
            ++it;
        }
    }
}

HttpReply HttpTestServer::Impl::answer(const HttpRequestRecord& request) {
    std::lock_guard lock(handlerMutex);
    try {
        return handler(request);
    } catch (const std::exception& error) {
        HttpReply reply;
        reply.status = 500;
        reply.body = std::string("handler threw: ") + error.what();
        return reply;
    }
}

void HttpTestServer::Impl::serve(Socket socket) {
    Connection connection(socket, stopping);
    HttpRequestRecord request;
    int errorStatus = 0;
    if (!connection.readRequest(request, errorStatus)) return;
    if (!request.method.empty()) {
        std::lock_guard lock(recordsMutex);
        records.push_back(request);
    }
    if (errorStatus != 0) return connection.sendError(errorStatus);
    const HttpReply reply = answer(request);
    if (reply.neverAnswer) return connection.hold();
    if (connection.sendReply(reply, request.method == "HEAD")) connection.finish();
}

HttpTestServer::HttpTestServer(HttpHandler handler, std::string address) : impl_(std::make_unique<Impl>()) {
    impl_->handler = std::move(handler);
    impl_->address = std::move(address);
    std::uint32_t binary = 0;
    if (!parseLoopbackAddress(impl_->address, binary)) return;  // port() stays 0
    impl_->listener = loopback::listenOnFreePort(impl_->port, binary);
    if (impl_->listener == loopback::kNoSocket) return;  // port() stays 0; requests are refused
    impl_->acceptThread = std::thread([impl = impl_.get()] { impl->acceptLoop(); });
}

HttpTestServer::~HttpTestServer() {
    impl_->stopping = true;
    if (impl_->acceptThread.joinable()) impl_->acceptThread.join();
    for (auto& worker : impl_->workers) worker.thread.join();
    loopback::closeSocket(impl_->listener);
}

int HttpTestServer::port() const { return impl_->port; }

std::string HttpTestServer::origin() const { return "http://" + impl_->address + ":" + std::to_string(port()); }

std::vector<HttpRequestRecord> HttpTestServer::requests() const {
    std::lock_guard lock(impl_->recordsMutex);
    return impl_->records;
}

void HttpTestServer::clearRequests() {
    std::lock_guard lock(impl_->recordsMutex);
    impl_->records.clear();
}

int unusedLoopbackPort() {
    int port = 0;
    const loopback::Socket socket = loopback::listenOnFreePort(port);
    loopback::closeSocket(socket);
    return socket == loopback::kNoSocket ? 0 : port;
}

}  // namespace orvik_test
