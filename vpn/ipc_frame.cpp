#include "vpn/ipc_frame.h"

namespace vpn {
namespace {

constexpr unsigned long kWriteFault = 29;  // ERROR_WRITE_FAULT, also the Linux port's word for it

bool readExactly(ByteStream& stream, char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const size_t got = stream.read(buffer + done, size - done);
        if (got == 0) return false;
        done += got;
    }
    return true;
}

bool writeExactly(ByteStream& stream, const char* data, size_t size, unsigned long& errorCode) {
    size_t done = 0;
    while (done < size) {
        const size_t put = stream.write(data + done, size - done);
        if (put == 0) {
            errorCode = stream.lastError() != 0 ? stream.lastError() : kWriteFault;
            return false;
        }
        done += put;
    }
    return true;
}

}  // namespace

bool readFrame(ByteStream& stream, std::string& payload, unsigned long& errorCode) {
    unsigned char header[4];
    if (!readExactly(stream, reinterpret_cast<char*>(header), sizeof header)) {
        errorCode = stream.lastError();
        return false;
    }
    const uint32_t length = static_cast<uint32_t>(header[0]) | static_cast<uint32_t>(header[1]) << 8 |
                            static_cast<uint32_t>(header[2]) << 16 | static_cast<uint32_t>(header[3]) << 24;
    if (length == 0 || length > kMaxFramePayload) {
        errorCode = 0;
        return false;
    }
    payload.assign(length, '\0');
    if (!readExactly(stream, payload.data(), length)) {
        errorCode = stream.lastError();
        payload.clear();
        return false;
    }
    return true;
}

bool writeFrame(ByteStream& stream, const std::string& payload, unsigned long& errorCode) {
    if (payload.empty() || payload.size() > kMaxFramePayload) {
        errorCode = 0;
        return false;
    }
    const auto length = static_cast<uint32_t>(payload.size());
    const char header[4] = {static_cast<char>(length & 0xFF), static_cast<char>((length >> 8) & 0xFF),
                            static_cast<char>((length >> 16) & 0xFF), static_cast<char>((length >> 24) & 0xFF)};
    if (!writeExactly(stream, header, sizeof header, errorCode)) return false;
    if (!writeExactly(stream, payload.data(), payload.size(), errorCode)) return false;
    if (!stream.flush()) {
        errorCode = stream.lastError();
        return false;
    }
    return true;
}

}  // namespace vpn
