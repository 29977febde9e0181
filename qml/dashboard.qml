import QtQuick 2.2
import QtQuick.Window 2.1
import QtQuick.Controls 1.4
import QtQuick.Controls.Styles 1.4
import QtQuick.Extras 1.4
import vorel.wireless 1.0

Window {
    id: root
    readonly property bool fullScreen: visibility === Window.FullScreen
    readonly property bool landscape: width > height

    visible: true
    visibility: "FullScreen"
    // Without a window manager nobody sizes a full-screen window: it covers its screen itself,
    // and follows the screen when that turns or changes size.
    x: Screen.virtualX
    y: Screen.virtualY
    width: fullScreen ? Screen.width : 1024
    height: fullScreen ? Screen.height : 600
    color: "#161616"
    title: "Motrel"

    // Tiles hand their clicks here; only the WIFI and EXIT tiles act.
    function callback(buttonId) {
        if (buttonId === 4)
            backend.demoDemandByUser()
        else if (buttonId === 5)
            root.close()
    }

    ValueSource {
        id: valueSource
    }

    Item {
        id: container
        // The gauge row is this many times as wide as it is high: the speedometer beside
        // the chapter at 0.6 of its size. A narrower screen scales the row down to fit.
        readonly property real rowAspect: 1.6
        width: root.width
        height: root.landscape ? Math.min(root.height, root.width / rowAspect) : root.width
        anchors.centerIn: parent

        Row {
            id: gaugeRow
            spacing: container.width * 0.02
            anchors.centerIn: parent

            CircularGauge {
                id: speedometer
                value: valueSource.kph
                maximumValue: 180
                height: container.height * 1.0
                width: height
                anchors.verticalCenter: parent.verticalCenter
                style: DashboardGaugeStyle {}
            }

            TachometrChapter {
                id: disp
                visible: root.landscape
                height: container.height * 0.6 - gaugeRow.spacing
                width: height
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }

    BackEnd {
        id: backend
        onDeviceInfoListChanged: {
            valueSource.smoothSpeedAnimation()
            valueSource.smoothRpmAnimation()
        }
    }
}
