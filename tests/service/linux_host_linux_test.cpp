// What the service does on Linux beyond the Windows product: systemd service mode, stop
// signals, and the socket's file, permissions and stale-file handling.
#include <signal.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "service/pipe_server.h"
#include "tests/support/environment.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_dir.h"

namespace {

using orvik_test::request;
using orvik_test::ServiceProcess;

const std::string kIdle = "{\"ok\":true,\"running\":false,\"error\":\"\"}";

mode_t modeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

class LinuxHost : public ::testing::Test {
protected:
    std::unique_ptr<ServiceProcess> launchServing(const std::vector<std::string>& arguments) {
        auto process = std::make_unique<ServiceProcess>(ORVIK_SERVICE_EXE, arguments, output.file("out.txt"));
        EXPECT_TRUE(orvik_test::waitForPipe(pipe, 20000)) << output.read("out.txt");
        return process;
    }

    orvik_test::TempDir runtime;
    orvik_test::TempDir output;
    std::string pipe = output.file("orvik/OrvikService.sock");
    orvik_test::ScopedEnvironment pipeOverride{"ORVIK_PIPE", pipe};
    orvik_test::ScopedEnvironment notUnderSystemd{"INVOCATION_ID", std::nullopt};
};

TEST_F(LinuxHost, UnderSystemdShutdownStopsOnlyTheTunnelAndSigtermEndsTheService) {
    orvik_test::ScopedEnvironment systemd("INVOCATION_ID", std::string("0123456789abcdef"));
    auto service = launchServing({"--runtime", runtime.path()});
    EXPECT_EQ(request(pipe, "{\"op\":\"shutdown\"}"), kIdle);
    EXPECT_EQ(request(pipe, "{\"op\":\"status\"}"), kIdle) << "still serving";
    ASSERT_EQ(::kill(static_cast<pid_t>(service->pid()), SIGTERM), 0);
    EXPECT_EQ(service->wait(10000), 0);
    EXPECT_EQ(runtime.read("orvik-service.log"), "service running. runtime=" + runtime.path() +
                                                    "\nipc op=shutdown\nipc op=status\nservice stopped\n");
    EXPECT_EQ(output.read("out.txt"), "");
}

TEST_F(LinuxHost, SigtermAndSighupStopConsoleAndDaemonCleanly) {
    for (const int signal : {SIGTERM, SIGHUP}) {
        for (const char* mode : {"--console", "--daemon"}) {
            auto service = launchServing({mode, "--runtime", runtime.path()});
            ASSERT_EQ(::kill(static_cast<pid_t>(service->pid()), signal), 0);
            EXPECT_EQ(service->wait(10000), 0) << mode << " " << signal;
        }
    }
    const std::string log = runtime.read("orvik-service.log");
    EXPECT_EQ(log, "OrvikService console mode. Pipe " + pipe + "\nRuntime " + runtime.path() +
                       "\nCtrl+C to stop.\nstopped.\ndaemon mode. runtime=" + runtime.path() + "\ndaemon stopped\n" +
                       "OrvikService console mode. Pipe " + pipe + "\nRuntime " + runtime.path() +
                       "\nCtrl+C to stop.\nstopped.\ndaemon mode. runtime=" + runtime.path() + "\ndaemon stopped\n");
}

TEST_F(LinuxHost, TheSocketIsOpenToEveryoneInAPrivateDirectoryAndGoneAfterwards) {
    auto service = launchServing({"--console", "--runtime", runtime.path()});
    EXPECT_TRUE(S_ISSOCK(modeOf(pipe)));
    EXPECT_EQ(modeOf(pipe) & 07777, 0666u);
    EXPECT_EQ(modeOf(output.file("orvik")) & 07777, 0755u);
    EXPECT_EQ(request(pipe, "{\"op\":\"shutdown\"}"), kIdle);
    EXPECT_EQ(service->wait(10000), 0);
    EXPECT_EQ(modeOf(pipe), 0u) << "removed at exit";
}

TEST_F(LinuxHost, AStaleSocketFileIsReplaced) {
    // A socket file whose server is gone, as a crash leaves it.
    output.write("orvik/placeholder", "");
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, pipe.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    ASSERT_TRUE(S_ISSOCK(modeOf(pipe)));
    auto service = launchServing({"--console", "--runtime", runtime.path()});
    EXPECT_EQ(request(pipe, "{\"op\":\"status\"}", 10000), kIdle);
    EXPECT_EQ(request(pipe, "{\"op\":\"shutdown\"}"), kIdle);
    EXPECT_EQ(service->wait(10000), 0);
}

TEST_F(LinuxHost, AFileThatIsNoSocketIsNeverRemoved) {
    output.write("orvik/OrvikService.sock", "precious");
    ServiceProcess service(ORVIK_SERVICE_EXE, {"--console", "--runtime", runtime.path()}, output.file("out.txt"));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_EQ(output.read("orvik/OrvikService.sock"), "precious");
    EXPECT_FALSE(service.wait(0)) << "waits for the path to become free";
    ASSERT_EQ(::unlink(pipe.c_str()), 0);
    EXPECT_EQ(request(pipe, "{\"op\":\"shutdown\"}", 10000), kIdle);
    EXPECT_EQ(service.wait(10000), 0);
}

TEST_F(LinuxHost, ALiveSocketIsNotTakenOver) {
    auto first = launchServing({"--console", "--runtime", runtime.path()});
    orvik_test::TempDir secondRuntime;
    ServiceProcess second(ORVIK_SERVICE_EXE, {"--console", "--runtime", secondRuntime.path()},
                          output.file("second.txt"));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(request(pipe, "{\"op\":\"status\"}"), kIdle);
    EXPECT_EQ(secondRuntime.read("orvik-service.log").find("ipc op"), std::string::npos)
        << "the second service waits instead of stealing the socket";
    EXPECT_EQ(request(pipe, "{\"op\":\"shutdown\"}"), kIdle);
    EXPECT_EQ(first->wait(10000), 0);
    // Once the first is gone, the second takes over.
    EXPECT_EQ(request(pipe, "{\"op\":\"shutdown\"}", 10000), kIdle);
    EXPECT_EQ(second.wait(10000), 0);
}

TEST(ServicePipeName, AnOverrideMustBeAnAbsoluteSocketPath) {
    {
        orvik_test::ScopedEnvironment unset("ORVIK_PIPE", std::nullopt);
        EXPECT_EQ(service::servicePipeName(), "/run/orvik/OrvikService.sock");
    }
    for (const std::string& ignored : {std::string(), std::string("relative.sock"), "/" + std::string(200, 'x')}) {
        orvik_test::ScopedEnvironment override("ORVIK_PIPE", ignored);
        EXPECT_EQ(service::servicePipeName(), "/run/orvik/OrvikService.sock") << ignored;
    }
    orvik_test::ScopedEnvironment override("ORVIK_PIPE", std::string("/tmp/side-by-side.sock"));
    EXPECT_EQ(service::servicePipeName(), "/tmp/side-by-side.sock");
}

}  // namespace
