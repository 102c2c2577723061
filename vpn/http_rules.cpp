// The redirect rule both panel transports follow, and the resolution of a Location header
// for the transport whose library does not resolve it.
#include "vpn/http_rules.h"

#include <algorithm>
#include <cctype>

namespace vpn::http_rules {
namespace {

bool sameHost(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

// The parts of an address or reference that resolution works on.
struct Reference {
    std::string scheme;  // empty when the reference has none
    bool hasAuthority = false;
    std::string authority;
    std::string path;
    bool hasQuery = false;
    std::string query;
};

bool isSchemeChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
}

Reference split(std::string text) {
    text = text.substr(0, text.find('#'));
    Reference reference;
    const std::size_t colon = text.find(':');
    if (colon != std::string::npos && colon > 0 && std::isalpha(static_cast<unsigned char>(text[0])) != 0 &&
        std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(colon), isSchemeChar)) {
        reference.scheme = text.substr(0, colon);
        text.erase(0, colon + 1);
    }
    if (text.rfind("//", 0) == 0) {
        const std::size_t end = text.find_first_of("/?", 2);
        reference.hasAuthority = true;
        reference.authority = text.substr(2, end == std::string::npos ? std::string::npos : end - 2);
        text.erase(0, end == std::string::npos ? text.size() : end);
    }
    const std::size_t question = text.find('?');
    reference.path = text.substr(0, question);
    if (question != std::string::npos) {
        reference.hasQuery = true;
        reference.query = text.substr(question + 1);
    }
    return reference;
}

void dropLastSegment(std::string& output) {
    const std::size_t slash = output.rfind('/');
    output.erase(slash == std::string::npos ? 0 : slash);
}

// "." and ".." segments removed as RFC 3986 (5.2.4) does.
std::string removeDotSegments(std::string input) {
    std::string output;
    while (!input.empty()) {
        if (input.rfind("../", 0) == 0) {
            input.erase(0, 3);
        } else if (input.rfind("./", 0) == 0) {
            input.erase(0, 2);
        } else if (input.rfind("/./", 0) == 0 || input == "/.") {
            input.replace(0, input == "/." ? 2 : 3, "/");
        } else if (input.rfind("/../", 0) == 0 || input == "/..") {
            input.replace(0, input == "/.." ? 3 : 4, "/");
            dropLastSegment(output);
        } else if (input == "." || input == "..") {
            input.clear();
        } else {
            const std::size_t end = input.find('/', 1);
            output += input.substr(0, end);
            input.erase(0, end == std::string::npos ? input.size() : end);
        }
    }
    return output;
}

std::string merge(const Reference& base, const std::string& path) {
    if (base.hasAuthority && base.path.empty()) return "/" + path;
    const std::size_t slash = base.path.rfind('/');
    return (slash == std::string::npos ? std::string() : base.path.substr(0, slash + 1)) + path;
}

// The reference completed from the base as RFC 3986 (5.2.2) does.
Reference resolved(const Reference& base, Reference target) {
    if (!target.scheme.empty()) return target;
    target.scheme = base.scheme;
    if (target.hasAuthority) return target;
    target.hasAuthority = base.hasAuthority;
    target.authority = base.authority;
    if (!target.path.empty()) {
        if (target.path.front() != '/') target.path = merge(base, target.path);
        return target;
    }
    target.path = base.path;
    if (!target.hasQuery) {
        target.hasQuery = base.hasQuery;
        target.query = base.query;
    }
    return target;
}

}  // namespace

bool isRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool followRedirect(long status, const Origin& from, const Origin& to, Exchange& exchange) {
    if (!isRedirect(status) || (from.scheme == "https" && to.scheme == "http")) return false;
    if ((status == 303 && exchange.method != "HEAD") ||
        (status != 307 && status != 308 && exchange.method == "POST")) {
        exchange.method = "GET";
        exchange.withBody = false;
    }
    exchange.withToken = exchange.withToken && sameHost(from.host, to.host);
    return true;
}

std::string resolveLocation(const std::string& base, const std::string& location) {
    const Reference target = resolved(split(base), split(location));
    std::string result = target.scheme + ":";
    if (target.hasAuthority) result += "//" + target.authority;
    result += removeDotSegments(target.path);
    if (target.hasQuery) result += "?" + target.query;
    return result;
}

}  // namespace vpn::http_rules
