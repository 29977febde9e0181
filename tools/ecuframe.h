#ifndef ECUFRAME_H
#define ECUFRAME_H

#include <QByteArray>

// The engine values a bridge reports, and their encoding as one "ECU:" line.
struct EcuFrame
{
    int speedKph = 0;
    int rpm = 0;
    int coolantRaw = 0;
    bool cold = false;
    bool warm = false;
    bool parkNeutral = false;

    // The 13 frame bytes; values beyond a byte's range are clamped.
    QByteArray bytes() const;

    // "ECU:" then each byte as two upper-case hex digits, space-separated, then CR LF.
    static QByteArray line(const QByteArray &frameBytes);
    QByteArray line() const { return line(bytes()); }

    // The lowest raw coolant byte the dashboard shows at or above `celsius`.
    static int coolantRawFor(double celsius);
};

#endif // ECUFRAME_H
