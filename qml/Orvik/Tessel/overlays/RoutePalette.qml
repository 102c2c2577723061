import QtQuick
import QtQuick.Controls
import QtQuick.Templates as T
import Orvik.Style
import Orvik.Tessel

// Searchable, keyboard-driven list of routes. The search field keeps the focus; the arrow keys
// move the current row and Return chooses it.
T.Dialog {
    id: routePalette
    title: "选择方向"  // the name a screen reader gives the popup

    required property RouteListModel routeModel
    property string selectedRouteId: ""
    property Item focusReturnItem: null
    property Item acceptedFocusItem: null
    property bool acceptedSelection: false

    signal routeChosen(string routeId, string country, string city, int latency)

    // One route of the list; the model's roles arrive as the required properties.
    component RouteRow: T.ItemDelegate {
        id: row

        required property string routeId
        required property string code
        required property string country
        required property string city
        required property string quality
        required property int latency
        required property string latencyState
        required property bool available
        property bool selected: false

        readonly property bool measuring: latencyState === "measuring"

        height: 58
        enabled: available
        opacity: available ? 1 : 0.52
        hoverEnabled: true
        focusPolicy: Qt.ClickFocus
        leftPadding: 11
        rightPadding: 14
        Accessible.name: available ? "%1，%2，%3".arg(country).arg(city).arg(measuring ? "测量中" : "延迟%1毫秒".arg(latency))
                                   : "%1，%2，当前不可用".arg(country).arg(city)

        Row {
            x: row.leftPadding
            anchors.verticalCenter: parent.verticalCenter
            spacing: 12
            Rectangle {
                anchors.verticalCenter: parent.verticalCenter
                width: 36
                height: 36
                radius: 18
                color: row.selected ? Theme.softFill : "transparent"
                border.width: 1
                border.color: Theme.hairline
                Text {
                    textFormat: Text.PlainText
                    objectName: "code"
                    anchors.centerIn: parent
                    text: row.code
                    font.family: Theme.monoFont
                    font.weight: Font.DemiBold
                    font.pixelSize: row.code.length > 2 ? 8 : 10
                    color: Theme.textSecondary
                }
            }
            Column {
                anchors.verticalCenter: parent.verticalCenter
                width: row.availableWidth - 36 - 54 - (current.visible ? current.width + 12 : 0) - 24
                spacing: 1
                Text {
                    textFormat: Text.PlainText
                    width: parent.width
                    text: row.country + " · " + row.city
                    elide: Text.ElideRight
                    font.family: Theme.textFont
                    font.pixelSize: 13
                    font.weight: Font.Medium
                    color: Theme.textPrimary
                }
                Text {
                    textFormat: Text.PlainText
                    width: parent.width
                    text: row.quality
                    elide: Text.ElideRight
                    font.family: Theme.textFont
                    font.pixelSize: 10
                    color: Theme.textTertiary
                }
            }
            Text {
                textFormat: Text.PlainText
                id: current
                anchors.verticalCenter: parent.verticalCenter
                visible: row.selected
                text: "当前"
                font.family: Theme.textFont
                font.pixelSize: 10
                font.weight: Font.DemiBold
                color: Theme.connected
            }
            Text {
                textFormat: Text.PlainText
                objectName: "latency"
                anchors.verticalCenter: parent.verticalCenter
                width: 54
                horizontalAlignment: Text.AlignRight
                text: !row.available ? "不可用" : row.measuring ? "测量中" : row.latency + " ms"
                font.family: Theme.monoFont
                font.pixelSize: 10
                color: row.latency < 80 ? Theme.textSecondary : Theme.textTertiary
            }
        }
        background: Rectangle {
            radius: 12
            color: row.highlighted || row.hovered ? Theme.softFill : "transparent"
            border.width: row.activeFocus ? 2 : 0
            border.color: Theme.focus
        }
    }

    // Chooses a row of the filtered list; an unavailable route or a row outside it does nothing.
    function choose(row) {
        if (!routeModel || row < 0 || row >= routeModel.count)
            return
        const route = routeModel.get(row)
        if (!route["available"])
            return
        acceptedSelection = true
        routeChosen(route.routeId, route.country, route.city, route.latency)
        close()
    }

    // The current row stays in sight, with its section header when it is the first one.
    function showCurrent(mode) {
        if (list.currentIndex === 0)
            list.positionViewAtBeginning()
        else if (list.currentIndex > 0)
            list.positionViewAtIndex(list.currentIndex, mode)
    }

    function moveCurrent(key) {
        const last = routeModel.count - 1
        if (key === Qt.Key_Down)
            list.currentIndex = Math.min(last, list.currentIndex + 1)
        else if (key === Qt.Key_Up)
            list.currentIndex = Math.max(0, list.currentIndex - 1)
        else if (key === Qt.Key_Home)
            list.currentIndex = last >= 0 ? 0 : -1
        else if (key === Qt.Key_End)
            list.currentIndex = last
    }

    parent: Overlay.overlay
    x: parent ? Math.round((parent.width - width) / 2) : 0
    y: parent ? Math.round((parent.height - height) / 2) : 0
    width: parent ? Math.min(540, parent.width - 32) : 540
    height: parent ? Math.min(472, parent.height - 40) : 472
    padding: 0
    modal: true
    focus: true

    onAboutToShow: {
        routeModel.filterText = ""
        search.text = ""
        acceptedSelection = false
        list.currentIndex = Math.max(0, routeModel.visibleIndexOf(selectedRouteId))
        list.forceLayout()
        showCurrent(ListView.Center)
        search.focus = true
    }
    onClosed: {
        routeModel.filterText = ""
        const target = acceptedSelection ? acceptedFocusItem : focusReturnItem
        if (target)
            target.forceActiveFocus(InputModality.focusReason)
    }

    enter: Transition {
        NumberAnimation { property: "opacity"; from: 0; to: 1; duration: Theme.duration(170); easing.type: Easing.OutCubic }
    }
    exit: Transition {
        NumberAnimation { property: "opacity"; from: 1; to: 0; duration: Theme.duration(130); easing.type: Easing.InCubic }
    }

    Overlay.modal: Rectangle { color: Theme.overlay }

    background: Rectangle {
        radius: Theme.panelRadius
        color: Theme.elevatedSurface
        border.width: 1
        border.color: Theme.hairline
    }

    Item {
        id: header
        width: parent.width
        height: 17 + Math.max(titles.height, closeButton.height) + 12

        Column {
            id: titles
            x: 22
            anchors.verticalCenter: closeButton.verticalCenter
            width: Math.max(0, (shortcutHint.visible ? shortcutHint.x : closeButton.x) - 12 - x)
            spacing: 2
            Text {
                textFormat: Text.PlainText
                width: parent.width
                text: "选择方向"
                elide: Text.ElideRight
                font.family: Theme.displayFont
                font.pixelSize: 17
                font.weight: Font.DemiBold
                color: Theme.textPrimary
            }
            Text {
                textFormat: Text.PlainText
                width: parent.width
                text: "搜索国家、城市或线路代码"
                elide: Text.ElideRight
                font.family: Theme.textFont
                font.pixelSize: 10
                color: Theme.textTertiary
            }
        }
        Text {
            textFormat: Text.PlainText
            id: shortcutHint
            anchors.right: closeButton.left
            anchors.rightMargin: 12
            anchors.verticalCenter: closeButton.verticalCenter
            visible: routePalette.width > 440
            text: "CTRL  K"
            font.family: Theme.monoFont
            font.pixelSize: 9
            font.letterSpacing: 0.6
            color: Theme.textTertiary
        }
        T.AbstractButton {
            id: closeButton
            objectName: "closeButton"
            anchors.right: parent.right
            anchors.rightMargin: 14
            y: 17
            width: 44
            height: 44
            hoverEnabled: true
            Accessible.name: "关闭线路选择"
            KeyNavigation.tab: search
            KeyNavigation.backtab: search
            onClicked: routePalette.close()
            contentItem: Text {
                text: "×"
                textFormat: Text.PlainText
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                font.family: Theme.textFont
                font.pixelSize: 20
                font.weight: Font.Light
                color: Theme.textSecondary
            }
            background: Rectangle {
                radius: 22
                color: closeButton.hovered ? Theme.softFill : "transparent"
                border.width: closeButton.activeFocus ? 2 : 0
                border.color: Theme.focus
            }
        }
    }

    TextField {
        id: search
        objectName: "search"
        x: 16
        y: header.height
        width: parent.width - 32
        height: 46
        leftPadding: 16
        rightPadding: 16
        focus: true
        placeholderText: "输入城市或国家"
        Accessible.name: "搜索国家、城市或线路代码"
        // The row that Return would choose, for a reader that stays in the field.
        Accessible.description: list.currentItem ? list.currentItem.Accessible.name : "没有找到这条方向"
        placeholderTextColor: Theme.textTertiary
        color: Theme.textPrimary
        selectionColor: Theme.warmLight
        selectedTextColor: Theme.darkMode ? Theme.background : "#090906"
        font.family: Theme.textFont
        font.pixelSize: 13
        KeyNavigation.tab: closeButton
        KeyNavigation.backtab: closeButton
        onTextChanged: {
            routePalette.routeModel.filterText = text
            list.currentIndex = routePalette.routeModel.count > 0 ? 0 : -1
        }
        Keys.onPressed: event => {
            switch (event.key) {
            case Qt.Key_Down:
            case Qt.Key_Up:
            case Qt.Key_Home:
            case Qt.Key_End:
                routePalette.moveCurrent(event.key)
                break
            case Qt.Key_Return:
            case Qt.Key_Enter:
                routePalette.choose(list.currentIndex)
                break
            default:
                return
            }
            event.accepted = true
        }
        background: Rectangle {
            radius: 12
            color: Theme.surface
            border.width: search.activeFocus ? 2 : 1
            border.color: search.activeFocus ? Theme.focus : Theme.hairline
        }
    }

    ListView {
        id: list
        objectName: "routeList"
        x: 10
        y: search.y + search.height + 12
        width: parent.width - 20
        height: Math.max(0, parent.height - y - 10)
        clip: true
        spacing: 2
        boundsBehavior: Flickable.StopAtBounds
        keyNavigationEnabled: false
        model: routePalette.routeModel
        Accessible.role: Accessible.List
        Accessible.name: "线路"
        onCurrentIndexChanged: routePalette.showCurrent(ListView.Contain)
        section.property: "group"
        section.criteria: ViewSection.FullString
        section.delegate: Item {
            id: sectionHeader
            required property string section
            width: ListView.view.width
            height: 28
            Text {
                textFormat: Text.PlainText
                x: 12
                anchors.bottom: parent.bottom
                anchors.bottomMargin: 6
                text: sectionHeader.section
                font.family: Theme.textFont
                font.pixelSize: 9
                font.weight: Font.DemiBold
                color: Theme.textTertiary
            }
        }
        delegate: RouteRow {
            required property int index
            width: ListView.view.width
            highlighted: ListView.isCurrentItem
            selected: routeId === routePalette.selectedRouteId
            onClicked: routePalette.choose(index)
        }
    }

    Column {
        objectName: "emptyState"
        anchors.centerIn: list
        visible: list.count === 0
        spacing: 6
        Text {
            textFormat: Text.PlainText
            anchors.horizontalCenter: parent.horizontalCenter
            text: "没有找到这条方向"
            font.family: Theme.textFont
            font.pixelSize: 13
            color: Theme.textSecondary
        }
        Text {
            textFormat: Text.PlainText
            anchors.horizontalCenter: parent.horizontalCenter
            text: "换一个城市或国家试试"
            font.family: Theme.textFont
            font.pixelSize: 10
            color: Theme.textTertiary
        }
    }
}
