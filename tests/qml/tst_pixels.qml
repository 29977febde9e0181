import QtQuick 2.2
import QtTest 1.2
import motrel.scene 1.0

// What the gauges and tiles look like on screen, read from grabbed frames.
SceneTestCase {
    name: "Pixels"

    readonly property real speedRange: 180
    readonly property real rpmRange: 8
    readonly property real minimumAngle: -145
    readonly property real angleRange: 290

    function openSettledScene() {
        openScene(1024, 600)
        wait(sweepMs + 100)
    }

    function dialAngle(value, maximum) {
        return minimumAngle + value / maximum * angleRange
    }

    // The pixel at a fraction of the gauge's radius, at a dial angle (0 up, clockwise).
    function pixelOnDial(image, gauge, radiusFraction, degrees) {
        var rect = sceneRect(gauge)
        var radius = rect.width / 2
        var angle = degrees * Math.PI / 180
        var x = Math.round(rect.x + radius + radiusFraction * radius * Math.sin(angle))
        var y = Math.round(rect.y + radius - radiusFraction * radius * Math.cos(angle))
        return pixel(image, x, y)
    }

    function pixel(image, x, y) {
        return { r: image.red(x, y), g: image.green(x, y), b: image.blue(x, y),
                 toString: function() { return "rgb(" + this.r + ", " + this.g + ", " + this.b + ")" } }
    }

    function isNeedleRed(p) {
        return p.r > 80 && p.g < 40 && p.b < 40
    }

    function grab() {
        return grabImage(scene.contentItem)
    }

    function test_needleDirection_data() {
        return [
            { tag: "speedometer at rest points at 0", kph: 0, rpm: 0, speed: true, value: 0 },
            { tag: "speedometer at 90 km/h points straight up", kph: 90, rpm: 0, speed: true, value: 90 },
            { tag: "speedometer at 180 km/h points at its last mark", kph: 180, rpm: 0, speed: true, value: 180 },
            { tag: "tachometer at 4000 rpm points straight up", kph: 0, rpm: 4000, speed: false, value: 4 },
            { tag: "tachometer at 6000 rpm points right and down", kph: 0, rpm: 6000, speed: false, value: 6 }
        ]
    }

    function test_needleDirection(data) {
        openSettledScene()
        receive(data.kph, data.rpm)
        wait(movementMs + 300)
        var gauge = data.speed ? speedometer() : tachometer()
        var angle = dialAngle(data.value, data.speed ? speedRange : rpmRange)
        var image = grab()
        var onNeedle = pixelOnDial(image, gauge, 0.5, angle)
        verify(isNeedleRed(onNeedle), "the needle is red at " + angle + " degrees: " + onNeedle)
        ;[-90, 90].forEach(function(turn) {
            var aside = pixelOnDial(image, gauge, 0.5, angle + turn)
            verify(!isNeedleRed(aside), "no needle at " + (angle + turn) + " degrees: " + aside)
        })
    }

    function test_warningArc_data() {
        return [
            { tag: "between 7 and 8 the band is dark red", value: 7.5, red: true },
            { tag: "between 6 and 7 the band is bare", value: 6.5, red: false },
            { tag: "between 0 and 1 the band is bare", value: 0.5, red: false }
        ]
    }

    function test_warningArc(data) {
        openSettledScene()
        var p = pixelOnDial(grab(), tachometer(), 0.92, dialAngle(data.value, rpmRange))
        var red = Math.abs(p.r - 128) <= 8 && p.g < 10 && p.b < 10
        verify(red === data.red, "band at " + data.value + ": " + p)
    }

    // The shades met walking out across the face's edge, each run of pixels once.
    function shadesAcrossRim(image, gauge, degrees) {
        var radius = sceneRect(gauge).width / 2
        var shades = []
        for (var r = Math.round(0.94 * radius); r <= Math.round(1.06 * radius); ++r) {
            var p = pixelOnDial(image, gauge, r / radius, degrees)
            var grey = p.g === p.r && p.b === p.r
            var shade = !grey ? "other" : p.r <= 6 ? "black" : Math.abs(p.r - 0x22) <= 3 ? "#222"
                      : p.r === 0x16 ? "window" : "other"
            if (shade !== "other" && shades[shades.length - 1] !== shade)
                shades.push(shade)
        }
        return shades
    }

    function test_faceRim_data() {
        return [
            { tag: "speedometer", speed: true },
            { tag: "tachometer", speed: false }
        ]
    }

    function test_faceRim(data) {
        openSettledScene()
        var gauge = data.speed ? speedometer() : tachometer()
        var image = grab()
        // Left of the centre no mark reaches the rim's band.
        compare(shadesAcrossRim(image, gauge, -90), ["black", "#222", "window"], "a black band, then a dark grey rim")
        // Straight down lies in the dial's gap, where only the sheen shows.
        var sheen = pixelOnDial(image, gauge, 0.9, 180)
        verify(sheen.r > 10 && sheen.r < 0x22, "a faint sheen near the rim: " + sheen)
    }

    // The scale is drawn with the face where the face lies on whole pixels: after a new size
    // it must show once, where the new face has it.
    function test_scaleAfterResize_data() {
        return [
            { tag: "1024x600 to 800x480", width: 800, height: 480 },
            { tag: "1024x600 to 1280x800", width: 1280, height: 800 }
        ]
    }

    function test_scaleAfterResize(data) {
        openSettledScene()
        scene.width = data.width
        scene.height = data.height
        wait(500)
        var image = grab()
        var mark = pixelOnDial(image, speedometer(), 0.93, 0)
        verify(mark.r > 150 && mark.g === mark.r && mark.b === mark.r, "the mark at 90 km/h: " + mark)
        var gap = pixelOnDial(image, speedometer(), 0.93, 1.6)
        verify(gap.r < 0x40, "between the marks: " + gap)
    }

    // A readout draws its glyphs once and copies them: it must look like a Text of the same font
    // wherever the two lie within a pixel, and measure like it too.
    function test_readoutLooksLikeText_data() {
        return [
            { tag: "90 px on whole pixels", x: 100, y: 20, pixelSize: 90 },
            { tag: "90 px a quarter pixel right", x: 100.25, y: 20, pixelSize: 90 },
            { tag: "120 px 0.7 px right and half a pixel down", x: 100.7, y: 20.5, pixelSize: 120 },
            { tag: "90 px moved 0.4 px right once shown", x: 100, y: 20, pixelSize: 90, moveBy: 0.4 },
            { tag: "90 px back from another number", x: 100, y: 20, pixelSize: 90, via: "42" },
            { tag: "90 px with only its last digit changed", x: 100.25, y: 20, pixelSize: 90, via: "1806" }
        ]
    }

    function test_readoutLooksLikeText(data) {
        openScene(1024, 600)
        var under = createTemporaryQmlObject("import QtQuick 2.2; import motrel.scene 1.0; Rectangle {"
            + " width: 1024; height: 600; color: 'black'; property alias text: text; property alias readout: readout;"
            + " Text { id: text; text: '1807'; color: 'white' }"
            + " Readout { id: readout; text: '1807'; color: 'white' } }", scene.contentItem)
        var apart = 300
        under.text.font.pixelSize = under.readout.font.pixelSize = data.pixelSize
        under.text.x = under.readout.x = data.x
        under.text.y = data.y
        under.readout.y = data.y + apart
        if (data.via) {
            under.text.text = under.readout.text = data.via
            waitForRendering(under)
            under.text.text = under.readout.text = "1807"
        }
        fuzzyCompare(under.readout.implicitWidth, under.text.implicitWidth, 0.01, "width")
        fuzzyCompare(under.readout.implicitHeight, under.text.implicitHeight, 0.01, "height")
        waitForRendering(under)
        if (data.moveBy) {
            under.text.x = under.readout.x = data.x += data.moveBy
            waitForRendering(under)
        }
        var image = grab()
        var lit = 0
        var worst = 0
        for (var y = Math.floor(data.y); y < data.y + under.text.height; ++y) {
            for (var x = Math.floor(data.x); x < data.x + under.text.width + 1; ++x) {
                var shown = image.red(x, y)
                lit += shown > 128
                worst = Math.max(worst, Math.abs(shown - image.red(x, y + apart)))
            }
        }
        verify(lit > 1000, "the Text shows its digits: " + lit + " pixels lit")
        verify(worst <= 16, "the readout's pixels within 16 of the Text's: " + worst)
    }

    function test_wifiFill_data() {
        return [
            { tag: "dark before any datagram", alive: false, hover: false, rgb: [0x22, 0x22, 0x22] },
            { tag: "blue while the link is up", alive: true, hover: false, rgb: [0, 0, 255] },
            { tag: "green under the pointer", alive: true, hover: true, rgb: [0, 128, 0] }
        ]
    }

    function test_wifiFill(data) {
        openScene(1024, 600)
        if (data.alive)
            receive(0, 0)
        var wifi = tiles()[4]
        var rect = sceneRect(wifi)
        if (data.hover)
            mouseMove(wifi, wifi.width / 2, wifi.height / 2)
        var p = pixel(grab(), Math.round(rect.x + 6), Math.round(rect.y + rect.height / 2))
        compare([p.r, p.g, p.b], data.rgb, "fill beside the label")
    }
}
