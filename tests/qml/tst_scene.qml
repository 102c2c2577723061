import QtQuick
import Orvik.Style
import Orvik.Tessel

Item {
    id: root
    width: 500
    height: 400

    Component { id: sceneComponent; TesselScene {} }

    OrvikTestCase {
        name: "TesselScene"

        // Each attempt scans once; activation and motion settings stop or force it.
        function test_scanTriggers() {
            const scene = make(sceneComponent, root, { visualState: "igniting" })
            verify(scene.scanning, "serial 0 scans when created connecting")
            scene.visualState = "off"
            verify(!scene.scanning)
            compare(scene.coneOpacity, 0)

            scene.connectionAttemptSerial = 5
            verify(!scene.scanning, "a new serial outside connecting does not scan")
            scene.visualState = "connecting"
            verify(scene.scanning)
            scene.visualState = "fault"
            scene.visualState = "igniting"
            verify(!scene.scanning, "the same attempt does not scan twice")

            scene.applicationActive = false
            scene.applicationActive = true
            verify(scene.scanning, "re-activation restarts the scan")
            scene.applicationActive = false
            verify(!scene.scanning)
            scene.applicationActive = true

            Theme.reduceMotion = true
            verify(!scene.scanning, "reduced motion stops the scan")
            fuzzyCompare(scene.coneOpacity, 0.18, 0.001)
            Theme.reduceMotion = false
            verify(scene.scanning)
            scene.connectionAttemptSerial = 6
            verify(scene.scanning)
            tryCompare(scene, "scanning", false, 3000)
            fuzzyCompare(scene.coneOpacity, 0.08, 0.001)
        }

        function test_beamAnimatesUnlessMotionIsReduced() {
            const scene = make(sceneComponent, root)
            scene.visualState = "lit"
            verify(scene.beamProgress < 0.5, "the beam grows over time")
            tryCompare(scene, "beamProgress", 1.0, 3000)
            Theme.reduceMotion = true
            scene.visualState = "off"
            fuzzyCompare(scene.beamProgress, 0.08, 0.001)
        }
    }
}
