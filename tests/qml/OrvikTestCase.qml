import QtQuick
import QtTest
import Orvik.Style
import Orvik.Tessel

// Every QML test of the client: runs once the window shows, and any warning fails the test.
TestCase {
    when: windowShown

    Component { id: mainComponent; Main {} }

    function init() {
        failOnWarning(/.?/)
    }

    function cleanup() {
        Theme.darkMode = false
        Theme.reduceMotion = false
    }

    // Two colours match when each channel differs by at most tolerance (0..1).
    function sameColor(actual, expected, tolerance) {
        const t = tolerance === undefined ? 0.02 : tolerance
        const e = Qt.color(expected)
        return Math.abs(actual.r - e.r) <= t && Math.abs(actual.g - e.g) <= t
            && Math.abs(actual.b - e.b) <= t && Math.abs(actual.a - e.a) <= t
    }

    function compareColor(actual, expected, what) {
        verify(sameColor(actual, expected), (what || "colour") + ": " + actual + " instead of " + expected)
    }

    // A list's delegate once the list has laid it out.
    function itemAt(list, index) {
        tryVerify(() => list.itemAtIndex(index) !== null, 5000, "row " + index + " laid out")
        return list.itemAtIndex(index)
    }

    function make(component, parent, properties) {
        const item = createTemporaryObject(component, parent, properties || {})
        verify(item)
        return item
    }

    // A named part of a popup's content.
    function part(popup, name) {
        return findChild(popup.contentItem, name)
    }

    // The program's window over fresh application objects (app.objects(options)), active.
    function openWindow(options, properties) {
        const objects = app.objects(options || {})
        verify(objects.controller, "the application objects")
        const window = make(mainComponent, parent, Object.assign(objects, properties || {}))
        window.requestActivate()
        tryCompare(window, "active", true)
        return window
    }

    // The window turned dark the way a user does it: system (light here) -> light -> dark.
    function darken(window) {
        window.preferences.cycleThemeMode()
        window.preferences.cycleThemeMode()
        tryVerify(() => sameColor(findChild(window, "surface").color, Theme.background))
    }

    // Every text shown is plain text, so a panel's names and messages cannot style the window,
    // pose as its controls or make it load images. A field's placeholder is the window's own words.
    function plainTextOnly(item, name) {
        if (!item.visible) return
        const placeholder = item.parent && item.parent.placeholderText === item.text
        if (item.textFormat !== undefined && item.text !== undefined && item.textFormat !== Text.PlainText && !placeholder)
            fail(name + ": \"" + item.text + "\" is not shown as plain text")
        for (let i = 0; i < item.children.length; ++i) plainTextOnly(item.children[i], name)
    }

    // What a person looks at, saved under build/<preset>/shots once settled: the same picture twice,
    // 400 ms apart, long enough for the slowest fade to move a colour step.
    function shot(item, name) {
        plainTextOnly(item, name)
        let previous = null
        for (let waited = 0; waited <= 10000; waited += 400) {
            const image = grabImage(item)
            if (previous && image.equals(previous)) {
                image.save(shotsDirectory + "/" + name + ".png")
                return image
            }
            previous = image
            wait(400)
        }
        fail(name + " never settles")
    }
}
