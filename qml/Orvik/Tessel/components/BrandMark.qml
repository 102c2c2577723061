import QtQuick
import Orvik.Style

// The glyph beside the brand name, as the header shows it.
Item {
    id: brand

    property string visualState: "off"
    property int stageIndex: -1
    property int connectionAttemptSerial: 0
    property int sweepDuration: 2250
    property alias switchingRoute: glyph.switchingRoute

    implicitHeight: 28
    implicitWidth: 20 + 10 + label.implicitWidth

    Item {
        width: 20
        height: 28
        anchors.verticalCenter: parent.verticalCenter

        LightGapGlyph {
            id: glyph
            width: 20
            height: 20
            anchors.centerIn: parent
            visualState: brand.visualState
            stageIndex: brand.stageIndex
            connectionAttemptSerial: brand.connectionAttemptSerial
            sweepDuration: brand.sweepDuration
        }
    }

    Text {
        textFormat: Text.PlainText
        id: label
        x: 30
        anchors.verticalCenter: parent.verticalCenter
        text: "Velora"
        font.family: Theme.displayFont
        font.pixelSize: 15
        font.weight: Font.Medium
        font.letterSpacing: 0.8
        color: Theme.textPrimary
    }
}
