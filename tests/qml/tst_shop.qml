import QtQuick
import QtTest
import Orvik.Style
import Orvik.Tessel

Rectangle {
    id: root
    width: 736
    height: 700
    color: Theme.background

    Component { id: shopComponent; ShopOverlay {} }

    // Panel plans: the controller makes one offer per period and badges the cheapest per day.
    function plan(id, name, prices, devices) { return Object.assign({ id: id, name: name, transfer_enable: 100, device_limit: devices }, prices) }
    readonly property var twoPlans: [plan(1, "标准版", { month_price: 3000, year_price: 18000 }, 3), plan(2, "轻量版", { month_price: 1500 }, 1)]
    readonly property var onceOnly: [plan(5, "体验包", { onetime_price: 9900 }, 2), plan(6, "大流量包", { onetime_price: 19900 }, 2)]

    OrvikTestCase {
        name: "Shop"


        function openShop(plans) {
            const account = app.objects({ panel: true, signedIn: true }).account
            app.panelReply("GET", "/api/v1/user/plan/fetch", 200, JSON.stringify({ status: "success", message: "操作成功", data: plans }))
            return load(createTemporaryObject(shopComponent, root, { account: account }))
        }

        // Every opening loads the plans again.
        function load(overlay) {
            overlay.open()
            verify(overlay.account.shopBusy, "the plans are loading")
            tryVerify(() => !overlay.account.shopBusy)
            return overlay
        }

        // The best-value offer (or the first) is chosen after every load; the checkout button and
        // the device line follow the choice, and the order carries the chosen offer.
        function test_defaultPlanAndCheckout_data() {
            return [
                { tag: "best value second", plans: root.twoPlans, selected: 1, price: "¥180.00", devices: 3, order: "2 month_price" },
                { tag: "no best value", plans: root.onceOnly, selected: 0, price: "¥99.00", devices: 2, order: "6 onetime_price" },
                { tag: "no plans", plans: [], selected: 0, price: "" }
            ]
        }
        function test_defaultPlanAndCheckout(row) {
            const overlay = openShop(row.plans)
            compare(overlay.selectedIndex, row.selected)
            const checkout = part(overlay, "checkoutButton")
            compare(checkout.text, "去支付  " + row.price)
            compare(checkout.enabled, row.order !== undefined)
            const devices = part(overlay, "deviceLine")
            compare(devices.visible ? devices.text : "", row.devices ? "该档可同时使用 " + row.devices + " 台电脑" : "")
            if (!row.order)
                return
            const point = itemAt(part(overlay, "plans"), row.selected).mapToItem(null, 1, 100)
            compareColor(grabImage(root.Window.window.contentItem).pixel(point.x, point.y), Theme.warmLight, "chosen card's border")
            const last = itemAt(part(overlay, "plans"), overlay.account.shopPlans.length - 1)
            mouseClick(last, last.width / 2, 100)
            mouseClick(checkout)
            compare(checkout.enabled, !overlay.account.shopBusy, "waits for the order")
            tryVerify(() => !overlay.account.shopBusy && app.panelBodies("/api/v1/user/order/save").length === 1)
            const order = JSON.parse(app.panelBodies("/api/v1/user/order/save")[0])
            compare(order.plan_id + " " + order.period, row.order)
            mouseClick(part(overlay, "closeButton"))
            verify(!overlay.visible)
            compare(load(overlay).selectedIndex, row.selected)
        }

        function test_shots_data() {
            const more = [root.plan(1, "标准版", { month_price: 3000, quarter_price: 8100, year_price: 18000 }, 3),
                          root.plan(2, "轻量版", { month_price: 1500, onetime_price: 6600 }, 1)]
            return [{ tag: "light", plans: root.twoPlans }, { tag: "scrolling-dark", dark: true, plans: more },
                    { tag: "empty-light", plans: [] }, { tag: "empty-dark", dark: true, plans: [] }]
        }
        // Without plans the disabled checkout's label still stands out from its fill (contrast 3 or more).
        function test_shots(row) {
            Theme.darkMode = row.dark === true
            const checkout = part(openShop(row.plans), "checkoutButton")
            const image = shot(root.Window.window.contentItem, "shop-" + row.tag)
            const at = checkout.mapToItem(null, 0, 0)
            const luminance = (x, y) => [image.pixel(at.x + x, at.y + y)].map(c => 0.2126 * c.r ** 2.2 + 0.7152 * c.g ** 2.2 + 0.0722 * c.b ** 2.2)[0]
            const fill = luminance(6, checkout.height / 2)
            let contrast = 1
            for (let x = 12; x < checkout.width - 12 && row.plans.length === 0; ++x)
                for (let y = 8; y < checkout.height - 8; ++y)
                    contrast = Math.max(contrast, (Math.max(luminance(x, y), fill) + 0.05) / (Math.min(luminance(x, y), fill) + 0.05))
            verify(row.plans.length > 0 || contrast >= 3, "contrast " + contrast)
        }
    }
}
