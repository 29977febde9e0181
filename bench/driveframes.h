#ifndef DRIVEFRAMES_H
#define DRIVEFRAMES_H

#include "ecuframe.h"

#include <QByteArrayList>

// ECU datagrams of a busy drive: speed and engine speed swing, coolant warms, flags flip.
namespace DriveFrames {

constexpr char identification[] = "SN:BENCH ID:4242 FW:1.0 BENCH\r\n";

// Up and down between low and high by step, never the same value twice in a row.
inline int triangle(int index, int low, int high, int step)
{
    const int span = (high - low) / step;
    const int position = index % (2 * span);
    return low + step * (position < span ? position : 2 * span - position);
}

// Every frame moves both needles, so they never come to rest while frames keep coming.
inline QByteArray frameAt(int index)
{
    const int flags = (index / 200) % 4;
    return EcuFrame{triangle(index, 10, 170, 2), 25 * triangle(index, 40, 232, 3), 100 + (index / 50) % 60,
                    (flags & 1) != 0, (flags & 2) != 0, (index / 300) % 2 == 1}
        .line();
}

// One lap of the drive, to be sent round and round.
inline QByteArrayList lap(int count = 1024)
{
    QByteArrayList frames;
    frames.reserve(count);
    for (int i = 0; i < count; ++i)
        frames.append(frameAt(i));
    return frames;
}

} // namespace DriveFrames

#endif // DRIVEFRAMES_H
