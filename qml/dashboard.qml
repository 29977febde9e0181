import QtQuick 2.2
import QtQuick.Window 2.1
import QtQuick.Controls 1.4
import QtQuick.Controls.Styles 1.4
import QtQuick.Extras 1.4
import vorel.wireless 1.0
import QtQml 2.14

Window {
    id: root
    readonly property int windowedWidth: 1024
    readonly property int windowedHeight: 600
    readonly property bool fullScreen: visibility === Window.FullScreen
    readonly property bool landscape: width > height

    visible: true
    visibility: "FullScreen"
    // Bound, not set, so that the size comes back whenever full screen ends.
    width: windowedWidth
    height: windowedHeight
    color: "#161616"
    title: "Motrel"

    // Tiles hand their clicks here; only the WIFI and EXIT tiles act.
    function callback(buttonId) {
        if (buttonId === 4)
            backend.demoDemandByUser()
        else if (buttonId === 5)
            root.close()
    }

    // Without a window manager nobody resizes a full-screen window: it covers its screen itself,
    // and follows the screen when it turns or changes size.
    Binding on x { when: fullScreen; value: Screen.virtualX; restoreMode: Binding.RestoreBindingOrValue }
    Binding on y { when: fullScreen; value: Screen.virtualY; restoreMode: Binding.RestoreBindingOrValue }
    Binding on width { when: fullScreen; value: Screen.width; restoreMode: Binding.RestoreBindingOrValue }
    Binding on height { when: fullScreen; value: Screen.height; restoreMode: Binding.RestoreBindingOrValue }

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
