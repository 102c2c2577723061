// One whole session of the real Orvik program as a user has it: inside the machine of a
// RouterLab, with the tunnel doubles, on a desktop of the test's own. Keys sign in through the
// login form and connect; the client starts the real service, the tunnel comes up and the
// window shows the connected colours; a close hides it in the tray; the tray menu's 退出 ends
// the service and then the client. The pictures stay under the build tree's shots/.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/app/desktop_session_linux.h"
#include "tests/support/netns_linux.h"
#include "tests/support/process_probe.h"
#include "tests/support/service_client.h"
#include "tests/support/session_file.h"

namespace {

namespace fs = std::filesystem;
using orvik_test::DesktopSession;
using orvik_test::XWindow;

const char* const kNode = "198.18.70.1";
const char* const kTun = "192.168.123.1";
const char* const kEmail = "e2e@velora.test";  // not the form's prefilled account: the keys must land
const char* const kPassword = "e2e-secret";

// Theme.qml (light) and PrimaryAction.qml: the window's surface and the main button's fill.
const QColor kSurfaceOff("#F5F4EF");
const QColor kSurfaceConnected("#F8F7F1");
const QColor kButtonConnected("#EDF8F4");

bool near(QRgb pixel, const QColor& colour, int tolerance) {
    return std::abs(qRed(pixel) - colour.red()) <= tolerance && std::abs(qGreen(pixel) - colour.green()) <= tolerance &&
           std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

// The surface where nothing else draws: by the bottom-left corner, beyond the glow and the dots.
bool surfaceIs(const QImage& shot, const QColor& colour) {
    return !shot.isNull() && near(shot.pixel(24, shot.height() - 40), colour, 1);
}

// Most of a 148 x 48 button (less its label and border) in the connected fill.
bool buttonIsConnected(const QImage& shot) {
    int count = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) count += near(shot.pixel(x, y), kButtonConnected, 2);
    }
    return count > 148 * 48 / 2;
}

// The service the client started for `runtime`: the process running our build's service with it.
long serviceFor(const std::string& runtime) {
    const fs::path service = fs::canonical(ORVIK_SERVICE_EXE);
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
        if (fs::read_symlink(entry.path() / "exe", ignored) != service) continue;
        std::ostringstream words;
        words << std::ifstream(entry.path() / "cmdline").rdbuf();
        if (words.str().find(std::string("--runtime") + '\0' + runtime + '\0') != std::string::npos)
            return std::stol(entry.path().filename().string());
    }
    return -1;
}

class AppSession : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = orvik_test::whyNoNetworkLab(); !why.empty()) GTEST_SKIP() << why;
        if (const std::string why = DesktopSession::whyNoDesktop(); !why.empty()) GTEST_SKIP() << why;
        ASSERT_EQ(lab.error(), "");
        ASSERT_TRUE(lab.installTools(ORVIK_XRAY_DOUBLE, ORVIK_TUN2SOCKS_DOUBLE));
        orvik_test::LocalAccount{.address = kNode, .email = kEmail, .password = kPassword}.writeTo(lab, false);
        fs::create_directories(ORVIK_SHOTS_DIR);
    }

    // Takes pictures of `window` until one satisfies `wanted`; that one is kept as `name`.
    bool shotUntil(const DesktopSession& desktop, unsigned long window, const std::string& name,
                   const std::function<bool(const QImage&)>& wanted) {
        const std::string path = std::string(ORVIK_SHOTS_DIR) + "/" + name;
        return orvik_test::waitUntil([&] { return desktop.shot(path, window) && wanted(QImage(QString::fromStdString(path))); },
                                     30000);
    }

    orvik_test::RouterLab lab{{kNode}};
    std::string pipe = orvik_test::uniquePipeName(lab.root());
    orvik_test::ScopedEnvironment pipeVariable{"ORVIK_PIPE", pipe};
    orvik_test::ScopedEnvironment runtimeVariable{"ORVIK_RUNTIME", lab.root()};
    orvik_test::ScopedEnvironment panelVariable{"ORVIK_XBOARD_URL", std::nullopt};
};

TEST_F(AppSession, SignInConnectHideAndQuitFromTheTray) {
    ASSERT_TRUE(lab.inMachine([&] {
        DesktopSession desktop(ORVIK_DESKTOP_PROBE);
        ASSERT_EQ(desktop.error(), "");
        orvik_test::ServiceProcess client(ORVIK_CLIENT_EXE, {}, desktop.files().file("client.txt"));
        const std::optional<XWindow> window = desktop.mainWindow();
        ASSERT_TRUE(window) << desktop.files().read("client.txt");
        const std::string id = std::to_string(window->id);

        // The form opens on the e-mail field; Tab leads to the password, Return signs in.
        ASSERT_TRUE(desktop.xdotool({"windowfocus", id}));
        ASSERT_TRUE(desktop.xdotool({"key", "ctrl+a"}) && desktop.xdotool({"type", kEmail}));
        ASSERT_TRUE(desktop.xdotool({"key", "Tab", "ctrl+a"}) && desktop.xdotool({"type", kPassword}));
        ASSERT_TRUE(desktop.xdotool({"key", "Return"}));
        ASSERT_TRUE(shotUntil(desktop, window->id, "e2e-signed-in.png",
                              [](const QImage& shot) { return surfaceIs(shot, kSurfaceOff); }))
            << "the form did not close: " << lab.read("orvik-service.log");
        EXPECT_TRUE(lab.read(orvik_test::sessionFile()).find(kEmail) != std::string::npos);

        ASSERT_TRUE(desktop.xdotool({"key", "ctrl+Return"}));
        ASSERT_TRUE(shotUntil(desktop, window->id, "e2e-connected.png", [](const QImage& shot) {
            return surfaceIs(shot, kSurfaceConnected) && buttonIsConnected(shot);
        })) << lab.read("orvik-service.log");
        EXPECT_EQ(orvik_test::runCaptured(ORVIKCTL_EXE, {"--runtime", lab.root(), "status"}).out,
                  "Service   running\nTunnel    up\n");
        EXPECT_EQ(lab.notUp(kNode, kTun), "");
        const long service = serviceFor(lab.root());
        ASSERT_GT(service, 0);

        ASSERT_TRUE(desktop.clickCloseButton(*window));
        EXPECT_TRUE(orvik_test::waitUntil([&] { return !desktop.viewable(window->id); }));
        EXPECT_FALSE(client.wait(0)) << "the close ended the client";

        // The tray menu: 显示窗口, the connection's action, a separator, 退出 last.
        const std::optional<XWindow> icon = desktop.trayIcon();
        ASSERT_TRUE(icon);
        ASSERT_TRUE(desktop.click(icon->x + icon->width / 2, icon->y + icon->height / 2, 3));
        ASSERT_TRUE(desktop.otherWindow(*window)) << "no tray menu";
        desktop.shot(std::string(ORVIK_SHOTS_DIR) + "/e2e-tray-menu.png");
        ASSERT_TRUE(desktop.xdotool({"key", "Up", "Return"}));
        EXPECT_EQ(client.wait(15000), 0) << desktop.files().read("client.txt");
        EXPECT_TRUE(orvik_test::waitProcessGone(service, 10000));
        EXPECT_FALSE(fs::exists(pipe));
        EXPECT_EQ(lab.leftOver(), "");
    }, true)) << lab.error();
}

}  // namespace
