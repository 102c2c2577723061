#pragma once
// Limits, checks and texts that both HTTP transports share, so that a panel request
// behaves alike on every platform.

#include <cstddef>
#include <string>

namespace vpn::http_rules {

// WinHTTP cracks a URL into a 256-character host buffer and a 2048-character path buffer
// (the query stays with the path); longer parts make the address invalid everywhere.
inline constexpr std::size_t kMaxHostChars = 255;
inline constexpr std::size_t kMaxPathChars = 2047;

// A panel reply larger than this is refused instead of exhausting memory.
inline constexpr std::size_t kMaxReplyBytes = std::size_t{64} * 1024 * 1024;

// Redirects followed per request, as WinHTTP does by default.
inline constexpr int kMaxRedirects = 10;

// Scheme ("http" or "https") and host of an address, as the transport cracked it.
struct Origin {
    std::string scheme;
    std::string host;
};

// What one exchange of a request sends; a redirect may change it for the next exchange.
struct Exchange {
    std::string method;
    bool withBody = false;
    bool withToken = true;
};

bool isRedirect(long status);

// Applies the redirect `status` from `from` to `to` to `exchange`; false when it must not be
// followed (not a redirect, or from https to http). POST turns into a bodiless GET after
// 301, 302 and 303 (any method but HEAD after 303); the token headers never go on to another
// host, nor come back once dropped.
bool followRedirect(long status, const Origin& from, const Origin& to, Exchange& exchange);

// The absolute address a Location header names, resolved against the address that answered
// (which must be absolute); the fragment is dropped.
std::string resolveLocation(const std::string& base, const std::string& location);

inline constexpr const char* kInvalidUrl = "面板地址无效";
inline constexpr const char* kCannotInitialise = "无法初始化网络请求";
inline constexpr const char* kCannotConnect = "无法连接面板 ";  // then HOST:PORT
inline constexpr const char* kCannotCreate = "无法创建面板请求";
inline constexpr const char* kRequestFailed = "面板请求失败 err=";
inline constexpr const char* kHttpStatus = "面板 HTTP ";
inline constexpr const char* kReplyTooLarge = "面板回复过大";

// A value that goes into a header line (token, content type, user agent) must not end the
// line early: a CR, LF or NUL would let it add headers of its own.
inline bool fitsHeaderLine(const std::string& value) {
    return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

// The method is sent as one word of the request line.
inline bool isMethodWord(const std::string& method) {
    if (method.empty() || method.size() > 32) return false;
    for (const char c : method)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_')) return false;
    return true;
}

}  // namespace vpn::http_rules
