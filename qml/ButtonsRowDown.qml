import QtQuick 2.0

Item {
    id: buttonsRowDown
    width: parent.width
    anchors.topMargin: parent.height * 0.1

    Row {
        id: rowBottom
        anchors.fill: parent
        spacing: buttonsRowDown.width * 0.02

        Tile {
            buttonId: 3
            statusActivated: backend.deviceinfoList[6] === "1"
            displayText: backend.deviceinfoList[7]
        }
        Tile {
            buttonId: 4
            statusActivated: backend.deviceinfoList[8] === "1"
            displayText: backend.deviceinfoList[9]
        }
        Tile {
            buttonId: 5
            statusActivated: backend.deviceinfoList[10] === "1"
            displayText: backend.deviceinfoList[11]
        }
    }
}
