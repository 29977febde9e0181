import QtQuick 2.2
import QtTest 1.2

SceneTestCase {
    name: "Tiles"

    readonly property int cold: 0x01
    readonly property int warm: 0x02
    readonly property int parkNeutral: 0x08
    readonly property color dark: "#222222"

    function centreOf(tile) {
        return tile.mapToItem(scene.contentItem, tile.width / 2, tile.height / 2)
    }

    function hover(tile) {
        var centre = centreOf(tile)
        mouseMove(scene.contentItem, centre.x, centre.y)
    }

    function tap(tile) {
        var centre = centreOf(tile)
        touchEvent(scene.contentItem).press(0, scene.contentItem, centre.x, centre.y).commit()
        touchEvent(scene.contentItem).release(0, scene.contentItem, centre.x, centre.y).commit()
    }

    function leave() {
        mouseMove(scene.contentItem, 10, 10)
    }

    function test_status_data() {
        return [
            { tag: "before any datagram only EXIT is lit", frame: null, lost: false,
              lit: [5], blue: [5], labels: ["CLD", "WRM", "0\u00BA", "P/N", "WIFI", "EXIT"] },
            { tag: "a flagless frame lights the link and the coolant label, never the coolant fill",
              frame: [0, 0], lost: false,
              lit: [2, 4, 5], blue: [4, 5], labels: ["CLD", "WRM", "53\u00BAC", "P/N", "WIFI", "EXIT"] },
            { tag: "the cold bit lights CLD", frame: [cold, 0], lost: false, lit: [0, 2, 4, 5], blue: [0, 4, 5] },
            { tag: "the warm bit lights WRM", frame: [warm, 0], lost: false, lit: [1, 2, 4, 5], blue: [1, 4, 5] },
            { tag: "the park bit lights P/N", frame: [0, parkNeutral], lost: false,
              lit: [2, 3, 4, 5], blue: [3, 4, 5] },
            { tag: "a lost link darkens WIFI and keeps the engine flags", frame: [cold | warm, parkNeutral],
              lost: true, lit: [0, 1, 2, 3, 5], blue: [0, 1, 3, 5] }
        ]
    }

    function test_status(data) {
        openScene(1024, 600)
        if (data.frame)
            receive(0, 0, data.frame[0], data.frame[1])
        if (data.lost)
            feed.loseLink(scene)
        tiles().forEach(function(tile, index) {
            var lit = data.lit.indexOf(index) >= 0
            compare(tile.statusActivated, lit, "flag of tile " + index)
            verifyColor(tileLabel(tile).color, lit ? "white" : "gray", "label of tile " + index)
            verifyColor(tile.color, data.blue.indexOf(index) >= 0 ? "blue" : dark, "fill of tile " + index)
            if (data.labels)
                compare(tileLabel(tile).text, data.labels[index])
        })
    }

    function test_flagNeedsExactlyTheTextOne_data() {
        return [
            { tag: "the text 1 sets it", value: "1", flag: true },
            { tag: "the text 0 leaves it clear", value: "0", flag: false },
            { tag: "an empty text leaves it clear", value: "", flag: false },
            { tag: "a leading zero leaves it clear", value: "01", flag: false },
            { tag: "a decimal fraction leaves it clear", value: "1.0", flag: false },
            { tag: "the number 1 leaves it clear", value: 1, flag: false }
        ]
    }

    function test_flagNeedsExactlyTheTextOne(data) {
        var list = ["0", "CLD", "0", "WRM", "0", "0\u00BA"]
        list[2] = data.value
        backend.deviceinfoList = list
        var component = Qt.createComponent("qrc:/qml/ButtonsRowTop.qml")
        compare(component.status, Component.Ready, component.errorString())
        var row = createTemporaryObject(component, rowHolder)
        var wrm = findAll(row, function(item) { return item.buttonId === 1 })[0]
        compare(wrm.statusActivated, data.flag)
        compare(wrm.displayText, "WRM")
    }

    function test_pointer_data() {
        return [
            { tag: "a dark tile turns green and back", tile: 0, linkAlive: false, after: dark },
            { tag: "a lit tile turns green and back to blue", tile: 4, linkAlive: true, after: "blue" },
            { tag: "the coolant tile turns green and back to dark", tile: 2, linkAlive: true, after: dark }
        ]
    }

    function test_pointer(data) {
        openScene(1024, 600)
        if (data.linkAlive)
            receive(0, 0)
        var tile = tiles()[data.tile]
        hover(tile)
        verifyColor(tile.color, "green", "under the pointer")
        leave()
        verifyColor(tile.color, data.after, "after the pointer left")
    }

    function test_fillFollowsLinkAfterPointer_data() {
        return [
            { tag: "after the pointer passed by", touch: false },
            { tag: "after a touch", touch: true }
        ]
    }

    function test_fillFollowsLinkAfterPointer(data) {
        openScene(1024, 600)
        var wifi = tiles()[4]
        if (data.touch) {
            tap(wifi)
        } else {
            hover(wifi)
            leave()
        }
        verifyColor(wifi.color, dark, "dark while the link is down")
        receive(0, 0)
        verifyColor(wifi.color, "blue", "blue as soon as the link is up")
        feed.loseLink(scene)
        verifyColor(wifi.color, dark, "dark again once the link is lost")
    }

    function test_pointerStaysGreenWhileLinkComesUp() {
        openScene(1024, 600)
        var wifi = tiles()[4]
        hover(wifi)
        receive(0, 0)
        verifyColor(wifi.color, "green", "under the pointer")
        verifyColor(tileLabel(wifi).color, "white", "label follows at once")
        leave()
        verifyColor(wifi.color, "blue", "after the pointer left")
    }

    function test_callback_data() {
        return [
            { tag: "0 CLD does nothing", buttonId: 0, demands: 0, closes: false },
            { tag: "1 WRM does nothing", buttonId: 1, demands: 0, closes: false },
            { tag: "2 coolant does nothing", buttonId: 2, demands: 0, closes: false },
            { tag: "3 P/N does nothing", buttonId: 3, demands: 0, closes: false },
            { tag: "4 WIFI asks for the demonstration once", buttonId: 4, demands: 1, closes: false },
            { tag: "5 EXIT closes the window", buttonId: 5, demands: 0, closes: true }
        ]
    }

    function verifyAction(data) {
        compare(feed.demoDemands(scene), data.demands, "demonstration demands")
        compare(scene.visible, !data.closes, "window shown")
    }

    function test_callback(data) {
        openScene(1024, 600)
        scene.callback(data.buttonId)
        verifyAction(data)
    }

    function test_click_data() {
        // A touch screen's tap reaches the tile as the mouse click that Qt makes of it.
        return test_callback_data().concat([
            { tag: "a tap on 5 EXIT closes the window", buttonId: 5, demands: 0, closes: true, tap: true }
        ])
    }

    function test_click(data) {
        openScene(1024, 600)
        var tile = tiles()[data.buttonId]
        if (data.tap) {
            tap(tile)
        } else {
            mouseClick(tile)
            if (!data.closes)
                verifyColor(tile.color, "green", "a click leaves the pointer's colour")
        }
        verifyAction(data)
    }

    // Stands in for the scene's back end when a row is shown on its own.
    QtObject {
        id: backend
        property var deviceinfoList: []
    }
    Item {
        id: rowHolder
        width: 339.52
        height: 339.52
    }
}
