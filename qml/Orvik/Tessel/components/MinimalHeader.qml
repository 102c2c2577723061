import QtQuick
import QtQuick.Templates as T
import Orvik.Style

// The window's top bar: brand mark, membership badge, "more" and the window buttons. It stands in
// for the system title bar of the frameless window, so dragging it moves the window.
Item {
    id: header

    property QtObject hostWindow: null
    property string visualState: "off"
    property int stageIndex: -1
    property int connectionAttemptSerial: 0
    property int sweepDuration: 2250
    property alias switchingRoute: brand.switchingRoute
    property string membershipTier: "PRO"
    property int remainingDays: 0
    property string remainingLabel: ""
    property bool membershipActive: true
    // Whether the popover each button opens is showing: a second click closes it instead.
    property bool accountOpen: false
    property bool moreOpen: false
    readonly property alias accountControl: badge
    readonly property alias moreControl: moreButton

    signal accountRequested()
    signal moreRequested()

    readonly property bool maximised: hostWindow !== null && hostWindow.visibility === Window.Maximized
    readonly property int cornerRadius: maximised ? 0 : Theme.windowRadius
    // Unlimited memberships report days below 0 and never warn.
    readonly property bool remainingWarning: !membershipActive || (remainingDays >= 0 && remainingDays <= 7)
    readonly property string accountName: "查看会员信息，" + membershipTier + (remainingLabel !== "" ? "，" + remainingLabel : "")

    implicitHeight: 58

    function windowAction(action) {
        if (!hostWindow)
            return
        if (action === "min")
            hostWindow.showMinimized()
        else if (action === "max")
            maximised ? hostWindow.showNormal() : hostWindow.showMaximized()
        else if (action === "close")
            hostWindow.close()
    }

    // Opens its popover, or closes it when it showed at the press: the release outside the
    // popover closes it before this button's click arrives.
    component PopoverButton: T.AbstractButton {
        id: popoverButton
        property bool popoverOpen: false
        property bool openAtPress: false
        signal requested()
        height: 38
        focusPolicy: Qt.TabFocus
        hoverEnabled: true
        onPressed: openAtPress = popoverOpen
        onClicked: {
            if (!openAtPress)
                requested()
        }
        background: Rectangle {
            radius: 11
            color: popoverButton.hovered ? Theme.softFill : "transparent"
            border.width: popoverButton.visualFocus ? 2 : 0
            border.color: Theme.focus
        }
    }

    component HeaderButton: T.AbstractButton {
        id: button
        property bool danger: false
        property string mark: ""
        width: 34
        height: 34
        focusPolicy: Qt.TabFocus
        hoverEnabled: true
        contentItem: Text {
            text: button.mark
            textFormat: Text.PlainText
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.family: Theme.textFont
            font.pixelSize: 12
            color: button.danger && button.hovered ? "#FFFFFF" : Theme.textSecondary
        }
        background: Rectangle {
            radius: 8
            color: !button.hovered ? "transparent" : button.danger ? "#C0423A" : Theme.softFill
            border.width: button.visualFocus ? 2 : 0
            border.color: Theme.focus
        }
    }

    // Rounded top corners and a square bottom, without painting the translucent fill twice.
    Item {
        width: parent.width
        height: header.cornerRadius
        clip: true
        Rectangle {
            width: parent.width
            height: header.cornerRadius * 2
            radius: header.cornerRadius
            color: Theme.topBar
        }
    }
    Rectangle {
        objectName: "bar"
        y: header.cornerRadius
        width: parent.width
        height: Math.max(0, parent.height - header.cornerRadius)
        color: Theme.topBar
    }
    Rectangle {
        width: parent.width
        height: 1
        anchors.bottom: parent.bottom
        color: Theme.hairline
        opacity: 0.55
    }

    BrandMark {
        id: brand
        x: 20
        anchors.verticalCenter: parent.verticalCenter
        visualState: header.visualState
        stageIndex: header.stageIndex
        connectionAttemptSerial: header.connectionAttemptSerial
        sweepDuration: header.sweepDuration
    }

    MouseArea {
        id: dragArea
        property point pressPoint
        property bool moveStarted: false
        x: brand.x + brand.width + 12
        width: Math.max(0, actions.x - 10 - x)
        height: parent.height
        acceptedButtons: Qt.LeftButton
        onPressed: mouse => {
            pressPoint = Qt.point(mouse.x, mouse.y)
            moveStarted = false
        }
        onPositionChanged: mouse => {
            if (moveStarted || Math.abs(mouse.x - pressPoint.x) + Math.abs(mouse.y - pressPoint.y) < 5)
                return
            moveStarted = true
            if (header.hostWindow && typeof header.hostWindow.startSystemMove === "function")
                header.hostWindow.startSystemMove()
        }
        onDoubleClicked: header.windowAction("max")
    }

    Row {
        id: actions
        anchors.right: parent.right
        anchors.rightMargin: 18
        anchors.verticalCenter: parent.verticalCenter
        spacing: 6

        PopoverButton {
            id: badge
            leftPadding: 10
            rightPadding: 10
            implicitWidth: implicitContentWidth + 20
            popoverOpen: header.accountOpen
            Accessible.name: header.accountName
            onRequested: header.accountRequested()
            contentItem: Row {
                spacing: 8
                Rectangle {
                    width: 6
                    height: 6
                    radius: 3
                    anchors.verticalCenter: parent.verticalCenter
                    color: Theme.warmLight
                }
                Text {
                    textFormat: Text.PlainText
                    anchors.verticalCenter: parent.verticalCenter
                    text: header.membershipTier
                    color: Theme.textPrimary
                    font.family: Theme.textFont
                    font.pixelSize: 11
                    font.weight: Font.Medium
                }
                Text {
                    textFormat: Text.PlainText
                    objectName: "remaining"
                    anchors.verticalCenter: parent.verticalCenter
                    visible: text !== ""
                    text: header.remainingLabel
                    color: header.remainingWarning ? Theme.fault : Theme.textSecondary
                    font.family: Theme.textFont
                    font.pixelSize: 11
                }
            }
        }

        PopoverButton {
            id: moreButton
            width: 38
            popoverOpen: header.moreOpen
            Accessible.name: "打开更多选项"
            onRequested: header.moreRequested()
            contentItem: Item {
                Row {
                    anchors.centerIn: parent
                    spacing: 3
                    Repeater {
                        model: 3
                        Rectangle { width: 3; height: 3; radius: 1.5; color: Theme.textTertiary }
                    }
                }
            }
        }

        HeaderButton {
            objectName: "minimiseButton"
            mark: "–"
            Accessible.name: "最小化"
            onClicked: header.windowAction("min")
        }
        HeaderButton {
            objectName: "maximiseButton"
            mark: "□"
            Accessible.name: "最大化"
            onClicked: header.windowAction("max")
        }
        HeaderButton {
            objectName: "closeButton"
            mark: "×"
            danger: true
            Accessible.name: "隐藏到托盘"
            onClicked: header.windowAction("close")
        }
    }
}
