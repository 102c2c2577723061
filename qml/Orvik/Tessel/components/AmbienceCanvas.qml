import QtQuick
import Orvik.Style

// The window's background light: a warm glow below the header and a faint dot field that
// fades towards the edges. Painted only when its size, the connection or the theme changes.
Canvas {
    id: canvas

    property bool connected: false
    property int cornerRadius: Theme.windowRadius
    readonly property bool dark: Theme.darkMode

    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()
    onConnectedChanged: requestPaint()
    onDarkChanged: requestPaint()
    onCornerRadiusChanged: requestPaint()

    function roundedRect(ctx, x, y, w, h, radius) {
        const r = Math.max(0, Math.min(radius, Math.min(w, h) / 2))
        ctx.beginPath()
        ctx.moveTo(x + r, y)
        ctx.lineTo(x + w - r, y)
        ctx.quadraticCurveTo(x + w, y, x + w, y + r)
        ctx.lineTo(x + w, y + h - r)
        ctx.quadraticCurveTo(x + w, y + h, x + w - r, y + h)
        ctx.lineTo(x + r, y + h)
        ctx.quadraticCurveTo(x, y + h, x, y + h - r)
        ctx.lineTo(x, y + r)
        ctx.quadraticCurveTo(x, y, x + r, y)
        ctx.closePath()
    }

    onPaint: {
        const ctx = getContext("2d")
        ctx.clearRect(0, 0, width, height)
        ctx.save()
        roundedRect(ctx, 1, 1, width - 2, height - 2, Math.max(0, cornerRadius - 1))
        ctx.clip()

        const top = Theme.topBarHeight
        const glow = ctx.createRadialGradient(width * 0.5, height * (connected ? 0.44 : 0.52), 0,
                                              width * 0.5, height * (connected ? 0.44 : 0.52),
                                              Math.min(width, height) * (connected ? 0.42 : 0.36))
        glow.addColorStop(0, dark ? (connected ? "rgba(255,226,128,0.075)" : "rgba(255,224,121,0.040)")
                                  : (connected ? "rgba(255,220,102,0.130)" : "rgba(255,221,111,0.055)"))
        glow.addColorStop(1, "rgba(255,220,102,0)")
        ctx.fillStyle = glow
        ctx.fillRect(0, top, width, height - top)

        const strength = connected ? 0.009 : 0.048
        const centreX = width * 0.5
        const centreY = height * 0.48
        const radius = Math.min(width, height) * 0.64
        ctx.fillStyle = dark ? "rgb(241,240,232)" : "rgb(30,35,42)"
        for (let y = top + 2; y < height - 2; y += 5) {
            for (let x = 2; x < width - 2; x += 5) {
                const falloff = Math.max(0, 1 - Math.hypot(x - centreX, y - centreY) / radius)
                if (falloff <= 0)
                    continue
                ctx.globalAlpha = strength * falloff * falloff
                ctx.fillRect(x, y, 0.72, 0.72)
            }
        }
        ctx.globalAlpha = 1
        ctx.restore()
    }
}
