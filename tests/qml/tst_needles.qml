import QtQuick 2.2
import QtTest 1.2

SceneTestCase {
    name: "Needles"

    readonly property color warningColor: Qt.rgba(0.5, 0, 0, 1)

    // Every change of both needle values, with its time since recording began.
    function record(source) {
        var samples = { kph: [], rpm: [], begun: Date.now() }
        source.kphChanged.connect(function() { samples.kph.push({ t: Date.now() - samples.begun, v: source.kph }) })
        source.rpmChanged.connect(function() { samples.rpm.push({ t: Date.now() - samples.begun, v: source.rpm }) })
        return samples
    }

    function maxOf(series) {
        return series.reduce(function(best, sample) { return sample.v > best.v ? sample : best }, { t: 0, v: -Infinity })
    }

    // A jump is most of a movement done in one step; a glide takes dozens of frames.
    function verifyNoJump(series, start, readings, what) {
        var values = [start].concat(readings)
        var widest = Math.max.apply(null, values) - Math.min.apply(null, values)
        var previous = start
        series.forEach(function(sample) {
            verify(Math.abs(sample.v - previous) <= 0.75 * widest,
                   what + " jumped from " + previous + " to " + sample.v + " at " + sample.t + " ms")
            previous = sample.v
        })
    }

    function verifyComesToRest(source, samples, kph, rpm) {
        tryVerify(function() { return Math.abs(source.kph - kph) < 1e-9 && Math.abs(source.rpm - rpm) < 1e-9 },
                  4 * movementMs, "needles at " + kph + " km/h and " + rpm + " thousand rpm")
        var changes = samples.kph.length + samples.rpm.length
        wait(movementMs + 200)
        compare(samples.kph.length + samples.rpm.length, changes, "needles stay at rest")
    }

    // The share of a movement from 0 done a quarter of its time after recording began.
    function shareAtQuarterTime(series, reading) {
        var at = movementMs / 4
        var after = series.findIndex(function(sample) { return sample.t >= at })
        verify(after > 0, "samples on both sides of " + at + " ms")
        var before = series[after - 1]
        var value = before.v + (series[after].v - before.v) * (at - before.t) / (series[after].t - before.t)
        return value / reading
    }

    function openSettledScene() {
        openScene(1024, 600)
        wait(sweepMs + 100)
        return valueSource()
    }

    function test_sweep() {
        openScene(1024, 600)
        var source = valueSource()
        var samples = record(source)
        wait(sweepMs + 500)
        fuzzyCompare(maxOf(samples.kph).v, 10, 0.5, "speed peak")
        fuzzyCompare(maxOf(samples.rpm).v, 1, 0.05, "engine speed peak")
        fuzzyCompare(maxOf(samples.kph).t, movementMs, 300, "peak after a second")
        var last = samples.kph[samples.kph.length - 1]
        compare(last.v, 0, "back at zero")
        fuzzyCompare(last.t, sweepMs, 400, "back after two seconds")
        compare(source.rpm, 0)
        verifyNoJump(samples.kph, 0, [10], "speed")
        verifyNoJump(samples.rpm, 0, [1], "engine speed")
        var changes = samples.kph.length
        wait(movementMs)
        compare(samples.kph.length, changes, "no movement without data")
    }

    // Steps: wait this long, then a reading [kph, rpm] or the link's loss.
    function test_comesToRestAtNewestReading_data() {
        return [
            { tag: "one reading glides there", steps: [[0, 100, 2000]], kph: 100, rpm: 2 },
            { tag: "a movement eases in: 15 % of the way after a quarter of its time, not 25 %",
              steps: [[0, 100, 4000]], kph: 100, rpm: 4, quarterWay: (1 - Math.cos(Math.PI / 4)) / 2 },
            { tag: "2500 rpm is 2.5 on the tachometer", steps: [[0, 0, 2500]], kph: 0, rpm: 2.5 },
            { tag: "readings faster than one a second end at the newest",
              steps: [[0, 100, 2000], [300, 20, 6000], [300, 60, 3000]], kph: 60, rpm: 3 },
            { tag: "a reading during a movement is not lost and nothing jumps",
              steps: [[0, 60, 2000], [1500, 100, 4000], [300, 20, 1000], [1200, 80, 6000]], kph: 80, rpm: 6 },
            { tag: "a lost link brings both needles down", steps: [[0, 100, 5000], [1500, "lost"]], kph: 0, rpm: 0 },
            { tag: "a link lost mid-movement brings both needles down",
              steps: [[0, 100, 5000], [400, "lost"]], kph: 0, rpm: 0 }
        ]
    }

    function test_comesToRestAtNewestReading(data) {
        var source = openSettledScene()
        var samples = record(source)
        var kphReadings = [], rpmReadings = []
        data.steps.forEach(function(step) {
            wait(step[0])
            if (step[1] === "lost") {
                feed.loseLink(scene)
                return
            }
            receive(step[1], step[2])
            kphReadings.push(step[1])
            rpmReadings.push(step[2] / 1000)
        })
        verifyComesToRest(source, samples, data.kph, data.rpm)
        if (data.quarterWay !== undefined) {
            // The reading came at once, so its movement began with the recording; 0.05 tells
            // the eased 0.146 from the linear 0.25.
            fuzzyCompare(shareAtQuarterTime(samples.kph, data.kph), data.quarterWay, 0.05, "speed")
            fuzzyCompare(shareAtQuarterTime(samples.rpm, data.rpm), data.quarterWay, 0.05, "engine speed")
        }
        verifyNoJump(samples.kph, 0, kphReadings, "speed")
        verifyNoJump(samples.rpm, 0, rpmReadings, "engine speed")
    }

    function test_oneMovementTakesASecond() {
        var source = openSettledScene()
        var samples = record(source)
        receive(100, 4000)
        verifyComesToRest(source, samples, 100, 4)
        fuzzyCompare(samples.kph[samples.kph.length - 1].t, movementMs, 300, "speed movement")
        fuzzyCompare(samples.rpm[samples.rpm.length - 1].t, movementMs, 300, "engine speed movement")
    }

    // Faces and needles are drawn once; a reading only turns needles and changes readouts.
    function test_readingsRepaintNoCanvas() {
        openSettledScene()
        var canvases = findAll(scene.contentItem, function(item) { return item.requestPaint !== undefined })
        compare(canvases.length, 2, "two needles; the faces are shown from pictures")
        var picturesShown = function() {
            return findAll(scene.contentItem, function(item) { return item.shown === true }).length
        }
        compare(picturesShown(), 2, "both faces shown opaque, the tachometer's though it lies between pixels")
        var liveLegends = findAll(scene.contentItem, function(item) {
            return item.visible && ["km/h", "x1000", "RPM"].indexOf(item.text) >= 0
        })
        compare(liveLegends.length, 0, "the legends are shown from the pictures too")
        var paints = 0
        canvases.forEach(function(canvas) { canvas.painted.connect(function() { ++paints }) })
        receive(120, 5000)
        wait(movementMs + 300)
        compare(paints, 0)
        scene.width = 1000
        tryVerify(function() { return paints > 0 }, movementMs, "a new size does repaint")
        tryVerify(function() { return picturesShown() === 2 }, movementMs, "both faces shown from new pictures")
    }

    function test_readingDuringSweep_data() {
        return [
            { tag: "while the needles rise", after: 500 },
            { tag: "while the needles fall", after: 1500 }
        ]
    }

    function test_readingDuringSweep(data) {
        openScene(1024, 600)
        var source = valueSource()
        var samples = record(source)
        wait(data.after)
        receive(50, 3000)
        verifyComesToRest(source, samples, 50, 3)
        fuzzyCompare(maxOf(samples.kph.filter(function(s) { return s.t < sweepMs - 200 })).v, 10, 0.5,
                     "the sweep still reached its peak")
        verifyNoJump(samples.kph, 0, [10, 50], "speed")
        verifyNoJump(samples.rpm, 0, [1, 3], "engine speed")
    }

    function test_readouts_data() {
        return [
            { tag: "at rest before any reading both read 0", kph: null, rpm: null, speedText: "0", rpmText: "0" },
            { tag: "100 km/h and 2000 rpm read 100 and 2", kph: 100, rpm: 2000, speedText: "100", rpmText: "2" },
            { tag: "2975 rpm reads whole thousands", kph: 7, rpm: 2975, speedText: "7", rpmText: "2" },
            { tag: "200 km/h reads 200, the needle at the dial's end", kph: 200, rpm: 2000, speedText: "200",
              rpmText: "2" }
        ]
    }

    function test_readouts(data) {
        openSettledScene()
        var speedReadout = readoutAbove(speedometer(), "km/h")
        var rpmReadout = readoutAbove(tachometer(), "RPM")
        var texts = []
        var keep = function() { texts.push(speedReadout.text, rpmReadout.text) }
        speedReadout.textChanged.connect(keep)
        rpmReadout.textChanged.connect(keep)
        if (data.kph !== null)
            receive(data.kph, data.rpm)
        tryCompare(speedReadout, "text", data.speedText, 3 * movementMs)
        tryCompare(rpmReadout, "text", data.rpmText, 3 * movementMs)
        fuzzyCompare(speedometer().value, Math.min(Number(data.speedText), speedometer().maximumValue), 1e-6,
                     "the needle's value")
        texts.forEach(function(text) { verify(/^\d+$/.test(text), "a whole number: " + text) })
    }

    function scaleLabels(gauge, unit) {
        var readout = readoutAbove(gauge, unit)
        return findAll(gauge, function(item) {
            return item.font !== undefined && /^\d+$/.test(item.text) && item !== readout
        }).sort(function(a, b) { return Number(a.text) - Number(b.text) })
    }

    function test_tachometerScale() {
        openScene(1024, 600)
        var labels = scaleLabels(tachometer(), "RPM")
        compare(labels.map(function(label) { return label.text }), ["0", "1", "2", "3", "4", "5", "6", "7", "8"])
        labels.forEach(function(label, value) {
            verifyColor(label.color, value >= 7 ? warningColor : "#c8c8c8", "label " + value)
        })
        var marks = findAll(tachometer(), function(item) {
            return item.border !== undefined && (sameColor(item.color, warningColor)
                                                 || sameColor(item.color, "#c8c8c8"))
        })
        compare(marks.filter(function(mark) { return sameColor(mark.color, warningColor) }).length, 2,
                "dark red tickmarks")
        compare(marks.length, 9, "nine tickmarks and no minor ones")
    }

    function test_speedometerScale() {
        openScene(1024, 600)
        var expected = []
        for (var value = 0; value <= 180; value += 10)
            expected.push(String(value))
        compare(scaleLabels(speedometer(), "km/h").map(function(label) { return label.text }), expected)
    }
}
