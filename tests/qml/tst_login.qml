import QtQuick
import QtTest
import Orvik.Style
import Orvik.Tessel

Rectangle {
    id: root
    width: 736
    height: 700
    color: Theme.background

    Component {
        id: mainComponent
        Main {}
    }
    Component {
        id: loginComponent
        LoginOverlay {}
    }

    OrvikTestCase {
        name: "Login"

        function cleanup() {
            Theme.darkMode = false
        }

        // The overlay over fresh application objects, open, once the session check has answered.
        function openOverlay(options, registerMode) {
            const account = app.objects(options).account
            verify(account, "the application objects")
            const overlay = createTemporaryObject(loginComponent, root, { account: account, registerMode: registerMode })
            root.Window.window.requestActivate()  // keys go here, not to an earlier test's window
            overlay.open()
            tryVerify(() => root.Window.active && !account.restoring && overlay.opened)
            return overlay
        }

        // A pixel of the window at a point of `item` (grabImage crops by the parent's coordinates).
        function pixel(window, item, x, y) {
            const point = item.mapToItem(null, x, y)
            return grabImage(window.contentItem).pixel(point.x, point.y)
        }

        function part(overlay, name) {
            const item = findChild(overlay.contentItem, name)
            verify(item, name)
            return item
        }

        function type(text) {
            for (const ch of text)
                keyClick(ch)
        }

        function registerRequests() {
            return app.panelRequests().filter(request => request.endsWith("/passport/auth/register")).length
        }

        // Without a panel the test account is shown and pre-filled: one click signs in and
        // the window's overlay closes.
        function test_localAccount() {
            const window = createTemporaryObject(mainComponent, root, app.objects({}))
            const overlay = findChild(window, "loginOverlay")
            tryVerify(() => overlay.opened)
            compare(part(overlay, "subtitle").text, "测试账号 demo@velora.local / velora")
            verify(!part(overlay, "modeSwitch").visible)
            const button = part(overlay, "mainButton")
            verify(button.enabled)
            const email = part(overlay, "emailField")
            verify(email.activeFocus)
            compareColor(pixel(window, email, 1, email.height / 2), Theme.focus, "focused border")
            mouseClick(button)
            tryVerify(() => !overlay.visible)
            verify(window.account.loggedIn)
        }

        // Typed with the keyboard: Return moves to the password, Return there signs in.
        function test_panelSignIn() {
            const overlay = openOverlay({ panel: true }, false)
            compare(part(overlay, "subtitle").text, "使用面板账号")
            const button = part(overlay, "mainButton")
            verify(!button.enabled)
            type("member@example.com")
            keyClick(Qt.Key_Return)
            verify(part(overlay, "passwordField").activeFocus)
            type("correct-horse-1")
            keyClick(Qt.Key_Return)
            compare(button.text, "登录中…")
            verify(!button.enabled && !part(overlay, "passwordField").enabled)
            tryVerify(() => !overlay.visible)
            verify(overlay.account.loggedIn)
            verify(app.panelRequests().includes("GET /api/v1/guest/comm/config"))
        }

        // Return walks through the visible fields and presses the button after the last one.
        function test_returnKeys_data() {
            return [
                { tag: "no code", options: {}, error: "密码至少 8 位",
                  path: "emailField passwordField confirmField inviteField" },
                { tag: "code", options: { emailVerify: true }, error: "请填写邮箱验证码",
                  path: "emailField passwordField confirmField inviteField codeField" }
            ]
        }
        function test_returnKeys(row) {
            const overlay = openOverlay(Object.assign({ panel: true }, row.options), true)
            keyClick(Qt.Key_A)  // an e-mail text enables the button
            for (const name of row.path.split(" ")) {
                verify(part(overlay, name).activeFocus, name)
                keyClick(Qt.Key_Return)
            }
            compare(part(overlay, "errorLine").text, row.error)
        }

        // The form's checks in order, each stopping the registration before any request.
        function test_registrationChecks_data() {
            return [
                { tag: "passwords differ", confirm: "password-2", invite: "", code: "", error: "两次密码不一致" },
                { tag: "no invite", confirm: "password-1", invite: "  ", code: "", error: "请填写邀请码" },
                { tag: "no code", confirm: "password-1", invite: "FRIEND", code: " ", error: "请填写邮箱验证码" },
                { tag: "complete", confirm: "password-1", invite: "FRIEND", code: "123456", error: "" }
            ]
        }
        function test_registrationChecks(row) {
            const overlay = openOverlay({ panel: true, invite: true, emailVerify: true }, true)
            tryCompare(part(overlay, "inviteField"), "placeholderText", "邀请码（必填）")
            part(overlay, "emailField").text = "new@example.com"
            part(overlay, "passwordField").text = "password-1"
            part(overlay, "confirmField").text = row.confirm
            part(overlay, "inviteField").text = row.invite
            part(overlay, "codeField").text = row.code
            mouseClick(part(overlay, "mainButton"))
            compare(overlay.formError, row.error)
            compare(overlay.account.busy, row.error === "", "a request runs")
            if (row.error === "")
                tryVerify(() => registerRequests() === 1)
            else
                compare(part(overlay, "errorLine").text, row.error)
        }

        // The form's message hides the controller's error until the mode switch clears it.
        function test_formErrorWins() {
            const overlay = openOverlay({ panel: true }, true)
            part(overlay, "emailField").text = "new@example.com"
            part(overlay, "passwordField").text = "short"
            part(overlay, "confirmField").text = "short"
            mouseClick(part(overlay, "mainButton"))
            const error = part(overlay, "errorLine")
            compare(error.text, "密码至少 8 位")
            part(overlay, "confirmField").text = "shorter"
            mouseClick(part(overlay, "mainButton"))
            compare(error.text, "两次密码不一致")
            mouseClick(part(overlay, "modeSwitch"))
            verify(!overlay.registerMode)
            compare(error.text, "密码至少 8 位")
            compare(registerRequests(), 0)
        }

        function test_recaptchaBlocksRegistration() {
            const overlay = openOverlay({ panel: true, recaptcha: true }, true)
            part(overlay, "emailField").text = "new@example.com"
            tryCompare(part(overlay, "subtitle"), "text", "面板开启了人机验证，请到网站注册")
            verify(!part(overlay, "mainButton").enabled)
            mouseClick(part(overlay, "modeSwitch"))
            verify(part(overlay, "mainButton").enabled)
        }

        // "发送" starts the cool-down even when the controller refuses the address.
        function test_sendCooldown() {
            const overlay = openOverlay({ panel: true, emailVerify: true }, true)
            const send = part(overlay, "sendButton")
            tryVerify(() => send.visible)
            verify(!send.enabled)
            part(overlay, "emailField").text = "no-address"
            mouseClick(send)
            compare(part(overlay, "errorLine").text, "请先填写邮箱")
            compare(send.text, "60s")
            verify(!send.enabled)
            const timer = findChild(overlay, "cooldownTimer")
            verify(timer.running)
            const texts = []
            for (let tick = 0; tick < 61; ++tick) {
                timer.triggered()
                texts.push(send.text)
            }
            compare(texts.slice(0, 3).concat(texts.slice(58)).join(" "), "59s 58s 57s 1s 发送 发送")
            compare(overlay.emailCooldown, 0)
            verify(send.enabled && !timer.running)
        }

        function test_shots_data() {
            return [
                { tag: "login-light", dark: false, registerMode: false },
                { tag: "login-dark", dark: true, registerMode: false },
                { tag: "register-light", dark: false, registerMode: true },
                { tag: "register-dark", dark: true, registerMode: true }
            ]
        }
        function test_shots(row) {
            Theme.darkMode = row.dark
            const overlay = openOverlay({ panel: true, invite: true, emailVerify: true }, row.registerMode)
            tryVerify(() => overlay.account.inviteRequired)
            if (row.registerMode) {
                part(overlay, "emailField").text = "new@example.com"
                mouseClick(part(overlay, "sendButton"))
                tryVerify(() => !overlay.account.busy)
                part(overlay, "passwordField").text = "password-1"
                part(overlay, "confirmField").text = "password-2"
                mouseClick(part(overlay, "mainButton"))
            }
            grabImage(root.Window.window.contentItem).save(shotsDirectory + "/login-" + row.tag + ".png")
        }
    }
}
