import QtQuick
import QtQuick.Controls
import QtQuick.Templates as T
import Orvik.Style
import Orvik.Tessel

// A short health summary of the connection.
T.Dialog {
    id: popover
    title: "连接诊断"  // the name a screen reader gives the popup

    required property ConnectionController controller

    readonly property bool connected: controller.connected
    readonly property bool failed: controller.visualState === "fault"

    component DiagnosticRow: Item {
        id: diagnosticRow
        property string labelText: ""
        property string valueText: ""
        width: parent ? parent.width : 0
        height: visible ? 30 : 0
        Accessible.role: Accessible.StaticText
        Accessible.name: labelText + "：" + valueText
        Accessible.ignored: !visible
        Text {
            textFormat: Text.PlainText
            anchors.left: parent.left
            anchors.right: value.left
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            text: diagnosticRow.labelText
            elide: Text.ElideRight
            font.family: Theme.textFont
            font.pixelSize: 11
            color: Theme.textTertiary
        }
        Text {
            textFormat: Text.PlainText
            id: value
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            text: diagnosticRow.valueText
            font.family: Theme.textFont
            font.pixelSize: 11
            font.weight: Font.Medium
            color: Theme.textPrimary
        }
    }

    parent: Overlay.overlay
    x: parent ? Math.round((parent.width - width) / 2) : 0
    y: parent ? Math.round((parent.height - height) / 2) : 0
    width: parent ? Math.min(440, parent.width - 32) : 440
    height: failed ? 330 : connected ? 318 : 292
    padding: 22
    modal: true
    focus: true

    Overlay.modal: Rectangle { color: Theme.overlay }

    // Its ring shows when the keyboard opened the popover.
    onOpened: doneButton.forceActiveFocus(InputModality.focusReason)

    background: Rectangle {
        radius: Theme.panelRadius
        color: Theme.elevatedSurface
        border.width: 1
        border.color: Theme.hairline
    }

    Item {
        anchors.fill: parent

        Column {
            width: parent.width

            Text {
                textFormat: Text.PlainText
                width: parent.width
                text: "连接诊断"
                font.family: Theme.displayFont
                font.pixelSize: 17
                font.weight: Font.DemiBold
                color: Theme.textPrimary
            }
            Text {
                textFormat: Text.PlainText
                objectName: "destination"
                width: parent.width
                topPadding: 5
                // Signed out there is no route: an empty line, not a lone dot.
                text: popover.controller.country !== "" && popover.controller.city !== ""
                      ? popover.controller.country + " · " + popover.controller.city
                      : popover.controller.country + popover.controller.city
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                Accessible.ignored: text === ""
                elide: Text.ElideRight
                font.family: Theme.textFont
                font.pixelSize: 10
                color: Theme.textTertiary
            }
            Item { width: 1; height: 16 }
            Rectangle { width: parent.width; height: 1; color: Theme.hairline }
            Item { width: 1; height: 12 }

            DiagnosticRow {
                objectName: "clientRow"
                labelText: "客户端状态"
                valueText: popover.connected ? "正常" : "等待连接"
            }
            DiagnosticRow {
                objectName: "targetRow"
                labelText: "目标响应"
                valueText: popover.failed ? "未响应" : popover.connected ? popover.controller.latency + " ms" : "未检测"
            }
            DiagnosticRow {
                objectName: "configRow"
                labelText: "配置检查"
                valueText: popover.connected ? "已通过" : "未运行"
            }
            DiagnosticRow {
                objectName: "durationRow"
                labelText: "连接时长"
                valueText: popover.controller.elapsedText
                visible: popover.connected
            }
            Text {
                textFormat: Text.PlainText
                objectName: "error"
                width: parent.width
                visible: popover.failed
                topPadding: 10
                text: popover.controller.errorMessage
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                Accessible.ignored: !visible
                wrapMode: Text.Wrap
                lineHeight: 1.25
                font.family: Theme.textFont
                font.pixelSize: 10
                color: Theme.fault
            }
        }

        PrimaryAction {
            id: doneButton
            objectName: "doneButton"
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            width: 104
            height: 44
            focus: true
            text: "完成"
            filled: false
            Keys.onTabPressed: event => event.accepted = true
            Keys.onBacktabPressed: event => event.accepted = true
            onClicked: popover.close()
        }
    }
}
