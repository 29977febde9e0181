#ifndef CAPTURERECORD_H
#define CAPTURERECORD_H

#include <QByteArray>
#include <QtGlobal>

// One datagram of a record: when (monotonic ms), which way, and its bytes.
struct CaptureRecord
{
    enum class Direction { In, Out };

    qint64 monotonicMs = 0;
    Direction direction = Direction::Out;
    QByteArray bytes;
};

#endif // CAPTURERECORD_H
