// SPDX-License-Identifier: MIT
// tamo_microbench (Google Benchmark, beside this program): runs it and reads the CPU time per call of
// each benchmark from its JSON.
#pragma once

#include <QString>

#include <map>

// ns of CPU per call, by benchmark name ("BM_ClockSteeringStep", "BM_ClockEstimateSample/41", ...);
// `filter` picks benchmarks by regular expression (all when empty). Throws std::runtime_error when the
// program fails.
std::map<QString, double> runMicrobench(bool quick, const QString& filter = QString());
// One benchmark's figure; throws std::runtime_error when it was not reported.
double lookUp(const std::map<QString, double>& nsPerCall, const char* name);

// What keeping a pipeline on the master's time line costs a playing slave, in % of one core: the
// estimate is refitted once per accepted clock sample (every 3 s while playing) and the clock is steered
// twice a second.
double rateCorrectionCpuPercent(double estimateSampleNs, double steeringStepNs);
