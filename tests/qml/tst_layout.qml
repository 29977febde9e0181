import QtQuick 2.2
import QtQuick.Window 2.1
import QtTest 1.2

SceneTestCase {
    name: "Layout"

    // Centring anchors snap to whole pixels, so positions may differ by half a pixel.
    readonly property real snap: 0.5

    function fuzzyRect(actual, expected, what) {
        fuzzyCompare(actual.x, expected[0], snap, what + " x")
        fuzzyCompare(actual.y, expected[1], snap, what + " y")
        fuzzyCompare(actual.width, expected[2], 0.01, what + " width")
        fuzzyCompare(actual.height, expected[3], 0.01, what + " height")
    }

    function test_gauges_data() {
        return [
            { tag: "1024x600 puts the chapter right of the speedometer", width: 1024, height: 600,
              container: [0, 0, 1024, 600], speedometer: [32, 0, 600, 600],
              chapter: [652.48, 130.24, 339.52, 339.52], rowWidth: 960 },
            { tag: "600x1024 shows the speedometer alone, halfway down", width: 600, height: 1024,
              container: [0, 212, 600, 600], speedometer: [0, 212, 600, 600],
              chapter: null, rowWidth: 600 },
            { tag: "a square window hides the chapter", width: 800, height: 800,
              container: [0, 0, 800, 800], speedometer: [0, 0, 800, 800],
              chapter: null, rowWidth: 800 },
            { tag: "1280x1024 scales the row down to the window's width", width: 1280, height: 1024,
              container: [0, 112, 1280, 800], speedometer: [0, 112, 800, 800],
              chapter: [825.6, 284.8, 454.4, 454.4], rowWidth: 1280 }
        ]
    }

    function test_gauges(data) {
        openScene(data.width, data.height)
        var speedo = speedometer()
        var row = speedo.parent
        fuzzyRect(sceneRect(row.parent), data.container, "container")
        fuzzyRect(sceneRect(speedo), data.speedometer, "speedometer")
        fuzzyCompare(row.width, data.rowWidth, 0.01, "row width")
        var tacho = tachometer()
        compare(tacho.parent.visible, data.chapter !== null, "chapter shown")
        tiles().forEach(function(tile) { compare(tile.visible && tile.parent.visible, data.chapter !== null) })
        if (data.chapter) {
            fuzzyRect(sceneRect(tacho.parent), data.chapter, "chapter")
            fuzzyRect(sceneRect(tacho), data.chapter, "tachometer")
        }
    }

    function test_fullScreenCoversTheScreenAndWindowedIsNominal() {
        createScene({})
        tryCompare(scene, "visibility", Window.FullScreen)
        compare([scene.x, scene.y, scene.width, scene.height],
                [Screen.virtualX, Screen.virtualY, Screen.width, Screen.height])
        scene.visibility = Window.Windowed
        tryCompare(scene, "width", 1024)
        tryCompare(scene, "height", 600)
    }

    function test_tiles_data() {
        return [
            { tag: "CLD", index: 0, rect: [652.48, 33.23] },
            { tag: "WRM", index: 1, rect: [652.48 + 106.1 + 6.79, 33.23] },
            { tag: "coolant", index: 2, rect: [652.48 + 2 * (106.1 + 6.79), 33.23] },
            { tag: "P/N", index: 3, rect: [652.48, 503.71] },
            { tag: "WIFI", index: 4, rect: [652.48 + 106.1 + 6.79, 503.71] },
            { tag: "EXIT", index: 5, rect: [652.48 + 2 * (106.1 + 6.79), 503.71] }
        ]
    }

    function test_tiles(data) {
        openScene(1024, 600)
        var tile = tiles()[data.index]
        compare(tile.buttonId, data.index)
        fuzzyRect(sceneRect(tile), data.rect.concat([106.1, 59.68]), "tile")
        compare(tile.fontSizeText, 11, "11.94 points held as a whole number")
        compare(tileLabel(tile).font.family, "Helvetica")
        verify(tileLabel(tile).font.bold)
    }

    function test_sizes_data() {
        return [
            { tag: "1024x600 scales every size with the radius", width: 1024, height: 600,
              labelPixels: 20, tilePoints: 11 },
            { tag: "60x40 keeps 6-pixel labels and 16-point tile text", width: 60, height: 40,
              labelPixels: 6, tilePoints: 16 }
        ]
    }

    function test_sizes(data) {
        openScene(data.width, data.height)
        var tacho = tachometer()
        var labels = findAll(tacho, function(item) { return item.text === "8" })
        compare(labels.length, 1)
        compare(labels[0].font.pixelSize, data.labelPixels)
        var readout = readoutAbove(tacho, "RPM")
        fuzzyCompare(readout.y - readout.parent.height / 2, 20, snap, "readout offset from the centre")
        var speedo = speedometer()
        var speedReadout = readoutAbove(speedo, "km/h")
        fuzzyCompare(speedReadout.y - speedReadout.parent.height / 2, 0.1 * speedo.width / 2, snap,
                     "speed readout offset")
        tiles().forEach(function(tile) { compare(tileLabel(tile).font.pointSize, data.tilePoints) })
    }
}
