import QtQuick 2.2
import QtQuick.Window 2.7
import QtQuick.Controls.Styles 1.4
import QtQuick.Extras 1.4
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

    // The toolkit's tickmarks and labels.
    readonly property Item scaleItem: control.__panel ? control.__panel.circularTickmarkLabel : null
    // The name of a gauge's bare copy: its face, scale and legends, for a picture of them.
    readonly property string bareCopyName: "bare copy"
    readonly property bool bare: control.objectName === bareCopyName
    // A picture of the face, or the bare copy, shows the scale and the legends.
    property bool faceShownElsewhere: false

    // The texts on the face: the readings, which a bare copy hides, and the legends, which it
    // draws for the face's picture.
    property Component readouts: Item {
        // The reading itself: the gauge stops at its maximum, the readout goes on past it.
        Readout {
            id: speedText
            readonly property int kphInt: valueSource.kph
            visible: !bare
            text: kphInt
            color: "white"
            font.pixelSize: toPixels(0.3)
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.top: parent.verticalCenter
            anchors.topMargin: toPixels(0.1)
        }

        Text {
            visible: !faceShownElsewhere
            text: "km/h"
            color: "white"
            font.pixelSize: toPixels(0.09)
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.top: speedText.bottom
        }
    }

    // The face, its tickmarks, labels and legends never change. Once drawn, they are shown from one
    // opaque picture, so that a moving needle costs a copy of them rather than drawing them all
    // again. The picture is taken of a bare copy of the gauge, set between whole pixels as the
    // gauge is on the screen, so that it looks as the gauge does and is copied pixel for pixel.
    background: Item {
        id: backdrop
        readonly property color windowColor: Window.window ? Window.window.color : "transparent"
        // The bare copy has drawn the face: it shows it until the picture does.
        property bool copyShown: false

        function forgetPicture() {
            facePicture.clear()
            copyShown = false
            bareCopy.active = false
        }

        // Drawn once, by whichever shows the face.
        function showScale() {
            faceShownElsewhere = facePicture.shown || copyShown
            if (scaleItem)
                scaleItem.visible = !faceShownElsewhere
        }

        function takePicture() {
            forgetPicture()
            // Without alpha the picture cannot show a window behind the face.
            if (!bare && windowColor.a === 1)
                facePicture.waitForTurn()
        }

        onWidthChanged: forgetPicture()
        onHeightChanged: forgetPicture()
        onCopyShownChanged: showScale()

        // Drawn until the copy or the picture shows it; then let go, with its memory.
        Loader {
            anchors.fill: parent
            active: !facePicture.shown && !backdrop.copyShown
            sourceComponent: Canvas {
                readonly property color windowColor: backdrop.windowColor

                onPaint: {
                    var ctx = getContext("2d")
                    ctx.reset()
                    paintFace(ctx)
                }
                onPainted: bare ? control.facePainted() : backdrop.takePicture()
            }
        }

        // Starts at the whole pixel before the gauge, so that it lies on whole pixels.
        OpaquePicture {
            id: facePicture
            x: -parentFraction.x
            y: -parentFraction.y
            width: Math.ceil(parentFraction.x + parent.width)
            height: Math.ceil(parentFraction.y + parent.height)
            onParentFractionChanged: backdrop.forgetPicture()
            onTurn: bareCopy.active = true
            onShownChanged: {
                backdrop.showScale()
                if (shown)
                    bareCopy.active = false
            }
        }

        Loader {
            id: bareCopy
            x: facePicture.x
            y: facePicture.y
            active: false
            // Made between frames: the first one does not wait for it.
            asynchronous: true
            sourceComponent: Item {
                id: pictured
                visible: backdrop.copyShown
                width: facePicture.width
                height: facePicture.height

                Rectangle {
                    anchors.fill: parent
                    color: backdrop.windowColor
                }

                CircularGauge {
                    objectName: bareCopyName
                    x: facePicture.parentFraction.x
                    y: facePicture.parentFraction.y
                    width: control.width
                    height: control.height
                    minimumValue: control.minimumValue
                    maximumValue: control.maximumValue
                    style: control.style

                    signal facePainted

                    onFacePainted: {
                        backdrop.copyShown = true
                        facePicture.take(pictured)
                    }
                }
            }
        }

        Loader {
            anchors.fill: parent
            sourceComponent: readouts
        }
    }

    needle: Canvas {
        visible: !bare
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
