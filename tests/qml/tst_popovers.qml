import QtQuick
import Orvik.Style
import Orvik.Tessel

// The account, "more" and diagnostics popovers, alone or through the real window where it matters.
Item {
    id: root
    width: 600
    height: 400

    Component { id: accountComponent; AccountPopover {} }
    Component { id: headerComponent; MinimalHeader { width: 560 } }

    OrvikTestCase {
        name: "Popovers"

        // A window (signed in unless told, else with its login closed) whose connection reached
        // `state` (the service answers after `delay` ms, or fails).
        function makeWindow(options, state, delay, error) {
            const window = openWindow(Object.assign({ signedIn: true }, options))
            app.serviceAnswers(delay || 0, error || "")
            if (state && state !== "off")
                window.controller.primaryAction()
            tryVerify(() => !window.account.restoring && window.controller.visualState === (state || "off"), 5000)
            findChild(window, "loginOverlay").close()
            return { window: window, header: findChild(window, "header") }
        }

        // Opens the "account" or "more" popover by its header control, the diagnostics directly.
        function openPopover(w, name) {
            name === "diagnostics" ? w.window.openDiagnostics() : mouseClick(w.header[name + "Control"])
            const popover = findChild(w.window, name + "Popover")
            tryVerify(() => popover.opened)
            return popover
        }

        // The remaining time warns, in the popover and on the header's badge alike, at 7 days or less
        // and after expiry, never when unlimited (below 0); the devices line's forms.
        function test_accountFacts_data() {
            return [
                { tag: "7 days left, no device limit", days: 7, used: 2, limit: 0, warn: true, devices: "—" },
                { tag: "8 days left, nothing registered", days: 8, used: 0, limit: 3, warn: false, devices: "— / 3" },
                { tag: "unlimited", days: -1, used: 2, limit: 3, warn: false, devices: "2 / 3" },
                { tag: "expired", days: 30, active: false, used: 1, limit: 5, warn: true, devices: "1 / 5" }
            ]
        }
        function test_accountFacts(data) {
            const popover = createTemporaryObject(accountComponent, root, { remainingDays: data.days,
                membershipActive: data.active !== false, usedDevices: data.used, deviceLimit: data.limit })
            compare(findChild(part(popover, "remaining"), "value").color, data.warn ? Theme.fault : Theme.textPrimary)
            compare(findChild(part(popover, "devices"), "value").text, data.devices)
            const header = createTemporaryObject(headerComponent, root, { remainingDays: data.days,
                membershipActive: data.active !== false, remainingLabel: "剩余 7 天" })
            compare(findChild(header, "remaining").color, data.warn ? Theme.fault : Theme.textSecondary)
        }

        // The account's buttons, reached by Tab round its close button, close it and open the shop or
        // sign out; the rows of "more" keep it open and act, and with an update available the update
        // row downloads. A second click on the badge or "⋯" closes its popover, and the focus back on
        // it shows no ring after a click.
        function test_buttons_data() {
            return [
                { tag: "shop", popover: "account", key: Qt.Key_Tab, button: "shopButton", shop: true },
                { tag: "logout", popover: "account", key: Qt.Key_Backtab, button: "logoutButton", signedOut: true },
                { tag: "badge again", popover: "account", button: "accountControl" },
                { tag: "more again", popover: "more", button: "moreControl" },
                { tag: "appearance", popover: "more", button: "appearanceRow", clicks: 2, shows: "深色 | Velora 0.1.0 | 0" },
                { tag: "motion", popover: "more", button: "motionRow", shows: "开启 | Velora 0.1.0 | 0" },
                { tag: "check", popover: "more", button: "updateRow", clicks: 2, shows: "› | Velora 0.1.0  ·  已是最新版本 0.1.0 | 0" },
                { tag: "download", popover: "more", update: true, button: "updateRow", clicks: 2, shows: "› | Velora 0.1.0  ·  有新版本 9.0.0 | 1" }
            ]
        }
        function test_buttons(data) {
            const w = makeWindow({ update: data.update === true })
            const popover = openPopover(w, data.popover)
            const opener = w.header[data.button]
            const button = opener || part(popover, data.button)
            if (data.key) {
                tryVerify(() => part(popover, "closeButton").activeFocus)
                keyClick(data.key)
                verify(button.activeFocus)
                keyClick(Qt.Key_Space)
            }
            for (let i = 0; i < (data.key ? 0 : data.clicks || 1); ++i) {
                mouseClick(button)
                tryVerify(() => !w.window.updater.busy)
            }
            tryCompare(popover, "visible", data.popover === "more" && !opener)
            verify(!opener || button.activeFocus && !button.visualFocus, "focus back, without a ring")
            tryCompare(findChild(w.window, "shopOverlay"), "visible", data.shop === true)
            tryCompare(w.window.account, "loggedIn", data.signedOut !== true)
            if (data.shows)  // the row's value | the version line | pages opened
                compare([findChild(button, "side").text, part(popover, "version").text, app.openedPages().length].join(" | "), data.shows)
        }

        // Tab runs round the "more" rows; "连接诊断" opens the diagnostics once "more" has closed. Height,
        // route and rows follow the state; "完成" keeps the focus and gives it back, ring and all, to "⋯".
        function test_diagnostics_data() {
            return [
                { tag: "signed out", signedIn: false, state: "off", shown: /^292\|\|等待连接\|未检测\|未运行$/ },
                { tag: "off", state: "off", shown: /^292\|日本 · 东京\|等待连接\|未检测\|未运行$/ },
                { tag: "igniting", state: "igniting", delay: 2000, shown: /^292\|日本 · 东京\|等待连接\|未检测\|未运行$/ },
                { tag: "lit", state: "lit", shown: /^318\|日本 · 东京\|正常\|\d+ ms\|已通过\|\d\d:\d\d:\d\d$/ },
                { tag: "fault", state: "fault", error: "节点拒绝了连接", shown: /^330\|日本 · 东京\|等待连接\|未响应\|未运行\|节点拒绝了连接$/ }
            ]
        }
        function test_diagnostics(data) {
            const w = makeWindow({ signedIn: data.signedIn !== false }, data.state, data.delay, data.error)
            const more = openPopover(w, "more")
            tryVerify(() => part(more, "appearanceRow").activeFocus)
            for (const [key, name] of [[Qt.Key_Backtab, "quitRow"], [Qt.Key_Tab, "appearanceRow"],
                                       [Qt.Key_Tab, "motionRow"], [Qt.Key_Tab, "killSwitchRow"],
                                       [Qt.Key_Tab, "lanRow"], [Qt.Key_Tab, "diagnosticsRow"]]) {
                keyClick(key)
                verify(part(more, name).activeFocus, name)
            }
            keyClick(Qt.Key_Space)
            const diagnostics = findChild(w.window, "diagnosticsPopover")
            tryVerify(() => diagnostics.opened && !more.visible)
            const items = ["destination", "clientRow", "targetRow", "configRow", "durationRow", "error"].map(name => part(diagnostics, name))
            const shown = [diagnostics.height].concat(items.filter(item => item.visible).map(item => item.valueText || item.text)).join("|")
            verify(data.shown.test(shown), shown)
            keyClick(Qt.Key_Tab)  // stays on "完成"
            keyClick(Qt.Key_Space)
            tryVerify(() => !diagnostics.visible && w.header.moreControl.visualFocus)
        }

        // Each popover in light and dark, after a failed connect.
        function test_shots_data() { return [{ tag: "light", dark: false }, { tag: "dark", dark: true }] }
        function test_shots(data) {
            const w = makeWindow({ update: true }, "fault", 0, "目标节点拒绝了连接，请稍后重试或选择其他线路。")
            if (data.dark)
                darken(w.window)
            for (const name of ["account", "more", "diagnostics"]) {
                const popover = openPopover(w, name)
                shot(w.window.contentItem.parent, "popover-" + name + "-" + data.tag)
                keyClick(Qt.Key_Escape)
                tryVerify(() => !popover.visible)
            }
        }
    }
}
