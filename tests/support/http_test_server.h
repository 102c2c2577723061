#pragma once
// A scripted HTTP/1.1 server on a loopback address for tests, portable (Winsock / POSIX).
// Requests to a route (method + path) take the route's next queued reply, else its handler;
// other requests go to the fallback handler (404 when none). Every request is logged, so
// tests check what actually went over the wire. Each connection carries one request.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace orvik_test {

struct HttpRequestRecord {
    std::string method;
    std::string target;  // path with query, as sent ("/api/v1/x?a=b")
    std::string path;    // target without the query
    std::string query;   // text after '?', empty when none
    std::multimap<std::string, std::string> headers;  // names in lower case, repeats kept in order
    std::string body;

    bool hasHeader(const std::string& lowerName) const { return headers.count(lowerName) != 0; }
    std::string header(const std::string& lowerName) const;  // the first value; empty when absent
};

struct HttpReply {
    int status = 200;
    std::string body{};
    std::vector<std::pair<std::string, std::string>> headers{};  // Content-Length is added
    // Faults: never answer (the connection stays open until the server stops); send the
    // headers and this many body bytes, then stall; or then close (a short body); or close
    // without a word.
    bool neverAnswer = false;
    long stallAfterBodyBytes = -1;
    long closeAfterBodyBytes = -1;
    bool closeAtOnce = false;
};

using HttpHandler = std::function<HttpReply(const HttpRequestRecord&)>;

class HttpTestServer {
public:
    // Listens on a free port of `address` (127.x.x.x; another one serves as a second host).
    // Handlers run on the server's threads, one at a time.
    explicit HttpTestServer(HttpHandler fallback = {}, std::string address = "127.0.0.1");
    ~HttpTestServer();  // stops the threads and closes every connection
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    void on(const std::string& method, const std::string& path, HttpHandler handler);
    void on(const std::string& method, const std::string& path, HttpReply reply);  // every time
    void queue(const std::string& method, const std::string& path, HttpReply reply, int times = 1);

    int port() const;
    std::string origin() const;  // "http://ADDRESS:PORT"

    std::vector<HttpRequestRecord> requests() const;
    std::vector<HttpRequestRecord> requestsTo(const std::string& path) const;
    std::vector<std::string> paths() const;  // "METHOD target" of every request, in order
    void clearRequests();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

int unusedLoopbackPort();  // a port on 127.0.0.1 on which nothing listens (bound once, then closed)

}  // namespace orvik_test
