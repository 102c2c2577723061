#pragma once
// Framing of the service pipe, shared by the service and its clients; the same in both
// directions: a 4-byte little-endian length N (1 to 65536), then N bytes of UTF-8 JSON.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vpn {

inline constexpr uint32_t kMaxFramePayload = 0x10000;

// One connected client as a byte stream (named pipe instance, Unix socket).
class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Transfers that follow must finish within `milliseconds` from now, all together.
    virtual void setDeadline(int milliseconds) = 0;
    // Bytes read (> 0), or 0 on failure, end of stream or when the deadline passed.
    virtual size_t read(char* buffer, size_t size) = 0;
    // Bytes written (> 0), or 0 on failure or when the deadline passed.
    virtual size_t write(const char* data, size_t size) = 0;
    // Waits until the client has taken what was written (Windows); false on failure.
    virtual bool flush() = 0;
    // The system's error code of the last failed transfer, in decimal for the log
    // (GetLastError() / errno; a timed-out transfer reports the platform's time-out code).
    virtual unsigned long lastError() const = 0;
};

// Reads one frame. False on a failed or empty transfer (`errorCode` = the stream's code) and
// on a length of 0 or above 65536 (`errorCode` = 0, nothing more is read).
bool readFrame(ByteStream& stream, std::string& payload, unsigned long& errorCode);

// Writes one frame and flushes. False when the payload is empty or too long (`errorCode` = 0)
// or a transfer fails (a 0-byte write without a code of its own reports 29, write fault).
bool writeFrame(ByteStream& stream, const std::string& payload, unsigned long& errorCode);

}  // namespace vpn
