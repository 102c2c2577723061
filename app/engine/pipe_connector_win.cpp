// The service pipe from the client side: "\\.\pipe\OrvikService" opened for reading and
// writing data in byte mode, for identification only (the server may learn who we are, never
// act as us), and only when the service's own identity serves it. Transfers are overlapped
// and end at the deadline the caller sets, so a hung service cannot hold the client for ever.
#include "app/engine/pipe_connector_win.h"

#include <windows.h>

#include <aclapi.h>

#include "vpn/pipe_stream_win.h"
#include "vpn/text_win.h"

namespace engine {
namespace {

// The pipe grants users these rights only: GENERIC_WRITE would also ask for instance creation.
constexpr DWORD kPipeAccess = GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES;
constexpr DWORD kOpenFlags = FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// FlushFileBuffers would wait, without a deadline, for the service to read the request;
// its reply, read next under the deadline, shows that it did.
class PipeStream : public vpn::OverlappedPipeStream {
public:
    using OverlappedPipeStream::OverlappedPipeStream;
    bool flush() override { return true; }
};

// Nobody but Administrators and SYSTEM can make an object's owner Administrators or SYSTEM.
bool ownedByAdministratorsOrSystem(HANDLE pipe) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(pipe, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return false;
    const bool trusted =
        owner && (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid));
    LocalFree(descriptor);
    return trusted;
}

bool tokenIsElevatedOrSystem(HANDLE token) {
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) && elevation.TokenIsElevated)
        return true;
    alignas(TOKEN_USER) unsigned char user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    return GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
           IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, WinLocalSystemSid);
}

class NamedPipeConnector : public PipeConnector {
public:
    explicit NamedPipeConnector(ServerProcessCheck check) : check_(std::move(check)) {}

    Status open(const std::string& name, std::unique_ptr<vpn::ByteStream>& connection,
                unsigned long& errorCode) override {
        HANDLE pipe =
            CreateFileW(vpn::widen(name).c_str(), kPipeAccess, 0, nullptr, OPEN_EXISTING, kOpenFlags, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_PIPE_BUSY) return Status::busy;
            if (error == ERROR_FILE_NOT_FOUND) return Status::notFound;
            errorCode = error;
            return Status::failed;
        }
        if (!servedByTheService(pipe)) {
            CloseHandle(pipe);
            errorCode = ERROR_ACCESS_DENIED;
            return Status::failed;
        }
        DWORD mode = PIPE_READMODE_BYTE;
        SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
        connection = std::make_unique<PipeStream>(pipe);
        return Status::opened;
    }

    void waitWhileBusy(const std::string& name, int milliseconds) override {
        WaitNamedPipeW(vpn::widen(name).c_str(), static_cast<DWORD>(milliseconds));
    }

    unsigned long currentErrorCode() const override { return GetLastError(); }

private:
    // The owner decides; the server's process, where its token can be read, must agree (it
    // also refuses an instance added to the service's pipe by someone else).
    bool servedByTheService(HANDLE pipe) const {
        ULONG processId = 0;
        if (!GetNamedPipeServerProcessId(pipe, &processId) || !ownedByAdministratorsOrSystem(pipe)) return false;
        return check_(processId).value_or(true);
    }

    ServerProcessCheck check_;
};

}  // namespace

std::optional<bool> processElevatedOrSystem(unsigned long processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(processId));
    if (!process) return std::nullopt;
    HANDLE token = nullptr;
    const BOOL opened = OpenProcessToken(process, TOKEN_QUERY, &token);
    CloseHandle(process);
    if (!opened) return std::nullopt;
    const bool trusted = tokenIsElevatedOrSystem(token);
    CloseHandle(token);
    return trusted;
}

std::shared_ptr<PipeConnector> makeNamedPipeConnector(ServerProcessCheck check) {
    return std::make_shared<NamedPipeConnector>(std::move(check));
}

std::shared_ptr<PipeConnector> makePlatformPipeConnector() { return makeNamedPipeConnector(processElevatedOrSystem); }

}  // namespace engine
