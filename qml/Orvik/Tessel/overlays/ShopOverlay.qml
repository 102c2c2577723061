pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Templates as T
import QtQuick.Layouts
import Orvik.Style
import Orvik.Tessel

// The plan picker with one checkout button.
T.Dialog {
    id: overlay
    title: "选择套餐"  // the name a screen reader gives the popup
    required property AccountController account
    property int selectedIndex: 0
    readonly property var selectedPlan: selectedIndex >= 0 && selectedIndex < account.shopPlans.length
                                        ? account.shopPlans[selectedIndex] : ({})

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(640, (parent ? parent.width : 0) - 40)
    height: Math.min(420, (parent ? parent.height : 0) - 56)
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    padding: 20

    background: Rectangle {
        radius: Theme.panelRadius
        color: Theme.elevatedSurface
        border.width: 1
        border.color: Theme.hairline
    }
    Overlay.modal: Rectangle { color: Theme.overlay }

    onAboutToShow: account.loadShop()

    // Each new list starts on the best-value plan, else on the first one.
    Connections {
        target: overlay.account
        function onShopChanged() {
            overlay.selectedIndex = 0
            const plans = overlay.account.shopPlans
            for (let i = 0; i < plans.length; ++i) {
                if (plans[i].badge === "超值套餐") {
                    overlay.selectedIndex = i
                    break
                }
            }
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 12

        RowLayout {
            Layout.fillWidth: true
            Text {
                textFormat: Text.PlainText
                Layout.fillWidth: true
                text: "选择套餐"
                color: Theme.textPrimary
                font.family: Theme.displayFont
                font.pixelSize: 18
                font.weight: Font.DemiBold
            }
            AbstractButton {
                id: closeButton
                objectName: "closeButton"
                Layout.preferredWidth: 36
                Layout.preferredHeight: 36
                hoverEnabled: true
                Accessible.name: "关闭套餐选择"
                contentItem: Text {
                    text: "×"
                    textFormat: Text.PlainText
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    color: Theme.textSecondary
                    font.pixelSize: 18
                }
                background: Rectangle {
                    radius: 18
                    color: closeButton.hovered ? Theme.softFill : "transparent"
                    border.width: closeButton.visualFocus ? 2 : 0
                    border.color: Theme.focus
                }
                onClicked: overlay.close()
            }
        }

        Text {
            textFormat: Text.PlainText
            objectName: "message"
            Layout.fillWidth: true
            visible: text !== ""
            text: overlay.account.shopMessage
            wrapMode: Text.Wrap
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Accessible.ignored: !visible
            color: Theme.textSecondary
            font.family: Theme.textFont
            font.pixelSize: 12
        }
        Text {
            textFormat: Text.PlainText
            visible: overlay.account.shopBusy
            text: "正在加载…"
            color: Theme.textTertiary
            font.pixelSize: 12
        }

        ListView {
            id: plans
            objectName: "plans"
            Layout.fillWidth: true
            Layout.preferredHeight: 176
            orientation: ListView.Horizontal
            clip: true
            spacing: 10
            boundsBehavior: Flickable.StopAtBounds
            model: overlay.account.shopPlans
            // The plans share the row (whole pixels, so the last border shows) while each gets 132 px;
            // beyond that the row scrolls.
            readonly property real columnWidth: Math.floor(Math.max(132, (width - Math.max(0, count - 1) * spacing)
                                                              / Math.max(count, 1)))

            delegate: Column {
                id: column
                required property var modelData
                required property int index
                readonly property bool selected: index === overlay.selectedIndex
                width: plans.columnWidth
                height: plans.height
                spacing: 6

                Text {
                    textFormat: Text.PlainText
                    width: parent.width
                    height: 18
                    text: column.modelData.badge
                    opacity: text === "" ? 0 : 1
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    color: Theme.warmLight
                    font.pixelSize: 11
                    font.weight: Font.DemiBold
                }
                PlanCard {
                    width: parent.width
                    height: column.height - 24
                    plan: column.modelData
                    selected: column.selected
                    enabled: !overlay.account.shopBusy
                    onClicked: overlay.selectedIndex = column.index
                }
            }
        }

        Text {
            textFormat: Text.PlainText
            objectName: "deviceLine"
            visible: (overlay.selectedPlan.deviceLimit ?? 0) > 0
            text: "该档可同时使用 %1 台电脑".arg(overlay.selectedPlan.deviceLimit)
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Accessible.ignored: !visible
            color: Theme.textTertiary
            font.pixelSize: 12
        }

        Item { Layout.fillHeight: true }

        FormButton {
            id: checkout
            objectName: "checkoutButton"
            Layout.fillWidth: true
            Layout.preferredHeight: 40
            fontSize: 14
            enabled: !overlay.account.shopBusy && (overlay.selectedPlan.id ?? 0) > 0
            text: overlay.account.shopBusy ? "请稍候…" : "去支付  " + (overlay.selectedPlan.priceLabel ?? "")
            onClicked: overlay.account.buyPlan(overlay.selectedPlan.id, overlay.selectedPlan.period)
        }
    }

    // One plan: its duration, headline price, full price and traffic.
    component PlanCard: AbstractButton {
        id: card
        required property var plan
        required property bool selected
        padding: 12
        Accessible.role: Accessible.RadioButton
        Accessible.name: [plan.durationLabel || plan.periodLabel, plan.dailyLabel, plan.priceLabel, plan.trafficLabel, plan.badge]
                         .filter(part => part !== "").join("，")
        Accessible.checkable: true
        Accessible.checked: selected

        background: Rectangle {
            radius: 12
            color: Theme.surface
            border.width: card.selected || card.visualFocus ? 2 : 1
            border.color: card.visualFocus ? Theme.focus : card.selected ? Theme.warmLight : Theme.hairline
        }
        contentItem: Column {
            spacing: 8
            Row {
                spacing: 6
                Text {
                    textFormat: Text.PlainText
                    text: card.plan.durationLabel || card.plan.periodLabel
                    color: Theme.textSecondary
                    font.pixelSize: 13
                }
                Text {
                    textFormat: Text.PlainText
                    visible: card.selected
                    text: "✓"
                    color: Theme.warmLight
                    font.pixelSize: 13
                }
            }
            Text {
                textFormat: Text.PlainText
                width: parent.width
                text: card.plan.dailyLabel || card.plan.priceLabel
                wrapMode: Text.Wrap
                color: Theme.textPrimary
                font.pixelSize: 18
                font.weight: Font.DemiBold
            }
            Text {
                textFormat: Text.PlainText
                visible: card.plan.dailyLabel !== ""
                text: card.plan.priceLabel
                color: Theme.textTertiary
                font.pixelSize: 12
            }
            Text {
                textFormat: Text.PlainText
                width: parent.width
                visible: text !== ""
                text: card.plan.trafficLabel
                elide: Text.ElideRight
                color: Theme.textTertiary
                font.pixelSize: 11
            }
        }
    }
}
