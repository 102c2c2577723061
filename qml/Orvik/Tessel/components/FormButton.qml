import QtQuick
import QtQuick.Templates as T
import Orvik.Style

// A button of the login and shop forms in the window's theme: filled for the form's main action,
// outlined beside a field. Disabled, its label stays readable on the soft fill.
T.Button {
    id: control

    property bool filled: true
    property int fontSize: 13

    implicitWidth: implicitContentWidth + 24
    implicitHeight: 40
    hoverEnabled: true
    Accessible.name: text
    Accessible.ignored: !visible

    contentItem: Text {
        text: control.text
        textFormat: Text.PlainText
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        font.family: Theme.textFont
        font.pixelSize: control.fontSize
        font.weight: Font.DemiBold
        color: !control.enabled ? Theme.textTertiary : control.filled ? Theme.background : Theme.textPrimary
    }

    background: Item {
        Rectangle {
            objectName: "fill"
            anchors.fill: parent
            radius: 10
            color: !control.enabled ? Theme.softFill
                 : control.filled ? Theme.textPrimary
                 : control.hovered ? Theme.softFill : "transparent"
            opacity: control.filled && control.enabled && control.hovered ? 0.88 : 1
            border.width: control.filled ? 0 : 1
            border.color: Theme.hairline
        }
        Rectangle {
            anchors.fill: parent
            anchors.margins: -3
            visible: control.visualFocus
            radius: 13
            color: "transparent"
            border.width: 2
            border.color: Theme.focus
        }
    }
}
