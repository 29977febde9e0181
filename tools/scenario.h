#ifndef SCENARIO_H
#define SCENARIO_H

#include "capturerecord.h"
#include "simoptions.h"

#include <QByteArrayList>
#include <QVector>

// What the simulated bridge sends over time once it streams, and when it plays dead.
// Times count from the start of streaming; the simulator asks once per tick.
class Scenario
{
public:
    static constexpr int replayTickMs = 10;
    static constexpr int malformedVariants = 6;

    explicit Scenario(const SimOptions &options, const QVector<CaptureRecord> &capture = {});

    int tickIntervalMs() const;
    // Datagrams due for the stream time (previousMs, nowMs]; previousMs is -1 on the first tick.
    QByteArrayList datagramsBetween(qint64 previousMs, qint64 nowMs) const;
    // The vanished bridge neither answers nor sends.
    bool isAway(qint64 streamMs) const;
    bool answersProbes() const;

    QByteArray frameLineAt(qint64 streamMs) const;
    static QByteArray malformedLine(const QByteArray &frameBytes, int variant);
    // `parts` pieces cut anywhere; the cuts move on with `shift`, the frame's number.
    static QByteArrayList splitLine(const QByteArray &line, int parts, int shift);
    static QByteArrayList cutLine(const QByteArray &line, const QVector<int> &cuts);

private:
    bool inGap(qint64 streamMs) const;
    QByteArray frameBytesAt(qint64 streamMs) const;
    QByteArrayList replayBetween(qint64 previousMs, qint64 nowMs) const;

    SimOptions options;
    QVector<CaptureRecord> replayed;
};

#endif // SCENARIO_H
