import QtQuick 2.2
import QtQuick.Controls.Styles 1.4

CircularGaugeStyle {
    property real xCenter: outerRadius
    property real yCenter: outerRadius
    property real needleLength: outerRadius - tickmarkInset * 1.25
    property real needleTipWidth: toPixels(0.02)
    property real needleBaseWidth: toPixels(0.06)

    tickmarkInset: toPixels(0.04)
    minorTickmarkInset: tickmarkInset
    labelStepSize: 10
    labelInset: toPixels(0.23)

    // Sizes are fractions of the gauge's radius, so the whole face scales with it.
    function toPixels(percentage) {
        return percentage * outerRadius
    }

    function degToRad(degrees) {
        return degrees * Math.PI / 180
    }

    function strokeRim(ctx, color, lineWidth) {
        ctx.beginPath()
        ctx.strokeStyle = color
        ctx.lineWidth = lineWidth
        ctx.arc(xCenter, yCenter, outerRadius - lineWidth / 2, 0, 2 * Math.PI)
        ctx.stroke()
    }

    function paintBackground(ctx) {
        ctx.beginPath()
        ctx.fillStyle = "black"
        ctx.ellipse(0, 0, ctx.canvas.width, ctx.canvas.height)
        ctx.fill()

        strokeRim(ctx, "black", tickmarkInset)
        strokeRim(ctx, "#222", tickmarkInset / 2)

        ctx.beginPath()
        var sheen = ctx.createRadialGradient(xCenter, yCenter, 0, xCenter, yCenter, outerRadius * 1.5)
        sheen.addColorStop(0, Qt.rgba(1, 1, 1, 0))
        sheen.addColorStop(0.7, Qt.rgba(1, 1, 1, 0.13))
        sheen.addColorStop(1, Qt.rgba(1, 1, 1, 1))
        ctx.fillStyle = sheen
        ctx.arc(xCenter, yCenter, outerRadius - tickmarkInset, 0, 2 * Math.PI)
        ctx.fill()
    }

    // One half of the needle: side -1 is left of its axis, 1 right.
    function fillNeedleHalf(ctx, side, color, xc, h) {
        ctx.beginPath()
        ctx.moveTo(xc, h)
        ctx.lineTo(xc + side * needleBaseWidth / 2, h - needleBaseWidth / 2)
        ctx.lineTo(xc + side * needleTipWidth / 2, 0)
        ctx.lineTo(xc, 0)
        ctx.closePath()
        ctx.fillStyle = color
        ctx.fill()
    }

    background: Canvas {
        onPaint: {
            var ctx = getContext("2d")
            ctx.reset()
            paintBackground(ctx)
        }

        // The reading itself: the gauge stops at its maximum, the readout goes on past it.
        Text {
            id: speedText
            readonly property int kphInt: valueSource.kph
            text: kphInt
            color: "white"
            font.pixelSize: toPixels(0.3)
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.top: parent.verticalCenter
            anchors.topMargin: toPixels(0.1)
        }

        Text {
            text: "km/h"
            color: "white"
            font.pixelSize: toPixels(0.09)
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.top: speedText.bottom
        }
    }

    needle: Canvas {
        implicitWidth: needleBaseWidth
        implicitHeight: needleLength

        onPaint: {
            var ctx = getContext("2d")
            ctx.reset()
            var shade = Qt.rgba(0.66, 0, 0, 0.66)
            fillNeedleHalf(ctx, -1, shade, width / 2, height)
            fillNeedleHalf(ctx, 1, Qt.lighter(shade), width / 2, height)
        }
    }

    foreground: null
}
