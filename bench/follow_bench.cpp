// How fast the real service follows the machine (network namespaces, the tool doubles, root):
// from a move of the default route to the tunnel up over the new uplink, and from a tool's
// death to the service reporting the recovery (what the window shows within its one-second
// status poll) and to the tunnel up again. Without root it says why and exits successfully.
#include <benchmark/benchmark.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/support/environment.h"
#include "tests/support/netns_linux.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "tests/support/session_file.h"

namespace {

using Clock = std::chrono::steady_clock;
const char* const kNode = "198.18.50.1";

double msSince(Clock::time_point begin) {
    return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

// Polls every 2 ms, up to 10 s; false when it never held.
bool waitFor(const std::function<bool()>& holds) {
    for (int i = 0; i < 5000; ++i) {
        if (holds()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

// The lab with the service connected, for `body(ask)`.
void withConnectedService(benchmark::State& state, const std::function<void(orvik_test::RouterLab&,
                                                                             const std::function<std::string()>&)>& body) {
    orvik_test::RouterLab lab({kNode});
    if (!lab.error().empty() || !lab.addSecondUplink({kNode}) || !lab.installTools(ORVIK_XRAY_DOUBLE, ORVIK_TUN2SOCKS_DOUBLE)) {
        state.SkipWithError(("lab not ready: " + lab.error()).c_str());
        return;
    }
    lab.write("account.json", R"({"email":"b@example.com","password":"pw","expireAt":"2099-12-31","nodeName":"b",
 "address":"198.18.50.1","port":443,"uuid":"3b8a4f5e-1c2d-4e6f-8a9b-0c1d2e3f4a5b","sni":"www.example.com",
 "publicKey":"Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw"})");
    lab.write(orvik_test::sessionFile(), "{\"email\":\"b@example.com\",\"expireAt\":\"2099-12-31\"}\n");
    const std::string pipe = orvik_test::uniquePipeName(lab.root());
    orvik_test::ScopedEnvironment variable{"ORVIK_PIPE", pipe};
    lab.inMachine(
        [&] {
            orvik_test::ServiceProcess service(ORVIK_SERVICE_EXE, {"--console", "--runtime", lab.root()},
                                               lab.root() + "/out.txt");
            const auto ask = [&pipe](const std::string& op) {
                return orvik_test::request(pipe, "{\"op\":\"" + op + "\"}").value_or("");
            };
            if (!orvik_test::waitForPipe(pipe, 20000) || ask("connect").find("\"running\":true") == std::string::npos) {
                state.SkipWithError("the service did not connect");
                return;
            }
            body(lab, [&ask] { return ask("status"); });
            ask("shutdown");
            service.wait(10000);
        },
        true);
}

void BM_DefaultRouteMove(benchmark::State& state) {
    withConnectedService(state, [&](orvik_test::RouterLab& lab, const std::function<std::string()>& status) {
        double total = 0;
        int uplink = 1;
        for ([[maybe_unused]] auto _ : state) {
            const std::string gateway = uplink == 1 ? "198.18.2.1" : "198.18.1.1";
            const std::string device = "uplink" + std::to_string(uplink);
            const auto begin = Clock::now();
            lab.ip({"route", "replace", "default", "via", gateway, "dev", device});
            const bool moved = waitFor([&] {
                return lab.ip({"route", "show", kNode}).find("dev " + device) != std::string::npos &&
                       status().find("\"running\":true,\"error\":\"\"}") != std::string::npos;
            });
            if (!moved) {
                state.SkipWithError("the tunnel did not follow the route");
                return;
            }
            total += msSince(begin);
            uplink = 1 - uplink;
        }
        state.counters["route_move_to_up_ms"] = total / static_cast<double>(state.iterations());
    });
}

void BM_ToolDeath(benchmark::State& state) {
    withConnectedService(state, [&](orvik_test::RouterLab& lab, const std::function<std::string()>& status) {
        double reported = 0, recovered = 0;
        for ([[maybe_unused]] auto _ : state) {
            const long xray = lab.runningTool("xray");
            const auto begin = Clock::now();
            ::kill(static_cast<pid_t>(xray), SIGKILL);
            if (!waitFor([&] { return status().find("recovering") != std::string::npos; })) {
                state.SkipWithError("the death was not reported");
                return;
            }
            reported += msSince(begin);
            if (!waitFor([&] { return status().find("\"running\":true,\"error\":\"\"}") != std::string::npos; })) {
                state.SkipWithError("the tunnel did not come back");
                return;
            }
            recovered += msSince(begin);
        }
        const auto n = static_cast<double>(state.iterations());
        state.counters["death_to_reported_ms"] = reported / n;
        state.counters["death_to_up_ms"] = recovered / n;
    });
}

BENCHMARK(BM_DefaultRouteMove)->Iterations(6)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ToolDeath)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const std::string whyNot = orvik_test::whyNoNetworkLab();
    if (!whyNot.empty()) {
        std::printf("follow_bench skipped: %s\n", whyNot.c_str());
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
