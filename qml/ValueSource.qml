import QtQuick 2.2

Item {
    id: valueSource
    property real kph: 0
    property real rpm: 0
    readonly property int movementMs: 1000
    readonly property real sweepKph: 10
    readonly property real sweepRpm: 1

    // Newest readings, read at call time so the order of notify handlers cannot matter.
    function speedReading() {
        return parseFloat(backend.deviceinfoList[13])
    }

    function rpmReading() {
        return parseFloat(backend.deviceinfoList[15] / 1000)
    }

    function smoothSpeedAnimation() {
        moveTowards(speedAnimation, kph, speedReading)
    }

    function smoothRpmAnimation() {
        moveTowards(rpmAnimation, rpm, rpmReading)
    }

    // A busy needle picks up the newest reading when its movement ends;
    // an idle one starts where it stands, and one already there stays idle.
    // The list is read only then: each read copies all of it into the script engine.
    function moveTowards(animation, current, newestReading) {
        if (startupSweep.running || animation.running)
            return
        var reading = newestReading()
        if (isNaN(reading) || Math.abs(reading - current) < 1e-9)
            return
        animation.to = reading
        animation.start()
    }

    SequentialAnimation {
        id: startupSweep
        running: true
        loops: 1
        onStopped: {
            smoothSpeedAnimation()
            smoothRpmAnimation()
        }

        ParallelAnimation {
            NumberAnimation {
                target: valueSource
                property: "kph"
                from: 0
                to: sweepKph
                duration: movementMs
                easing.type: Easing.InOutSine
            }
            NumberAnimation {
                target: valueSource
                property: "rpm"
                from: 0
                to: sweepRpm
                duration: movementMs
                easing.type: Easing.InOutSine
            }
        }
        ParallelAnimation {
            NumberAnimation {
                target: valueSource
                property: "kph"
                from: sweepKph
                to: 0
                duration: movementMs
                easing.type: Easing.InOutSine
            }
            NumberAnimation {
                target: valueSource
                property: "rpm"
                from: sweepRpm
                to: 0
                duration: movementMs
                easing.type: Easing.InOutSine
            }
        }
    }

    PropertyAnimation {
        id: speedAnimation
        target: valueSource
        property: "kph"
        duration: movementMs
        easing.type: Easing.InOutSine
        onStopped: smoothSpeedAnimation()
    }

    PropertyAnimation {
        id: rpmAnimation
        target: valueSource
        property: "rpm"
        duration: movementMs
        easing.type: Easing.InOutSine
        onStopped: smoothRpmAnimation()
    }
}
