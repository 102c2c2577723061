import QtQuick
import Orvik.Style
import Orvik.Tessel

// The account, "more" and diagnostics popovers, alone where only the popover's rules matter and
// through the real window where the window opens, closes and returns focus.
Item {
    id: root
    width: 600
    height: 400

    Component { id: mainComponent; Main {} }
    Component { id: accountComponent; AccountPopover { remainingLabel: "剩余 7 天" } }

    OrvikTestCase {
        name: "Popovers"

        function makeWindow(options) {
            const objects = app.objects(Object.assign({ signedIn: true }, options))
            verify(objects.controller, "the application objects")
            const window = createTemporaryObject(mainComponent, root, objects)
            window.requestActivate()
            tryVerify(() => window.active)
            return { window: window, objects: objects, header: findChild(window, "header") }
        }

        function openMore(w) {
            mouseClick(w.header.moreControl)
            const more = findChild(w.window, "morePopover")
            tryVerify(() => more.opened)
            return more
        }

        function inside(popup, name) {
            return findChild(popup.contentItem, name)
        }

        function test_accountFacts_data() {
            return [
                { tag: "7 days left, no device limit", days: 7, used: 2, limit: 0, warn: true, devices: "—" },
                { tag: "8 days left, nothing registered", days: 8, used: 0, limit: 3, warn: false, devices: "— / 3" },
                { tag: "unlimited", days: -1, used: 2, limit: 3, warn: false, devices: "2 / 3" },
                { tag: "expired", days: 30, active: false, used: 1, limit: 5, warn: true, devices: "1 / 5" }
            ]
        }
        function test_accountFacts(data) {
            const active = data.active !== false
            const popover = createTemporaryObject(accountComponent, root, {
                remainingDays: data.days, membershipActive: active, usedDevices: data.used, deviceLimit: data.limit })
            const remaining = findChild(inside(popover, "remaining"), "value")
            compare(remaining.text, active ? "剩余 7 天" : "已到期")
            compare(remaining.color, data.warn ? Theme.fault : Theme.textPrimary)
            compare(findChild(inside(popover, "devices"), "value").text, data.devices)
            const status = inside(popover, "status")
            compare(status.text, active ? "当前会员有效" : "剩余 7 天")
            compare(status.color, active ? Theme.connected : Theme.fault)
        }

        // Tab stays on the close button; both buttons close the popover through the window.
        function test_accountButtons_data() {
            return [{ tag: "shop", button: "shopButton", shop: true }, { tag: "logout", button: "logoutButton", shop: false }]
        }
        function test_accountButtons(data) {
            const w = makeWindow()
            mouseClick(w.header.accountControl)
            const popover = findChild(w.window, "accountPopover")
            const close = inside(popover, "closeButton")
            tryVerify(() => popover.opened && close.activeFocus)
            keyClick(Qt.Key_Tab)
            verify(close.activeFocus)
            mouseClick(inside(popover, data.button))
            tryVerify(() => !popover.visible)
            tryCompare(findChild(w.window, "shopOverlay"), "visible", data.shop)
            tryCompare(w.objects.account, "loggedIn", data.shop)
        }

        function test_moreRows_data() {
            return [
                { tag: "appearance", row: "appearanceRow", clicks: 2, label: "外观", side: "深色", version: "Velora 0.1.0" },
                { tag: "motion", row: "motionRow", clicks: 1, label: "减少动态效果", side: "开启", version: "Velora 0.1.0" },
                { tag: "check, nothing new", row: "updateRow", clicks: 2, label: "检查更新", side: "›",
                  version: "Velora 0.1.0  ·  已是最新版本 0.1.0", pages: 0 },
                { tag: "update available", update: true, row: "updateRow", clicks: 2, label: "下载更新", side: "›",
                  version: "Velora 0.1.0  ·  有新版本 9.0.0", pages: 1 }
            ]
        }
        function test_moreRows(data) {
            const w = makeWindow({ update: data.update === true })
            const more = openMore(w)
            const row = inside(more, data.row)
            for (let i = 0; i < data.clicks; ++i) {
                mouseClick(row)
                tryVerify(() => !w.objects.updater.busy)
            }
            verify(more.opened)
            compare(row.text, data.label)
            compare(findChild(row, "side").text, data.side)
            compare(inside(more, "version").text, data.version)
            compare(app.openedPages().length, data.pages || 0)
        }

        // Tab runs round the rows; "连接诊断" closes the popover, then diagnostics open, keep the
        // focus on their done button and give it back to the header's "more" button.
        function test_moreKeysAndDiagnostics() {
            const w = makeWindow()
            const more = openMore(w)
            const focused = name => inside(more, name).activeFocus
            tryVerify(() => focused("appearanceRow"))
            keyClick(Qt.Key_Backtab)
            verify(focused("quitRow"))
            for (const name of ["appearanceRow", "motionRow", "diagnosticsRow"]) {
                keyClick(Qt.Key_Tab)
                verify(focused(name), name)
            }
            keyClick(Qt.Key_Space)
            const diagnostics = findChild(w.window, "diagnosticsPopover")
            tryVerify(() => diagnostics.opened)
            verify(!more.visible)
            const done = inside(diagnostics, "doneButton")
            keyClick(Qt.Key_Tab)
            verify(done.activeFocus)
            mouseClick(done)
            tryVerify(() => !diagnostics.visible)
            verify(w.header.moreControl.activeFocus)
        }

        function test_diagnostics_data() {
            return [
                { tag: "off", state: "off", height: 292, values: /^等待连接\|未检测\|未运行$/ },
                { tag: "igniting", state: "igniting", delay: 1500, height: 292, values: /^等待连接\|未检测\|未运行$/ },
                { tag: "lit", state: "lit", height: 318, values: /^正常\|\d+ ms\|已通过$/, duration: true },
                { tag: "fault", state: "fault", error: "节点拒绝了连接", height: 330, values: /^等待连接\|未响应\|未运行$/ }
            ]
        }
        function test_diagnostics(data) {
            const w = makeWindow()
            const controller = w.objects.controller
            app.serviceAnswers(data.delay || 0, data.error || "")
            if (data.state !== "off")
                controller.primaryAction()
            tryCompare(controller, "visualState", data.state, 5000)
            w.window.openDiagnostics()
            const diagnostics = findChild(w.window, "diagnosticsPopover")
            tryVerify(() => diagnostics.opened)
            compare(diagnostics.height, data.height)
            const values = ["clientRow", "targetRow", "configRow"].map(name => inside(diagnostics, name).valueText).join("|")
            verify(data.values.test(values), values)
            const duration = inside(diagnostics, "durationRow")
            compare(duration.visible, data.duration === true)
            compare(duration.valueText, controller.elapsedText)
            const error = inside(diagnostics, "error")
            compare(error.visible, data.state === "fault")
            compare(error.text, data.error || "")
            mouseClick(inside(diagnostics, "doneButton"))
            tryVerify(() => !diagnostics.visible)
            verify(findChild(w.window, "primaryButton").activeFocus)
        }

        // Each popover in light and dark; the diagnostics after a failed connect.
        function test_shots_data() {
            return [{ tag: "light", dark: false }, { tag: "dark", dark: true }]
        }
        function test_shots(data) {
            const w = makeWindow({ update: true })
            for (let i = 0; data.dark && i < 2; ++i)
                w.objects.preferences.cycleThemeMode()
            tryVerify(() => sameColor(findChild(w.window, "surface").color, Theme.background))
            app.serviceAnswers(0, "目标节点拒绝了连接，请稍后重试或选择其他线路。")
            w.objects.controller.primaryAction()
            tryCompare(w.objects.controller, "visualState", "fault", 5000)
            const openers = {
                account: () => mouseClick(w.header.accountControl),
                more: () => mouseClick(w.header.moreControl),
                diagnostics: () => w.window.openDiagnostics()
            }
            for (const name in openers) {
                openers[name]()
                const popover = findChild(w.window, name + "Popover")
                tryVerify(() => popover.opened)
                grabImage(w.window.contentItem.parent).save(shotsDirectory + "/popover-" + name + "-" + data.tag + ".png")
                keyClick(Qt.Key_Escape)
                tryVerify(() => !popover.visible)
            }
        }
    }
}
