import QtQuick
import QtQuick.Templates as T
import Orvik.Style

// The current destination; clicking it opens the route palette.
T.AbstractButton {
    id: control

    property string country: ""
    property string city: ""
    property int latency: 0
    // Signed out there is no country: the city line alone ("请先登录") rather than a stray dot.
    readonly property string destinationText: country === "" ? city : country + " · " + city
    readonly property string latencyText: latency + " ms"

    implicitWidth: 214
    implicitHeight: 46
    focusPolicy: Qt.TabFocus
    hoverEnabled: true
    Accessible.name: "当前线路，" + destinationText + "，" + latencyText + "，点击切换"

    contentItem: Row {
        spacing: 10
        Text {
            textFormat: Text.PlainText
            width: control.availableWidth - 46 - 12 - 2 * 10
            anchors.verticalCenter: parent.verticalCenter
            text: control.destinationText
            horizontalAlignment: Text.AlignRight
            elide: Text.ElideRight
            color: Theme.textPrimary
            font.family: Theme.textFont
            font.pixelSize: 14
            font.weight: Font.Medium
        }
        Text {
            textFormat: Text.PlainText
            width: 46
            anchors.verticalCenter: parent.verticalCenter
            text: control.latencyText
            color: Theme.textSecondary
            font.family: Theme.monoFont
            font.pixelSize: 11
        }
        Text {
            textFormat: Text.PlainText
            width: 12
            anchors.verticalCenter: parent.verticalCenter
            text: "⌄"
            horizontalAlignment: Text.AlignHCenter
            color: Theme.textTertiary
            font.family: Theme.symbolFont
            font.pixelSize: 13
        }
    }

    background: Item {
        Rectangle {
            width: parent.width
            height: 1
            anchors.bottom: parent.bottom
            color: Theme.textSecondary
            opacity: control.hovered || control.visualFocus ? 0.58 : 0.22
            Behavior on opacity { NumberAnimation { duration: Theme.duration(140) } }
        }
        Rectangle {
            anchors.fill: parent
            anchors.margins: -5
            visible: control.visualFocus
            radius: 9
            color: "transparent"
            border.width: 2
            border.color: Theme.focus
        }
    }
}
