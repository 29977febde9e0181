import QtQuick 2.0

Item {
    id: buttonsRowDown
    // One copy of the list per change for all three tiles, not one per binding; the chapter
    // hands both rows its own.
    property var infoList: backend.deviceinfoList
    width: parent.width
    anchors.topMargin: parent.height * 0.1

    Row {
        id: rowBottom
        anchors.fill: parent
        spacing: buttonsRowDown.width * 0.02

        Tile {
            buttonId: 3
            statusActivated: infoList[6] === "1"
            displayText: infoList[7]
        }
        Tile {
            buttonId: 4
            statusActivated: infoList[8] === "1"
            displayText: infoList[9]
        }
        Tile {
            buttonId: 5
            statusActivated: infoList[10] === "1"
            displayText: infoList[11]
        }
    }
}
