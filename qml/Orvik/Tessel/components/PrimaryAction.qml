import QtQuick
import QtQuick.Templates as T
import Orvik.Style

// The big connect / disconnect button. Its colours tell the connection state.
T.AbstractButton {
    id: control

    property string visualState: "off"
    property color accentColor: Theme.textPrimary
    property color filledTextColor: Theme.background
    property bool filled: true

    readonly property string canonicalState: visualState === "connecting" ? "igniting"
                                             : visualState === "connected" ? "lit" : visualState
    readonly property bool connecting: canonicalState === "igniting"
    readonly property bool connected: canonicalState === "lit"
    readonly property bool failed: canonicalState === "fault"
    readonly property bool disconnecting: canonicalState === "extinguishing"

    readonly property color backgroundColor: connecting ? (Theme.darkMode ? "#2D2A20" : "#F4EAD0")
                                             : connected ? (Theme.darkMode ? "#1B2A26" : "#EDF8F4")
                                             : failed ? Theme.fault
                                             : disconnecting ? Theme.softFill : accentColor
    readonly property color foregroundColor: connecting ? (Theme.darkMode ? "#D7C38A" : "#5F5130")
                                             : connected ? (Theme.darkMode ? "#BDEBDC" : "#286C59")
                                             : disconnecting ? Theme.textSecondary : filledTextColor
    readonly property color borderColor: connecting ? (Theme.darkMode ? "#5F553A" : "#E3CE8E")
                                         : connected ? (Theme.darkMode ? "#365D51" : "#B9DFD2")
                                         : disconnecting ? Theme.hairline : "transparent"
    readonly property int borderWidth: connecting || connected || disconnecting ? 1 : 0

    implicitWidth: 148
    implicitHeight: Theme.controlHeight
    focusPolicy: Qt.TabFocus
    hoverEnabled: true
    Accessible.name: text

    contentItem: Item {
        Row {
            anchors.centerIn: parent
            spacing: 9
            Text {
                textFormat: Text.PlainText
                anchors.verticalCenter: parent.verticalCenter
                text: "↑"
                color: control.foregroundColor
                font.family: Theme.symbolFont
                font.pixelSize: 15
                Behavior on color { ColorAnimation { duration: Theme.duration(140) } }
            }
            Text {
                textFormat: Text.PlainText
                anchors.verticalCenter: parent.verticalCenter
                text: control.text
                color: control.foregroundColor
                font.family: Theme.textFont
                font.pixelSize: 12
                font.weight: Font.Medium
                Behavior on color { ColorAnimation { duration: Theme.duration(140) } }
            }
        }
    }

    background: Item {
        Rectangle {
            width: parent.width
            height: parent.height
            y: 5
            radius: 11
            color: "black"
            opacity: control.canonicalState !== "off" ? 0
                     : Theme.darkMode ? 0.22 : control.hovered ? 0.14 : 0.10
            Behavior on opacity { NumberAnimation { duration: Theme.duration(140) } }
        }
        Rectangle {
            objectName: "surface"
            anchors.fill: parent
            radius: 11
            color: control.backgroundColor
            border.width: control.borderWidth
            border.color: control.borderColor
            opacity: control.enabled ? 1.0 : 0.48
            scale: Theme.reduceMotion ? 1.0 : control.pressed ? 0.985 : control.hovered ? 1.01 : 1.0
            Behavior on color { ColorAnimation { duration: Theme.duration(160) } }
            Behavior on border.color { ColorAnimation { duration: Theme.duration(160) } }
            Behavior on scale {
                NumberAnimation { duration: Theme.reduceMotion ? 0 : 110; easing.type: Easing.OutCubic }
            }
        }
        Rectangle {
            anchors.fill: parent
            anchors.margins: -3
            visible: control.visualFocus
            radius: 14
            color: "transparent"
            border.width: 2
            border.color: Theme.focus
            opacity: 0.85
        }
    }
}
