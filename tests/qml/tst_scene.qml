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

        // The controller's words and the components' synonyms land on the same targets. At rest
        // (reduced motion, or after the one scan) the cone shows each state's width.
        function test_targets_data() {
            return [
                { tag: "connecting stage 1", state: "connecting", stage: 1, beam: [0.78, 0.90], cone: [0.18, 1.0],
                  text: "正在建立通道" },
                { tag: "igniting stage 2", state: "igniting", stage: 2, beam: [1.0, 0.90], cone: [0.18, 1.0],
                  text: "正在确认网络" },
                { tag: "igniting after the scan", state: "igniting", stage: 2, motion: true, beam: [1.0, 0.90],
                  cone: [0.08, 0.12], text: "正在确认网络" },
                { tag: "connected", state: "connected", beam: [1.0, 1.0], cone: [0.44, 1.0] },
                { tag: "fault", state: "fault", beam: [0.94, 0.72], cone: [0.08, 0.32] },
                { tag: "off previewed", state: "off", preview: true, beam: [0.17, 0.58], cone: [0.035, 0.12] },
                { tag: "off", state: "off", beam: [0.08, 0.42], cone: [0, 0.12] },
                { tag: "extinguishing previewed", state: "extinguishing", preview: true, beam: [0.08, 0.42],
                  cone: [0, 0.12] }
            ]
        }
        function test_targets(row) {
            Theme.reduceMotion = row.motion !== true
            const scene = make(sceneComponent, root, { visualState: row.state,
                                                       stageIndex: row.stage === undefined ? -1 : row.stage,
                                                       previewRequested: row.preview === true })
            tryCompare(scene, "scanning", false, 3000)
            tryVerify(() => Math.abs(scene.beamProgress - row.beam[0]) < 0.001, 3000, "beam " + scene.beamProgress)
            fuzzyCompare(scene.beamOpacity, row.beam[1], 0.001)
            fuzzyCompare(scene.coneOpacity, row.cone[0], 0.001)
            fuzzyCompare(scene.coneScale, row.cone[1], 0.001)
            const label = findChild(scene, "stageText")
            compare(label.visible, row.text !== undefined)
            if (row.text)
                compare(label.text, row.text)
        }

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

        function test_keepsProportionsAtAnySize() {
            Theme.reduceMotion = true
            const scene = make(sceneComponent, root, { visualState: "lit", width: 215, height: 330 })
            const target = findChild(scene, "target")
            const centre = target.mapToItem(scene, target.width / 2, target.height / 2)
            fuzzyCompare(centre.x, 107.5, 0.5)
            fuzzyCompare(centre.y, 0.5 * 40 + (330 - 165) / 2, 0.5)
        }
    }
}
