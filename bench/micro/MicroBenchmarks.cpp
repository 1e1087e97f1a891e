// SPDX-License-Identifier: MIT
// Micro-benchmarks of the library's inner steps: building a start datagram, the completeness test and
// header decoding of a received one, the slave's arithmetic for one clock sample, and the time stamp of
// the slave's per-command log line, and a keyed group's signing and checking of a datagram (warm, and
// checking with cold caches). Copying the same bytes is the baseline of the first two; the time stamp
// with TZ set is the baseline of the time stamp.
#include "ClockSteering.h"
#include "common/LogLine.h"
#include "endpoint/Keyring.h"
#include "wire/DatagramCodec.h"
#include "wire/MessageCode.h"
#include "wire/Payloads.h"
#include "slave/ClockEstimator.h"
#include "slave/ClockSampleMath.h"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace tamo::detail;

namespace {

constexpr int kBufferSize = 4096;

DatagramHeader startHeader()
{
    DatagramHeader header;
    header.processId = 4747;
    header.code = enM2SStartCmd;
    header.groupId = 47;
    header.layerId = 0;
    header.dataLen = kTwoDoublesSize;
    return header;
}

std::vector<char> encodedStart()
{
    std::vector<char> bytes(kBufferSize);
    const Payload payload = encodeDoubles(1.0, 2.0);
    bytes.resize(static_cast<std::size_t>(encodeDatagram(startHeader(), payload.data(), nullptr, bytes.data(), kBufferSize)));
    return bytes;
}

void BM_BuildStartDatagram(benchmark::State& state)
{
    std::array<char, kBufferSize> out{};
    DatagramHeader header = startHeader();
    double position = 0;
    for (auto _ : state) {
        const Payload payload = encodeDoubles(position, 1.0);
        ++header.seq;
        benchmark::DoNotOptimize(encodeDatagram(header, payload.data(), nullptr, out.data(), kBufferSize));
        benchmark::ClobberMemory();
        position += 1;
    }
}
BENCHMARK(BM_BuildStartDatagram);

void BM_CopyStartDatagram(benchmark::State& state)
{
    const std::vector<char> bytes = encodedStart();
    std::array<char, kBufferSize> out{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(bytes.data());
        std::memcpy(out.data(), bytes.data(), bytes.size());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CopyStartDatagram);

void BM_DecodeHeader(benchmark::State& state)
{
    const std::vector<char> bytes = encodedStart();
    for (auto _ : state) {
        benchmark::DoNotOptimize(bytes.data());
        benchmark::DoNotOptimize(decodeDatagram(bytes.data(), bytes.size()));
    }
}
BENCHMARK(BM_DecodeHeader);

void BM_ClockSample(benchmark::State& state)
{
    ClockSyncStamps stamps;
    stamps.slot = {1000, 1100, 900, 1400};
    std::vector<double> samples;
    int nextIndex = 0;
    double sum = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(stamps);
        const ClockMeasurement measured = measureClock(stamps);
        if (judgeDelay(measured.delayUs) == DelayVerdict::Accepted)
            benchmark::DoNotOptimize(addOffsetSample(static_cast<double>(measured.offsetUs) / 1e6, samples, nextIndex, sum));
        stamps.slot[3] += 1;
    }
}
BENCHMARK(BM_ClockSample);

// One accepted sample into the estimate of the master's clock, with the window holding range(0) samples:
// 41 during playback (one every 3 s over two minutes), 300 while clock sync starts (ten a second, the most it keeps).
void BM_ClockEstimateSample(benchmark::State& state)
{
    const auto held = static_cast<qint64>(state.range(0));
    const qint64 spacingUs = held > 41 ? 100000 : 3000000;
    ClockEstimator estimator;
    qint64 hostUs = 0;
    for (qint64 i = 0; i < held; ++i, hostUs += spacingUs)
        estimator.add(hostUs, hostUs + 200, (i * 7919) % 23);
    for (auto _ : state) {
        estimator.add(hostUs, hostUs + 200, (hostUs / spacingUs * 7919) % 23);
        benchmark::DoNotOptimize(estimator.estimate());
        hostUs += spacingUs;
    }
}
BENCHMARK(BM_ClockEstimateSample)->Arg(41)->Arg(300);

// One step of a player that keeps its pipeline clock on the master's time line (twice a second).
void BM_ClockSteeringStep(benchmark::State& state)
{
    const HostClock host(1500, 100.0);
    ClockSteering steering(host);
    qint64 monoNs = host.anchorMonotonicUs() * 1000;
    MasterLine line{host.anchorMonotonicUs(), 1500.0, 99.99};
    steering.jumpTo(line, monoNs);
    for (auto _ : state) {
        monoNs += 500000000;
        line.offsetUs += 0.25;
        benchmark::DoNotOptimize(steering.steer(line, monoNs));
    }
}
BENCHMARK(BM_ClockSteeringStep);

// The local time stamp that the slave writes into the log line of every command it handles, before the
// host's callback runs.
void BM_LogLineTimeStamp(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(currentLogTime());
}
BENCHMARK(BM_LogLineTimeStamp);

// Baseline: Qt's own local time, with TZ set so that the C library keeps the zone it has read (with TZ
// unset, every local-time conversion looks at /etc/localtime again).
void BM_LogLineTimeStampWithTzSet(benchmark::State& state)
{
    const char* saved = std::getenv("TZ");
    const std::string savedValue = saved ? saved : "";
    setenv("TZ", ":/etc/localtime", 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(formatLogTime(QDateTime::currentDateTime()));
    if (saved)
        setenv("TZ", savedValue.c_str(), 1);
    else
        unsetenv("TZ");
}
BENCHMARK(BM_LogLineTimeStampWithTzSet);

} // namespace

// A keyed group: each datagram leaving is signed, each arriving checked (the start command with 64 bytes
// of user data, as the player sends it).
std::vector<char> startWithUserData()
{
    DatagramHeader header = startHeader();
    const std::string userData(64, 'u');
    header.userDataLen = std::uint16_t(userData.size());
    std::vector<char> bytes(kBufferSize);
    const Payload payload = encodeDoubles(1.0, 2.0);
    bytes.resize(std::size_t(encodeDatagram(header, payload.data(), userData.data(), bytes.data(), kBufferSize)));
    return bytes;
}

void BM_SignDatagram(benchmark::State& state)
{
    Keyring ring;
    std::string why;
    ring.setKeys({NetControlNS::struGroupKey{1, std::string(32, 'k')}}, why);
    const std::vector<char> datagram = startWithUserData();
    std::vector<char> out(datagram.size() + kSignatureSize);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ring.sign(datagram.data(), int(datagram.size()), 47000, out.data()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SignDatagram);

// Two members of a keyed group: the sender signs the start, the receiver checks it.
struct KeyedPair
{
    KeyedPair()
    {
        std::string why;
        sender.setKeys({NetControlNS::struGroupKey{1, std::string(32, 'k')}}, why);
        receiver.setKeys({NetControlNS::struGroupKey{1, std::string(32, 'k')}}, why);
    }

    // Signs the start anew (each counter is taken once) and returns its length.
    int sign() { return sender.sign(datagram.data(), int(datagram.size()), 47000, signedOne.data()); }
    void check(int len)
    {
        benchmark::DoNotOptimize(receiver.verify(signedOne.data(), len, "127.0.0.1", 47000));
    }

    Keyring sender;
    Keyring receiver;
    const std::vector<char> datagram = startWithUserData();
    std::vector<char> signedOne = std::vector<char>(datagram.size() + kSignatureSize);
};

void BM_VerifyDatagram(benchmark::State& state)
{
    KeyedPair pair;
    for (auto _ : state) {
        state.PauseTiming();
        const int len = pair.sign();
        state.ResumeTiming();
        pair.check(len);
    }
}
BENCHMARK(BM_VerifyDatagram);

// The same check after the data caches have been swept, as a slave finds them when it wakes for a command
// after many other processes have run on its core (a wall of 16 players on two cores, say).
void BM_VerifyDatagramColdCaches(benchmark::State& state)
{
    KeyedPair pair;
    std::vector<char> sweep(std::size_t(64) << 20);  // larger than any last-level cache of such a PC
    for (auto _ : state) {
        const int len = pair.sign();
        for (std::size_t i = 0; i < sweep.size(); i += 64)
            ++sweep[i];
        benchmark::ClobberMemory();
        // Timed by hand: pausing the benchmark's own timer costs more than the check with caches this cold.
        const auto started = std::chrono::steady_clock::now();
        pair.check(len);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
}
// A fixed count: the sweep, outside the timing, would otherwise run until the timed part adds up to the
// minimum time.
BENCHMARK(BM_VerifyDatagramColdCaches)->UseManualTime()->Iterations(300);

BENCHMARK_MAIN();
