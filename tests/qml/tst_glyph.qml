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
    }
}
