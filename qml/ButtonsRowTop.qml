import QtQuick 2.0

Item {
    id: buttonsRowTop
    // One copy of the list per change for all three tiles, not one per binding; the chapter
    // hands both rows its own.
    property var infoList: backend.deviceinfoList
    width: parent.width
    height: parent.height / 3.5

    Row {
        id: rowUpper
        anchors.fill: parent
        spacing: buttonsRowTop.width * 0.02

        Tile {
            buttonId: 0
            statusActivated: infoList[0] === "1"
            displayText: infoList[1]
        }
        Tile {
            buttonId: 1
            statusActivated: infoList[2] === "1"
            displayText: infoList[3]
        }
        Tile {
            buttonId: 2
            statusActivated: infoList[4] === "1"
            displayText: infoList[5]
            bg_transparent: true
        }
    }
}
