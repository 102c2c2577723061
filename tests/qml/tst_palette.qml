import QtQuick
import QtTest
import Orvik.Style
import Orvik.Tessel

// The route palette over the real route model, opened and closed through the real window.
Item {
    id: root
    width: 600
    height: 300

    Component { id: spyComponent; SignalSpy {} }
    Component { id: rowComponent; RoutePalette.RouteRow { width: 500; country: "日本"; city: "东京"; quality: "可用" } }

    OrvikTestCase {
        name: "RoutePalette"

        readonly property string tokyo: "日本·东京"
        readonly property string singapore: "新加坡·新加坡"  // its node's port is closed
        readonly property string losAngeles: "美国·洛杉矶"

        // The palette opened by its shortcut over the panel's nodes (all coded "XB"; three, or `routes`
        // with the last one chosen), measured.
        function openPalette(dark, routes) {
            const window = openWindow({ panel: true, signedIn: true, routes: routes || 3 })
            const model = window.routeModel
            tryVerify(() => model.count === (routes || 3) && !model.get(model.visibleIndexOf(singapore)).available, 5000)
            if (routes)
                window.controller.selectRoute(model.get(routes - 1).routeId, "", "", 0)
            if (dark)
                darken(window)
            keySequence("Ctrl+K")
            const palette = findChild(window, "routePalette")
            tryVerify(() => palette.opened)
            return { window: window, palette: palette, model: model, controller: window.controller,
                     search: findChild(palette.contentItem, "search"), list: findChild(palette.contentItem, "routeList") }
        }

        // The filter follows the search text and its first match becomes current. Return or a click
        // chooses an available route (focus to the primary action, ringed after keys only); else Escape
        // closes (focus to the readout). The filter is cleared, and the next opening starts on the current route.
        function test_keysAndChoice_data() {
            return [
                { tag: "down onto an unavailable route", steps: [Qt.Key_Down], row: 1 },
                { tag: "down at the last stays", steps: [Qt.Key_End, Qt.Key_Down], row: 2, chosen: losAngeles },
                { tag: "up at the first stays", steps: [Qt.Key_Up], row: 0, chosen: tokyo },
                { tag: "home", steps: [Qt.Key_Down, Qt.Key_Down, Qt.Key_Home], row: 0, chosen: tokyo },
                { tag: "typing makes the first match current", steps: [Qt.Key_End, "xb"], row: 0, chosen: tokyo },
                { tag: "filtered", steps: ["洛杉矶"], row: 0, chosen: losAngeles },
                { tag: "end on an empty list", steps: ["xbq", Qt.Key_End], row: -1 },
                { tag: "home on an empty list", steps: ["xbq", Qt.Key_Home], row: -1 },
                { tag: "click", steps: [], click: losAngeles, row: 0, chosen: losAngeles },
                { tag: "click on an unavailable route", steps: [], click: singapore, row: 0 }
            ]
        }
        function test_keysAndChoice(data) {
            const p = openPalette()
            const spy = createTemporaryObject(spyComponent, root, { target: p.palette, signalName: "routeChosen" })
            for (const step of data.steps)
                typeof step === "string" ? p.search.insert(p.search.length, step) : keyClick(step)
            compare(p.list.currentIndex, data.row)
            const typed = data.steps.filter(step => typeof step === "string").join("")
            compare(p.search.text + "|" + p.model.filterText, typed + "|" + typed)
            compare(findChild(p.palette.contentItem, "emptyState").visible, p.model.count === 0)
            data.click ? mouseClick(itemAt(p.list, p.model.visibleIndexOf(data.click))) : keyClick(Qt.Key_Return)
            compare(p.palette.opened, !data.chosen, "open after the choice")
            if (!data.chosen)
                keyClick(Qt.Key_Escape)
            tryVerify(() => !p.palette.visible)
            compare(spy.count, data.chosen ? 1 : 0)
            const current = data.chosen || tokyo
            compare(p.controller.routeId + "|" + p.model.filterText, current + "|")
            const focused = findChild(p.window, data.chosen ? "primaryButton" : "readout")
            verify(focused.activeFocus && focused.visualFocus === !(data.click && data.chosen))
            keySequence("Ctrl+K")
            tryVerify(() => p.palette.opened && !p.palette.acceptedSelection)
            compare(p.search.text + "|" + p.list.currentIndex, "|" + p.model.visibleIndexOf(current))
        }

        // With more routes than fit, the current row stays in sight: on opening with the chosen route
        // far down (and its "当前"), after each key, and so the row Return chooses.
        function test_currentRowInSight() {
            const p = openPalette(false, 30)
            verify(itemAt(p.list, 29).selected)
            for (const [keys, row] of [[[], 29], [[Qt.Key_Home], 0], [Array(20).fill(Qt.Key_Down), 20], [[Qt.Key_End], 29], [[Qt.Key_Up], 28]]) {
                keys.forEach(key => keyClick(key))
                const item = itemAt(p.list, row)
                verify(p.list.currentIndex === row && item.y >= p.list.contentY && item.y + item.height <= p.list.contentY + p.list.height, row)
            }
            keyClick(Qt.Key_Return)
            compare(p.controller.routeId, "德国·城市29")
        }

        function test_row_data() {
            return [
                { tag: "three-letter code", code: "HKG", latency: 79, size: 8, text: "79 ms", fast: true, name: "日本，东京，延迟79毫秒" },
                { tag: "two-letter code, slow", code: "XB", latency: 80, size: 10, text: "80 ms", fast: false, name: "日本，东京，延迟80毫秒" },
                { tag: "measuring", code: "JP", state: "measuring", size: 10, text: "测量中", fast: true, name: "日本，东京，测量中" },
                { tag: "unavailable", code: "SGP", available: false, size: 8, text: "不可用", fast: true, name: "日本，东京，当前不可用" }
            ]
        }
        function test_row(data) {
            const available = data.available !== false
            const row = createTemporaryObject(rowComponent, root, { routeId: "r", code: data.code, latency: data.latency || 0,
                                                                    latencyState: data.state || "ready", available: available })
            compare(findChild(row, "code").font.pixelSize, data.size)
            const latency = findChild(row, "latency")
            compare(latency.text, data.text)
            compare(latency.color, data.fast ? Theme.textSecondary : Theme.textTertiary)
            compare(row.Accessible.name, data.name)
            compare(row.enabled, available)
        }

        // Light and dark, filtered and empty; the current row is drawn on the soft fill.
        function test_shots_data() {
            return [{ tag: "light", filter: "" }, { tag: "dark-filtered", dark: true, filter: "洛" }, { tag: "light-empty", filter: "巴黎" }]
        }
        function test_shots(data) {
            const p = openPalette(data.dark)
            p.search.insert(0, data.filter)
            const image = shot(p.window.contentItem.parent, "palette-" + data.tag)
            if (p.model.count === 0)
                return
            const current = itemAt(p.list, 0)
            const at = current.mapToItem(p.window.contentItem, 4, current.height / 2)
            compareColor(image.pixel(at.x, at.y), Theme.softFill, "current row")
        }
    }
}
