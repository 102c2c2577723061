import QtQuick
import Orvik.Style
import Orvik.Tessel

Item {
    id: root
    width: 800
    height: 300

    // Stands in for the window the header moves, maximises and closes.
    Component {
        id: hostComponent
        QtObject {
            property int visibility: Window.Windowed
            property int moves: 0
            property var calls: []
            function startSystemMove() { moves += 1; return true }
            function showMinimized() { calls.push("minimise") }
            function showMaximized() { calls.push("maximise"); visibility = Window.Maximized }
            function showNormal() { calls.push("restore"); visibility = Window.Windowed }
            function close() { calls.push("close") }
        }
    }
    Component { id: headerComponent; MinimalHeader { width: 760 } }

    OrvikTestCase {
        name: "Controls"

        function windowButtons(header) {
            return ["minimiseButton", "maximiseButton", "closeButton"].map(name => findChild(header, name))
        }

        // The press must travel 5 px (|dx| + |dy|) before the window moves, and only once per press.
        function test_dragThreshold() {
            const host = hostComponent.createObject(root)
            const header = make(headerComponent, root, { hostWindow: host })
            mousePress(header, 300, 29)
            for (const [x, y, moves] of [[302, 31, 0], [303, 31, 1], [340, 40, 1]]) {
                mouseMove(header, x, y)
                compare(host.moves, moves, "at " + x + ", " + y)
            }
            mouseRelease(header, 340, 40)
            mousePress(header, 300, 29)
            mouseMove(header, 300, 24)
            compare(host.moves, 2)
            mouseRelease(header, 300, 24)
            mouseDoubleClickSequence(header, 300, 29)
            compare(host.visibility, Window.Maximized)
            host.destroy()
        }

        function test_windowButtons() {
            const host = hostComponent.createObject(root)
            const header = make(headerComponent, root, { hostWindow: host })
            const buttons = windowButtons(header)
            for (const button of buttons)
                mouseClick(button)
            mouseClick(buttons[1])
            compare(host.calls.join(","), "minimise,maximise,close,restore")
            header.hostWindow = null
            mouseClick(buttons[2])
            compare(host.calls.length, 4)
            host.destroy()
        }
    }
}
