// A paced stream of drive frames to the dashboard, for the flood figure:
//   bench_sender ADDRESS RATE COUNT [FROM_PORT]
// identifies itself once, then sends COUNT frames at RATE per second from the bridge's port, or
// from FROM_PORT on the dashboard's own machine, where the dashboard holds the bridge's port.
#include "driveframes.h"
#include "drivers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

timespec addNanoseconds(timespec t, long long ns)
{
    ns += t.tv_nsec;
    t.tv_sec += ns / 1000000000;
    t.tv_nsec = ns % 1000000000;
    return t;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: bench_sender ADDRESS RATE COUNT [FROM_PORT]\n");
        return 2;
    }
    const double rate = std::atof(argv[2]);
    const long long count = std::atoll(argv[3]);
    const int fromPort = argc == 5 ? std::atoi(argv[4]) : BridgeProtocol::port;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(BridgeProtocol::port);
    if (rate <= 0 || count < 0 || fromPort < 1 || fromPort > 65535 || inet_pton(AF_INET, argv[1], &to.sin_addr) != 1) {
        std::fprintf(stderr, "bench_sender: bad address, rate, count or port\n");
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_port = htons(static_cast<uint16_t>(fromPort));
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0) {
        std::perror("bench_sender");
        return 1;
    }
    const auto send = [&](const QByteArray &text) {
        return sendto(fd, text.constData(), text.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) >= 0;
    };
    send(QByteArray(DriveFrames::identification));

    const QByteArrayList frames = DriveFrames::lap();
    const long long periodNs = static_cast<long long>(1e9 / rate);
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    long long sent = 0;
    for (long long i = 0; i < count; ++i) {
        // An absolute schedule: a late datagram is followed at once by the next, so the mean rate holds.
        const timespec due = addNanoseconds(start, i * periodNs);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        sent += send(frames.at(static_cast<int>(i % frames.size())));
    }
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double seconds = (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
    std::printf("sent %lld in %.3f s\n", sent, seconds);
    close(fd);
    return sent == count ? 0 : 1;
}
