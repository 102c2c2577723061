// The service as the client meets it: the round trip of a "status" request over the socket
// (median and 99th percentile over 10,000 requests, each on its own connection as the
// client makes them) and the resident memory of an idle service, before and after the
// requests. The real orvik_service runs in daemon mode with a temporary runtime directory.
// The same round trip through the client's engine client (JSON request and reply, the
// client's own connector), and the request and reply texts alone.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/engine/engine_client.h"
#include "tests/support/environment.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_dir.h"

namespace {

// Resident set size in KiB, from /proc/PID/status.
double residentKiB(long pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6));
    }
    return 0;
}

struct RunningService {
    RunningService()
        : pipe(orvik_test::uniquePipeName(dir.path())),
          pipeOverride("ORVIK_PIPE", pipe),
          process(ORVIK_SERVICE_EXE, {"--daemon", "--runtime", dir.path()}, dir.file("out.txt")) {
        ready = orvik_test::waitForPipe(pipe, 10000);
    }
    ~RunningService() {
        orvik_test::request(pipe, "{\"op\":\"shutdown\"}");
        process.wait(10000);
    }
    orvik_test::TempDir dir;
    std::string pipe;
    orvik_test::ScopedEnvironment pipeOverride;
    orvik_test::ServiceProcess process;
    bool ready = false;
};

void StatusRoundTrip(benchmark::State& state) {
    RunningService service;
    if (!service.ready) {
        state.SkipWithError("service did not start");
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    state.counters["idle_rss_kib_before"] = residentKiB(service.process.pid());
    std::vector<double> micros;
    micros.reserve(static_cast<size_t>(state.max_iterations));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const auto reply = orvik_test::request(service.pipe, "{\"op\":\"status\"}");
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (!reply) {
            state.SkipWithError("no reply");
            return;
        }
        state.SetIterationTime(elapsed.count());
        micros.push_back(elapsed.count() * 1e6);
    }
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
    state.counters["max_us"] = micros.back();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    state.counters["idle_rss_kib_after"] = residentKiB(service.process.pid());
}

void EngineClientStatus(benchmark::State& state) {
    RunningService service;
    if (!service.ready) {
        state.SkipWithError("service did not start");
        return;
    }
    engine::EngineClientOptions options;
    options.pipeName = service.pipe;
    options.runtimeDirectory = service.dir.path();
    const engine::EngineClient client(options);
    for (auto _ : state) {
        const engine::RequestResult result = client.sendRequest("status", 1);
        if (!result.ok) {
            state.SkipWithError(result.error.c_str());
            return;
        }
    }
}

void RequestAndReplyTexts(benchmark::State& state) {
    const std::string node = "日本 · 东京 \"premium\" 01";
    const std::string reply = R"({"ok":false,"running":false,"error":"无法连接 \"节点\" err=10060"})";
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine::buildRequestPayload("connect", node));
        benchmark::DoNotOptimize(engine::parseReplyPayload(reply));
    }
}

}  // namespace

BENCHMARK(StatusRoundTrip)->Iterations(10000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(EngineClientStatus)->Iterations(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(RequestAndReplyTexts)->Unit(benchmark::kNanosecond);

BENCHMARK_MAIN();
