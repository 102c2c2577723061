import QtQuick
import QtQuick.Controls
import QtQuick.Templates as T
import Orvik.Style

// Membership facts, the way to the shop, and logout.
T.Dialog {
    id: popover
    title: "会员信息"  // the name a screen reader gives the popup

    property string membershipTier: "PRO"
    property string email: ""
    property int remainingDays: 0
    property string remainingLabel: ""
    // "剩余时间": the remaining label while active, else whether a plan expired.
    property string remainingTimeLabel: ""
    property int usedDevices: 0
    property int deviceLimit: 0
    property bool membershipActive: true
    property string deviceError: ""

    signal logoutRequested()
    signal shopRequested()

    readonly property color statusColor: membershipActive ? Theme.connected : Theme.fault
    // Unlimited plans report days below 0; a week or less left is a warning.
    readonly property bool remainingNormal: membershipActive && (remainingDays < 0 || remainingDays > 7)
    readonly property string devicesText: deviceLimit <= 0 ? "—"
                                          : usedDevices <= 0 ? "— / " + deviceLimit
                                          : usedDevices + " / " + deviceLimit

    component FactRow: Item {
        property alias label: labelText.text
        property alias value: valueText.text
        property alias valueColor: valueText.color
        property alias valueWeight: valueText.font.weight
        width: parent ? parent.width : 0
        height: Math.max(labelText.height, valueText.height)
        Accessible.role: Accessible.StaticText
        Accessible.name: label + "：" + value
        Text {
            textFormat: Text.PlainText
            id: labelText
            anchors.verticalCenter: parent.verticalCenter
            font.family: Theme.textFont
            font.pixelSize: 11
            color: Theme.textTertiary
        }
        Text {
            textFormat: Text.PlainText
            id: valueText
            objectName: "value"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            font.family: Theme.monoFont
            font.pixelSize: 11
            color: Theme.textPrimary
        }
    }

    component ActionButton: T.AbstractButton {
        id: button
        property bool bordered: false
        property color textColor: Theme.textPrimary
        width: parent ? parent.width : 0
        height: 36
        hoverEnabled: true
        focusPolicy: Qt.TabFocus
        Accessible.name: text
        contentItem: Text {
            text: button.text
            textFormat: Text.PlainText
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.family: Theme.textFont
            font.pixelSize: 12
            color: button.textColor
        }
        background: Rectangle {
            radius: 10
            color: button.hovered ? Theme.softFill : "transparent"
            border.width: button.activeFocus ? 2 : button.bordered ? 1 : 0
            border.color: button.activeFocus ? Theme.focus : Theme.hairline
        }
    }

    parent: Overlay.overlay
    x: parent ? Math.max(16, parent.width - width - 72) : 0
    y: 62
    width: parent ? Math.min(300, parent.width - 32) : 300
    height: 328
    padding: 20
    modal: false
    focus: true
    // On release, so that a second click on the badge that opened it closes it for good.
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnReleaseOutside

    background: Rectangle {
        radius: Theme.panelRadius
        color: Theme.elevatedSurface
        border.width: 1
        border.color: Theme.hairline
    }

    Column {
        width: parent.width

        Item {
            width: parent.width
            height: facts.height

            Column {
                id: facts
                width: dot.x - 10
                spacing: 3
                // Read as one line: the plan, the account and how the membership stands.
                Accessible.role: Accessible.StaticText
                Accessible.name: "Velora " + popover.membershipTier + (popover.email !== "" ? "，" + popover.email : "")
                                 + "，" + status.text
                Text {
                    textFormat: Text.PlainText
                    width: parent.width
                    text: "Velora %1".arg(popover.membershipTier)
                    elide: Text.ElideRight
                    font.family: Theme.displayFont
                    font.pixelSize: 17
                    font.weight: Font.DemiBold
                    color: Theme.textPrimary
                }
                Text {
                    textFormat: Text.PlainText
                    width: parent.width
                    visible: popover.email !== ""
                    text: popover.email
                    elide: Text.ElideMiddle
                    font.family: Theme.textFont
                    font.pixelSize: 11
                    color: Theme.textSecondary
                }
                Text {
                    textFormat: Text.PlainText
                    id: status
                    objectName: "status"
                    width: parent.width
                    text: popover.membershipActive ? "当前会员有效" : popover.remainingLabel
                    elide: Text.ElideRight
                    font.family: Theme.textFont
                    font.pixelSize: 10
                    font.weight: Font.Medium
                    color: popover.statusColor
                }
            }
            Rectangle {
                id: dot
                x: closeButton.x - width - 6
                y: closeButton.y + (closeButton.height - height) / 2
                width: 9
                height: 9
                radius: 5
                color: popover.statusColor
            }
            T.AbstractButton {
                id: closeButton
                objectName: "closeButton"
                x: parent.width - width + 10
                y: -10
                width: 44
                height: 44
                focus: true
                hoverEnabled: true
                Accessible.name: "关闭会员信息"
                KeyNavigation.tab: shopButton
                KeyNavigation.backtab: logoutButton
                onClicked: popover.close()
                contentItem: Text {
                    text: "×"
                    textFormat: Text.PlainText
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    font.family: Theme.textFont
                    font.pixelSize: 19
                    font.weight: Font.Light
                    color: Theme.textSecondary
                }
                background: Rectangle {
                    radius: 22
                    color: closeButton.hovered ? Theme.softFill : "transparent"
                    border.width: closeButton.activeFocus ? 2 : 0
                    border.color: Theme.focus
                }
            }
        }

        Item { width: 1; height: 16 }
        Rectangle { width: parent.width; height: 1; color: Theme.hairline }
        Item { width: 1; height: 15 }

        FactRow {
            objectName: "remaining"
            label: "剩余时间"
            value: popover.remainingTimeLabel
            valueWeight: Font.DemiBold
            valueColor: popover.remainingNormal ? Theme.textPrimary : Theme.fault
        }
        Item { width: 1; height: 12 }
        FactRow {
            objectName: "devices"
            label: "已登记电脑"
            value: popover.devicesText
        }
        Item { width: 1; height: 8; visible: popover.deviceError !== "" }
        Text {
            textFormat: Text.PlainText
            width: parent.width
            visible: popover.deviceError !== ""
            text: popover.deviceError
            Accessible.role: Accessible.AlertMessage
            Accessible.name: text
            Accessible.ignored: !visible
            wrapMode: Text.Wrap
            font.family: Theme.textFont
            font.pixelSize: 10
            color: Theme.fault
        }
    }

    Column {
        anchors.bottom: parent.bottom
        width: parent.width
        Text {
            textFormat: Text.PlainText
            width: parent.width
            bottomPadding: 8
            text: "详细账户管理将在会员中心中打开"
            elide: Text.ElideRight
            font.family: Theme.textFont
            font.pixelSize: 9
            color: Theme.textTertiary
        }
        ActionButton {
            id: shopButton
            objectName: "shopButton"
            text: "购买套餐"
            bordered: true
            KeyNavigation.tab: logoutButton
            KeyNavigation.backtab: closeButton
            onClicked: popover.shopRequested()
        }
        ActionButton {
            id: logoutButton
            objectName: "logoutButton"
            text: "退出登录"
            textColor: Theme.textSecondary
            KeyNavigation.tab: closeButton
            KeyNavigation.backtab: shopButton
            onClicked: popover.logoutRequested()
        }
    }
}
