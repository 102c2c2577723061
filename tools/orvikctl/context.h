#pragma once
// What every command works with: the streams, the runtime directory, the output mode, and
// the back ends (the control plane and the engine client), created when first used.

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "app/engine/engine_client.h"
#include "tools/orvikctl/orvikctl.h"
#include "vpn/control_plane.h"

namespace orvikctl {

using Json = nlohmann::ordered_json;

class Context {
public:
    Context(Io& io, std::string runtimeDirectory, bool json);

    Io& io() { return io_; }
    const std::string& runtimeDirectory() const { return runtimeDirectory_; }
    bool json() const { return json_; }

    vpn::ControlPlane& controlPlane();
    const engine::EngineClient& engine();

    // The result of a successful command as JSON: {"ok":true, ...members of `result`}.
    void printJson(const Json& result);
    // Reports a failure: the text on standard error (and {"ok":false,"error":...} on
    // standard output with --json); returns kExitFailed.
    int fail(const std::string& text);
    // Reports wrong usage of `command` on standard error; returns kExitUsage.
    int usage(const std::string& command, const std::string& text);
    // A progress note on standard error (human mode only).
    void note(const std::string& text);

    // One answer: asked at the terminal when standard input is one, else the next line of
    // standard input (without its line end). False when there is nothing more to read.
    bool readAnswer(const std::string& prompt, bool echo, std::string& answer);

private:
    Io& io_;
    std::string runtimeDirectory_;
    bool json_;
    std::unique_ptr<vpn::ControlPlane> controlPlane_;
    std::unique_ptr<engine::EngineClient> engine_;
};

// The text without spaces, tabs and line ends at either end.
std::string trimmed(const std::string& text);

}  // namespace orvikctl
