// The panel transport over WinHTTP: one synchronous exchange per call, its own session,
// every handle closed before returning.
#include "vpn/http.h"

#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <iterator>
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
class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
    ~InternetHandle() {
        if (handle_ != nullptr) WinHttpCloseHandle(handle_);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HINTERNET handle_;
};

struct CrackedUrl {
    wchar_t host[rules::kMaxHostChars + 1] = {};
    wchar_t path[rules::kMaxPathChars + 1] = {};  // the query stays with the path
    INTERNET_PORT port = 0;
    bool secure = false;
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
std::wstring headerBlock(const std::string& token, const std::string& body, const std::string& contentType) {
    std::wstring headers = L"Accept: application/json\r\n";
    if (!body.empty() && !contentType.empty()) headers += L"Content-Type: " + widen(contentType) + L"\r\n";
    if (!token.empty()) {
        const std::wstring wideToken = widen(token);
        headers += L"Authorization: " + wideToken + L"\r\n";
        headers += L"auth_data: " + wideToken + L"\r\n";
    }
    return headers;
}

std::string requestFailure(DWORD code) { return rules::kRequestFailed + std::to_string(code); }

bool fail(std::string& error, std::string text) {
    error = std::move(text);
    return false;
}

bool sendAndReceive(HINTERNET request, const std::wstring& headers, const std::string& body) {
    // Waiting for the reply's headers has a time-out of its own (90 s on Windows, none under
    // wine); hold it to the receive time-out so a silent panel ends the request in 12 s.
    DWORD responseTimeout = kReceiveMs;
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof responseTimeout);
    const auto length = static_cast<DWORD>(body.size());
    void* data = body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data());
    return WinHttpSendRequest(request, headers.c_str(), static_cast<DWORD>(-1L), data, length, length, 0) &&
           WinHttpReceiveResponse(request, nullptr);
}

// Reads the whole body. A failed read is an error: a cut-off reply is never handed on.
bool readBody(HINTERNET request, std::string& response, std::string& error) {
    for (;;) {
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

// Sends the request on an opened request handle and collects status and body.
bool exchange(HINTERNET request, const std::string& method, const std::wstring& headers, const std::string& body,
              std::string& response, std::string& error) {
    if (!sendAndReceive(request, headers, body)) return fail(error, requestFailure(GetLastError()));
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return fail(error, requestFailure(GetLastError()));  // no status, no success
    if (!readBody(request, response, error)) {
        response.clear();
        return false;
    }
    if (!bodyComplete(request, method, status, response.size())) {
        response.clear();
        return fail(error, requestFailure(ERROR_WINHTTP_CONNECTION_ERROR));
    }
    if (status >= 400) return fail(error, rules::kHttpStatus + std::to_string(status));
    return true;
}

}  // namespace

bool httpRequest(const std::string& method, const std::string& url, const std::string& token,
                 const std::string& body, const std::string& contentType, std::string& response,
                 std::string& error, const std::string& userAgent) {
    response.clear();
    CrackedUrl cracked;
    if (!crackUrl(widen(url), cracked)) return fail(error, rules::kInvalidUrl);
    const std::string agent = userAgent.empty() ? kDefaultUserAgent : userAgent;
    if (!rules::isMethodWord(method) || !rules::fitsHeaderLine(token) || !rules::fitsHeaderLine(contentType) ||
        !rules::fitsHeaderLine(agent) || body.size() > MAXDWORD)
        return fail(error, rules::kCannotCreate);

    const InternetHandle session(WinHttpOpen(widen(agent).c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return fail(error, rules::kCannotInitialise);
    WinHttpSetTimeouts(session.get(), kResolveMs, kConnectMs, kSendMs, kReceiveMs);
    const InternetHandle connection(WinHttpConnect(session.get(), cracked.host, cracked.port, 0));
    if (!connection)
        return fail(error, rules::kCannotConnect + narrow(std::wstring(cracked.host)) + ":" + std::to_string(cracked.port));
    const InternetHandle request(WinHttpOpenRequest(connection.get(), widen(method).c_str(), cracked.path, nullptr,
                                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                    cracked.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return fail(error, rules::kCannotCreate);
    return exchange(request.get(), method, headerBlock(token, body, contentType), body, response, error);
}

}  // namespace vpn
