import QtQuick 2.0

Rectangle {
    id: root
    property bool statusActivated: false
    property string displayText
    property int fontSizeText: Math.min(width, height) / 5
    property color colorInactive: "#222222"
    property color colorActive: "green"
    property int buttonId
    property bool bg_transparent: false
    readonly property color statusColor: statusActivated && !bg_transparent ? "blue" : colorInactive

    width: parent.width / 3.2
    height: width * 9 / 16
    radius: 5
    border.color: "white"
    border.width: 1
    // A binding, not assignments on enter and leave, so the fill never goes stale.
    color: mouseArea.containsMouse ? colorActive : statusColor

    MouseArea {
        id: mouseArea
        anchors.fill: parent
        hoverEnabled: true
        onClicked: callback(root.buttonId)
    }

    Column {
        anchors.centerIn: parent

        Text {
            text: root.displayText
            font.bold: true
            font.family: "Helvetica"
            font.pointSize: root.fontSizeText !== 0 ? root.fontSizeText : 16
            color: root.statusActivated ? "white" : "gray"
            wrapMode: Text.NoWrap
        }
    }
}
