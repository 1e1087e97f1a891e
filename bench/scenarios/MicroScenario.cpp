// SPDX-License-Identifier: MIT
// Micro-benchmarks: runs tamo_microbench (Google Benchmark, beside this program) and reads its JSON.
#include "scenarios/Scenarios.h"

#include "support/MicroBench.h"

QJsonValue runMicroScenario(const ScenarioSettings& settings, ResultTable& table)
{
    progress("micro-benchmarks");
    const std::map<QString, double> nsPerCall = runMicrobench(settings.quick);
    const double build = lookUp(nsPerCall, "BM_BuildStartDatagram");
    const double copy = lookUp(nsPerCall, "BM_CopyStartDatagram");
    const double decode = lookUp(nsPerCall, "BM_DecodeHeader");
    const double clockSample = lookUp(nsPerCall, "BM_ClockSample");
    const double estimatePlaying = lookUp(nsPerCall, "BM_ClockEstimateSample/41");
    const double estimateStarting = lookUp(nsPerCall, "BM_ClockEstimateSample/300");
    const double steeringStep = lookUp(nsPerCall, "BM_ClockSteeringStep");
    const double logTime = lookUp(nsPerCall, "BM_LogLineTimeStamp");
    const double logTimeTzSet = lookUp(nsPerCall, "BM_LogLineTimeStampWithTzSet");
    const double sign = lookUp(nsPerCall, "BM_SignDatagram");
    const double verify = lookUp(nsPerCall, "BM_VerifyDatagram");
    const double verifyCold = lookUp(nsPerCall, "BM_VerifyDatagramColdCaches/iterations:300/manual_time");

    const std::string copyCell = fixed(copy, 2) + " (copy the 40 bytes)";
    table.add("micro", "build a start datagram (ns)", fixed(build, 2), copyCell, ratioOf(build, copy));
    table.add("micro", "test and decode a header (ns)", fixed(decode, 2), copyCell, ratioOf(decode, copy));
    table.add("micro", "one clock sample: delay, offset, gate, mean (ns)", fixed(clockSample, 2));
    // The estimate is refitted once per accepted sample: every 3 s while playing, every 100 ms at the start.
    table.add("micro", "clock estimate, one sample: 41 held / 300 held (ns)",
              fixed(estimatePlaying, 0) + " / " + fixed(estimateStarting, 0));
    table.add("micro", "clock estimate, CPU: every 3 s / every 100 ms (% of one core)",
              fixed(estimatePlaying / 3e9 * 100, 5) + " / " + fixed(estimateStarting / 1e8 * 100, 4));
    // A slave that keeps its pipeline on the master's time line steers twice a second.
    const double correctionPercent = rateCorrectionCpuPercent(estimatePlaying, steeringStep);
    table.add("micro", "rate correction: one steering step (ns); CPU while playing (% of one core)",
              fixed(steeringStep, 1) + "; " + fixed(correctionPercent, 5));
    table.add("micro", "time stamp of a slave's command log line (ns)", fixed(logTime, 0),
              fixed(logTimeTzSet, 0) + " (Qt local time, TZ set)", ratioOf(logTime, logTimeTzSet));
    // What a keyed group adds to every datagram: the sender signs it, each receiver checks it.
    table.add("micro", "keyed group: sign / check a start with 64 bytes of user data (ns)",
              fixed(sign, 0) + " / " + fixed(verify, 0));
    table.add("micro", "keyed group: check, data caches swept first (ns), against warm", fixed(verifyCold, 0),
              fixed(verify, 0), ratioOf(verifyCold, verify));
    return QJsonObject{{"build_datagram_ns", build},
                       {"copy_datagram_ns", copy},
                       {"decode_header_ns", decode},
                       {"clock_sample_ns", clockSample},
                       {"clock_estimate_sample_41_ns", estimatePlaying},
                       {"clock_estimate_sample_300_ns", estimateStarting},
                       {"clock_steering_step_ns", steeringStep},
                       {"rate_correction_cpu_percent", correctionPercent},
                       {"log_time_stamp_ns", logTime},
                       {"log_time_stamp_tz_set_ns", logTimeTzSet},
                       {"sign_datagram_ns", sign},
                       {"verify_datagram_ns", verify},
                       {"verify_datagram_cold_caches_ns", verifyCold},
                       {"build_ratio", ratioJson(build, copy)},
                       {"decode_ratio", ratioJson(decode, copy)}};
}
