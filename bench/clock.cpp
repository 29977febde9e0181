// The launcher's side of the start-up measurement, on the clock Qt's "%{time boot}" reads.
//   bench_clock                      prints CLOCK_MONOTONIC in seconds
//   bench_clock --exec FILE CMD...   writes that time to FILE, then becomes CMD
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

double monotonicSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 1) {
        std::printf("%.6f\n", monotonicSeconds());
        return 0;
    }
    if (argc < 4 || std::strcmp(argv[1], "--exec") != 0) {
        std::fprintf(stderr, "usage: bench_clock [--exec STAMPFILE COMMAND...]\n");
        return 2;
    }
    FILE *stamp = std::fopen(argv[2], "w");
    if (!stamp) {
        std::perror(argv[2]);
        return 1;
    }
    std::fprintf(stamp, "%.6f\n", monotonicSeconds());
    std::fclose(stamp);
    execvp(argv[3], argv + 3);
    std::perror(argv[3]);
    return 127;
}
