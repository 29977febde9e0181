import QtQuick 2.0

Item {
    id: buttonsRowTop
    width: parent.width
    height: parent.height / 3.5

    Row {
        id: rowUpper
        anchors.fill: parent
        spacing: buttonsRowTop.width * 0.02

        Tile {
            buttonId: 0
            statusActivated: backend.deviceinfoList[0] === "1"
            displayText: backend.deviceinfoList[1]
        }
        Tile {
            buttonId: 1
            statusActivated: backend.deviceinfoList[2] === "1"
            displayText: backend.deviceinfoList[3]
        }
        Tile {
            buttonId: 2
            statusActivated: backend.deviceinfoList[4] === "1"
            displayText: backend.deviceinfoList[5]
            bg_transparent: true
        }
    }
}
