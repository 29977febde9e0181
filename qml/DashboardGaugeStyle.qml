import QtQuick 2.2
import QtQuick.Window 2.7
import QtQuick.Controls.Styles 1.4
import motrel.scene 1.0

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
        // The window's colour in the corners: the face is opaque, so a picture of it can be.
        ctx.fillStyle = ctx.canvas.windowColor
        ctx.fillRect(0, 0, ctx.canvas.width, ctx.canvas.height)
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

    // What the face shows under its readouts; the tachometer adds its warning arc.
    function paintFace(ctx) {
        paintBackground(ctx)
    }

    // Whether ITEM lies on whole pixels of the screen, where a picture copies pixel for pixel.
    function liesOnWholePixels(item) {
        var origin = item.mapToItem(null, 0, 0)
        return Math.abs(origin.x - Math.round(origin.x)) < 1e-6 && Math.abs(origin.y - Math.round(origin.y)) < 1e-6
    }

    // The toolkit's tickmarks and labels.
    readonly property Item scaleItem: control.__panel ? control.__panel.circularTickmarkLabel : null

    // The texts on the face.
    property Component readouts: Item {
        // The reading itself: the gauge stops at its maximum, the readout goes on past it.
        Readout {
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

    // The tickmarks and labels never change. Where the face lies on whole pixels, it paints a
    // picture of them taken once and the toolkit's own are hidden, so that a moving needle costs
    // a copy of the face rather than drawing them all again. Between pixels a copy would land
    // apart from where the toolkit draws them, so there it goes on drawing them.
    background: Item {
        Canvas {
            id: face
            readonly property color windowColor: Window.window ? Window.window.color : "transparent"
            property var scalePicture: null
            // The canvas holds the scale: the toolkit's is hidden and the picture let go.
            property bool scalePainted: false

            function takeScalePicture() {
                var takenWidth = width
                var takenHeight = height
                scaleItem.grabToImage(function(picture) {
                    if (takenWidth === width && takenHeight === height && !scalePicture) {
                        scalePicture = picture
                        scaleCopy.source = picture.url
                    }
                })
            }

            function letGoOfScalePicture() {
                scalePicture = null
                scaleCopy.source = ""
            }

            // A new size wants new pictures; until then the toolkit draws the scale.
            function forgetScale() {
                facePicture.clear()
                letGoOfScalePicture()
                if (scaleItem)
                    scaleItem.visible = true
            }

            anchors.fill: parent
            onPaint: {
                var ctx = getContext("2d")
                ctx.reset()
                paintFace(ctx)
                scalePainted = scaleCopy.status === Image.Ready
                if (scalePainted)
                    ctx.drawImage(scaleCopy, 0, 0)
            }
            onPainted: {
                if (!scaleItem)
                    return
                scaleItem.visible = !scalePainted
                if (scalePainted) {
                    letGoOfScalePicture()
                    if (windowColor.a === 1)
                        facePicture.take(face)
                } else if (!scalePicture && liesOnWholePixels(face)) {
                    takeScalePicture()
                }
            }
            onWidthChanged: forgetScale()
            onHeightChanged: forgetScale()

            Image {
                id: scaleCopy
                visible: false
                onStatusChanged: {
                    if (status === Image.Ready)
                        face.requestPaint()
                }
            }
        }

        // The finished face without alpha: under a moving needle the renderer copies it where
        // it would blend the canvas, and skips the canvas beneath.
        OpaquePicture {
            id: facePicture
            anchors.fill: parent
        }

        Loader {
            anchors.fill: parent
            sourceComponent: readouts
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
