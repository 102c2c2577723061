pragma Singleton
import QtQuick

// One source of colours, fonts, sizes and timing. Every colour is a (light, dark) pair picked by
// darkMode; only the main window writes the two switches.
QtObject {
    id: theme

    property bool darkMode: false
    property bool reduceMotion: false

    readonly property color background: darkMode ? "#101214" : "#F5F4EF"
    readonly property color connectedBackground: darkMode ? "#111416" : "#F8F7F1"
    readonly property color topBar: darkMode ? "#D1101214" : "#C7FAF9F4"
    readonly property color surface: darkMode ? "#191B1D" : "#FCFBF7"
    readonly property color elevatedSurface: darkMode ? "#20252B" : "#FFFFFF"
    readonly property color textPrimary: darkMode ? "#F1F1EC" : "#17191D"
    readonly property color textSecondary: darkMode ? "#A3A7A1" : "#767B83"
    readonly property color textTertiary: darkMode ? "#9FA39D" : "#6E737B"
    readonly property color hairline: darkMode ? "#34383B" : "#D9D7CF"
    readonly property color softFill: darkMode ? "#24282B" : "#EBE9E2"
    readonly property color overlay: darkMode ? "#B20A0D10" : "#660F100E"
    readonly property color warmLight: darkMode ? "#F0C94F" : "#E1B83F"
    readonly property color warmBeamBase: darkMode ? "#F7CC4B" : "#F0BD35"
    readonly property color warmBeamTip: darkMode ? "#FFEAA9" : "#FFE596"
    readonly property color connected: darkMode ? "#70D8B8" : "#2A9477"
    readonly property color connectedSoft: darkMode ? "#1B2A26" : "#EDF8F4"
    readonly property color connectedBorder: darkMode ? "#365D51" : "#B9DFD2"
    readonly property color fault: darkMode ? "#D59A57" : "#9A581F"
    readonly property color focus: darkMode ? "#E8C77F" : "#8D6C32"

    // The Windows families first; elsewhere the first installed fallback, so the Chinese texts
    // and the monospace readouts still render (fontconfig alone would pick a Latin-only face).
    readonly property string textFont: firstInstalled(["Microsoft YaHei UI", "WenQuanYi Micro Hei",
                                                       "Noto Sans CJK SC"], "sans-serif")
    readonly property string displayFont: textFont
    readonly property string monoFont: firstInstalled(["Cascadia Mono", "DejaVu Sans Mono"], "monospace")
    readonly property string symbolFont: firstInstalled(["Segoe UI Symbol", "DejaVu Sans"], textFont)

    readonly property int pageMargin: 20
    readonly property int compactPageMargin: 14
    readonly property int controlHeight: 48
    readonly property int panelRadius: 18
    readonly property int windowRadius: 22
    readonly property int topBarHeight: 58

    function duration(normalDuration) {
        return reduceMotion ? Math.min(80, normalDuration) : normalDuration
    }

    function firstInstalled(families, fallback) {
        const installed = Qt.fontFamilies()
        for (const family of families) {
            if (installed.indexOf(family) >= 0)
                return family
        }
        return fallback
    }
}
