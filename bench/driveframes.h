#ifndef DRIVEFRAMES_H
#define DRIVEFRAMES_H

#include <cstdio>
#include <string>
#include <vector>

// ECU datagrams of a busy drive: speed and engine speed swing, coolant warms, flags flip.
namespace DriveFrames {

constexpr int frameBytes = 13;
constexpr const char identification[] = "SN:BENCH ID:4242 FW:1.0 BENCH\r\n";

// Up and down between low and high by step, never the same value twice in a row.
inline int triangle(int index, int low, int high, int step)
{
    const int span = (high - low) / step;
    const int position = index % (2 * span);
    return low + step * (position < span ? position : 2 * span - position);
}

// Every frame moves both needles, so they never come to rest while frames keep coming.
inline std::string frameAt(int index)
{
    unsigned char bytes[frameBytes] = {};
    bytes[4] = static_cast<unsigned char>(triangle(index, 40, 232, 3)); // × 25 rpm
    bytes[6] = static_cast<unsigned char>(100 + (index / 50) % 60); // coolant
    bytes[8] = static_cast<unsigned char>(triangle(index, 10, 170, 2)); // km/h
    bytes[11] = static_cast<unsigned char>((index / 200) % 4); // cold, warm
    bytes[12] = static_cast<unsigned char>((index / 300) % 2 ? 0x08 : 0); // P/N
    std::string line = "ECU:";
    char hex[4];
    for (int i = 0; i < frameBytes; ++i) {
        std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", bytes[i]);
        line += hex;
    }
    return line + "\r\n";
}

// One lap of the drive, to be sent round and round.
inline std::vector<std::string> lap(int count = 1024)
{
    std::vector<std::string> frames;
    frames.reserve(count);
    for (int i = 0; i < count; ++i)
        frames.push_back(frameAt(i));
    return frames;
}

} // namespace DriveFrames

#endif // DRIVEFRAMES_H
