import QtQuick
import QtTest
import Orvik.Style
import Orvik.Tessel

Rectangle {
    id: root
    width: 736
    height: 700
    color: Theme.background

    Component { id: loginComponent; LoginOverlay {} }

    OrvikTestCase {
        name: "Login"

        // The overlay over fresh application objects, open, once the session check has answered.
        function openOverlay(options, registerMode) {
            const account = app.objects(Object.assign({ panel: true }, options)).account
            const overlay = createTemporaryObject(loginComponent, root, { account: account, registerMode: registerMode })
            root.Window.window.requestActivate()  // keys go here, not to an earlier test's window
            overlay.open()
            tryVerify(() => root.Window.active && !account.restoring && overlay.opened)
            return overlay
        }

        function fill(overlay, texts) { for (const name in texts) part(overlay, name).text = texts[name] }
        function registerRequests() { return app.panelBodies("/api/v1/passport/auth/register").length }

        // Without a panel the test account is shown and pre-filled: Return moves to the password,
        // Return there signs in, and the window's overlay closes.
        function test_localAccount() {
            const window = openWindow()
            const overlay = findChild(window, "loginOverlay")
            tryVerify(() => overlay.opened)
            compare(part(overlay, "subtitle").text, "测试账号 demo@velora.local / velora")
            verify(!part(overlay, "modeSwitch").visible)
            const email = part(overlay, "emailField")  // has the focus
            const point = email.mapToItem(null, 1, email.height / 2)
            compareColor(grabImage(window.contentItem).pixel(point.x, point.y), Theme.focus, "focused border")
            keyClick(Qt.Key_Return)
            keyClick(Qt.Key_Return)
            verify(["mainButton", "passwordField"].every(name => part(overlay, name).enabled !== window.account.busy), "off while busy")
            tryVerify(() => !overlay.visible && window.account.loggedIn)
        }

        // Return walks the visible fields and submits; the form's checks run in order, stop the
        // request, and hide the controller's error until the mode switch clears them.
        function test_registration_data() {
            return [
                { tag: "passwords differ", confirm: "password-2", invite: "", code: "", error: "两次密码不一致" },
                { tag: "no invite", confirm: "password-1", invite: "  ", code: "", error: "请填写邀请码" },
                { tag: "no code", confirm: "password-1", invite: "FRIEND", code: " ", error: "请填写邮箱验证码" },
                { tag: "complete", confirm: "password-1", invite: "FRIEND", code: "123456", error: "" },
                { tag: "optional invite, no code", options: {}, confirm: "password-1", invite: "", error: "" }
            ]
        }
        function test_registration(row) {
            const overlay = openOverlay(row.options || { invite: true, emailVerify: true }, true)
            tryVerify(() => overlay.account.emailVerifyRequired === !row.options)
            const error = part(overlay, "errorLine")
            fill(overlay, { emailField: "new@example.com", passwordField: "short", confirmField: "short", inviteField: "F", codeField: "1" })
            mouseClick(part(overlay, "mainButton"))
            compare(error.text, "密码至少 8 位", "the controller's error")
            fill(overlay, { passwordField: "password-1", confirmField: row.confirm, inviteField: row.invite, codeField: row.code || "" })
            part(overlay, "emailField").forceActiveFocus()
            for (const name of ["emailField", "passwordField", "confirmField", "inviteField", "codeField"].slice(0, row.options ? 4 : 5)) {
                verify(part(overlay, name).activeFocus, name)
                keyClick(Qt.Key_Return)
            }
            if (row.error === "")
                return tryVerify(() => registerRequests() === 1)
            verify(!overlay.account.busy, "no request")
            compare(error.text, row.error)
            mouseClick(part(overlay, "modeSwitch"))
            compare(error.text, "密码至少 8 位")
            compare(registerRequests(), 0)
        }

        function test_recaptchaBlocksRegistration() {
            const overlay = openOverlay({ recaptcha: true }, true)
            part(overlay, "emailField").text = "new@example.com"
            tryCompare(part(overlay, "subtitle"), "text", "面板开启了人机验证，请到网站注册")
            verify(!part(overlay, "mainButton").enabled)
            mouseClick(part(overlay, "modeSwitch"))
            verify(part(overlay, "mainButton").enabled)
        }

        // "发送" starts the cool-down even when the controller refuses the address: 60s to 1s, then "发送".
        function test_sendCooldown() {
            const overlay = openOverlay({ emailVerify: true }, true)
            const send = part(overlay, "sendButton")
            tryVerify(() => send.visible && !send.enabled)  // nothing typed yet
            part(overlay, "emailField").text = "no-address"
            mouseClick(send)
            compare(part(overlay, "errorLine").text, "请先填写邮箱")
            const timer = findChild(overlay, "cooldownTimer")
            const texts = [send.text]
            for (let tick = 0; tick < 60; ++tick) {
                verify(!send.enabled && timer.running)
                timer.triggered()
                texts.push(send.text)
            }
            compare(texts.join(" "), Array.from({ length: 60 }, (_, i) => (60 - i) + "s").join(" ") + " 发送")
            verify(send.enabled && !timer.running && overlay.emailCooldown === 0)
        }

        // The login form with a panel's message of three lines, which makes the card taller (the last
        // control stays inside it), then the registration form with a message, light and dark.
        function test_shots_data() { return [{ tag: "light", dark: false }, { tag: "dark", dark: true }] }
        function test_shots(row) {
            Theme.darkMode = row.dark
            const overlay = openOverlay({ invite: true, emailVerify: true }, false)
            tryVerify(() => overlay.account.inviteRequired)
            const message = "面板暂时无法处理这次请求，请稍后再试。".repeat(4)
            app.panelReply("POST", "/api/v1/passport/auth/login", 500, JSON.stringify({ status: "fail", message: message }))
            fill(overlay, { emailField: "new@example.com", passwordField: "password-1" })
            mouseClick(part(overlay, "mainButton"))
            tryVerify(() => part(overlay, "errorLine").text === message && part(overlay, "errorLine").lineCount >= 3)
            const last = part(overlay, "modeSwitch")
            verify(last.y + last.height <= overlay.availableHeight, last.y + last.height + " below " + overlay.availableHeight)
            shot(root.Window.window.contentItem, "login-login-" + row.tag)
            mouseClick(part(overlay, "modeSwitch"))
            fill(overlay, { emailField: "new@example.com", passwordField: "password-1", confirmField: "password-2" })
            mouseClick(part(overlay, "mainButton"))
            shot(root.Window.window.contentItem, "login-register-" + row.tag)
        }
    }
}
