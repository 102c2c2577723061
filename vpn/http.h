#pragma once
// One blocking HTTP exchange with the panel (WinHTTP on Windows, libcurl on Linux).

#include <chrono>
#include <functional>
#include <string>

namespace vpn {

// Bounds every panel request this thread makes while it lives, however the panel answers: a
// request still going at `deadline`, or once `cancelled` says so, ends as a time-out
// ("面板请求失败 err=N"), and later ones fail at once. Scopes nest; the inner one holds.
class HttpLimit {
public:
    using Clock = std::chrono::steady_clock;
    explicit HttpLimit(Clock::time_point deadline, std::function<bool()> cancelled = {});
    ~HttpLimit();
    HttpLimit(const HttpLimit&) = delete;
    HttpLimit& operator=(const HttpLimit&) = delete;

    // For the transports: this thread's limit, or null; true once it is spent or cancelled
    // (spent() may be asked from any thread); the same for this thread's.
    static const HttpLimit* current();
    bool spent() const;
    static bool reached();
    // The milliseconds left before this thread's deadline (0 when reached), or `fallback`
    // when there is no limit or more is left.
    static long remainingMs(long fallback);

private:
    Clock::time_point deadline_;
    std::function<bool()> cancelled_;
    HttpLimit* outer_;
};

// Sends `method` to `url` with "Accept: application/json", a Content-Type only when `body`
// is not empty, and, when `token` is not empty, the same token in both "Authorization" and
// "auth_data". No proxy is used; TLS certificates are verified. Time-outs: 4 s to connect,
// a reply that stalls for 12 s ends the request, and so does this thread's HttpLimit.
//
// Returns true for a status below 400. On false, `error` holds one of "面板地址无效",
// "无法初始化网络请求", "无法连接面板 HOST:PORT", "无法创建面板请求",
// "面板请求失败 err=N" (also for a reply cut short), "面板回复过大" (over 64 MiB) or
// "面板 HTTP STATUS"; an error reply's body stays in `response` so the caller can show the
// panel's own message. `response` is cleared first. A CR, LF or NUL in the token, content
// type or user agent is refused ("无法创建面板请求") rather than sent.
// An empty `userAgent` means "Orvik/0.1".
bool httpRequest(const std::string& method, const std::string& url, const std::string& token,
                 const std::string& body, const std::string& contentType, std::string& response,
                 std::string& error, const std::string& userAgent = {});

inline constexpr const char* kDefaultUserAgent = "Orvik/0.1";

}  // namespace vpn
