import QtQuick
import Orvik.Style
import Orvik.Tessel

// Renders every component in every state, light and dark, to PNG files for a person to look at
// (build/<preset>/shots/, or ORVIK_SHOTS_DIR).
Item {
    id: root
    width: 2200
    height: 1000

    readonly property var states: ["off", "igniting", "lit", "extinguishing", "fault"]

    Component {
        id: sheet
        Rectangle {
            width: column.width + 40
            height: column.height + 40
            color: Theme.background
            Column {
                id: column
                x: 20
                y: 20
                spacing: 14
                Row {
                    Repeater {
                        model: root.states
                        TesselScene {
                            required property string modelData
                            visualState: modelData
                            stageIndex: 1
                            previewRequested: true
                        }
                    }
                }
                Repeater {
                    model: root.states
                    Row {
                        required property string modelData
                        required property int index
                        spacing: 18
                        MinimalHeader {
                            width: 680
                            visualState: modelData
                            stageIndex: 1
                            membershipTier: "PRO"
                            remainingDays: index * 3
                            remainingLabel: index === 4 ? "会员已到期" : "剩余 " + index * 3 + " 天"
                            membershipActive: index !== 4
                        }
                        PrimaryAction {
                            anchors.verticalCenter: parent.verticalCenter
                            visualState: modelData
                            text: modelData === "lit" ? "断开连接" : "连接"
                        }
                        LightGapGlyph {
                            width: 48
                            height: 48
                            anchors.verticalCenter: parent.verticalCenter
                            visualState: modelData
                            stageIndex: 1
                        }
                    }
                }
                Row {
                    spacing: 18
                    EndpointReadout { country: "日本"; city: "东京"; latency: 42 }
                    InlineAction { text: "购买套餐"; anchors.verticalCenter: parent.verticalCenter }
                    BrandMark { anchors.verticalCenter: parent.verticalCenter }
                }
            }
        }
    }

    OrvikTestCase {
        name: "Shots"

        function test_render_data() {
            return [{ tag: "light", dark: false }, { tag: "dark", dark: true }]
        }
        function test_render(row) {
            Theme.darkMode = row.dark
            Theme.reduceMotion = true
            shot(make(sheet, root), "components-" + row.tag)
        }
    }
}
