// The panel transport over libcurl: the same headers, time-outs, limits and error texts as
// the WinHTTP transport of the Windows build.
#include "vpn/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <utility>

#include "vpn/http_rules.h"

namespace vpn {
namespace {

namespace rules = http_rules;
using Clock = std::chrono::steady_clock;

constexpr long kConnectTimeoutMs = 4000;
constexpr auto kStallLimit = std::chrono::seconds(12);  // WinHTTP's receive time-out
constexpr long kNoLimit = 1L << 30;

// The thread's HttpLimit as curl's total time-out (0: none).
long totalTimeoutMs() {
    const long left = HttpLimit::remainingMs(kNoLimit);
    return left == kNoLimit ? 0 : std::max(left, 1L);
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct UrlDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// libcurl's global set-up runs once for the process, on first use (a static's
// initialisation is thread-safe).
bool curlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

using UrlParts = rules::Origin;

std::string urlPart(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK || text == nullptr) return {};
    std::string result(text);
    curl_free(text);
    return result;
}

// Accepts what WinHTTP's URL cracking accepts here: http or https, a host, and host and
// path with query within its buffers.
bool crackUrl(const std::string& text, UrlParts& parts) {
    const std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) return false;
    parts.scheme = urlPart(url.get(), CURLUPART_SCHEME);
    parts.host = urlPart(url.get(), CURLUPART_HOST);
    const std::string query = urlPart(url.get(), CURLUPART_QUERY);
    const std::size_t pathChars =
        urlPart(url.get(), CURLUPART_PATH).size() + (query.empty() ? 0 : query.size() + 1);
    return (parts.scheme == "http" || parts.scheme == "https") && !parts.host.empty() &&
           parts.host.size() <= rules::kMaxHostChars && pathChars <= rules::kMaxPathChars;
}

// What stays the same over every redirect of one request.
struct Request {
    const std::string& token;
    const std::string& body;
    const std::string& contentType;
    std::string userAgent;
};

// One exchange of a request: the first, or one after a redirect.
struct Hop : rules::Exchange {
    std::string url;
    UrlParts parts;
};

// State of one running exchange, seen by the callbacks.
struct Transfer {
    std::string& response;
    bool tooLarge = false;
    bool stalled = false;
    curl_off_t down = -1;
    curl_off_t up = -1;
    Clock::time_point lastActivity = Clock::now();
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    Transfer& transfer = *static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    transfer.lastActivity = Clock::now();
    if (bytes > rules::kMaxReplyBytes - transfer.response.size()) {
        transfer.tooLarge = true;
        return 0;  // a short count ends the transfer
    }
    transfer.response.append(data, bytes);
    return bytes;
}

size_t onHeader(char*, size_t size, size_t count, void* user) {
    static_cast<Transfer*>(user)->lastActivity = Clock::now();
    return size * count;
}

// Ends the exchange once nothing has moved in either direction for the stall limit, like
// WinHTTP's time-out of each send and receive.
int onProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    Transfer& transfer = *static_cast<Transfer*>(user);
    if (HttpLimit::reached()) {
        transfer.stalled = true;
        return 1;
    }
    const Clock::time_point now = Clock::now();
    if (down != transfer.down || up != transfer.up) {
        transfer.down = down;
        transfer.up = up;
        transfer.lastActivity = now;
        return 0;
    }
    if (now - transfer.lastActivity < kStallLimit) return 0;
    transfer.stalled = true;
    return 1;
}

bool appendHeader(HeaderList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) return false;
    static_cast<void>(list.release());
    list.reset(grown);
    return true;
}

// Accept, Content-Type only with a body (an empty "Content-Type:" removes curl's default),
// no "Expect: 100-continue" round trip, and the bare token twice.
bool buildHeaders(const Hop& hop, const Request& request, HeaderList& list) {
    const bool typed = hop.withBody && !request.contentType.empty();
    bool ok = appendHeader(list, "Accept: application/json") &&
              appendHeader(list, typed ? "Content-Type: " + request.contentType : "Content-Type:") &&
              appendHeader(list, "Expect:");
    if (ok && hop.withToken && !request.token.empty())
        ok = appendHeader(list, "Authorization: " + request.token) &&
             appendHeader(list, "auth_data: " + request.token);
    return ok;
}

bool setMethod(CURL* curl, const Hop& hop, const std::string& body) {
    if (hop.method == "HEAD") return curl_easy_setopt(curl, CURLOPT_NOBODY, 1L) == CURLE_OK;
    if (hop.method == "GET" && !hop.withBody) return curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    // The body outlives the transfer, so curl reads it in place (binary-safe with the size).
    const curl_off_t size = hop.withBody ? static_cast<curl_off_t>(body.size()) : 0;
    return curl_easy_setopt(curl, CURLOPT_POST, 1L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, size) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_POSTFIELDS, hop.withBody ? body.data() : "") == CURLE_OK &&
           (hop.method == "POST" || curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, hop.method.c_str()) == CURLE_OK);
}

// No proxy (not even from the environment), verified TLS, HTTP/1.1, our own redirect rule.
bool setOptions(CURL* curl, const Hop& hop, const Request& request, curl_slist* headers, Transfer& transfer) {
    curl_easy_reset(curl);
    return curl_easy_setopt(curl, CURLOPT_URL, hop.url.c_str()) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_PROXY, "") == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, totalTimeoutMs()) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_USERAGENT, request.userAgent.c_str()) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK && setMethod(curl, hop, request.body);
}

// Runs one exchange; the reply body lands in `response` and the status in `status`.
bool performHop(CURL* curl, const Hop& hop, const Request& request, std::string& response, long& status,
                std::string& error) {
    response.clear();
    if (HttpLimit::reached()) {
        error = rules::kRequestFailed + std::to_string(static_cast<int>(CURLE_OPERATION_TIMEDOUT));
        return false;
    }
    HeaderList headers;
    Transfer transfer{response};
    if (!buildHeaders(hop, request, headers) || !setOptions(curl, hop, request, headers.get(), transfer)) {
        error = rules::kCannotCreate;
        return false;
    }
    const CURLcode result = curl_easy_perform(curl);
    if (transfer.tooLarge || result != CURLE_OK) {
        response.clear();
        const CURLcode reported = transfer.stalled ? CURLE_OPERATION_TIMEDOUT : result;
        error = transfer.tooLarge ? rules::kReplyTooLarge
                                  : rules::kRequestFailed + std::to_string(static_cast<int>(reported));
        return false;
    }
    status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    return true;
}

// Follows a redirect by the rule both transports share (curl's own following is off).
bool followRedirect(CURL* curl, long status, Hop& hop) {
    if (!rules::isRedirect(status)) return false;
    char* location = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) != CURLE_OK || location == nullptr) return false;
    UrlParts target;
    if (!crackUrl(location, target) || !rules::followRedirect(status, hop.parts, target, hop)) return false;
    hop.url = location;
    hop.parts = target;
    return true;
}

bool fail(std::string& error, std::string text) {
    error = std::move(text);
    return false;
}

}  // namespace

bool httpRequest(const std::string& method, const std::string& url, const std::string& token,
                 const std::string& body, const std::string& contentType, std::string& response,
                 std::string& error, const std::string& userAgent) {
    response.clear();
    Hop hop{{method, !body.empty(), true}, url, {}};
    if (!crackUrl(url, hop.parts)) return fail(error, rules::kInvalidUrl);
    const Request request{token, body, contentType, userAgent.empty() ? kDefaultUserAgent : userAgent};
    if (!rules::isMethodWord(method) || !rules::fitsHeaderLine(token) || !rules::fitsHeaderLine(contentType) ||
        !rules::fitsHeaderLine(request.userAgent))
        return fail(error, rules::kCannotCreate);
    if (!curlReady()) return fail(error, rules::kCannotInitialise);
    const std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
    if (!curl) return fail(error, rules::kCannotInitialise);

    long status = 0;
    for (int redirects = 0;; ++redirects) {
        if (!performHop(curl.get(), hop, request, response, status, error)) return false;
        if (!followRedirect(curl.get(), status, hop)) break;
        if (redirects == rules::kMaxRedirects) {
            response.clear();
            return fail(error, rules::kRequestFailed + std::to_string(static_cast<int>(CURLE_TOO_MANY_REDIRECTS)));
        }
    }
    if (status >= 400) return fail(error, rules::kHttpStatus + std::to_string(status));
    return true;
}

}  // namespace vpn
