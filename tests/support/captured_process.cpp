#include "tests/support/captured_process.h"

namespace orvik_test {

CapturedRun runCaptured(const std::string& program, const std::vector<std::string>& arguments,
                        const std::string& input, int timeoutMs) {
    CapturedProcess process(program, arguments);
    if (!input.empty()) process.write(input);
    return process.finish(timeoutMs);
}

std::string withoutCarriageReturns(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

}  // namespace orvik_test
