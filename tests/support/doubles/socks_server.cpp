// SOCKS5 (RFC 1928) as far as tun2socks needs it: method "no authentication", CONNECT to an
// IPv4, IPv6 or domain destination, then a byte relay in both directions.
#include "tests/support/doubles/socks_server.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

namespace orvik_double {
namespace {

enum Reply : uint8_t {
    kSucceeded = 0,
    kGeneralFailure = 1,
    kHostUnreachable = 4,
    kConnectionRefused = 5,
    kCommandNotSupported = 7,
    kAddressNotSupported = 8,
};

bool receiveExactly(Socket socket, uint8_t* buffer, std::size_t size) {
    while (size > 0) {
        const long n = receiveSome(socket, reinterpret_cast<char*>(buffer), size);
        if (n <= 0) return false;
        buffer += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool sendBytes(Socket socket, const std::vector<uint8_t>& bytes) {
    return sendAll(socket, reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void sendReply(Socket client, Reply reply) { sendBytes(client, {5, reply, 0, 1, 0, 0, 0, 0, 0, 0}); }

// Greeting: version 5 and a method list that offers "no authentication".
bool negotiate(Socket client) {
    uint8_t head[2];
    if (!receiveExactly(client, head, 2) || head[0] != 5) return false;
    std::vector<uint8_t> methods(head[1]);
    if (!methods.empty() && !receiveExactly(client, methods.data(), methods.size())) return false;
    for (uint8_t method : methods) {
        if (method == 0) return sendBytes(client, {5, 0});
    }
    sendBytes(client, {5, 0xFF});
    return false;
}

std::string addressText(int family, const uint8_t* bytes) {
    char text[64];
    if (family == 4) {
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
        return text;
    }
    std::string result;
    for (int i = 0; i < 16; i += 2) {
        std::snprintf(text, sizeof text, "%s%x", i == 0 ? "" : ":", (bytes[i] << 8) | bytes[i + 1]);
        result += text;
    }
    return result;
}

// The request's destination; false (after a reply where one is due) when it is not usable.
bool readDestination(Socket client, std::string& host, int& port) {
    uint8_t head[4];
    if (!receiveExactly(client, head, 4) || head[0] != 5) return false;
    uint8_t address[256];
    if (head[3] == 1 || head[3] == 4) {
        const std::size_t size = head[3] == 1 ? 4 : 16;
        if (!receiveExactly(client, address, size)) return false;
        host = addressText(head[3] == 1 ? 4 : 6, address);
    } else if (head[3] == 3) {
        uint8_t length = 0;
        if (!receiveExactly(client, &length, 1) || !receiveExactly(client, address, length)) return false;
        host.assign(reinterpret_cast<const char*>(address), length);
    } else {
        sendReply(client, kAddressNotSupported);
        return false;
    }
    uint8_t portBytes[2];
    if (!receiveExactly(client, portBytes, 2)) return false;
    port = (portBytes[0] << 8) | portBytes[1];
    if (head[1] != 1) {
        sendReply(client, kCommandNotSupported);
        return false;
    }
    return true;
}

// Copies one direction; at its end the other side learns it, and on failure both wake up.
void pump(Socket from, Socket to) {
    char buffer[16384];
    for (;;) {
        const long n = receiveSome(from, buffer, sizeof buffer);
        if (n == 0) {
            shutdownSend(to);
            return;
        }
        if (n < 0 || !sendAll(to, buffer, static_cast<std::size_t>(n))) {
            shutdownBoth(from);
            shutdownBoth(to);
            return;
        }
    }
}

void serveClient(Socket client, const std::string& outboundInterface) {
    std::string host;
    int port = 0;
    if (negotiate(client) && readDestination(client, host, port)) {
        std::string error;
        bool refused = false;
        const Socket remote = connectTo(host, port, outboundInterface, error, refused);
        if (remote == kNoSocket) {
            std::fprintf(stderr, "xray double: %s\n", error.c_str());
            sendReply(client, refused ? kConnectionRefused : kHostUnreachable);
        } else {
            sendReply(client, kSucceeded);
            std::thread upstream(pump, client, remote);
            pump(remote, client);
            upstream.join();
            closeSocket(remote);
        }
    }
    closeSocket(client);
}

}  // namespace

void serveSocks(Socket listener, const std::string& outboundInterface) {
    for (;;) {
        const Socket client = acceptClient(listener);
        if (client == kNoSocket) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        std::thread(serveClient, client, outboundInterface).detach();
    }
}

}  // namespace orvik_double
