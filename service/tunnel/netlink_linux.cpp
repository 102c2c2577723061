#include "service/tunnel/netlink_linux.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <system_error>
#include <thread>

namespace tunnel::netlink {
namespace {

// Messages are parsed by offset and memcpy rather than with the NLMSG_/RTA_ macros: no casts
// of unaligned pointers, and every length is checked against what was received.
constexpr size_t align4(size_t n) { return (n + 3) & ~size_t{3}; }
constexpr size_t kMessageHeader = align4(sizeof(nlmsghdr));
constexpr size_t kAttributeHeader = align4(sizeof(rtattr));
constexpr int kDumpAttempts = 5;
constexpr long kReplyTimeoutSeconds = 5;

using Visit = std::function<void(uint16_t type, const char* payload, size_t size)>;

uint32_t nextSequence() {
    static std::atomic<uint32_t> sequence{1};
    return sequence++;
}

template <typename T>
T readAs(const char* data, size_t size) {
    T value{};
    std::memcpy(&value, data, std::min(size, sizeof value));
    return value;
}

uint32_t readIpv4(const char* data, size_t size) { return size >= 4 ? ntohl(readAs<uint32_t>(data, 4)) : 0; }
uint32_t readU32(const char* data, size_t size) { return size >= 4 ? readAs<uint32_t>(data, 4) : 0; }

void forEachAttribute(const char* data, size_t size, const Visit& visit) {
    size_t at = 0;
    while (at + sizeof(rtattr) <= size) {
        const rtattr attribute = readAs<rtattr>(data + at, sizeof(rtattr));
        if (attribute.rta_len < sizeof(rtattr) || attribute.rta_len > size - at) return;
        visit(attribute.rta_type, data + at + kAttributeHeader, attribute.rta_len - kAttributeHeader);
        at += align4(attribute.rta_len);
    }
}

// One request: the netlink header, the family header, then attributes.
class Request {
public:
    Request(uint16_t type, uint16_t flags, const void* body, size_t bodySize)
        : type_(type), flags_(flags | NLM_F_REQUEST), sequence_(nextSequence()) {
        std::memcpy(buffer_ + kMessageHeader, body, bodySize);
        length_ = kMessageHeader + align4(bodySize);
    }
    void attribute(uint16_t type, const void* data, size_t size) {
        if (length_ + align4(kAttributeHeader + size) > sizeof buffer_) return;  // never with our requests
        const rtattr header{static_cast<unsigned short>(sizeof(rtattr) + size), type};
        std::memcpy(buffer_ + length_, &header, sizeof header);
        std::memcpy(buffer_ + length_ + kAttributeHeader, data, size);
        length_ += align4(kAttributeHeader + size);
    }
    void u32(uint16_t type, uint32_t value) { attribute(type, &value, sizeof value); }
    void ipv4(uint16_t type, uint32_t address) { u32(type, htonl(address)); }
    uint32_t sequence() const { return sequence_; }
    // The finished message.
    const char* bytes() {
        nlmsghdr header{};
        header.nlmsg_len = static_cast<uint32_t>(length_);
        header.nlmsg_type = type_;
        header.nlmsg_flags = flags_;
        header.nlmsg_seq = sequence_;
        std::memcpy(buffer_, &header, sizeof header);
        return buffer_;
    }
    size_t size() const { return length_; }

private:
    alignas(8) char buffer_[256]{};
    size_t length_ = 0;
    uint16_t type_;
    uint16_t flags_;
    uint32_t sequence_;
};

// The kernel's text in an extended acknowledgement (NETLINK_EXT_ACK), when present.
std::string ackText(const nlmsghdr& header, const char* payload, size_t size) {
    if (!(header.nlmsg_flags & NLM_F_ACK_TLVS) || size < sizeof(nlmsgerr)) return "";
    const nlmsgerr error = readAs<nlmsgerr>(payload, sizeof(nlmsgerr));
    size_t offset = sizeof(nlmsgerr);
    if (!(header.nlmsg_flags & NLM_F_CAPPED)) offset += error.msg.nlmsg_len - std::min<size_t>(error.msg.nlmsg_len, sizeof(nlmsghdr));
    offset = align4(offset);
    if (offset >= size) return "";
    std::string text;
    forEachAttribute(payload + offset, size - offset, [&](uint16_t type, const char* data, size_t length) {
        if (type == NLMSGERR_ATTR_MSG) text.assign(data, strnlen(data, length));
    });
    return text;
}

class Socket {
public:
    explicit Socket(uint32_t groups = 0) {
        fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (fd_ < 0) {
            openError_ = errno;
            return;
        }
        const int on = 1;
        ::setsockopt(fd_, SOL_NETLINK, NETLINK_EXT_ACK, &on, sizeof on);
        ::setsockopt(fd_, SOL_NETLINK, NETLINK_CAP_ACK, &on, sizeof on);
        const timeval limit{kReplyTimeoutSeconds, 0};  // the kernel answers at once; never hang
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        local.nl_groups = groups;
        if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            openError_ = errno;
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int fd() const { return fd_; }

    // Sends `request` and reads replies until its acknowledgement or end of dump. Data
    // messages go to `visit`. Returns 0 or an errno value.
    int exchange(Request& request, const Visit& visit, bool& interrupted, std::string* detail) {
        if (fd_ < 0) return openError_;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(fd_, request.bytes(), request.size(), 0, reinterpret_cast<const sockaddr*>(&kernel),
                     sizeof kernel) < 0)
            return errno;
        std::vector<char> buffer(64 * 1024);
        for (;;) {
            const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), MSG_TRUNC);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return errno == EAGAIN ? ETIMEDOUT : errno;
            if (static_cast<size_t>(got) > buffer.size()) return EMSGSIZE;
            int result = -1;
            walk(buffer.data(), static_cast<size_t>(got), request.sequence(), visit, interrupted, detail, result);
            if (result >= 0) return result;
        }
    }

private:
    // Sets `result` (>= 0) once the answer to `sequence` is complete.
    static void walk(const char* data, size_t size, uint32_t sequence, const Visit& visit, bool& interrupted,
                     std::string* detail, int& result) {
        size_t at = 0;
        while (at + sizeof(nlmsghdr) <= size && result < 0) {
            const nlmsghdr header = readAs<nlmsghdr>(data + at, sizeof(nlmsghdr));
            if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > size - at) {
                result = EBADMSG;
                return;
            }
            const char* payload = data + at + kMessageHeader;
            const size_t payloadSize = header.nlmsg_len - std::min<size_t>(header.nlmsg_len, kMessageHeader);
            at += align4(header.nlmsg_len);
            if (header.nlmsg_seq != sequence) continue;  // a late answer to an earlier request
            if (header.nlmsg_flags & NLM_F_DUMP_INTR) interrupted = true;
            // Decide by message type: NLM_F_DUMP shares bits with NLM_F_REPLACE / NLM_F_EXCL.
            if (header.nlmsg_type == NLMSG_ERROR) {
                const int code = payloadSize >= sizeof(int) ? readAs<int>(payload, sizeof(int)) : -EBADMSG;
                if (detail && code != 0) *detail = ackText(header, payload, payloadSize);
                result = -code;
            } else if (header.nlmsg_type == NLMSG_DONE) {
                const int code = payloadSize >= sizeof(int) ? readAs<int>(payload, sizeof(int)) : 0;
                result = code < 0 ? -code : 0;
            } else if (header.nlmsg_type == NLMSG_OVERRUN) {
                result = EIO;
            } else if (header.nlmsg_type >= NLMSG_MIN_TYPE) {
                visit(header.nlmsg_type, payload, payloadSize);
            }
        }
    }

    int fd_ = -1;
    int openError_ = 0;
};

int change(Request& request, std::string* detail = nullptr) {
    Socket socket;
    bool interrupted = false;
    return socket.exchange(request, [](uint16_t, const char*, size_t) {}, interrupted, detail);
}

// A dump, repeated when the kernel reports that the table changed underneath it.
template <typename T>
bool dump(uint16_t type, const void* body, size_t bodySize, const char* what, std::vector<T>& out,
          const std::function<void(uint16_t, const char*, size_t, std::vector<T>&)>& parse, std::string& error) {
    for (int attempt = 0; attempt < kDumpAttempts; ++attempt) {
        Socket socket;
        Request request(type, NLM_F_DUMP, body, bodySize);
        std::vector<T> items;
        bool interrupted = false;
        const int code = socket.exchange(
            request, [&](uint16_t messageType, const char* data, size_t size) { parse(messageType, data, size, items); },
            interrupted, nullptr);
        if (code != 0) {
            error = std::string(what) + " failed " + errnoText(code);
            return false;
        }
        if (!interrupted) {
            out = std::move(items);
            return true;
        }
    }
    error = std::string(what) + " failed: the table kept changing";
    return false;
}

void parseNextHops(const char* data, size_t size, std::vector<NextHop>& hops) {
    size_t at = 0;
    while (at + sizeof(rtnexthop) <= size) {
        const rtnexthop hop = readAs<rtnexthop>(data + at, sizeof(rtnexthop));
        if (hop.rtnh_len < sizeof(rtnexthop) || hop.rtnh_len > size - at) return;
        NextHop next{hop.rtnh_ifindex, 0};
        const size_t attributes = align4(sizeof(rtnexthop));
        if (hop.rtnh_len > attributes) {
            forEachAttribute(data + at + attributes, hop.rtnh_len - attributes, [&](uint16_t type, const char* value, size_t length) {
                if (type == RTA_GATEWAY) next.gateway = readIpv4(value, length);
            });
        }
        hops.push_back(next);
        at += align4(hop.rtnh_len);
    }
}

bool parseRoute(uint16_t type, const char* data, size_t size, Route& route) {
    if (type != RTM_NEWROUTE || size < sizeof(rtmsg)) return false;
    const rtmsg header = readAs<rtmsg>(data, sizeof(rtmsg));
    if (header.rtm_family != AF_INET) return false;
    route = Route{};
    route.table = header.rtm_table;
    route.protocol = header.rtm_protocol;
    route.scope = header.rtm_scope;
    route.type = header.rtm_type;
    route.tos = header.rtm_tos;
    route.prefixLength = header.rtm_dst_len;
    NextHop single;
    bool hasSingle = false;
    std::vector<NextHop> multipath;
    const size_t offset = align4(sizeof(rtmsg));
    forEachAttribute(data + offset, size - std::min(size, offset), [&](uint16_t attribute, const char* value, size_t length) {
        switch (attribute) {
        case RTA_TABLE: route.table = readU32(value, length); break;
        case RTA_DST: route.destination = readIpv4(value, length); break;
        case RTA_PRIORITY: route.priority = readU32(value, length); break;
        case RTA_OIF: single.interfaceIndex = static_cast<int>(readU32(value, length)); hasSingle = true; break;
        case RTA_GATEWAY: single.gateway = readIpv4(value, length); hasSingle = true; break;
        case RTA_MULTIPATH: parseNextHops(value, length, multipath); break;
        default: break;
        }
    });
    if (hasSingle) route.nextHops.push_back(single);
    for (const NextHop& hop : multipath) route.nextHops.push_back(hop);
    return true;
}

Request routeRequest(uint16_t type, uint16_t flags, const RouteChange& change, bool adding) {
    rtmsg body{};
    body.rtm_family = AF_INET;
    body.rtm_dst_len = change.prefixLength;
    body.rtm_tos = change.tos;
    body.rtm_table = kMainTable;
    body.rtm_protocol = change.protocol;
    // A delete with scope "nowhere" and no type matches a route of any scope and type.
    body.rtm_scope = adding ? (change.gateway ? RT_SCOPE_UNIVERSE : RT_SCOPE_LINK) : RT_SCOPE_NOWHERE;
    body.rtm_type = adding ? RTN_UNICAST : RTN_UNSPEC;
    Request request(type, flags, &body, sizeof body);
    request.ipv4(RTA_DST, change.destination);
    if (change.gateway) request.ipv4(RTA_GATEWAY, change.gateway);
    if (change.interfaceIndex) request.u32(RTA_OIF, static_cast<uint32_t>(change.interfaceIndex));
    if (change.priority) request.u32(RTA_PRIORITY, change.priority);
    return request;
}

Request addressRequest(uint16_t type, uint16_t flags, int index, uint32_t address, uint8_t prefixLength) {
    ifaddrmsg body{};
    body.ifa_family = AF_INET;
    body.ifa_prefixlen = prefixLength;
    body.ifa_scope = RT_SCOPE_UNIVERSE;
    body.ifa_index = static_cast<uint32_t>(index);
    Request request(type, flags, &body, sizeof body);
    request.ipv4(IFA_LOCAL, address);
    request.ipv4(IFA_ADDRESS, address);
    if (prefixLength < 31) request.ipv4(IFA_BROADCAST, address | (0xFFFFFFFFu >> prefixLength));
    return request;
}

}  // namespace

std::string errnoText(int error) {
    return std::to_string(error) + " (" + std::generic_category().message(error) + ")";
}

bool listLinks(std::vector<Link>& links, std::string& error) {
    ifinfomsg body{};
    body.ifi_family = AF_UNSPEC;
    return dump<Link>(RTM_GETLINK, &body, sizeof body, "RTM_GETLINK", links,
                      [](uint16_t type, const char* data, size_t size, std::vector<Link>& out) {
        if (type != RTM_NEWLINK || size < sizeof(ifinfomsg)) return;
        const ifinfomsg header = readAs<ifinfomsg>(data, sizeof(ifinfomsg));
        Link link{header.ifi_index, "", header.ifi_flags, false};
        const size_t offset = align4(sizeof(ifinfomsg));
        forEachAttribute(data + offset, size - std::min(size, offset), [&](uint16_t attribute, const char* value, size_t length) {
            if (attribute == IFLA_IFNAME) link.name.assign(value, strnlen(value, length));
            if (attribute == IFLA_CARRIER && length >= 1) link.carrier = value[0] != 0;
        });
        out.push_back(link);
    }, error);
}

bool listAddresses(std::vector<Address>& addresses, std::string& error) {
    ifaddrmsg body{};
    body.ifa_family = AF_INET;
    return dump<Address>(RTM_GETADDR, &body, sizeof body, "RTM_GETADDR", addresses,
                         [](uint16_t type, const char* data, size_t size, std::vector<Address>& out) {
        if (type != RTM_NEWADDR || size < sizeof(ifaddrmsg)) return;
        const ifaddrmsg header = readAs<ifaddrmsg>(data, sizeof(ifaddrmsg));
        if (header.ifa_family != AF_INET) return;
        uint32_t local = 0;
        uint32_t peer = 0;
        const size_t offset = align4(sizeof(ifaddrmsg));
        forEachAttribute(data + offset, size - std::min(size, offset), [&](uint16_t attribute, const char* value, size_t length) {
            if (attribute == IFA_LOCAL) local = readIpv4(value, length);
            if (attribute == IFA_ADDRESS) peer = readIpv4(value, length);
        });
        out.push_back({static_cast<int>(header.ifa_index), local ? local : peer, header.ifa_prefixlen});
    }, error);
}

bool listRoutes(std::vector<Route>& routes, std::string& error) {
    rtmsg body{};
    body.rtm_family = AF_INET;
    return dump<Route>(RTM_GETROUTE, &body, sizeof body, "RTM_GETROUTE", routes,
                       [](uint16_t type, const char* data, size_t size, std::vector<Route>& out) {
        Route route;
        if (parseRoute(type, data, size, route)) out.push_back(std::move(route));
    }, error);
}

bool lookupRoute(uint32_t destination, Route& route, std::string& error) {
    rtmsg body{};
    body.rtm_family = AF_INET;
    body.rtm_dst_len = 32;
    body.rtm_flags = RTM_F_FIB_MATCH;  // the table entry itself, with its protocol and metric
    Request request(RTM_GETROUTE, NLM_F_ACK, &body, sizeof body);
    request.ipv4(RTA_DST, destination);
    Socket socket;
    bool found = false;
    bool interrupted = false;
    const int code = socket.exchange(request, [&](uint16_t type, const char* data, size_t size) {
        found = found || parseRoute(type, data, size, route);
    }, interrupted, nullptr);
    if (code != 0 || !found) {
        error = "route look-up failed " + errnoText(code ? code : ENOENT);
        return false;
    }
    return true;
}

int addAddress(int index, uint32_t address, uint8_t prefixLength, std::string* detail) {
    Request request = addressRequest(RTM_NEWADDR, NLM_F_CREATE | NLM_F_EXCL | NLM_F_ACK, index, address, prefixLength);
    return change(request, detail);
}

int deleteAddress(int index, uint32_t address, uint8_t prefixLength) {
    Request request = addressRequest(RTM_DELADDR, NLM_F_ACK, index, address, prefixLength);
    return change(request);
}

int setLinkUp(int index) {
    ifinfomsg body{};
    body.ifi_family = AF_UNSPEC;
    body.ifi_index = index;
    body.ifi_flags = IFF_UP;
    body.ifi_change = IFF_UP;
    Request request(RTM_NEWLINK, NLM_F_ACK, &body, sizeof body);
    return change(request);
}

int addRoute(const RouteChange& route, std::string* detail) {
    Request request = routeRequest(RTM_NEWROUTE, NLM_F_CREATE | NLM_F_EXCL | NLM_F_ACK, route, true);
    return change(request, detail);
}

int deleteRoute(const RouteChange& route) {
    Request request = routeRequest(RTM_DELROUTE, NLM_F_ACK, route, false);
    return change(request);
}

EventWatcher::EventWatcher(bool routesToo) {
    fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd_ < 0) return;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | (routesToo ? RTMGRP_IPV4_ROUTE : 0);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

EventWatcher::~EventWatcher() {
    if (fd_ >= 0) ::close(fd_);
}

bool EventWatcher::wait(int timeoutMs) {
    if (fd_ < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::max(timeoutMs, 0)));
        return false;
    }
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, std::max(timeoutMs, 0)) <= 0) return false;
    char buffer[8192];
    // Drain; ENOBUFS (events lost) also means "look again".
    while (::recv(fd_, buffer, sizeof buffer, 0) > 0 || errno == ENOBUFS) {
    }
    return true;
}

}  // namespace tunnel::netlink
