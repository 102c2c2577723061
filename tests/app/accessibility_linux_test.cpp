// The window as a screen reader meets it, on the real program: the app tests' desktop with a D-Bus
// session and the AT-SPI registry (at-spi2-core), read through pyatspi as Orca reads it. Signed in
// by keys, every object shows and has a name, the status and the primary action tell the state,
// and Tab reaches every action once, in reading order, and comes round.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/app/desktop_session_linux.h"
#include "tests/support/process_probe.h"

namespace {

using orvik_test::DesktopSession;

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

TEST(Accessibility, TheSignedInWindowReadsAndTabsInOrder) {
    if (const std::string why = DesktopSession::whyNoDesktop(); !why.empty()) GTEST_SKIP() << why;
    if (::access(kPython, X_OK) != 0 || ::access(kBusLauncher, X_OK) != 0) GTEST_SKIP() << "no AT-SPI (scripts/setup)";
    DesktopSession desktop(ORVIK_DESKTOP_PROBE);
    ASSERT_EQ(desktop.error(), "");
    const orvik_test::TempDir& files = desktop.files();
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
    files.write("orvik/xray/xray", "");
    orvik_test::ScopedEnvironment runtime("ORVIK_RUNTIME", files.file("orvik"));
    orvik_test::ScopedEnvironment noPanel("ORVIK_XBOARD_URL", std::nullopt);
    orvik_test::ServiceProcess client(ORVIK_CLIENT_EXE, {}, files.file("client.txt"));
    const auto window = desktop.mainWindow();
    ASSERT_TRUE(window) << files.read("client.txt");
    std::vector<Accessible> tree, actions;
    const auto find = [&tree](const std::string& role, const std::string& start = "") {
        for (const Accessible& object : tree)
            if (object.role == role && object.name.rfind(start, 0) == 0) return object;
        return Accessible{};
    };
    // Once the login shows (after the saved session was checked), Return twice signs in.
    ASSERT_TRUE(orvik_test::waitUntil([&] { return (tree = probe("tree")), find("dialog", "登录").showing; }, 20000));
    ASSERT_TRUE(desktop.xdotool({"windowfocus", std::to_string(window->id)}) && desktop.xdotool({"key", "Return", "Return"}));
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
        ASSERT_TRUE(desktop.xdotool({"key", "Tab"}));
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
