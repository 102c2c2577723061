import QtQuick
import QtQuick.Shapes
import Orvik.Style

// The light beam between the machine (origin, below) and the destination (target, above). All
// drawing happens in a 430 x 330 design canvas scaled uniformly into the item.
Item {
    id: scene

    property string visualState: "off"
    property int stageIndex: -1
    property bool applicationActive: true
    property bool previewRequested: false
    property int connectionAttemptSerial: 0

    implicitWidth: 430
    implicitHeight: 330

    readonly property string canonicalState: {
        switch (visualState) {
        case "connecting": case "igniting": return "connecting"
        case "connected": case "lit": return "connected"
        case "disconnecting": case "extinguishing": return "disconnecting"
        default: return visualState
        }
    }
    readonly property bool connecting: canonicalState === "connecting"
    readonly property bool connected: canonicalState === "connected"
    readonly property bool faulted: canonicalState === "fault"
    readonly property bool motionReduced: Theme.reduceMotion

    readonly property real targetBeamProgress: {
        if (connecting)
            return stageIndex === 0 ? 0.48 : stageIndex === 1 ? 0.78 : 1.0
        if (connected)
            return 1.0
        if (faulted)
            return 0.94
        return canonicalState === "off" && previewRequested ? 0.17 : 0.08
    }
    readonly property real targetBeamOpacity: {
        if (connecting)
            return 0.90
        if (connected)
            return 1.0
        if (faulted)
            return 0.72
        return canonicalState === "off" && previewRequested ? 0.58 : 0.42
    }
    readonly property string stageText: stageIndex === 0 ? "正在寻找方向"
                                        : stageIndex === 1 ? "正在建立通道" : "正在确认网络"

    readonly property color beamBase: faulted ? Theme.fault : Theme.warmBeamBase
    readonly property color beamTip: faulted ? (Theme.darkMode ? "#E7B06F" : "#D28A3D") : Theme.warmBeamTip
    readonly property color idleTargetColor: Theme.darkMode ? "#777C78" : "#A8ABB0"
    readonly property color accentColor: faulted ? Theme.fault : Theme.connected

    property real beamProgress: targetBeamProgress
    Behavior on beamProgress {
        enabled: !scene.motionReduced
        NumberAnimation {
            duration: scene.canonicalState === "disconnecting" ? 220 : scene.faulted ? 180
                      : (scene.stageIndex === 0 || scene.stageIndex === 1) ? 520 : 440
            easing.type: Easing.OutCubic
        }
    }
    property real beamOpacity: targetBeamOpacity
    Behavior on beamOpacity {
        enabled: !scene.motionReduced
        NumberAnimation { duration: 360; easing.type: Easing.OutCubic }
    }

    // The cone opens once per connection attempt (the scan), then rests narrow and faint.
    property real scanScale: 0.12
    property real scanOpacity: 0
    property int lastScannedSerial: 0
    readonly property bool scanning: scan.running
    readonly property real coneOpacity: connected ? 0.44 : connecting ? (motionReduced ? 0.18 : scanOpacity)
                                        : faulted ? 0.08 : canonicalState === "off" && previewRequested ? 0.035 : 0
    readonly property real coneScale: connected ? 1.0 : connecting ? (motionReduced ? 1.0 : scanScale)
                                      : faulted ? 0.32 : 0.12

    function stopScan() {
        scan.stop()
        scanScale = 0.12
        scanOpacity = 0
    }

    function startScan(force) {
        if (!connecting || motionReduced || !applicationActive) {
            stopScan()
            return
        }
        if (!force && connectionAttemptSerial > 0 && connectionAttemptSerial === lastScannedSerial)
            return
        lastScannedSerial = connectionAttemptSerial
        stopScan()
        scan.start()
    }

    onConnectingChanged: connecting ? startScan(false) : stopScan()
    onConnectionAttemptSerialChanged: startScan(false)
    onApplicationActiveChanged: applicationActive ? startScan(true) : stopScan()
    onMotionReducedChanged: motionReduced ? stopScan() : startScan(true)
    Component.onCompleted: startScan(false)

    SequentialAnimation {
        id: scan
        PauseAnimation { duration: 150 }
        ParallelAnimation {
            NumberAnimation { target: scene; property: "scanScale"; from: 0.12; to: 1.0; duration: 456; easing.type: Easing.OutCubic }
            NumberAnimation { target: scene; property: "scanOpacity"; from: 0; to: 0.65; duration: 456; easing.type: Easing.OutCubic }
        }
        ParallelAnimation {
            NumberAnimation { target: scene; property: "scanScale"; from: 1.0; to: 0.12; duration: 744; easing.type: Easing.InOutSine }
            NumberAnimation { target: scene; property: "scanOpacity"; from: 0.65; to: 0.08; duration: 744; easing.type: Easing.OutCubic }
        }
    }

    Item {
        id: canvas
        readonly property real axis: 215
        readonly property real foot: 289
        readonly property real originWidth: scene.connected ? 20 : 28

        width: 430
        height: 330
        anchors.centerIn: parent
        scale: Math.max(0.01, Math.min(scene.width / 430, scene.height / 330))

        Shape {
            objectName: "cone"
            anchors.fill: parent
            opacity: scene.coneOpacity
            transform: Scale { origin.x: canvas.axis; origin.y: canvas.foot; xScale: scene.coneScale }
            ShapePath {
                strokeColor: "transparent"
                fillGradient: LinearGradient {
                    x1: canvas.axis; y1: canvas.foot; x2: canvas.axis; y2: 38
                    GradientStop { position: 0; color: Qt.rgba(scene.beamBase.r, scene.beamBase.g, scene.beamBase.b, 0) }
                    GradientStop {
                        position: 1
                        color: Qt.rgba(scene.beamTip.r, scene.beamTip.g, scene.beamTip.b, Theme.darkMode ? 0.095 : 0.15)
                    }
                }
                startX: 212.8; startY: canvas.foot
                PathLine { x: 123; y: 38 }
                PathLine { x: 307; y: 38 }
                PathLine { x: 217.2; y: canvas.foot }
            }
        }

        Repeater {
            model: [
                { "width": 12, "share": scene.connected ? 0.12 : 0.07, "core": false },
                { "width": 5, "share": 0.20, "core": false },
                { "width": 2, "share": 1.0, "core": true }
            ]
            Rectangle {
                required property var modelData
                width: modelData.width
                height: 246 * scene.beamProgress
                x: canvas.axis - width / 2
                y: canvas.foot - height
                radius: modelData.core ? 1 : width / 2
                color: scene.beamBase
                opacity: scene.beamOpacity * modelData.share
                gradient: modelData.core ? coreGradient : null
            }
        }
        Gradient {
            id: coreGradient
            GradientStop { position: 0; color: scene.beamTip }
            GradientStop { position: 1; color: scene.beamBase }
        }

        Rectangle {
            id: horizonLine
            x: 10; y: 294; width: 410; height: 1
            readonly property color line: Qt.rgba(Theme.textPrimary.r, Theme.textPrimary.g, Theme.textPrimary.b,
                                                  Theme.darkMode ? 0.11 : 0.12)
            gradient: Gradient {
                orientation: Gradient.Horizontal
                GradientStop { position: 0; color: "transparent" }
                GradientStop { position: 0.18; color: horizonLine.line }
                GradientStop { position: 0.82; color: horizonLine.line }
                GradientStop { position: 1; color: "transparent" }
            }
        }

        Rectangle {
            width: canvas.originWidth + 10; height: 18; radius: 9
            x: canvas.axis - width / 2; y: origin.y + 4
            color: "black"
            opacity: scene.connected ? 0.04 : 0.08
        }
        Rectangle {
            width: canvas.originWidth + 12; height: 25; radius: 12.5
            x: canvas.axis - width / 2; y: origin.y + origin.height / 2 - height / 2
            color: scene.accentColor
            opacity: scene.connected ? (Theme.darkMode ? 0.07 : 0.09) : scene.faulted ? 0.07 : 0
            Behavior on opacity { enabled: !scene.motionReduced; NumberAnimation { duration: 500; easing.type: Easing.OutCubic } }
        }
        Rectangle {
            id: origin
            objectName: "origin"
            width: canvas.originWidth; height: 13; radius: 6.5
            x: canvas.axis - width / 2; y: 288
            color: scene.connected ? Theme.connected : scene.faulted ? Theme.fault : Theme.textPrimary
            Behavior on width { enabled: !scene.motionReduced; NumberAnimation { duration: 400; easing.type: Easing.OutCubic } }
            Behavior on color { enabled: !scene.motionReduced; ColorAnimation { duration: 350 } }
        }
        Rectangle {
            width: 26; height: 26; radius: 13
            x: canvas.axis - 13; y: 27
            color: scene.accentColor
            opacity: scene.connected ? (Theme.darkMode ? 0.075 : 0.10) : scene.faulted ? 0.07 : 0
            Behavior on opacity { enabled: !scene.motionReduced; NumberAnimation { duration: 500; easing.type: Easing.OutCubic } }
        }
        Rectangle {
            objectName: "target"
            width: 12; height: 12; radius: 6
            x: canvas.axis - 6; y: 34
            color: scene.connected ? Theme.connected : Theme.background
            border.width: 2
            border.color: scene.connected ? Theme.connected : scene.connecting ? scene.beamBase
                          : scene.faulted ? Theme.fault : scene.idleTargetColor
            scale: scene.connecting ? 1.18 : 1.0
            Behavior on scale { enabled: !scene.motionReduced; NumberAnimation { duration: 350; easing.type: Easing.OutCubic } }
            Behavior on color { enabled: !scene.motionReduced; ColorAnimation { duration: 350 } }
            Behavior on border.color { enabled: !scene.motionReduced; ColorAnimation { duration: 350 } }
        }
        Text {
            textFormat: Text.PlainText
            objectName: "stageText"
            x: 240; width: 150
            anchors.verticalCenter: parent.verticalCenter
            text: scene.stageText
            font.family: Theme.textFont
            font.pixelSize: 11
            color: Theme.textSecondary
            elide: Text.ElideRight
            opacity: scene.connecting ? 1 : 0
            visible: opacity > 0
            Behavior on opacity { enabled: !scene.motionReduced; NumberAnimation { duration: 220; easing.type: Easing.OutCubic } }
        }
    }
}
