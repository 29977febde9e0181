import QtQuick 2.2
import QtQuick.Window 2.1
import QtQuick.Extras 1.4

Window {
    id: root
    visible: true
    visibility: "FullScreen"
    width: 1024
    height: 600

    CircularGauge {
        id: gauge
        anchors.fill: parent

        SequentialAnimation on value {
            running: needleMoving
            loops: Animation.Infinite
            NumberAnimation { from: gauge.minimumValue; to: gauge.maximumValue; duration: 1000 }
            NumberAnimation { from: gauge.maximumValue; to: gauge.minimumValue; duration: 1000 }
        }
    }
}
