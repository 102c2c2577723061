import QtQuick
import QtQuick.Templates as T
import Orvik.Style

// A small text button for secondary actions.
T.AbstractButton {
    id: control

    property color actionColor: Theme.textSecondary

    implicitWidth: implicitContentWidth + 20
    implicitHeight: 44
    hoverEnabled: true
    focusPolicy: visible ? Qt.TabFocus : Qt.NoFocus
    Accessible.name: text
    Accessible.ignored: !visible

    contentItem: Text {
        text: control.text
        textFormat: Text.PlainText
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        font.family: Theme.textFont
        font.pixelSize: 12
        font.weight: Font.Medium
        color: control.hovered || control.activeFocus ? Theme.textPrimary : control.actionColor
        Behavior on color { ColorAnimation { duration: Theme.duration(120) } }
    }

    background: Item {
        Rectangle {
            anchors.fill: parent
            anchors.margins: 1
            radius: height / 2
            visible: control.hovered
            color: Theme.softFill
            opacity: 0.72
        }
        Rectangle {
            anchors.fill: parent
            radius: height / 2
            visible: control.activeFocus
            color: "transparent"
            border.width: 2
            border.color: Theme.focus
        }
    }
}
