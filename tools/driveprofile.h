#ifndef DRIVEPROFILE_H
#define DRIVEPROFILE_H

#include "ecuframe.h"

#include <QtGlobal>

// A realistic town-to-highway drive as a pure function of time: idle in P/N, pull-away,
// four gear changes, cruising near 100 km/h, braking to a stop; it repeats every cycle.
// The coolant warms from cold once, so CLD, then WRM, then neither are shown.
class DriveProfile
{
public:
    static constexpr qint64 cycleMs = 60000;
    static constexpr double startCelsius = 15.0;
    static constexpr double runningCelsius = 90.0;
    static constexpr double warmingCelsiusPerSecond = 1.0;
    static constexpr double coldBelowCelsius = 40.0;
    static constexpr double warmBelowCelsius = 70.0;

    static EcuFrame frameAt(qint64 elapsedMs);
    static double coolantCelsiusAt(qint64 elapsedMs);
};

#endif // DRIVEPROFILE_H
