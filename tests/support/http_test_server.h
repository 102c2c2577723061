#pragma once
// A small HTTP/1.1 server on a loopback address for tests, portable (Winsock / POSIX sockets).
// It runs on its own thread, answers each request through a handler and records every
// request it received, so tests can assert on what actually went over the wire.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvik_test {

struct HttpRequestRecord {
    std::string method;
    std::string target;  // path with query, as sent ("/api/v1/x?a=b")
    std::string path;    // target without the query
    std::string query;   // text after '?', empty when none
    // Header names in lower case; a repeated header keeps every value in order.
    std::multimap<std::string, std::string> headers;
    std::string body;

    bool hasHeader(const std::string& lowerName) const;
    // The first value of the header; empty when absent.
    std::string header(const std::string& lowerName) const;
};

struct HttpReply {
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // Content-Length is added
    // Test switches: never answer (the connection stays open until the server stops), or
    // send the headers and then only this many body bytes before stalling.
    bool neverAnswer = false;
    long stallAfterBodyBytes = -1;
};

using HttpHandler = std::function<HttpReply(const HttpRequestRecord&)>;

class HttpTestServer {
public:
    // Listens on a free port of `address` (127.0.0.1 unless another loopback address is
    // given, as a second host); the handler runs on the server's thread.
    explicit HttpTestServer(HttpHandler handler, std::string address = "127.0.0.1");
    ~HttpTestServer();  // stops the thread and closes every connection
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    int port() const;
    std::string origin() const;  // "http://ADDRESS:PORT"

    std::vector<HttpRequestRecord> requests() const;
    void clearRequests();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A port on 127.0.0.1 on which nothing listens (bound once, then closed).
int unusedLoopbackPort();

}  // namespace orvik_test
