import QtQuick
import QtQuick.Controls
import QtQuick.Templates as T
import QtQuick.Layouts
import Orvik.Style
import Orvik.Tessel

// Sign-in and registration form.
T.Dialog {
    id: overlay
    title: registerMode ? "注册" : "登录"  // the name a screen reader gives the popup
    required property AccountController account
    property bool registerMode: false
    property int emailCooldown: 0
    property string formError: ""

    // The file-backed account that a client without a panel signs in with (scripts/local-account.json).
    readonly property string localEmail: "demo@velora.local"
    readonly property string localPassword: "velora"
    readonly property bool busy: account.busy

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(360, (parent ? parent.width : 0) - 48)
    // Taller when the form needs it, as with a panel's message of several lines.
    height: Math.min(Math.max(registerMode ? 470 : 300, implicitContentHeight + topPadding + bottomPadding),
                     (parent ? parent.height : 0) - 48)
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    padding: 22

    background: Rectangle {
        radius: Theme.panelRadius
        color: Theme.elevatedSurface
        border.width: 1
        border.color: Theme.hairline
    }
    Overlay.modal: Rectangle { color: Theme.overlay }

    onAboutToShow: {
        if (account.remotePanel)
            account.loadRegisterOptions()
    }

    Connections {
        target: overlay.account
        function onAccountChanged() {
            if (overlay.account.loggedIn)
                overlay.close()
        }
    }

    // Focus to the first of `fields` that shows, or the main button's action when none does.
    function advance(fields) {
        const next = fields.find(item => item.visible)
        if (next)
            next.forceActiveFocus()
        else if (mainButton.enabled)
            submit()
    }

    // The registration form's own checks, in the order the user should fix them.
    function registrationProblem() {
        if (passwordField.text !== confirmField.text)
            return "两次密码不一致"
        if (account.inviteRequired && inviteField.text.trim() === "")
            return "请填写邀请码"
        if (account.emailVerifyRequired && codeField.text.trim() === "")
            return "请填写邮箱验证码"
        return ""
    }

    function submit() {
        formError = ""
        if (!registerMode) {
            account.login(emailField.text, passwordField.text)
            return
        }
        formError = registrationProblem()
        if (formError === "")
            account.registerAccount(emailField.text, passwordField.text, inviteField.text, codeField.text)
    }

    function sendCode() {
        account.sendRegisterEmail(emailField.text)
        emailCooldown = 60
    }

    Timer {
        objectName: "cooldownTimer"
        interval: 1000
        repeat: true
        running: overlay.emailCooldown > 0
        onTriggered: overlay.emailCooldown = Math.max(0, overlay.emailCooldown - 1)
    }

    component FormField: TextField {
        id: field
        Layout.fillWidth: true
        Layout.preferredHeight: 40
        color: Theme.textPrimary
        placeholderTextColor: Theme.textTertiary
        selectionColor: Theme.warmLight
        selectedTextColor: Theme.darkMode ? Theme.background : "#090906"
        font.family: Theme.textFont
        Accessible.name: placeholderText
        Accessible.ignored: !visible
        palette.text: Theme.textPrimary
        palette.highlightedText: Theme.textPrimary
        palette.base: Theme.surface
        palette.highlight: Theme.focus
        // Not writable by name in 6.4's grouped palette, so bound from here.
        Binding {
            target: field
            property: "palette.placeholderText"
            value: Theme.textTertiary
        }
        background: Rectangle {
            radius: 10
            color: Theme.surface
            border.width: field.activeFocus ? 2 : 1
            border.color: field.activeFocus ? Theme.focus : Theme.hairline
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 10

        Text {
            textFormat: Text.PlainText
            objectName: "title"
            text: overlay.registerMode ? "注册" : "登录"
            color: Theme.textPrimary
            font.family: Theme.displayFont
            font.pixelSize: 18
            font.weight: Font.DemiBold
        }
        Text {
            textFormat: Text.PlainText
            objectName: "subtitle"
            Layout.fillWidth: true
            text: !overlay.account.remotePanel ? "测试账号 " + overlay.localEmail + " / " + overlay.localPassword
                : overlay.registerMode && overlay.account.recaptchaBlocked ? "面板开启了人机验证，请到网站注册"
                : overlay.registerMode ? "用邮箱创建面板账号" : "使用面板账号"
            wrapMode: Text.Wrap
            color: Theme.textSecondary
            font.family: Theme.textFont
            font.pixelSize: 12
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        // Every field is read-only while a request runs.
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 10
            enabled: !overlay.busy

            FormField {
                id: emailField
                objectName: "emailField"
                focus: true
                placeholderText: "邮箱"
                text: overlay.account.remotePanel ? "" : overlay.localEmail
                onAccepted: overlay.advance([passwordField])
            }
            FormField {
                id: passwordField
                objectName: "passwordField"
                echoMode: TextInput.Password
                placeholderText: overlay.registerMode ? "密码（至少 8 位）" : "密码"
                text: overlay.account.remotePanel ? "" : overlay.localPassword
                onAccepted: overlay.advance(overlay.registerMode ? [confirmField] : [])
            }
            FormField {
                id: confirmField
                objectName: "confirmField"
                visible: overlay.registerMode
                echoMode: TextInput.Password
                placeholderText: "确认密码"
                onAccepted: overlay.advance([inviteField, codeField])
            }
            FormField {
                id: inviteField
                objectName: "inviteField"
                visible: overlay.registerMode
                placeholderText: overlay.account.inviteRequired ? "邀请码（必填）" : "邀请码（选填）"
                onAccepted: overlay.advance([codeField])
            }
            RowLayout {
                Layout.fillWidth: true
                visible: overlay.registerMode && overlay.account.emailVerifyRequired
                spacing: 8

                FormField {
                    id: codeField
                    objectName: "codeField"
                    placeholderText: "邮箱验证码"
                    onAccepted: overlay.advance([])
                }
                FormButton {
                    objectName: "sendButton"
                    Layout.preferredWidth: 88
                    Layout.preferredHeight: 40
                    filled: false
                    enabled: !overlay.busy && overlay.emailCooldown <= 0 && emailField.text !== ""
                    text: overlay.emailCooldown > 0 ? overlay.emailCooldown + "s" : "发送"
                    onClicked: overlay.sendCode()
                }
            }
        }

        Text {
            textFormat: Text.PlainText
            objectName: "errorLine"
            Layout.fillWidth: true
            visible: text !== ""
            text: overlay.formError !== "" ? overlay.formError : overlay.account.errorMessage
            wrapMode: Text.Wrap
            Accessible.role: Accessible.AlertMessage
            Accessible.name: text
            Accessible.ignored: !visible
            color: Theme.fault
            font.family: Theme.textFont
            font.pixelSize: 11
        }

        FormButton {
            id: mainButton
            objectName: "mainButton"
            Layout.fillWidth: true
            Layout.preferredHeight: 42
            enabled: !overlay.busy && emailField.text !== ""
                     && !(overlay.registerMode && overlay.account.recaptchaBlocked)
            text: overlay.busy ? (overlay.registerMode ? "注册中…" : "登录中…")
                               : (overlay.registerMode ? "注册" : "登录")
            onClicked: overlay.submit()
            Keys.onReturnPressed: overlay.submit()
            Keys.onEnterPressed: overlay.submit()
        }

        AbstractButton {
            id: modeSwitch
            objectName: "modeSwitch"
            Layout.fillWidth: true
            Layout.preferredHeight: 28
            visible: overlay.account.remotePanel
            text: overlay.registerMode ? "已有账号？去登录" : "没有账号？去注册"
            Accessible.name: text
            Accessible.ignored: !visible
            contentItem: Text {
                text: modeSwitch.text
                textFormat: Text.PlainText
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                color: modeSwitch.visualFocus ? Theme.textPrimary : Theme.textSecondary
                font.family: Theme.textFont
                font.pixelSize: 12
                font.underline: modeSwitch.visualFocus
            }
            onClicked: {
                overlay.registerMode = !overlay.registerMode
                overlay.formError = ""
            }
        }

        Item { Layout.fillHeight: true }  // the form keeps its spacing at the top
    }
}
