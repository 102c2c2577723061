import QtQuick
import Orvik.Style

Item {
    OrvikTestCase {
        name: "Theme"

        function test_duration_data() {
            return [
                { tag: "normal", reduce: false, normal: 700, expected: 700 },
                { tag: "reduced long", reduce: true, normal: 700, expected: 80 },
                { tag: "reduced at limit", reduce: true, normal: 80, expected: 80 },
                { tag: "reduced short", reduce: true, normal: 60, expected: 60 },
                { tag: "reduced zero", reduce: true, normal: 0, expected: 0 }
            ]
        }
        function test_duration(row) {
            Theme.reduceMotion = row.reduce
            compare(Theme.duration(row.normal), row.expected)
        }
    }
}
