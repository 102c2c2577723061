#include "tools/orvikctl/context.h"

#include <istream>
#include <ostream>

#include "tools/orvikctl/command_line.h"
#include "vpn/runtime_directory.h"

namespace orvikctl {

Context::Context(Io& io, std::string runtimeDirectory, bool json)
    : io_(io), runtimeDirectory_(std::move(runtimeDirectory)), json_(json) {}

vpn::ControlPlane& Context::controlPlane() {
    if (!controlPlane_) controlPlane_ = vpn::createControlPlane(runtimeDirectory_);
    return *controlPlane_;
}

const engine::EngineClient& Context::engine() {
    if (!engine_) {
        engine::EngineClientOptions options;
        options.runtimeDirectory = runtimeDirectory_;  // a launched service uses the same directory
        engine_ = std::make_unique<engine::EngineClient>(engine::defaultEngineClientOptions(options));
    }
    return *engine_;
}

void Context::printJson(const Json& result) {
    Json document = Json::object();
    document["ok"] = true;
    for (auto it = result.begin(); it != result.end(); ++it) document[it.key()] = it.value();
    io_.out << document.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n" << std::flush;
}

int Context::fail(const std::string& text) {
    if (json_) {
        Json document = Json::object();
        document["ok"] = false;
        document["error"] = text;
        io_.out << document.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n" << std::flush;
    }
    io_.err << "orvikctl: " << text << "\n" << std::flush;
    return kExitFailed;
}

int Context::usage(const std::string& command, const std::string& text) {
    io_.err << "orvikctl: " << text << "\n";
    const CommandInfo* info = findCommand(command);
    if (info != nullptr) io_.err << synopsis(*info) << "\n";
    io_.err << std::flush;
    return kExitUsage;
}

void Context::note(const std::string& text) {
    if (!json_) io_.err << text << "\n" << std::flush;
}

bool Context::readAnswer(const std::string& prompt, bool echo, std::string& answer) {
    answer.clear();
    if (io_.interactive && io_.ask) return io_.ask(prompt, echo, answer);
    if (!std::getline(io_.in, answer)) return false;
    if (!answer.empty() && answer.back() == '\r') answer.pop_back();
    return true;
}

std::string trimmed(const std::string& text) {
    const char* const blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace orvikctl
