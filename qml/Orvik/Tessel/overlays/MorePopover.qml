import QtQuick
import QtQuick.Controls
import QtQuick.Templates as T
import Orvik.Style
import Orvik.Tessel

// Appearance, motion, the tunnel's leak protection, diagnostics, update and quit. Tab cycles
// through the rows.
T.Dialog {
    id: popover
    title: "更多选项"  // the name a screen reader gives the popup

    required property Preferences preferences
    required property UpdateController updater

    signal diagnosticsRequested()
    signal quitRequested()

    component MoreRow: T.AbstractButton {
        id: row
        property string value: ""
        property string mark: ""
        width: parent ? parent.width : 0
        hoverEnabled: true
        leftPadding: 14
        rightPadding: 14
        Item {
            x: row.leftPadding
            width: row.availableWidth
            height: row.height
            Text {
                textFormat: Text.PlainText
                anchors.left: parent.left
                anchors.right: side.left
                anchors.rightMargin: 8
                anchors.verticalCenter: parent.verticalCenter
                text: row.text
                elide: Text.ElideRight
                font.family: Theme.textFont
                font.pixelSize: 12
                color: Theme.textPrimary
            }
            Text {
                textFormat: Text.PlainText
                id: side
                objectName: "side"
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                text: row.mark !== "" ? row.mark : row.value
                font.family: Theme.textFont
                font.pixelSize: row.mark !== "" ? 18 : 10
                color: Theme.textTertiary
            }
        }
        background: Rectangle {
            radius: 10
            color: row.hovered ? Theme.softFill : "transparent"
            border.width: row.activeFocus ? 2 : 0
            border.color: Theme.focus
        }
    }

    parent: Overlay.overlay
    x: parent ? Math.max(16, parent.width - width - 24) : 0
    y: 62
    width: parent ? Math.min(260, parent.width - 32) : 260
    height: 378
    padding: 8
    modal: false
    focus: true
    // On release, so that a second click on "⋯" closes it for good.
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnReleaseOutside

    onAboutToShow: appearanceRow.focus = true

    background: Rectangle {
        radius: Theme.panelRadius
        color: Theme.elevatedSurface
        border.width: 1
        border.color: Theme.hairline
    }

    Column {
        width: parent.width
        spacing: 2

        MoreRow {
            id: appearanceRow
            objectName: "appearanceRow"
            height: 48
            focus: true
            text: "外观"
            value: popover.preferences.themeModeLabel
            Accessible.name: "切换外观，当前%1".arg(popover.preferences.themeModeLabel)
            KeyNavigation.tab: motionRow
            KeyNavigation.backtab: quitRow
            onClicked: popover.preferences.cycleThemeMode()
        }
        MoreRow {
            id: motionRow
            objectName: "motionRow"
            height: 48
            text: "减少动态效果"
            value: popover.preferences.motionModeLabel
            Accessible.name: "减少动态效果，当前%1".arg(popover.preferences.motionModeLabel)
            KeyNavigation.tab: killSwitchRow
            KeyNavigation.backtab: appearanceRow
            onClicked: popover.preferences.cycleMotionMode()
        }
        MoreRow {
            id: killSwitchRow
            objectName: "killSwitchRow"
            height: 46
            text: "断线时阻断网络"
            value: popover.preferences.killSwitch ? "开启" : "关闭"
            Accessible.name: "断线时阻断网络，当前%1".arg(value)
            KeyNavigation.tab: lanRow
            KeyNavigation.backtab: motionRow
            onClicked: popover.preferences.toggleKillSwitch()
        }
        MoreRow {
            id: lanRow
            objectName: "lanRow"
            height: 46
            text: "允许访问局域网"
            value: popover.preferences.allowLan ? "开启" : "关闭"
            Accessible.name: "允许访问局域网，当前%1".arg(value)
            KeyNavigation.tab: diagnosticsRow
            KeyNavigation.backtab: killSwitchRow
            onClicked: popover.preferences.toggleAllowLan()
        }
        MoreRow {
            id: diagnosticsRow
            objectName: "diagnosticsRow"
            height: 46
            text: "连接诊断"
            mark: "›"
            Accessible.name: "打开连接诊断"
            KeyNavigation.tab: updateRow
            KeyNavigation.backtab: lanRow
            onClicked: popover.diagnosticsRequested()
        }
        MoreRow {
            id: updateRow
            objectName: "updateRow"
            height: 46
            text: popover.updater.updateAvailable ? "下载更新" : "检查更新"
            value: popover.updater.busy ? "…" : ""
            mark: popover.updater.busy ? "" : "›"
            Accessible.name: text
            KeyNavigation.tab: quitRow
            KeyNavigation.backtab: diagnosticsRow
            onClicked: popover.updater.updateAvailable ? popover.updater.openDownload() : popover.updater.check(false)
        }
        MoreRow {
            id: quitRow
            objectName: "quitRow"
            height: 46
            text: "退出"
            Accessible.name: "退出"
            KeyNavigation.tab: appearanceRow
            KeyNavigation.backtab: updateRow
            onClicked: popover.quitRequested()
        }

        Rectangle {
            x: 8
            width: parent.width - 16
            height: 1
            color: Theme.hairline
        }
        Text {
            textFormat: Text.PlainText
            objectName: "version"
            x: 12
            width: parent.width - 24
            topPadding: 7
            wrapMode: Text.Wrap
            text: popover.updater.statusText !== ""
                  ? "Velora %1  ·  %2".arg(popover.updater.currentVersion).arg(popover.updater.statusText)
                  : "Velora %1".arg(popover.updater.currentVersion)
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            font.family: Theme.textFont
            font.pixelSize: 9
            color: Theme.textTertiary
        }
    }
}
