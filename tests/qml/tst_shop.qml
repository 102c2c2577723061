import QtQuick
import QtTest
import Orvik.Style
import Orvik.Tessel

Rectangle {
    id: root
    width: 736
    height: 700
    color: Theme.background

    Component {
        id: shopComponent
        ShopOverlay {}
    }

    // Panel plans: the controller makes one offer per period and badges the cheapest per day.
    readonly property var twoPlans: [
        { id: 1, name: "标准版", month_price: 3000, year_price: 18000, transfer_enable: 100, device_limit: 3 },
        { id: 2, name: "轻量版", month_price: 1500, transfer_enable: 50, device_limit: 1 }
    ]
    readonly property var onceOnly: [
        { id: 5, name: "体验包", onetime_price: 9900, transfer_enable: 20, device_limit: 2 },
        { id: 6, name: "大流量包", onetime_price: 19900, transfer_enable: 500, device_limit: 2 }
    ]

    OrvikTestCase {
        name: "Shop"

        function cleanup() {
            Theme.darkMode = false
        }

        function openShop(plans) {
            const account = app.objects({ panel: true, signedIn: true }).account
            verify(account, "the application objects")
            app.panelReply("GET", "/api/v1/user/plan/fetch", 200,
                           JSON.stringify({ status: "success", message: "操作成功", data: plans }))
            const overlay = createTemporaryObject(shopComponent, root, { account: account })
            reopen(overlay)
            return overlay
        }

        function reopen(overlay) {
            overlay.close()
            overlay.open()
            verify(overlay.account.shopBusy, "the plans are loading")
            tryVerify(() => !overlay.account.shopBusy)
        }

        // A pixel of the window at a point of `item` (grabImage crops by the parent's coordinates).
        function pixel(item, x, y) {
            const point = item.mapToItem(null, x, y)
            return grabImage(root.Window.window.contentItem).pixel(point.x, point.y)
        }

        function part(overlay, name) {
            const item = findChild(overlay.contentItem, name)
            verify(item, name)
            return item
        }

        function clickPlan(overlay, index) {
            const column = itemAt(part(overlay, "plans"), index)
            mouseClick(column, column.width / 2, 100)
        }

        // The best-value offer (or the first) is chosen after every load; the checkout
        // button and the device line follow the choice.
        function test_defaultPlan_data() {
            return [
                { tag: "best value second", plans: root.twoPlans, selected: 1, checkout: "去支付  ¥180.00",
                  devices: "该档可同时使用 3 台电脑" },
                { tag: "no best value", plans: root.onceOnly, selected: 0, checkout: "去支付  ¥99.00",
                  devices: "该档可同时使用 2 台电脑" },
                { tag: "no plans", plans: [], selected: 0, checkout: "去支付  ", devices: "" }
            ]
        }
        function test_defaultPlan(row) {
            const overlay = openShop(row.plans)
            const count = overlay.account.shopPlans.length
            compare(overlay.selectedIndex, row.selected)
            const checkout = part(overlay, "checkoutButton")
            compare(checkout.text, row.checkout)
            compare(checkout.enabled, count > 0)
            compareColor(pixel(checkout, 12, checkout.height / 2),
                         count > 0 ? Theme.textPrimary : Theme.softFill, "checkout fill")
            const devices = part(overlay, "deviceLine")
            compare(devices.visible ? devices.text : "", row.devices)
            if (count === 0) {
                compare(part(overlay, "message").text, "面板没有可购买的套餐")
                return
            }
            const chosen = itemAt(part(overlay, "plans"), row.selected)
            compareColor(pixel(chosen, 1, 100), Theme.warmLight, "chosen card's border")
            clickPlan(overlay, count - 1)
            compare(overlay.selectedIndex, count - 1)
            reopen(overlay)
            compare(overlay.selectedIndex, row.selected)
        }

        // The order carries the chosen plan's id and period; the button waits meanwhile.
        function test_checkout() {
            const overlay = openShop(root.twoPlans)
            clickPlan(overlay, 2)
            compare(overlay.selectedPlan.priceLabel, "¥15.00")
            const checkout = part(overlay, "checkoutButton")
            compare(checkout.text, "去支付  ¥15.00")
            mouseClick(checkout)
            compare(checkout.text, "请稍候…")
            verify(!checkout.enabled)
            tryCompare(part(overlay, "message"), "text", "已打开支付页面，完成付款后会自动更新")
            const orders = app.panelBodies("/api/v1/user/order/save").map(body => JSON.parse(body))
            compare(orders.length, 1)
            compare(orders[0].plan_id, 2)
            compare(orders[0].period, "month_price")
            mouseClick(part(overlay, "closeButton"))
            verify(!overlay.visible)
        }

        function test_shots_data() {
            const five = [
                { id: 1, name: "标准版", month_price: 3000, quarter_price: 8100, year_price: 18000,
                  transfer_enable: 100, device_limit: 3 },
                { id: 2, name: "轻量版", month_price: 1500, onetime_price: 6600, transfer_enable: 50, device_limit: 1 }
            ]
            return [
                { tag: "light", dark: false, plans: root.twoPlans },
                { tag: "dark", dark: true, plans: root.twoPlans },
                { tag: "scrolling-dark", dark: true, plans: five },
                { tag: "empty-light", dark: false, plans: [] }
            ]
        }
        function test_shots(row) {
            Theme.darkMode = row.dark
            openShop(row.plans)
            grabImage(root.Window.window.contentItem).save(shotsDirectory + "/shop-" + row.tag + ".png")
        }
    }
}
