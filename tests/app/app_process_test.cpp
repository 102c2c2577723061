// The Orvik program as a user starts it: one client per user, whose window comes forward on a
// later start or on any knock at its socket, also from the tray; and a main window that cannot
// be created ends the start with -1 and a line in the QML log.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>

#include "tests/app/desktop_session_linux.h"
#include "tests/support/process_probe.h"

namespace {

using orvik_test::DesktopSession;

// Connects to the local socket at `path` and leaves without a word.
bool knockSilently(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || path.size() >= sizeof address.sun_path) return false;
    path.copy(address.sun_path, path.size());
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

class OrvikProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = DesktopSession::whyNoDesktop(); !why.empty()) GTEST_SKIP() << why;
        desktop = std::make_unique<DesktopSession>(ORVIK_DESKTOP_PROBE);
        ASSERT_EQ(desktop->error(), "");
        // A signed-out runtime of the test's own (with a stand-in Xray, without which
        // ORVIK_RUNTIME does not count): nothing of a developer's runtime is read.
        desktop->files().write("orvik/xray/xray", "");
        runtime = std::make_unique<orvik_test::ScopedEnvironment>("ORVIK_RUNTIME", desktop->files().file("orvik"));
    }

    std::unique_ptr<DesktopSession> desktop;
    std::unique_ptr<orvik_test::ScopedEnvironment> runtime;
    orvik_test::ScopedEnvironment noPanel{"ORVIK_XBOARD_URL", std::nullopt};
};

TEST_F(OrvikProgram, TheRunningWindowComesForward) {
    orvik_test::ServiceProcess first(ORVIK_CLIENT_EXE, {}, desktop->files().file("first.txt"));
    const auto window = desktop->mainWindow();
    ASSERT_TRUE(window) << desktop->files().read("first.txt");
    ASSERT_TRUE(desktop->trayIcon()) << "without a tray icon a close would end the client";
    // Signed out, the client opens on the login form, which keeps clicks from the window.
    ASSERT_TRUE(desktop->xdotool({"windowfocus", std::to_string(window->id)}) && desktop->xdotool({"key", "Escape"}));

    const std::string socket = desktop->runtimeDirectory() + "/OrvikTessel.SingleInstance";
    struct stat socketStatus{};
    ASSERT_EQ(::stat(socket.c_str(), &socketStatus), 0);
    EXPECT_EQ(socketStatus.st_mode & 0077, 0u) << "only the client's own user may knock";
    const std::vector<std::pair<std::string, std::function<bool()>>> knocks{
        {"a second start", [] { return orvik_test::runCaptured(ORVIK_CLIENT_EXE, {}, 20000).exitCode == 0; }},
        {"a connection that sends nothing", [&] { return knockSilently(socket); }}};
    for (const auto& [knock, knocked] : knocks) {
        for (const bool hidden : {false, true}) {
            SCOPED_TRACE(knock + (hidden ? ", window hidden in the tray" : ", window behind another"));
            const unsigned long panel = desktop->raisePanel();
            ASSERT_NE(panel, 0u);
            ASSERT_FALSE(desktop->above(window->id, panel));
            if (hidden) {
                ASSERT_TRUE(desktop->clickCloseButton(*window));
                ASSERT_TRUE(orvik_test::waitUntil([&] { return !desktop->viewable(window->id); }));
                ASSERT_FALSE(first.wait(0)) << "the close ended the client";
            }
            EXPECT_TRUE(knocked());
            EXPECT_TRUE(orvik_test::waitUntil([&] {
                return desktop->viewable(window->id) && desktop->above(window->id, panel);
            }));
        }
    }
    EXPECT_FALSE(first.wait(0));
}

TEST_F(OrvikProgram, AMainWindowThatCannotBeCreatedIsLoggedAndEndsTheStart) {
    const orvik_test::CapturedRun run = orvik_test::runCaptured(ORVIK_BROKEN_ROOT_CLIENT, {}, 20000);
    EXPECT_EQ(run.exitCode, 255) << run.err;
    const std::string log = desktop->files().read("tmp/orvik-qml.log");
    EXPECT_NE(log.find("Broken.qml:5"), std::string::npos) << log;
    EXPECT_NE(log.find("NoSuchItem is not a type\n"), std::string::npos) << log;
}

}  // namespace
