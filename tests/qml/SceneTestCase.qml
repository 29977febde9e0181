import QtQuick 2.2
import QtQuick.Window 2.1
import QtTest 1.2

// A test case that opens the dashboard exactly as the program ships it and
// finds its parts by what they are, not by how they are nested.
TestCase {
    id: sceneTest
    property var scene: null
    readonly property int sweepMs: 2000
    readonly property int movementMs: 1000

    when: windowShown

    // The dashboard as shipped, with these properties set before it is shown.
    function createScene(properties) {
        var component = Qt.createComponent("qrc:/qml/dashboard.qml")
        compare(component.status, Component.Ready, component.errorString())
        scene = createTemporaryObject(component, sceneTest, properties)
        verify(scene, "the dashboard has a root object")
        feed.stopPolling(scene)
        return scene
    }

    function openScene(width, height) {
        // Windowed from the start: without a window manager an X window that once asked for
        // full screen keeps that state, and the dashboard then covers the whole screen.
        createScene({ visibility: Window.Windowed, width: width, height: height })
        tryCompare(scene, "width", width)
        tryCompare(scene, "height", height)
        waitForRendering(scene.contentItem)
        return scene
    }

    // Passes over a gauge's bare copy, which only lends its face to a picture.
    function findAll(item, predicate, found) {
        found = found || []
        for (var i = 0; i < item.children.length; ++i) {
            var child = item.children[i]
            if (child.__style && child.__style.bare)
                continue
            if (predicate(child))
                found.push(child)
            findAll(child, predicate, found)
        }
        return found
    }

    function findOne(item, predicate) {
        var found = findAll(item, predicate)
        compare(found.length, 1, "exactly one match: " + found)
        return found[0]
    }

    function valueSource() {
        return findOne(scene.contentItem, function(item) { return item.kph !== undefined })
    }

    function gauge(maximumValue) {
        return findOne(scene.contentItem, function(item) {
            // The gauge's own tickmark layer mirrors its range, so match the type too.
            return item.maximumValue === maximumValue && String(item).indexOf("CircularGauge_") === 0
        })
    }

    function speedometer() {
        return gauge(180)
    }

    function tachometer() {
        return gauge(8)
    }

    function tiles() {
        var found = findAll(scene.contentItem, function(item) { return item.buttonId !== undefined })
        return found.sort(function(a, b) { return a.buttonId - b.buttonId })
    }

    function tileLabel(tile) {
        return findOne(tile, function(item) { return item.wrapMode !== undefined })
    }

    // The text laid out right above a gauge's unit: its readout.
    function readoutAbove(gauge, unit) {
        var unitText = findOne(gauge, function(item) { return item.text === unit })
        return findOne(gauge, function(item) {
            return item.text !== undefined && item.parent === unitText.parent
                    && Math.abs(item.y + item.height - unitText.y) < 0.01
        })
    }

    // Some items keep colours in 8-bit channels, so 0.5 comes back as 128/255.
    function sameColor(actual, expected) {
        var wanted = Qt.tint(expected, "transparent") // a colour name made a colour
        var close = function(a, b) { return Math.abs(a - b) <= 1 / 255 }
        return close(actual.r, wanted.r) && close(actual.g, wanted.g) && close(actual.b, wanted.b)
                && close(actual.a, wanted.a)
    }

    function verifyColor(actual, expected, what) {
        verify(sameColor(actual, expected), what + ": " + actual + ", expected " + expected)
    }

    function sceneRect(item) {
        var origin = item.mapToItem(null, 0, 0)
        return Qt.rect(origin.x, origin.y, item.width, item.height)
    }

    function hexByte(value) {
        return (value < 16 ? "0" : "") + value.toString(16).toUpperCase()
    }

    // An ECU frame as the bridge sends it, line end included: speed in byte 8, engine speed / 25
    // in byte 4, coolant byte 6 (0xC8 reads 53ºC), status bytes 11 and 12.
    function ecuFrame(kph, rpm, status11, status12) {
        var bytes = [0, 0, 0, 0, rpm / 25, 0, 0xC8, 0, kph, 0, 0, status11 || 0, status12 || 0]
        return "ECU: " + bytes.map(hexByte).join(" ") + "\r\n"
    }

    function receive(kph, rpm, status11, status12) {
        feed.receive(scene, ecuFrame(kph, rpm, status11, status12))
    }
}
