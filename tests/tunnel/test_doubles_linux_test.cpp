// The tun2socks double on Linux creates the TUN interface it is told to, inside the network
// namespace of the service, and the interface goes when the process goes.
#include <net/if.h>
#include <sched.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "service/tunnel/process_runner.h"
#include "tests/support/loopback_socket.h"
#include "tests/support/netns_linux.h"

using namespace tunnel;

namespace {

const std::string kTun2socks = ORVIK_TUN2SOCKS_DOUBLE;

bool interfaceShowsUp(const char* name, bool present, int timeoutMs) {
    for (int waited = 0; waited <= timeoutMs; waited += 5) {
        if ((::if_nametoindex(name) != 0) == present) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

CommandArgs startArguments(int proxyPort, const std::string& interfaceName) {
    return {word("--loglevel"), word("info"),  word("--device"),    word("wintun"),
            word("--proxy"),    word("socks5://127.0.0.1:" + std::to_string(proxyPort)),
            word("--interface"), quotedArg(interfaceName)};
}

// Runs in a namespace of its own: the job's processes start in the namespace of the thread
// that creates the job.
void createAndRemoveTun(std::string& failure) {
    if (::unshare(CLONE_NEWNET) != 0) {
        failure = "unshare(CLONE_NEWNET) failed";
        return;
    }
    int proxyPort = 0;  // the double connects to its proxy before it creates the device
    const orvik_test::loopback::Socket proxy = orvik_test::runProgram({"ip", "link", "set", "lo", "up"})
                                                   ? orvik_test::loopback::listenOnFreePort(proxyPort)
                                                   : orvik_test::loopback::kNoSocket;
    if (proxy == orvik_test::loopback::kNoSocket) {
        failure = "no listener on loopback for the double's proxy";
        return;
    }
    auto runner = makeProcessRunner();
    std::string error;
    if (runner->runCommand(kTun2socks, startArguments(proxyPort, "no-such-uplink"), 5000, error)) {
        failure = "accepted a missing uplink";
    }
    auto job = runner->createJob(error);
    auto tun2socks = job->launch(kTun2socks, startArguments(proxyPort, "lo"), "", error);
    if (!tun2socks) {
        failure = error;
    } else if (!interfaceShowsUp("wintun", true, 2000)) {
        failure = "wintun never appeared";
    } else {
        job->close();
        if (!interfaceShowsUp("wintun", false, 1000)) failure = "wintun outlived the double";
    }
    orvik_test::loopback::closeSocket(proxy);
}

TEST(Tun2socksDoubleLinuxTest, CreatesTheNamedTunAndItGoesWithTheProcess) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace and a TUN device";
    std::string failure;
    std::thread(createAndRemoveTun, std::ref(failure)).join();
    EXPECT_EQ(failure, "");
}

}  // namespace
