#include "tests/app/desktop_session_linux.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>

#include "tests/support/process_probe.h"

namespace orvik_test {
namespace {

const char* const kTitle = "Velora";  // the client's windows and its tray icon all bear it
constexpr int kCommandMs = 10000;     // no xdotool or xwininfo call may hang a test

// The program's full path from PATH, "" when it is not installed.
std::string installed(const std::string& name) {
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    for (std::string folder; std::getline(path, folder, ':');) {
        const std::string candidate = folder + "/" + name;
        if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

std::optional<std::string> run(const std::string& program, const std::vector<std::string>& arguments) {
    CapturedRun result = runCaptured(installed(program), arguments, kCommandMs);
    if (result.exitCode != 0) return std::nullopt;
    return result.out;
}

// One line of xwininfo's window lists: `0x400015 "Velora": ("Orvik" "Orvik Tessel")  736x700+0+0  +0+0`.
std::optional<XWindow> parseWindow(const std::string& line) {
    XWindow window;
    std::istringstream words(line);
    std::string id;
    if (!(words >> id) || !id.starts_with("0x")) return std::nullopt;
    window.id = std::stoul(id, nullptr, 16);
    const size_t open = line.find('"');
    const size_t close = line.find("\": ");
    if (open != std::string::npos && close != std::string::npos && close > open)
        window.name = line.substr(open + 1, close - open - 1);
    std::vector<std::string> all;
    for (std::string word; words >> word;) all.push_back(word);
    int relativeX = 0, relativeY = 0;
    if (all.size() < 2 ||
        std::sscanf(all[all.size() - 2].c_str(), "%dx%d+%d+%d", &window.width, &window.height, &relativeX, &relativeY) != 4 ||
        std::sscanf(all.back().c_str(), "+%d+%d", &window.x, &window.y) != 2)
        return std::nullopt;
    return window;
}

// In the sanitizer build the programs on the display keep their memory checks but not the leak
// check at exit: libdbus, which Qt's tray and theme use on X, keeps an allocation to the end.
// The client's own objects are checked for leaks by the Qt and QML tests, in process.
std::string withoutLeakCheck() {
    const char* options = std::getenv("ASAN_OPTIONS");
    return (options && *options ? std::string(options) + ":" : "") + "detect_leaks=0";
}

}  // namespace

std::string DesktopSession::whyNoDesktop() {
    for (const char* program : {"Xvfb", "trayer", "xdotool", "xwininfo"}) {
        if (installed(program).empty())
            return std::string(program) + " is not installed (scripts/setup installs it); skipped";
    }
    return "";
}

DesktopSession::DesktopSession(std::string probe) : probe_(std::move(probe)) {
    if (!start() && error_.empty()) error_ = "the virtual desktop did not start";
}

DesktopSession::~DesktopSession() {
    // Asked to end, Xvfb removes its lock file and socket; killed, it would leave them.
    for (ServiceProcess* process : {trayer_.get(), xvfb_.get()}) {
        if (process && process->interrupt(SIGTERM)) process->wait(5000);
    }
}

bool DesktopSession::start() {
    ::mkdir(runtimeDirectory().c_str(), 0700);  // Qt accepts only a private runtime folder
    files_.write("tmp/.keep", "");
    files_.write("config/.keep", "");
    const std::vector<std::pair<const char*, std::optional<std::string>>> variables{
        {"XDG_RUNTIME_DIR", runtimeDirectory()}, {"TMPDIR", files_.file("tmp")},
        {"XDG_CONFIG_HOME", files_.file("config")}, {"WAYLAND_DISPLAY", std::nullopt},
        {"QT_QPA_PLATFORM", std::nullopt}, {"ASAN_OPTIONS", withoutLeakCheck()}};
    for (const auto& [name, value] : variables) environment_.push_back(std::make_unique<ScopedEnvironment>(name, value));

    // Xvfb picks a free display and writes its number on standard output once it serves.
    xvfb_ = std::make_unique<ServiceProcess>(installed("Xvfb"),
        std::vector<std::string>{"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
        files_.file("xvfb.txt"));
    if (!xvfb_->started() || !waitUntil([this] { return !display().empty() || xvfb_->wait(0); }) ||
        display().empty()) {
        error_ = "Xvfb did not start: " + files_.read("xvfb.txt");
        return false;
    }
    environment_.push_back(std::make_unique<ScopedEnvironment>("DISPLAY", ":" + display()));
    trayer_ = std::make_unique<ServiceProcess>(installed("trayer"),
        std::vector<std::string>{"--edge", "bottom", "--align", "right", "--widthtype", "request", "--height", "24"},
        files_.file("trayer.txt"));
    // The client looks for a tray once, at start: it must be there before.
    if (!waitUntil([this] { return runCaptured(probe_, {"tray"}, kCommandMs).exitCode == 0; })) {
        error_ = "no tray on the virtual display: " + files_.read("trayer.txt");
        return false;
    }
    return true;
}

std::string DesktopSession::display() const {
    std::istringstream lines(files_.read("xvfb.txt"));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) return line;
    }
    return "";
}

std::vector<XWindow> DesktopSession::windows(const std::string& treeOf) const {
    const auto listing = treeOf.empty() ? run("xwininfo", {"-root", "-children"}) : run("xwininfo", {"-id", treeOf, "-tree"});
    std::vector<XWindow> found;
    std::istringstream lines(listing.value_or(""));
    for (std::string line; std::getline(lines, line);) {
        if (auto window = parseWindow(line)) found.push_back(*window);
    }
    return found;
}

unsigned long DesktopSession::panel() const {
    for (const XWindow& window : windows()) {
        if (window.name == "panel") return window.id;
    }
    return 0;
}

std::optional<XWindow> DesktopSession::waitForWindow(bool inTray, const std::function<bool(const XWindow&)>& wanted,
                                                     int timeoutMs) const {
    std::optional<XWindow> found;
    waitUntil([&] {
        const unsigned long tray = inTray ? panel() : 0;
        if (inTray && !tray) return false;
        for (const XWindow& window : windows(tray ? std::to_string(tray) : "")) {
            if (window.name == kTitle && wanted(window) && viewable(window.id)) found = window;
        }
        return found.has_value();
    }, timeoutMs);
    return found;
}

// The main window is the big one; menus are small, and the 1x1 one is Qt's group leader.
std::optional<XWindow> DesktopSession::mainWindow(int timeoutMs) const {
    return waitForWindow(false, [](const XWindow& window) { return window.width >= 600; }, timeoutMs);
}

std::optional<XWindow> DesktopSession::trayIcon(int timeoutMs) const {
    return waitForWindow(true, [](const XWindow&) { return true; }, timeoutMs);
}

bool DesktopSession::trayHolds(const std::string& text, int timeoutMs) const {
    return waitUntil([&] {
        const unsigned long tray = panel();
        const auto tree = tray ? run("xwininfo", {"-id", std::to_string(tray), "-tree"}) : std::nullopt;
        return tree && tree->find(text) != std::string::npos;
    }, timeoutMs);
}

std::optional<XWindow> DesktopSession::otherWindow(const XWindow& main, int timeoutMs) const {
    return waitForWindow(false, [&](const XWindow& window) { return window.id != main.id && window.width > 1; },
                         timeoutMs);
}

bool DesktopSession::viewable(unsigned long window) const {
    const auto state = run("xwininfo", {"-id", std::to_string(window)});
    return state && state->find("Map State: IsViewable") != std::string::npos;
}

bool DesktopSession::above(unsigned long upper, unsigned long lower) const {
    for (const XWindow& window : windows()) {  // listed top first
        if (window.id == upper) return true;
        if (window.id == lower) return false;
    }
    return false;
}

unsigned long DesktopSession::raisePanel() const {
    const unsigned long tray = panel();
    return tray && xdotool({"windowraise", std::to_string(tray)}) ? tray : 0;
}

bool DesktopSession::xdotool(const std::vector<std::string>& arguments) const {
    return run("xdotool", arguments).has_value();
}

bool DesktopSession::click(int x, int y, int button) const {
    return xdotool({"mousemove", std::to_string(x), std::to_string(y), "click", std::to_string(button)});
}

bool DesktopSession::clickCloseButton(const XWindow& window) const {
    // MinimalHeader.qml: the top bar is 58 px high; its last button, 34 px wide, sits 18 px from
    // the right edge.
    return click(window.x + window.width - 18 - 17, window.y + 29);
}

bool DesktopSession::shot(const std::string& path, unsigned long window) const {
    return runCaptured(probe_, {"shot", path, std::to_string(window)}, kCommandMs).exitCode == 0;
}

}  // namespace orvik_test
