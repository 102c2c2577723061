import QtQuick
import Orvik.Style
import Orvik.Tessel

Item {
    id: root

    OrvikTestCase {
        name: "Window"

        // Signed out: the login overlay, signed-out labels, and every way in leads to the login.
        function test_signedOut() {
            const window = openWindow()
            const login = findChild(window, "loginOverlay")
            tryCompare(login, "visible", true)
            compare(window.displayStatusTitle, "尚未登录")
            compare(window.displayStatusCopy, "请先登录面板账号")
            compare(findChild(window, "header").accountControl.Accessible.name, "查看会员信息，未登录")  // the tier alone
            shot(window.contentItem, "window-signed-out")
            for (const opener of ["readout", "primaryButton"]) {
                login.close()
                tryCompare(login, "visible", false)
                mouseClick(findChild(window, opener))
                verify(login.visible, opener + " opens the login")
                verify(!findChild(window, "routePalette").visible)
            }
            login.close()
            tryCompare(login, "visible", false)
            mouseClick(findChild(window, "header").accountControl)
            verify(login.visible, "the badge opens the login")
        }

        // Ctrl+Return connects; the labels follow the controller through the states and the time
        // shows only while connected. The service answers late enough for the connecting window to
        // settle for its picture. Connected, a failed switch's notice replaces the copy and a click
        // on the main button disconnects.
        function test_states_data() {
            return [
                { tag: "off", state: "off", label: "开始连接", title: "尚未连接", copy: "目的地已就绪" },
                { tag: "connecting", state: "igniting", delay: 6000, label: "取消", copy: "请稍候" },
                { tag: "connected", state: "lit", label: "结束连接", title: "连接稳定", copy: "东京 · %1 ms" },
                { tag: "fault", state: "fault", error: "节点拒绝了连接", label: "重新连接", title: "连接未完成",
                  copy: "请重试或选择其他线路" }
            ]
        }
        function test_states(row) {
            const window = openWindow({ signedIn: true })
            app.serviceAnswers(row.delay || 0, row.error || "")
            if (row.state !== "off")
                keySequence("Ctrl+Return")
            tryCompare(window.controller, "visualState", row.state, 10000)
            compare(window.primaryLabel, row.label)
            if (row.title)  // connecting, it names the stage
                compare(window.displayStatusTitle, row.title)
            compare(window.displayStatusCopy, row.copy.replace("%1", window.controller.latency))
            compare(findChild(window, "connectionTime").visible, row.state === "lit")
            if (row.state === "fault")
                tryVerify(() => sameColor(findChild(window, "statusTitle").color, Theme.fault), 2000, "fault title")
            shot(window.contentItem, "window-" + row.tag)
            compare(window.controller.visualState, row.state, "the same state in the picture")
            if (row.state !== "lit")
                return
            app.serviceAnswers(0, "新节点不可用")
            window.controller.selectRoute("美国·洛杉矶", "美国", "洛杉矶", 50)
            tryCompare(window, "displayStatusCopy", "新线路未能连接，已恢复 东京", 10000)
            compare(window.controller.visualState, "lit")
            mouseClick(findChild(window, "primaryButton"))
            tryCompare(window.controller, "visualState", "off", 10000)
        }

        // While a popup is open the window's shortcuts do nothing; F4 needs demo controls.
        function test_shortcutsWaitForPopups() {
            const window = openWindow({ signedIn: true })
            const more = findChild(window, "morePopover")
            more.open()
            tryCompare(more, "opened", true)
            const theme = window.preferences.themeMode
            keySequence("Ctrl+Shift+T")
            keySequence("Ctrl+K")
            keySequence("Ctrl+Return")
            compare(window.preferences.themeMode, theme)
            verify(!findChild(window, "routePalette").visible)
            compare(window.controller.visualState, "off")
            more.close()
            tryCompare(more, "visible", false)
            keySequence("F4")
            wait(50)
            compare(window.controller.visualState, "off", "F4 without demo controls")
            keySequence("Ctrl+Shift+T")
            verify(window.preferences.themeMode !== theme)
            keySequence("Ctrl+K")
            tryCompare(findChild(window, "routePalette"), "visible", true)
        }

        function test_compact_data() {
            return [
                { tag: "679 wide", width: 679, height: 700, compact: true },
                { tag: "679 high", width: 736, height: 679, compact: true },
                { tag: "680 x 680", width: 680, height: 680, compact: false }
            ]
        }
        function test_compact(row) {
            const window = openWindow({ signedIn: true }, { width: row.width, height: row.height })
            compare(window.compact, row.compact)
            if (row.tag === "679 wide")
                shot(window.contentItem, "window-compact")
        }
    }
}
