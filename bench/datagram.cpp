// One ECU datagram through the back end, as the socket's notification hands it over:
// liveness, append, marker tests, decode, list refresh and the signal.
// Each datagram is timed alone, so the first frame after identification can be
// measured the same way as a frame after a long drive.
//   bench_datagram [--frames-before=N] [benchmark flags]
//   bench_datagram --feed=N   identifies, feeds N frames and ends: for instruction counts
#include "backend.h"
#include "driveframes.h"
#include "testaccess.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

void identify(BackEnd &backEnd)
{
    TestAccess::receive(backEnd, QByteArray(DriveFrames::identification));
}

// Times one datagram; fails the run if the list was not refreshed by it.
void receiveTimed(benchmark::State &state, BackEnd &backEnd, const QByteArray &frame, const int &emitted)
{
    const int before = emitted;
    const Clock::time_point start = Clock::now();
    TestAccess::receive(backEnd, frame);
    const Clock::time_point end = Clock::now();
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    if (emitted != before + 1)
        state.SkipWithError("a frame did not refresh the list");
}

struct Bench
{
    BackEnd backEnd;
    const QByteArrayList frames = DriveFrames::lap();
    int emitted = 0;

    Bench()
    {
        QObject::connect(&backEnd, &BackEnd::deviceInfoListChanged, [this] { ++emitted; });
        identify(backEnd);
    }
    const QByteArray &frame(qint64 index) const { return frames.at(static_cast<int>(index % frames.size())); }
};

// The reply to each identification empties the buffer: every timed frame is the first.
void firstFrameAfterIdentification(benchmark::State &state)
{
    Bench bench;
    qint64 index = 0;
    for (auto _ : state) {
        identify(bench.backEnd);
        receiveTimed(state, bench.backEnd, bench.frame(index++), bench.emitted);
    }
}

void frameAfterLongDrive(benchmark::State &state, qint64 framesBefore)
{
    Bench bench;
    qint64 index = 0;
    for (; index < framesBefore; ++index)
        TestAccess::receive(bench.backEnd, bench.frame(index));
    state.counters["buffer_chars"] = TestAccess::link(bench.backEnd).receiveBuffer.size();
    for (auto _ : state)
        receiveTimed(state, bench.backEnd, bench.frame(index++), bench.emitted);
}

// What two clock readings cost: part of every figure above.
void clockOverhead(benchmark::State &state)
{
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const Clock::time_point end = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
}

// Takes "--name=N" out of the arguments; fallback when it is absent.
qint64 takeCount(int &argc, char **argv, const char *name, qint64 fallback)
{
    const std::string flag = std::string("--") + name + "=";
    qint64 count = fallback;
    int kept = 0;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], flag.c_str(), flag.size()) == 0)
            count = std::atoll(argv[i] + flag.size());
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    return count;
}

} // namespace

int main(int argc, char *argv[])
{
    const qint64 framesBefore = takeCount(argc, argv, "frames-before", 1000000);
    const qint64 feed = takeCount(argc, argv, "feed", -1);
    // The back end's timer wants an application; the event loop never runs, so no tick interferes.
    QCoreApplication app(argc, argv);
    if (feed >= 0) {
        Bench bench;
        const int identified = bench.emitted;
        for (qint64 index = 0; index < feed; ++index)
            TestAccess::receive(bench.backEnd, bench.frame(index));
        return bench.emitted - identified == feed ? 0 : 1;
    }
    benchmark::RegisterBenchmark("datagram/first_after_identification", firstFrameAfterIdentification)
        ->UseManualTime();
    benchmark::RegisterBenchmark(("datagram/after_" + std::to_string(framesBefore) + "_frames").c_str(),
                                 frameAfterLongDrive, framesBefore)
        ->UseManualTime();
    benchmark::RegisterBenchmark("clock_overhead", clockOverhead)->UseManualTime();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
