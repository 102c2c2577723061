#pragma once
// A desktop of the test's own for the real Orvik program: Xvfb on a free display, trayer as the
// notification area, and private runtime, temporary and settings folders, all set in this
// process's environment for the programs it starts. The client is looked at from outside
// (xwininfo, screenshots) and driven with xdotool, as a user would drive it. Every wait is
// bounded; only the processes started here are ended, by their ids.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/environment.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_dir.h"

namespace orvik_test {

// A window as xwininfo lists it; x and y are absolute.
struct XWindow {
    unsigned long id = 0;
    std::string name;
    int width = 0;
    int height = 0;
    int x = 0;
    int y = 0;
};

class DesktopSession {
public:
    // `probe`: the desktop_probe program (screenshots, the tray check).
    explicit DesktopSession(std::string probe);
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // Empty when Xvfb, trayer, xdotool and xwininfo are installed; otherwise what is missing.
    static std::string whyNoDesktop();
    // Empty once the display and its tray stand; otherwise what failed.
    const std::string& error() const { return error_; }
    // XDG_RUNTIME_DIR of the session (where the client keeps its single-instance socket).
    std::string runtimeDirectory() const { return files_.file("runtime"); }
    const TempDir& files() const { return files_; }

    // The client's main window once it shows, within `timeoutMs`.
    std::optional<XWindow> mainWindow(int timeoutMs = 20000) const;
    // The client's icon in the tray once it shows, within `timeoutMs`.
    std::optional<XWindow> trayIcon(int timeoutMs = 20000) const;
    // True once the tray holds a window whose xwininfo line has `text` (e.g. a class), within `timeoutMs`.
    bool trayHolds(const std::string& text, int timeoutMs = 20000) const;
    // A client window other than `main` (a menu) once one shows, within `timeoutMs`.
    std::optional<XWindow> otherWindow(const XWindow& main, int timeoutMs = 10000) const;
    bool viewable(unsigned long window) const;
    // True when `upper` is stacked above `lower`, both children of the root.
    bool above(unsigned long upper, unsigned long lower) const;
    // Raises the tray panel above every other window and returns its id (0 when it failed): a
    // window found above it afterwards has been brought forward.
    unsigned long raisePanel() const;

    // xdotool with these arguments; true when it succeeded.
    bool xdotool(const std::vector<std::string>& arguments) const;
    bool click(int x, int y, int button = 1) const;
    // Presses the main window's close button (the top bar's last button), as a user does.
    bool clickCloseButton(const XWindow& window) const;
    // A PNG of `window` (0: the whole screen) at `path`.
    bool shot(const std::string& path, unsigned long window = 0) const;

private:
    bool start();
    std::string display() const;
    std::vector<XWindow> windows(const std::string& treeOf = {}) const;
    // trayer's panel, 0 when there is none.
    unsigned long panel() const;
    // The first viewable window titled as the client's, at the top level or in the tray, that
    // `wanted` accepts, once there is one.
    std::optional<XWindow> waitForWindow(bool inTray, const std::function<bool(const XWindow&)>& wanted,
                                         int timeoutMs) const;

    TempDir files_;
    std::string probe_;
    std::string error_;
    std::vector<std::unique_ptr<ScopedEnvironment>> environment_;
    std::unique_ptr<ServiceProcess> xvfb_;
    std::unique_ptr<ServiceProcess> trayer_;
};

}  // namespace orvik_test
