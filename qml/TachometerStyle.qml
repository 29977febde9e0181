import QtQuick 2.2
import QtQuick.Controls.Styles 1.4

DashboardGaugeStyle {
    id: tachometerStyle
    readonly property color warningColor: Qt.rgba(0.5, 0, 0, 1)

    tickmarkStepSize: 1
    labelStepSize: 1
    needleLength: toPixels(0.85)
    needleBaseWidth: toPixels(0.08)
    needleTipWidth: toPixels(0.03)

    function scaleColor(index) {
        return index === 7 || index === 8 ? warningColor : "#c8c8c8"
    }

    // The last eighth of the sweep, trimmed at both ends, in the tickmarks' band.
    function paintWarningArc(ctx) {
        ctx.beginPath()
        ctx.lineWidth = toPixels(0.08)
        ctx.strokeStyle = warningColor
        var end = maximumValueAngle - 90
        var trim = angleRange * 0.015
        ctx.arc(outerRadius, outerRadius, outerRadius - tickmarkInset - ctx.lineWidth / 2,
                degToRad(end - angleRange / 8 + trim), degToRad(end - trim))
        ctx.stroke()
    }

    function paintFace(ctx) {
        paintBackground(ctx)
        paintWarningArc(ctx)
    }

    tickmark: Rectangle {
        implicitWidth: toPixels(0.03)
        implicitHeight: toPixels(0.08)
        antialiasing: true
        color: scaleColor(styleData.index)
    }

    minorTickmark: null

    tickmarkLabel: Text {
        font.pixelSize: Math.max(6, toPixels(0.12))
        text: styleData.value
        color: scaleColor(styleData.index)
        antialiasing: true
    }

    readouts: Item {
        Text {
            visible: !faceShownElsewhere
            text: "x1000"
            color: "white"
            font.pixelSize: toPixels(0.1)
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.top: parent.top
            anchors.topMargin: parent.height / 4
        }

        Text {
            id: rpmText
            readonly property int rpmInt: valueSource.rpm
            visible: !bare
            text: rpmInt
            color: "white"
            font.pixelSize: toPixels(0.3)
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.top: parent.verticalCenter
            anchors.topMargin: 20
        }

        Text {
            visible: !faceShownElsewhere
            text: "RPM"
            color: "white"
            font.pixelSize: toPixels(0.1)
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.top: rpmText.bottom
        }
    }
}
