import QtQuick 2.2
import QtQuick.Window 2.1
import QtQuick.Controls 1.4
import QtQuick.Controls.Styles 1.4
import QtQuick.Extras 1.4
import vorel.wireless 1.0

Window {
    id: root
    visible: true
    visibility: "FullScreen"
    width: 1024
    height: 600
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
        width: root.width
        height: Math.min(root.width, root.height)
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
                visible: root.width > root.height
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
