// Micro-benchmarks of the library's inner steps: building a start datagram, the completeness test and
// header decoding of a received one, and the slave's arithmetic for one clock sample. Copying the same
// bytes is the baseline that the driver divides by.
#include "protocol/DatagramCodec.h"
#include "protocol/MessageCode.h"
#include "protocol/Payloads.h"
#include "slave/ClockSampleMath.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <vector>

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

} // namespace

BENCHMARK_MAIN();
