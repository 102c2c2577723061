#include "tests/support/service_process.h"

namespace orvik_test {
namespace {

std::string withoutCarriageReturns(std::string text) {
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    return text;
}

}  // namespace

CapturedRun ServiceProcess::finish(int timeoutMs) {
    CapturedRun run;
    if (!started()) return run;
    run.exitCode = wait(timeoutMs).value_or(-1);
    kill();
    if (separateOutput_) {
        run.out = withoutCarriageReturns(files_.read("out"));
        run.err = withoutCarriageReturns(files_.read("err"));
    }
    return run;
}

CapturedRun runCaptured(const std::string& program, const std::vector<std::string>& arguments, int timeoutMs) {
    return ServiceProcess(program, arguments).finish(timeoutMs);
}

}  // namespace orvik_test
