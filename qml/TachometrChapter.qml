import QtQuick 2.2
import QtQuick.Window 2.1
import QtQuick.Controls 1.4
import QtQuick.Controls.Styles 1.4
import QtQuick.Extras 1.4

Item {
    id: chapter
    // Each reading of the list copies all of it into the script engine: once for both rows.
    readonly property var infoList: backend.deviceinfoList

    CircularGauge {
        id: tachometer
        height: container.height * 0.6 - gaugeRow.spacing
        width: height
        value: valueSource.rpm
        maximumValue: 8
        anchors.verticalCenter: parent.verticalCenter
        style: TachometerStyle {}
    }

    ButtonsRowDown {
        infoList: chapter.infoList
        anchors.top: tachometer.bottom
        anchors.horizontalCenter: parent.horizontalCenter
    }

    ButtonsRowTop {
        infoList: chapter.infoList
        anchors.bottom: tachometer.top
        anchors.horizontalCenter: parent.horizontalCenter
    }
}
