// Orvik.exe of the cross build under wine on a desktop of the test's own: its window draws, its
// icon joins the tray (wine docks it into the X tray), the close hides the window and a second
// start brings it forward. Skipped without a Windows client build (scripts/windows-qt).
#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <set>

#include "tests/app/desktop_session_linux.h"
#include "tests/support/process_probe.h"

namespace {

using orvik_test::DesktopSession;
using orvik_test::ScopedEnvironment;

constexpr int kWineMs = 120000;  // a fresh prefix takes a while to make

// The number of distinct colours in a picture: a window whose renderer failed is one colour.
size_t coloursIn(const QImage& picture) {
    std::set<QRgb> colours;
    for (int y = 0; y < picture.height(); y += 2) {
        for (int x = 0; x < picture.width(); x += 2) colours.insert(picture.pixel(x, y));
    }
    return colours.size();
}

TEST(WindowsClientUnderWine, ShowsItsWindowAndTrayIconComesForwardAndHidesOnClose) {
    if (!std::filesystem::exists(ORVIK_WINDOWS_CLIENT))
        GTEST_SKIP() << "no Windows client at " << ORVIK_WINDOWS_CLIENT << " (scripts/windows-qt, then the cross build)";
    if (const std::string why = DesktopSession::whyNoDesktop(); !why.empty()) GTEST_SKIP() << why;
    DesktopSession desktop(ORVIK_DESKTOP_PROBE);
    ASSERT_EQ(desktop.error(), "");
    // A prefix of the test's own, drawn by wine's X11 driver. Wine passes no QT_* variable, and its
    // Direct3D cannot compile Qt's shaders: the software renderer is named by its older variable.
    const ScopedEnvironment prefix("WINEPREFIX", desktop.files().file("wine"));
    const ScopedEnvironment quiet("WINEDEBUG", "-all");
    const ScopedEnvironment noGecko("WINEDLLOVERRIDES", "mscoree,mshtml=");
    const ScopedEnvironment renderer("QMLSCENE_DEVICE", "softwarecontext");
    ASSERT_EQ(orvik_test::runCaptured(ORVIK_WINE, {"wineboot", "-i"}, kWineMs).exitCode, 0);
    struct EndWine {
        ~EndWine() { orvik_test::runCaptured(ORVIK_WINESERVER, {"-k"}, 10000); }  // this prefix's only
    } endWine;

    orvik_test::ServiceProcess first(ORVIK_WINE, {ORVIK_WINDOWS_CLIENT}, desktop.files().file("first.txt"));
    const auto window = desktop.mainWindow(kWineMs);
    ASSERT_TRUE(window) << desktop.files().read("first.txt");
    const std::string picture = std::string(ORVIK_SHOTS_DIR) + "/wine-client.png";
    ASSERT_TRUE(orvik_test::waitUntil([&] {
        return desktop.shot(picture, window->id) && coloursIn(QImage(QString::fromStdString(picture))) > 16;
    }, 30000)) << "the window shows no drawing: " << picture;
    EXPECT_TRUE(desktop.trayHolds("\"explorer.exe\"")) << "no tray icon: a close would end the client";
    // Signed out, the client opens on the login form, which keeps clicks from the window.
    ASSERT_TRUE(desktop.xdotool({"windowfocus", std::to_string(window->id)}) && desktop.xdotool({"key", "Escape"}));

    ASSERT_TRUE(desktop.clickCloseButton(*window));
    EXPECT_TRUE(orvik_test::waitUntil([&] { return !desktop.viewable(window->id); }));
    EXPECT_FALSE(first.wait(0)) << "the close ended the client";

    const unsigned long panel = desktop.raisePanel();
    ASSERT_NE(panel, 0u);
    EXPECT_EQ(orvik_test::runCaptured(ORVIK_WINE, {ORVIK_WINDOWS_CLIENT}, kWineMs).exitCode, 0);
    EXPECT_TRUE(orvik_test::waitUntil([&] {
        const auto shown = desktop.mainWindow(0);
        return shown && desktop.above(shown->id, panel);
    }, 30000)) << "a second start did not bring the window forward";
    EXPECT_FALSE(first.wait(0)) << "the second start ended the first";
}

}  // namespace
