import QtQuick
import QtQuick.Shapes
import Orvik.Style

// The brand glyph: a disc with a slot cut in from its rim. The deeper the slot, the further the
// connection has come. Drawn in a 256 x 256 design square.
Item {
    id: glyph

    property string visualState: "off"
    property int stageIndex: -1
    property bool switchingRoute: false
    property int connectionAttemptSerial: 0
    property bool reduceMotion: Theme.reduceMotion
    property bool transitionsEnabled: true
    property int sweepDuration: 2250
    property color offColor: Theme.textPrimary
    property color connectingColor: Theme.warmLight
    property color connectedColor: Theme.connected
    property color faultColor: Theme.fault

    implicitWidth: 24
    implicitHeight: 24

    readonly property string canonicalState: visualState === "igniting" ? "connecting"
                                             : visualState === "lit" ? "connected"
                                             : visualState === "extinguishing" ? "disconnecting" : visualState
    readonly property bool animated: transitionsEnabled && !reduceMotion
    readonly property real targetDepth: {
        switch (canonicalState) {
        case "connecting":
            return switchingRoute ? 71 : stageIndex === 1 ? 58 : stageIndex === 2 ? 66 : 46
        case "connected": return 71
        case "fault": return 46
        default: return 34
        }
    }
    readonly property color targetColor: canonicalState === "connecting" ? connectingColor
                                         : canonicalState === "connected" ? connectedColor
                                         : canonicalState === "fault" ? faultColor : offColor
    readonly property int geometryDuration: {
        if (!animated)
            return 0
        switch (canonicalState) {
        case "connected": return 180
        case "disconnecting": return 220
        case "fault": return 140
        case "off": return 180
        default: return stageIndex === 0 ? 260 : stageIndex === 1 ? 240 : 220
        }
    }

    // Driven by hand rather than by behaviours, so that a running change can be completed at once.
    property real depth: 34
    property color markColor: offColor
    Component.onCompleted: {
        depth = targetDepth
        markColor = targetColor
    }
    onTargetDepthChanged: follow(depthAnimation, "depth", targetDepth)
    onTargetColorChanged: follow(colorAnimation, "markColor", targetColor)

    function follow(animation, property, value) {
        animation.stop()
        if (!animated) {
            glyph[property] = value
            return
        }
        animation.from = glyph[property]
        animation.to = value
        animation.start()
    }

    NumberAnimation {
        id: depthAnimation
        target: glyph
        property: "depth"
        duration: glyph.geometryDuration
        easing.type: glyph.canonicalState === "disconnecting" ? Easing.InCubic : Easing.OutCubic
    }
    ColorAnimation {
        id: colorAnimation
        target: glyph
        property: "markColor"
        duration: 120
    }

    property real sweepAngle: 0
    readonly property bool sweeping: sweep.running

    function completeTransitions() {
        depthAnimation.complete()
        colorAnimation.complete()
    }
    function resetSweep() {
        sweep.stop()
        sweepAngle = 0
    }
    function restartSweep() {
        resetSweep()
        if (canonicalState === "connecting" && animated)
            sweep.start()
    }

    onConnectionAttemptSerialChanged: restartSweep()
    onCanonicalStateChanged: if (canonicalState !== "connecting") resetSweep()
    onAnimatedChanged: if (!animated) { completeTransitions(); resetSweep() }

    NumberAnimation {
        id: sweep
        target: glyph
        property: "sweepAngle"
        from: 0
        to: 360
        duration: Math.max(1, glyph.sweepDuration)
        onFinished: glyph.sweepAngle = 0
    }

    Shape {
        id: mark
        readonly property real reach: Math.max(0, Math.min(1, glyph.depth / 71))
        readonly property real tipX: 202 + (113.5 - 202) * reach
        readonly property real tipY: 58 + (146 - 58) * reach
        readonly property real halfWidth: 3 + 3 * reach

        readonly property real side: Math.min(glyph.width, glyph.height)

        width: side
        height: side
        anchors.centerIn: parent
        rotation: glyph.sweepAngle
        // Shapes have no edge smoothing of their own; a multisampled layer gives it.
        layer.enabled: true
        layer.samples: 4

        ShapePath {
            scale: Qt.size(mark.side / 256, mark.side / 256)
            fillColor: glyph.markColor
            strokeColor: "transparent"
            startX: 179.72; startY: 61.81
            PathLine { x: mark.tipX - 0.705 * mark.halfWidth; y: mark.tipY - 0.709 * mark.halfWidth }
            PathQuad {
                controlX: mark.tipX - 0.709 * 1.25 * mark.halfWidth
                controlY: mark.tipY + 0.705 * 1.25 * mark.halfWidth
                x: mark.tipX + 0.705 * mark.halfWidth
                y: mark.tipY + 0.709 * mark.halfWidth
            }
            PathLine { x: 197.64; y: 81.03 }
            PathArc {
                x: 179.72; y: 61.81
                radiusX: 84; radiusY: 84
                useLargeArc: true
                direction: PathArc.Clockwise
            }
        }
    }
}
