#include "driveprofile.h"

#include <QtMath>

#include <algorithm>
#include <iterator>

namespace {

// One stretch of the cycle: speed and engine speed move linearly from..to over its length.
struct Segment
{
    qint64 lengthMs;
    int speedFrom;
    int speedTo;
    int rpmFrom;
    int rpmTo;
    bool parkNeutral;
    bool cruising;
};

constexpr Segment cycle[] = {
    {4000, 0, 0, 820, 800, true, false},       // idle, parked
    {2000, 0, 0, 800, 950, false, false},      // in gear, clutch biting
    {4000, 0, 18, 1000, 3200, false, false},   // first gear
    {500, 18, 18, 3200, 1900, false, false},   // shift
    {4500, 18, 40, 1900, 3400, false, false},  // second
    {500, 40, 40, 3400, 2200, false, false},   // shift
    {5500, 40, 65, 2200, 3500, false, false},  // third
    {500, 65, 65, 3500, 2300, false, false},   // shift
    {6500, 65, 100, 2300, 3400, false, false}, // fourth
    {500, 100, 100, 3400, 2600, false, false}, // into fifth
    {17000, 100, 100, 2600, 2600, false, true},
    {7000, 100, 0, 2600, 900, false, false},   // braking
    {7500, 0, 0, 850, 800, true, false},       // stopped, parked
};

constexpr int cruiseSwingKph = 3;
constexpr double cruisePeriodMs = 7000.0;
constexpr int idleWobbleRpm = 30;
constexpr double idlePeriodMs = 900.0;

int lerp(int from, int to, double fraction)
{
    return qRound(from + (to - from) * fraction);
}

const Segment &segmentAt(qint64 cycleMs, qint64 *startMs)
{
    qint64 start = 0;
    for (const Segment &segment : cycle) {
        if (cycleMs < start + segment.lengthMs) {
            *startMs = start;
            return segment;
        }
        start += segment.lengthMs;
    }
    *startMs = start - std::prev(std::end(cycle))->lengthMs;
    return *std::prev(std::end(cycle));
}

} // namespace

EcuFrame DriveProfile::frameAt(qint64 elapsedMs)
{
    const qint64 inCycle = std::max<qint64>(0, elapsedMs) % cycleMs;
    qint64 startMs = 0;
    const Segment &segment = segmentAt(inCycle, &startMs);
    const double fraction = double(inCycle - startMs) / segment.lengthMs;

    EcuFrame frame;
    frame.speedKph = lerp(segment.speedFrom, segment.speedTo, fraction);
    frame.rpm = lerp(segment.rpmFrom, segment.rpmTo, fraction);
    if (segment.cruising) {
        const double wave = qSin(2 * M_PI * inCycle / cruisePeriodMs);
        frame.speedKph += qRound(cruiseSwingKph * wave);
        frame.rpm = frame.rpm * frame.speedKph / segment.speedTo;
    } else if (frame.speedKph == 0) {
        frame.rpm += qRound(idleWobbleRpm * qSin(2 * M_PI * inCycle / idlePeriodMs));
    }
    frame.parkNeutral = segment.parkNeutral;

    const double celsius = coolantCelsiusAt(elapsedMs);
    frame.coolantRaw = EcuFrame::coolantRawFor(celsius);
    frame.cold = celsius < coldBelowCelsius;
    frame.warm = !frame.cold && celsius < warmBelowCelsius;
    return frame;
}

double DriveProfile::coolantCelsiusAt(qint64 elapsedMs)
{
    const double warmed = startCelsius + warmingCelsiusPerSecond * std::max<qint64>(0, elapsedMs) / 1000.0;
    return std::min(warmed, runningCelsius);
}
