// The panel transport over WinHTTP: synchronous, its own session per call, redirects
// followed by the rule both transports share (not by WinHTTP), every handle closed before
// returning.
#include "vpn/http.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "vpn/http_rules.h"
#include "vpn/text_win.h"

namespace vpn {
namespace {

namespace rules = http_rules;

// Time-outs in milliseconds: name resolution, connect, each send, each receive.
constexpr int kResolveMs = 4000;
constexpr int kConnectMs = 4000;
constexpr int kSendMs = 8000;
constexpr int kReceiveMs = 12000;

// Owns one WinHTTP handle (session, connection or request).
struct InternetCloser {
    void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetCloser>;

struct CrackedUrl {
    wchar_t host[rules::kMaxHostChars + 1] = {};
    wchar_t path[rules::kMaxPathChars + 1] = {};  // the query stays with the path
    INTERNET_PORT port = 0;
    bool secure = false;

    rules::Origin origin() const { return {secure ? "https" : "http", narrow(std::wstring(host))}; }
};

// What stays the same over every redirect of one request.
struct Request {
    const std::string& token;
    const std::string& body;
    const std::string& contentType;
};

// One exchange of a request: the first, or one after a redirect.
struct Hop : rules::Exchange {
    std::string url;
    CrackedUrl cracked;
};

// Host and path land in fixed buffers: a longer part fails the cracking.
bool crackUrl(const std::wstring& url, CrackedUrl& cracked) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = cracked.host;
    parts.dwHostNameLength = static_cast<DWORD>(std::size(cracked.host));
    parts.lpszUrlPath = cracked.path;
    parts.dwUrlPathLength = static_cast<DWORD>(std::size(cracked.path));
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    cracked.port = parts.nPort;
    cracked.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return (parts.nScheme == INTERNET_SCHEME_HTTP || cracked.secure) && parts.dwHostNameLength > 0;
}

// Accept always, Content-Type only with a body, the bare token in both token headers.
std::wstring headerBlock(const Hop& hop, const Request& request) {
    std::wstring headers = L"Accept: application/json\r\n";
    if (hop.withBody && !request.contentType.empty())
        headers += L"Content-Type: " + widen(request.contentType) + L"\r\n";
    if (hop.withToken && !request.token.empty()) {
        const std::wstring wideToken = widen(request.token);
        headers += L"Authorization: " + wideToken + L"\r\n";
        headers += L"auth_data: " + wideToken + L"\r\n";
    }
    return headers;
}

// A time-out held to what is left of the thread's HttpLimit.
int limited(int milliseconds) { return static_cast<int>(std::max(HttpLimit::remainingMs(milliseconds), 1L)); }

// A failure's code, as a time-out when this thread's HttpLimit ended the exchange.
std::string requestFailure(DWORD code) {
    return rules::kRequestFailed + std::to_string(HttpLimit::reached() ? ERROR_WINHTTP_TIMEOUT : code);
}

// While this thread's HttpLimit holds, a watcher closes the request's handle once the limit is
// spent: that ends any wait of WinHTTP's at once, so a cancel need not wait for a time-out.
class LimitWatch {
public:
    explicit LimitWatch(InternetHandle& request) : request_(request), limit_(HttpLimit::current()) {
        if (limit_ != nullptr) watcher_ = std::thread([this] { watch(); });
    }
    ~LimitWatch() {
        if (!watcher_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        watcher_.join();
        if (closed_) static_cast<void>(request_.release());  // the watcher closed it
    }
    LimitWatch(const LimitWatch&) = delete;
    LimitWatch& operator=(const LimitWatch&) = delete;

private:
    void watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!changed_.wait_for(lock, std::chrono::milliseconds(50), [this] { return done_; })) {
            if (!limit_->spent()) continue;
            WinHttpCloseHandle(request_.get());
            closed_ = true;
            return;
        }
    }

    InternetHandle& request_;
    const HttpLimit* limit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    bool closed_ = false;
    std::thread watcher_;
};

bool fail(std::string& error, std::string text) {
    error = std::move(text);
    return false;
}

// Opens the connection and the request handle of one exchange.
bool openHop(HINTERNET session, const Hop& hop, InternetHandle& connection, InternetHandle& request,
             std::string& error) {
    const CrackedUrl& cracked = hop.cracked;
    connection.reset(WinHttpConnect(session, cracked.host, cracked.port, 0));
    if (!connection)
        return fail(error, rules::kCannotConnect + narrow(std::wstring(cracked.host)) + ":" + std::to_string(cracked.port));
    request.reset(WinHttpOpenRequest(connection.get(), widen(hop.method).c_str(), cracked.path, nullptr,
                                     WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                     cracked.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return fail(error, rules::kCannotCreate);
    return true;
}

bool sendAndReceive(HINTERNET handle, const Hop& hop, const Request& request) {
    // WinHTTP's own following would send the token headers on to any host.
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!WinHttpSetOption(handle, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy)) return false;
    // Waiting for the reply's headers has a time-out of its own (90 s on Windows, none under
    // wine); hold it to the receive time-out so a silent panel ends the request in 12 s.
    DWORD responseTimeout = static_cast<DWORD>(limited(kReceiveMs));
    WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof responseTimeout);
    const std::wstring headers = headerBlock(hop, request);
    const DWORD length = hop.withBody ? static_cast<DWORD>(request.body.size()) : 0;
    void* data = length == 0 ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(request.body.data());
    return WinHttpSendRequest(handle, headers.c_str(), static_cast<DWORD>(-1L), data, length, length, 0) &&
           WinHttpReceiveResponse(handle, nullptr);
}

bool queryStatus(HINTERNET request, DWORD& status) {
    DWORD size = sizeof status;
    return WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) != 0;
}

// The reply's Location header; empty when there is none or it is too long to be an address.
std::wstring locationOf(HINTERNET request) {
    std::wstring text(rules::kMaxHostChars + rules::kMaxPathChars + 64, L'\0');
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        return {};
    text.resize(size / sizeof(wchar_t));
    return text;
}

// Moves `hop` on to the reply's Location when the shared redirect rule follows it.
bool nextHop(HINTERNET request, DWORD status, Hop& hop) {
    if (!rules::isRedirect(status)) return false;
    const std::wstring location = locationOf(request);
    if (location.empty()) return false;
    const std::string target = rules::resolveLocation(hop.url, narrow(location));
    CrackedUrl cracked;
    if (!crackUrl(widen(target), cracked) || !rules::followRedirect(status, hop.cracked.origin(), cracked.origin(), hop))
        return false;
    hop.url = target;
    hop.cracked = cracked;
    return true;
}

// Reads the whole body. A failed read is an error: a cut-off reply is never handed on.
bool readBody(HINTERNET request, std::string& response, std::string& error) {
    for (;;) {
        if (HttpLimit::reached()) return fail(error, requestFailure(ERROR_WINHTTP_TIMEOUT));
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) return fail(error, requestFailure(GetLastError()));
        if (available == 0) return true;
        if (available > rules::kMaxReplyBytes - response.size()) return fail(error, rules::kReplyTooLarge);
        const std::size_t start = response.size();
        response.resize(start + available);
        DWORD read = 0;
        if (!WinHttpReadData(request, response.data() + start, available, &read))
            return fail(error, requestFailure(GetLastError()));
        response.resize(start + read);
        if (read == 0) return true;
    }
}

// False when the reply announced more body bytes than arrived: the server closed the
// connection early, which WinHTTP may report as a normal end of the body.
bool bodyComplete(HINTERNET request, const std::string& method, DWORD status, std::size_t received) {
    if (method == "HEAD" || status < 200 || status == 204 || status == 304) return true;
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return true;  // no length announced: the end of the connection ends the body
    wchar_t* end = nullptr;
    const unsigned long long announced = std::wcstoull(text, &end, 10);
    return end == text || received >= announced;
}

// Collects the body of the final reply and turns its status into the result.
bool finish(HINTERNET request, const Hop& hop, DWORD status, std::string& response, std::string& error) {
    if (!readBody(request, response, error)) {
        response.clear();
        return false;
    }
    if (!bodyComplete(request, hop.method, status, response.size())) {
        response.clear();
        return fail(error, requestFailure(ERROR_WINHTTP_CONNECTION_ERROR));
    }
    if (status >= 400) return fail(error, rules::kHttpStatus + std::to_string(status));
    return true;
}

// Sends the request and each redirect the rule follows, up to the redirect limit.
bool runHops(HINTERNET session, Hop& hop, const Request& request, std::string& response, std::string& error) {
    for (int redirects = 0;; ++redirects) {
        // Each wait of this exchange ends by the thread's deadline; between the reads of the
        // body the limit is looked at again, so a trickling reply ends too.
        if (HttpLimit::reached()) return fail(error, requestFailure(ERROR_WINHTTP_TIMEOUT));
        WinHttpSetTimeouts(session, limited(kResolveMs), limited(kConnectMs), limited(kSendMs), limited(kReceiveMs));
        InternetHandle connection;
        InternetHandle handle;
        if (!openHop(session, hop, connection, handle, error)) return false;
        const LimitWatch watch(handle);
        DWORD status = 0;
        if (!sendAndReceive(handle.get(), hop, request) || !queryStatus(handle.get(), status))
            return fail(error, requestFailure(GetLastError()));  // no status, no success
        if (!nextHop(handle.get(), status, hop)) return finish(handle.get(), hop, status, response, error);
        if (redirects == rules::kMaxRedirects) return fail(error, requestFailure(ERROR_WINHTTP_REDIRECT_FAILED));
    }
}

}  // namespace

bool httpRequest(const std::string& method, const std::string& url, const std::string& token,
                 const std::string& body, const std::string& contentType, std::string& response,
                 std::string& error, const std::string& userAgent) {
    response.clear();
    Hop hop{{method, !body.empty(), true}, url, {}};
    if (!crackUrl(widen(url), hop.cracked)) return fail(error, rules::kInvalidUrl);
    const std::string agent = userAgent.empty() ? kDefaultUserAgent : userAgent;
    if (!rules::isMethodWord(method) || !rules::fitsHeaderLine(token) || !rules::fitsHeaderLine(contentType) ||
        !rules::fitsHeaderLine(agent) || body.size() > MAXDWORD)
        return fail(error, rules::kCannotCreate);

    const InternetHandle session(WinHttpOpen(widen(agent).c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return fail(error, rules::kCannotInitialise);
    return runHops(session.get(), hop, Request{token, body, contentType}, response, error);
}

}  // namespace vpn
