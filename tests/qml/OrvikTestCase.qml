import QtQuick
import QtTest

// Every QML test of the client: runs once the window shows, and any warning fails the test.
TestCase {
    when: windowShown

    function init() {
        failOnWarning(/.?/)
    }

    // Two colours match when each channel differs by at most tolerance (0..1).
    function sameColor(actual, expected, tolerance) {
        const t = tolerance === undefined ? 0.02 : tolerance
        const e = Qt.color(expected)
        return Math.abs(actual.r - e.r) <= t && Math.abs(actual.g - e.g) <= t
            && Math.abs(actual.b - e.b) <= t && Math.abs(actual.a - e.a) <= t
    }

    // A list's delegate once the list has laid it out.
    function itemAt(list, index) {
        tryVerify(() => list.itemAtIndex(index) !== null, 5000, "row " + index + " laid out")
        return list.itemAtIndex(index)
    }

    function compareColor(actual, expected, what) {
        verify(sameColor(actual, expected), (what || "colour") + ": " + actual + " instead of " + expected)
    }
}
