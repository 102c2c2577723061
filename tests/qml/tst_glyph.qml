import QtQuick
import Orvik.Style
import Orvik.Tessel

Item {
    id: root
    width: 300
    height: 300

    Component { id: glyphComponent; LightGapGlyph {} }

    OrvikTestCase {
        name: "LightGapGlyph"

        // Switching routes deepens the slot fully, but only while connecting.
        function test_slotDepth_data() {
            return [
                { tag: "igniting stage 2", state: "igniting", stage: 2, depth: 66 },
                { tag: "igniting switching", state: "igniting", stage: 1, switching: true, depth: 71 },
                { tag: "lit", state: "lit", depth: 71 },
                { tag: "fault switching", state: "fault", switching: true, depth: 46 },
                { tag: "off switching", state: "off", switching: true, depth: 34 }
            ]
        }
        function test_slotDepth(row) {
            const glyph = make(glyphComponent, root, { transitionsEnabled: false, visualState: row.state,
                                                       stageIndex: row.stage === undefined ? -1 : row.stage,
                                                       switchingRoute: row.switching === true })
            compare(glyph.depth, row.depth)
        }

        function test_sweep() {
            const glyph = make(glyphComponent, root, { visualState: "igniting" })
            verify(!glyph.sweeping, "entering connecting alone does not sweep")
            glyph.connectionAttemptSerial = 1
            verify(glyph.sweeping, "a new attempt sweeps")
            glyph.visualState = "lit"
            verify(!glyph.sweeping)
            compare(glyph.sweepAngle, 0)

            glyph.visualState = "igniting"
            glyph.sweepDuration = 0
            glyph.connectionAttemptSerial = 2
            tryCompare(glyph, "sweeping", false, 500)
            compare(glyph.sweepAngle, 0, "the angle returns to 0 after one turn")

            glyph.sweepDuration = 2250
            glyph.connectionAttemptSerial = 3
            verify(glyph.sweeping)
            Theme.reduceMotion = true
            verify(!glyph.sweeping, "reduced motion stops the sweep")
            compare(glyph.sweepAngle, 0)
            glyph.connectionAttemptSerial = 4
            verify(!glyph.sweeping)
        }

        function test_reducedMotionCompletesRunningTransitions() {
            const glyph = make(glyphComponent, root)
            glyph.visualState = "lit"
            verify(glyph.depth < 71)
            Theme.reduceMotion = true
            compare(glyph.depth, 71)
            compare(glyph.markColor, Theme.connected)
        }

        // The slot opens towards the upper right: a mirrored or turned shape fails here.
        function test_slotOrientation() {
            const glyph = make(glyphComponent, root, { width: 256, height: 256, visualState: "lit",
                                                       transitionsEnabled: false })
            waitForRendering(glyph)
            const image = grabImage(glyph)
            verify(!sameColor(image.pixel(160, 100), Theme.connected, 0.2), "inside the slot")
            compareColor(image.pixel(96, 100), Theme.connected, "mirror point on the disc")
            compareColor(image.pixel(128, 190), Theme.connected, "below the centre")
            verify(!sameColor(image.pixel(128, 20), Theme.connected, 0.2), "outside the disc")
        }
    }
}
