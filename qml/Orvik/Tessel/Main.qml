import QtQuick
import QtQuick.Controls
import QtQuick.Templates as T
import Orvik.Style
import Orvik.Tessel

// The client's only window: frameless, with a rounded surface it draws itself. Every label is a
// rule over the six application objects; the window keeps nothing but focus bookkeeping.
ApplicationWindow {
    id: window

    required property ConnectionController controller
    required property AccountController account
    required property RouteListModel routeModel
    required property Preferences preferences
    required property TrayHost tray
    required property UpdateController updater

    readonly property string membershipTier: account.membershipTier
    readonly property int membershipRemainingDays: account.remainingDays
    readonly property string membershipRemainingLabel: account.remainingLabel
    readonly property int membershipUsedDevices: account.usedDevices
    readonly property int membershipDeviceLimit: account.deviceLimit
    readonly property bool membershipActive: account.membershipActive
    readonly property bool compact: width < 680 || height < 680
    readonly property bool connected: controller.visualState === "lit"
    readonly property bool signedIn: account.loggedIn
    readonly property bool maximised: visibility === Window.Maximized
    readonly property int surfaceRadius: maximised ? 0 : Theme.windowRadius
    readonly property color surfaceBorder: Theme.darkMode ? "#252A2D" : "#D8D6CF"
    readonly property bool popupOpen: routePalette.visible || accountPopover.visible || morePopover.visible
                                      || diagnosticsPopover.visible || loginOverlay.visible || shopOverlay.visible
    property Item diagnosticsFocusReturn: primaryButton
    property bool diagnosticsPendingFromMore: false
    // Focus the window moves by itself shows its ring only after keys. Read from the start, so that
    // the input is watched before the first popup closes.
    readonly property int focusReturnReason: InputModality.focusReason
    // Where focus goes back when the login or the shop closes: where it was when they opened.
    property Item loginFocusReturn: null
    property Item shopFocusReturn: null

    readonly property string primaryLabel: {
        switch (controller.visualState) {
        case "igniting": return "取消"
        case "lit": return "结束连接"
        case "extinguishing": return "请稍候"
        case "fault": return "重新连接"
        default: return "开始连接"
        }
    }
    readonly property string displayStatusTitle: {
        switch (controller.visualState) {
        case "lit": return "连接稳定"
        case "fault": return "连接未完成"
        default: return signedIn ? controller.statusTitle : "尚未登录"
        }
    }
    readonly property string displayStatusCopy: {
        if (controller.transientNotice !== "")
            return controller.transientNotice
        switch (controller.visualState) {
        case "off": return signedIn ? "目的地已就绪" : "请先登录面板账号"
        case "igniting": return "请稍候"
        case "lit": return controller.city + " · " + controller.latency + " ms"
        case "extinguishing": return "正在安全关闭连接"
        case "fault": return controller.networkBlocked ? "网络已阻断，断开或重新连接后恢复" : "请重试或选择其他线路"
        default: return ""
        }
    }

    width: 736
    height: 700
    minimumWidth: 640
    minimumHeight: 650
    visible: true
    title: "Velora"
    color: "transparent"
    flags: Qt.Window | Qt.FramelessWindowHint | Qt.WindowSystemMenuHint | Qt.WindowMinimizeButtonHint
           | Qt.WindowMaximizeButtonHint

    Binding { target: Theme; property: "darkMode"; value: window.preferences.effectiveDark; restoreMode: Binding.RestoreNone }
    Binding { target: Theme; property: "reduceMotion"; value: window.preferences.reduceMotion; restoreMode: Binding.RestoreNone }

    function openRoutePalette(returnItem) {
        if (!signedIn) {
            loginOverlay.open()
            return
        }
        routePalette.focusReturnItem = returnItem || readout
        account.syncNodesQuietly()
        routePalette.open()
    }

    function openDiagnostics(returnItem) {
        diagnosticsFocusReturn = returnItem || primaryButton
        diagnosticsPopover.open()
    }

    function returnFocus(item) {
        if (item)
            item.forceActiveFocus(focusReturnReason)
    }

    // The item that has the focus, unless it is the window itself or inside a popup.
    function focusedControl() {
        const item = window.activeFocusItem
        return item && item !== window.contentItem && !popupOpen ? item : null
    }

    function runPrimaryAction() {
        if (signedIn)
            controller.primaryAction()
        else
            loginOverlay.open()
    }

    // With the tray showing, closing only hides the window; the client quits from the tray.
    onClosing: close => {
        if (tray.available && !tray.quitting) {
            close.accepted = false
            window.hide()
        }
    }

    Component.onCompleted: {
        if (!account.loggedIn && !account.restoring)
            loginOverlay.open()
    }

    Connections {
        target: window.controller
        function onLoginRequired() { loginOverlay.open() }
    }
    Connections {
        target: window.account
        function onRestoringChanged() {
            if (window.account.restoring)
                return
            if (window.account.loggedIn)
                loginOverlay.close()
            else
                loginOverlay.open()
        }
    }

    Shortcut {
        sequence: "Ctrl+K"
        context: Qt.ApplicationShortcut
        enabled: !window.popupOpen
        onActivated: window.openRoutePalette(readout)
    }
    Shortcut {
        sequence: "Ctrl+Return"
        context: Qt.ApplicationShortcut
        enabled: !window.popupOpen
        onActivated: window.runPrimaryAction()
    }
    Shortcut {
        sequence: "Ctrl+Shift+T"
        context: Qt.ApplicationShortcut
        enabled: !window.popupOpen
        onActivated: window.preferences.cycleThemeMode()
    }
    Shortcut {
        sequence: "F4"
        context: Qt.ApplicationShortcut
        enabled: window.controller.demoControlsEnabled && !window.popupOpen
        onActivated: window.controller.simulateFailure()
    }

    Rectangle {
        id: surface
        objectName: "surface"
        anchors.fill: parent
        radius: window.surfaceRadius
        color: window.connected ? Theme.connectedBackground : Theme.background
        border.width: 1
        border.color: window.surfaceBorder
        Behavior on color { ColorAnimation { duration: Theme.duration(700) } }

        AmbienceLight {
            anchors.fill: parent
            connected: window.connected
            dark: Theme.darkMode
            cornerRadius: window.surfaceRadius
            headerHeight: Theme.topBarHeight
        }

        MinimalHeader {
            id: header
            objectName: "header"
            z: 20
            width: parent.width
            hostWindow: window
            visualState: window.controller.visualState
            stageIndex: window.controller.stageIndex
            switchingRoute: window.controller.switchingRoute
            connectionAttemptSerial: window.controller.connectionAttemptSerial
            sweepDuration: window.controller.connectionSweepDuration
            membershipTier: window.membershipTier
            remainingDays: window.membershipRemainingDays
            remainingLabel: window.account.badgeLabel
            membershipActive: window.membershipActive
            accountOpen: accountPopover.visible
            moreOpen: morePopover.visible
            onAccountRequested: window.signedIn ? accountPopover.open() : loginOverlay.open()
            onMoreRequested: morePopover.open()
        }

        Item {
            id: stage
            y: header.height
            width: parent.width
            height: parent.height - header.height
            readonly property real contentWidth: Math.min(430, width - 40)

            EndpointReadout {
                id: readout
                objectName: "readout"
                anchors.horizontalCenter: parent.horizontalCenter
                y: window.compact ? 28 : 38
                country: window.signedIn ? window.controller.country : ""
                city: window.signedIn ? window.controller.city : "请先登录"
                latency: window.signedIn ? window.controller.latency : 0
                onClicked: window.openRoutePalette(readout)
            }

            TesselScene {
                id: scene
                objectName: "scene"
                anchors.horizontalCenter: parent.horizontalCenter
                y: readout.y + readout.height + 13
                width: stage.contentWidth
                height: window.compact ? Math.max(260, Math.min(310, stage.height - 310)) : 330
                visualState: window.controller.visualState
                stageIndex: window.controller.stageIndex
                connectionAttemptSerial: window.controller.connectionAttemptSerial
                applicationActive: window.active
                previewRequested: primaryButton.hovered || primaryButton.visualFocus
            }

            // Read as one line: the state and what it means.
            Column {
                id: status
                objectName: "status"
                anchors.horizontalCenter: parent.horizontalCenter
                y: scene.y + scene.height - 11
                width: stage.contentWidth
                height: window.compact ? 92 : 103
                spacing: 9
                Accessible.role: Accessible.StaticText
                Accessible.name: window.displayStatusTitle + (window.displayStatusCopy !== "" ? "，" + window.displayStatusCopy : "")

                Text {
                    textFormat: Text.PlainText
                    objectName: "statusTitle"
                    width: parent.width
                    text: window.displayStatusTitle
                    horizontalAlignment: Text.AlignHCenter
                    elide: Text.ElideRight
                    font.family: Theme.displayFont
                    font.pixelSize: window.compact ? 27 : 30
                    font.weight: Font.Medium
                    font.letterSpacing: -0.35
                    Accessible.ignored: true
                    color: window.controller.visualState === "fault" ? Theme.fault : Theme.textPrimary
                    Behavior on color { ColorAnimation { duration: Theme.duration(150) } }
                }
                Text {
                    textFormat: Text.PlainText
                    objectName: "statusCopy"
                    width: parent.width
                    text: window.displayStatusCopy
                    horizontalAlignment: Text.AlignHCenter
                    elide: Text.ElideRight
                    font.family: Theme.textFont
                    font.pixelSize: 12
                    Accessible.ignored: true
                    color: Theme.textSecondary
                }
            }

            PrimaryAction {
                id: primaryButton
                objectName: "primaryButton"
                anchors.horizontalCenter: parent.horizontalCenter
                y: status.y + status.height + 15
                text: window.primaryLabel
                visualState: window.controller.visualState
                enabled: window.controller.visualState !== "extinguishing"
                // A reader on the button hears the state change with its label.
                Accessible.description: status.Accessible.name
                onClicked: window.runPrimaryAction()
            }

            T.AbstractButton {
                id: connectionTime
                objectName: "connectionTime"
                anchors.horizontalCenter: parent.horizontalCenter
                y: primaryButton.y + primaryButton.height + 12
                width: 190
                height: 22
                visible: window.connected
                enabled: window.connected
                focusPolicy: Qt.TabFocus
                hoverEnabled: true
                text: window.controller.elapsedText + " · 连接详情"
                Accessible.name: "连接时长 " + window.controller.elapsedText + "，查看连接详情"
                Accessible.ignored: !visible
                onClicked: window.openDiagnostics(connectionTime)
                contentItem: Text {
                    text: connectionTime.text
                    textFormat: Text.PlainText
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    font.family: Theme.textFont
                    font.pixelSize: 11
                    font.letterSpacing: 0.1
                    color: connectionTime.hovered ? Theme.connected : Theme.textSecondary
                    Behavior on color { ColorAnimation { duration: Theme.duration(120) } }
                }
                background: Rectangle {
                    radius: 7
                    color: connectionTime.hovered ? Theme.connectedSoft : "transparent"
                    border.width: connectionTime.visualFocus ? 1 : 0
                    border.color: Theme.connected
                }
            }

            Row {
                anchors.horizontalCenter: parent.horizontalCenter
                y: primaryButton.y + primaryButton.height + 8
                spacing: 6
                visible: window.controller.visualState === "fault"

                InlineAction {
                    id: otherRoute
                    text: "换一条线路"
                    onClicked: window.openRoutePalette(otherRoute)
                }
                InlineAction {
                    id: showReason
                    text: "查看原因"
                    onClicked: window.openDiagnostics(showReason)
                }
                InlineAction {
                    text: "断开"
                    visible: window.controller.networkBlocked
                    onClicked: window.controller.disconnectIfActive()
                }
            }
        }
    }

    // The border again above the header and the canvas, so it stays visible everywhere.
    Rectangle {
        anchors.fill: parent
        z: 90
        radius: window.surfaceRadius
        color: "transparent"
        border.width: 1
        border.color: window.surfaceBorder
    }

    component ResizeHandle: MouseArea {
        required property int edges
        z: 100
        onPressed: window.startSystemResize(edges)
    }
    ResizeHandle { edges: Qt.LeftEdge; x: 0; y: 8; width: 6; height: parent.height - 16; cursorShape: Qt.SizeHorCursor }
    ResizeHandle { edges: Qt.RightEdge; x: parent.width - 6; y: 8; width: 6; height: parent.height - 16; cursorShape: Qt.SizeHorCursor }
    ResizeHandle { edges: Qt.TopEdge; x: 8; y: 0; width: parent.width - 16; height: 6; cursorShape: Qt.SizeVerCursor }
    ResizeHandle { edges: Qt.BottomEdge; x: 8; y: parent.height - 6; width: parent.width - 16; height: 6; cursorShape: Qt.SizeVerCursor }
    ResizeHandle { edges: Qt.TopEdge | Qt.LeftEdge; z: 101; width: 9; height: 9; cursorShape: Qt.SizeFDiagCursor }
    ResizeHandle {
        edges: Qt.BottomEdge | Qt.RightEdge; z: 101; x: parent.width - 9; y: parent.height - 9; width: 9; height: 9
        cursorShape: Qt.SizeFDiagCursor
    }
    ResizeHandle { edges: Qt.TopEdge | Qt.RightEdge; z: 101; x: parent.width - 9; width: 9; height: 9; cursorShape: Qt.SizeBDiagCursor }
    ResizeHandle { edges: Qt.BottomEdge | Qt.LeftEdge; z: 101; y: parent.height - 9; width: 9; height: 9; cursorShape: Qt.SizeBDiagCursor }

    RoutePalette {
        id: routePalette
        objectName: "routePalette"
        routeModel: window.routeModel
        selectedRouteId: window.controller.routeId
        acceptedFocusItem: primaryButton
        onRouteChosen: (routeId, country, city, latency) => window.controller.selectRoute(routeId, country, city, latency)
    }
    AccountPopover {
        id: accountPopover
        objectName: "accountPopover"
        membershipTier: window.membershipTier
        email: window.account.email
        remainingDays: window.membershipRemainingDays
        remainingLabel: window.membershipRemainingLabel
        usedDevices: window.membershipUsedDevices
        deviceLimit: window.membershipDeviceLimit
        membershipActive: window.membershipActive
        deviceError: window.account.errorMessage
        remainingTimeLabel: window.account.remainingTimeLabel
        onShopRequested: {
            close()
            shopOverlay.open()
        }
        onLogoutRequested: {
            window.controller.disconnectIfActive()
            window.account.logout()
            close()
        }
        onClosed: window.returnFocus(header.accountControl)
    }
    MorePopover {
        id: morePopover
        objectName: "morePopover"
        preferences: window.preferences
        updater: window.updater
        onDiagnosticsRequested: {
            window.diagnosticsPendingFromMore = true
            close()
        }
        onQuitRequested: {
            close()
            window.tray.requestQuit()
        }
        onClosed: {
            if (window.diagnosticsPendingFromMore) {
                window.diagnosticsPendingFromMore = false
                window.openDiagnostics(header.moreControl)
            } else {
                window.returnFocus(header.moreControl)
            }
        }
    }
    DiagnosticsPopover {
        id: diagnosticsPopover
        objectName: "diagnosticsPopover"
        controller: window.controller
        onClosed: window.returnFocus(window.diagnosticsFocusReturn)
    }
    LoginOverlay {
        id: loginOverlay
        objectName: "loginOverlay"
        account: window.account
        onAboutToShow: window.loginFocusReturn = window.focusedControl()
        // Opened with nothing focused (at start), it leaves the focus on what comes next.
        onClosed: window.returnFocus(window.loginFocusReturn || primaryButton)
    }
    ShopOverlay {
        id: shopOverlay
        objectName: "shopOverlay"
        account: window.account
        onAboutToShow: window.shopFocusReturn = window.focusedControl() || header.accountControl
        onClosed: window.returnFocus(window.shopFocusReturn)
    }
}
