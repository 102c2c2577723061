import QtQuick
import QtTest
import Orvik.Style
import Orvik.Tessel

// The route palette over the real route model, opened and closed through the real window.
Item {
    id: root
    width: 600
    height: 300

    Component { id: mainComponent; Main {} }
    Component { id: spyComponent; SignalSpy {} }
    Component { id: rowComponent; RoutePalette.RouteRow { width: 500; country: "日本"; city: "东京"; quality: "可用" } }

    OrvikTestCase {
        name: "RoutePalette"

        readonly property string tokyo: "日本·东京"
        readonly property string singapore: "新加坡·新加坡"  // its node's port is closed
        readonly property string losAngeles: "美国·洛杉矶"

        // A signed-in window over the panel's three nodes, once the closed port has measured,
        // with the palette opened by its shortcut.
        function openPalette(dark) {
            const objects = app.objects({ panel: true, signedIn: true })
            verify(objects.controller, "the application objects")
            const window = createTemporaryObject(mainComponent, root, objects)
            window.requestActivate()
            tryVerify(() => window.active)
            const model = objects.routeModel
            tryVerify(() => model.count === 3 && model.get(model.visibleIndexOf(singapore)).available === false, 5000)
            for (let i = 0; dark && i < 2; ++i)
                objects.preferences.cycleThemeMode()
            tryVerify(() => sameColor(findChild(window, "surface").color, Theme.background))
            keySequence("Ctrl+K")
            const palette = findChild(window, "routePalette")
            tryVerify(() => palette.opened)
            return { window: window, palette: palette, model: model, controller: objects.controller,
                     search: findChild(palette.contentItem, "search"),
                     list: findChild(palette.contentItem, "routeList") }
        }

        function typeText(text) {
            for (const c of text)
                keyClick(c)
        }

        function test_keysMoveTheCurrentRow_data() {
            return [
                { tag: "down", keys: [Qt.Key_Down], row: 1 },
                { tag: "down at the last stays", keys: [Qt.Key_End, Qt.Key_Down], row: 2 },
                { tag: "up at the first stays", keys: [Qt.Key_Up], row: 0 },
                { tag: "home", keys: [Qt.Key_Down, Qt.Key_Down, Qt.Key_Home], row: 0 },
                { tag: "end on an empty list", typed: "xbq", keys: [Qt.Key_End], row: -1 },
                { tag: "home on an empty list", typed: "xbq", keys: [Qt.Key_Home], row: -1 }
            ]
        }
        function test_keysMoveTheCurrentRow(data) {
            const p = openPalette()
            verify(p.search.activeFocus)
            compare(p.list.currentIndex, 0)
            typeText(data.typed || "")
            for (const key of data.keys)
                keyClick(key)
            compare(p.list.currentIndex, data.row)
            compare(p.search.text, data.typed || "")
            verify(p.palette.opened)
        }

        // Typing filters the model and makes the first match current; the empty state shows
        // while nothing matches. Escape closes, clears the filter and gives the focus back.
        function test_filterAndEscape() {
            const p = openPalette()
            keyClick(Qt.Key_Down)
            p.search.insert(0, "洛杉矶")
            compare(p.model.filterText, "洛杉矶")
            compare(p.model.count, 1)
            compare(p.list.currentIndex, 0)
            const empty = findChild(p.palette.contentItem, "emptyState")
            verify(!empty.visible)
            typeText("q")
            compare(p.model.count, 0)
            compare(p.list.currentIndex, -1)
            verify(empty.visible)
            keyClick(Qt.Key_Escape)
            tryVerify(() => !p.palette.visible)
            compare(p.model.filterText, "")
            compare(p.model.count, 3)
            verify(findChild(p.window, "readout").activeFocus)
        }

        function test_choose_data() {
            return [
                { tag: "return", downs: 2, chosen: losAngeles },
                { tag: "return on a filtered row", filter: "洛杉矶", chosen: losAngeles },
                { tag: "click", click: losAngeles, chosen: losAngeles },
                { tag: "return on an unavailable route", downs: 1, chosen: "" },
                { tag: "click on an unavailable route", click: singapore, chosen: "" },
                { tag: "return on an empty list", filter: "巴黎", chosen: "" }
            ]
        }
        function test_choose(data) {
            const p = openPalette()
            const chosen = createTemporaryObject(spyComponent, root, { target: p.palette, signalName: "routeChosen" })
            p.search.insert(0, data.filter || "")
            for (let i = 0; i < (data.downs || 0); ++i)
                keyClick(Qt.Key_Down)
            if (data.click)
                mouseClick(itemAt(p.list, p.model.visibleIndexOf(data.click)))
            else
                keyClick(Qt.Key_Return)
            if (!data.chosen) {
                compare(chosen.count, 0)
                verify(p.palette.opened)
                compare(p.controller.routeId, tokyo)
                return
            }
            tryVerify(() => !p.palette.visible)
            compare(chosen.count, 1)
            compare(p.controller.routeId, data.chosen)
            compare(p.model.filterText, "")
            verify(findChild(p.window, "primaryButton").activeFocus)
            // The next opening starts unfiltered, on the chosen route.
            keySequence("Ctrl+K")
            tryVerify(() => p.palette.opened)
            compare(p.search.text, "")
            compare(p.list.currentIndex, p.model.visibleIndexOf(data.chosen))
            verify(!p.palette.acceptedSelection)
        }

        function test_row_data() {
            return [
                { tag: "three-letter code", code: "HKG", latency: 79, size: 8, text: "79 ms", fast: true,
                  name: "日本，东京，延迟79毫秒" },
                { tag: "two-letter code, slow", code: "XB", latency: 80, size: 10, text: "80 ms", fast: false,
                  name: "日本，东京，延迟80毫秒" },
                { tag: "measuring", code: "JP", latency: 0, state: "measuring", size: 10, text: "测量中", fast: true,
                  name: "日本，东京，测量中" },
                { tag: "unavailable", code: "SGP", latency: 0, available: false, size: 8, text: "不可用", fast: true,
                  name: "日本，东京，当前不可用" }
            ]
        }
        function test_row(data) {
            const available = data.available !== false
            const row = createTemporaryObject(rowComponent, root, {
                routeId: "r", code: data.code, latency: data.latency, latencyState: data.state || "ready",
                available: available })
            compare(findChild(row, "code").font.pixelSize, data.size)
            const latency = findChild(row, "latency")
            compare(latency.text, data.text)
            compare(latency.color, data.fast ? Theme.textSecondary : Theme.textTertiary)
            compare(row.Accessible.name, data.name)
            compare(row.enabled, available)
        }

        // The current row is drawn on the soft fill; the area behind the palette is dimmed.
        function test_pixels() {
            const p = openPalette()
            const image = grabImage(p.window.contentItem.parent)
            const current = itemAt(p.list, 0)
            const at = current.mapToItem(p.window.contentItem, 4, current.height / 2)
            compareColor(image.pixel(at.x, at.y), Theme.softFill, "current row")
            const dim = Qt.tint(Theme.background, Theme.overlay)
            compareColor(image.pixel(30, p.palette.y + p.palette.height + 10), dim, "dimmed window")
        }

        function test_shots_data() {
            return [
                { tag: "light", dark: false, filter: "" },
                { tag: "dark-filtered", dark: true, filter: "洛" },
                { tag: "light-empty", dark: false, filter: "巴黎" }
            ]
        }
        function test_shots(data) {
            const p = openPalette(data.dark)
            p.search.insert(0, data.filter)
            keyClick(Qt.Key_Down)
            waitForRendering(p.window.contentItem)
            grabImage(p.window.contentItem.parent).save(shotsDirectory + "/palette-" + data.tag + ".png")
        }
    }
}
