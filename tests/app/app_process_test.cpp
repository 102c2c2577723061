// The Orvik program as a user starts it: one client per user, whose window comes forward on a
// later start or on any knock at its socket, also from the tray; a main window that cannot be
// created ends the start with -1 and a line in the QML log. And the window as a screen reader
// meets it: the desktop gets a D-Bus session and the AT-SPI registry (at-spi2-core), read through
// pyatspi as Orca reads it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

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

const char* const kPython = "/usr/bin/python3";  // Debian's, where python3-pyatspi installs
const char* const kBusLauncher = "/usr/libexec/at-spi-bus-launcher";

struct Accessible {
    std::string role, name, description;
    int showing = 0, x = 0, y = 0, width = 0, height = 0;
    // Read before `next`: a row above it, or on the same row to its left.
    bool before(const Accessible& next) const { return y + height <= next.y || (y < next.y + next.height && x < next.x); }
};

std::vector<Accessible> probe(const std::string& command) {
    std::istringstream lines(orvik_test::runCaptured(kPython, {ORVIK_ATSPI_PROBE, command, "Orvik Tessel"}, 10000).out);
    std::vector<Accessible> objects;
    for (std::string line; std::getline(lines, line);) {
        Accessible a;
        std::istringstream fields(line);
        std::getline(fields, a.role, '|') && std::getline(fields, a.name, '|') && std::getline(fields, a.description, '|');
        for (int* number : {&a.showing, &a.x, &a.y, &a.width, &a.height}) (fields >> *number).ignore();
        objects.push_back(a);
    }
    return objects;
}

// Asked to end (not killed), the bus launcher takes its bus and the registry with it.
struct Stop {
    orvik_test::ServiceProcess& process;
    ~Stop() { process.interrupt(SIGTERM) && process.wait(5000); }
};

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

// Signed in by keys, every object shows and has a name, the status and the primary action tell the
// state, and Tab reaches every action once, in reading order, and comes round.
TEST_F(OrvikProgram, AScreenReaderReadsTheSignedInWindowAndTabsInOrder) {
    if (::access(kPython, X_OK) != 0 || ::access(kBusLauncher, X_OK) != 0) GTEST_SKIP() << "no AT-SPI (scripts/setup)";
    const orvik_test::TempDir& files = desktop->files();
    orvik_test::ServiceProcess session("/usr/bin/dbus-daemon", {"--session", "--nofork", "--address=unix:path=" + files.file("bus")});
    orvik_test::ScopedEnvironment address("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + files.file("bus"));
    ASSERT_TRUE(orvik_test::waitUntil([&] { return ::access(files.file("bus").c_str(), F_OK) == 0; }));
    orvik_test::ServiceProcess launcher(kBusLauncher, {"--launch-immediately"});
    Stop stopLauncher{launcher};
    // What a screen reader sets when it starts: programs then publish their trees.
    ASSERT_TRUE(orvik_test::waitUntil([] {
        return orvik_test::runCaptured("/usr/bin/dbus-send", {"--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                   "org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status", "string:IsEnabled", "variant:boolean:true"}).exitCode == 0;
    }));
    std::ostringstream account;  // scripts/run's local account, which fills the login form
    account << std::ifstream(ORVIK_LOCAL_ACCOUNT).rdbuf();
    files.write("orvik/account.json", account.str());
    orvik_test::ServiceProcess client(ORVIK_CLIENT_EXE, {}, files.file("client.txt"));
    const auto window = desktop->mainWindow();
    ASSERT_TRUE(window) << files.read("client.txt");
    std::vector<Accessible> tree, actions;
    const auto find = [&tree](const std::string& role, const std::string& start = "") {
        for (const Accessible& object : tree)
            if (object.role == role && object.name.rfind(start, 0) == 0) return object;
        return Accessible{};
    };
    // Once the login shows (after the saved session was checked), Return twice signs in.
    ASSERT_TRUE(orvik_test::waitUntil([&] { return (tree = probe("tree")), find("dialog", "登录").showing; }, 20000));
    ASSERT_TRUE(desktop->xdotool({"windowfocus", std::to_string(window->id)}) && desktop->xdotool({"key", "Return", "Return"}));
    ASSERT_TRUE(orvik_test::waitUntil([&] { return (tree = probe("tree")), find("dialog").role.empty(); }, 20000));
    for (const Accessible& object : tree) {
        EXPECT_TRUE(object.showing && !object.name.empty()) << object.role << " \"" << object.name << "\": hidden or unnamed";
        if (object.role == "push button") actions.push_back(object);
    }
    // The state, the route, and the primary action that kept the focus after the sign-in and carries the state.
    const std::vector<Accessible> primary = probe("focus");
    ASSERT_EQ(primary.size(), 1u);
    EXPECT_EQ(find("label").name + "|" + primary[0].name + "|" + primary[0].description, "尚未连接，目的地已就绪|开始连接|尚未连接，目的地已就绪");
    EXPECT_NE(find("push button", "当前线路，").name.find("Local demo node"), std::string::npos) << "the route";

    std::vector<Accessible> reached = primary;
    std::set<std::string> once;
    for (size_t i = 0; i < actions.size(); ++i) {
        ASSERT_TRUE(desktop->xdotool({"key", "Tab"}));
        std::vector<Accessible> focus;
        ASSERT_TRUE(orvik_test::waitUntil([&] { return (focus = probe("focus")).size() == 1 && focus[0].name != reached.back().name; }))
            << "Tab stayed on " << reached.back().name;
        EXPECT_TRUE(focus[0].role == "push button" && once.insert(focus[0].name).second) << focus[0].name;
        EXPECT_TRUE(i == 0 || reached.back().before(focus[0])) << reached.back().name << " then " << focus[0].name;
        reached.push_back(focus[0]);
    }
    EXPECT_EQ(reached.back().name, primary[0].name) << "every action once, round to the primary action";
}

}  // namespace
