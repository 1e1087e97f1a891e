// SPDX-License-Identifier: MIT
// The scenarios that the driver runs. Each starts its role processes, measures the library and its
// baseline in the same run, adds its rows to the table and returns its figures for the JSON file.
// Each throws std::runtime_error when a role fails or falls silent.
#pragma once

#include "support/ResultTable.h"
#include "support/Stats.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <string>

struct ScenarioSettings
{
    bool quick = false;  // the few-seconds form that ctest runs
    QString outputDir = QStringLiteral(".");  // where a scenario writes files beside the figures (a plot)
    int programmes = 0;  // how many programmes a scenario that plays several plays (0: its own count)
    QString soundServer = QStringLiteral("pulseaudio");  // the sound scenario's (support/SoundRig.h)
};

QJsonValue runLatencyScenario(const ScenarioSettings& settings, ResultTable& table);
QJsonValue runThroughputScenario(const ScenarioSettings& settings, ResultTable& table);
QJsonValue runClockScenario(const ScenarioSettings& settings, ResultTable& table);
QJsonValue runMasterScaleScenario(const ScenarioSettings& settings, ResultTable& table);
QJsonValue runHostCostScenario(const ScenarioSettings& settings, ResultTable& table);
QJsonValue runMicroScenario(const ScenarioSettings& settings, ResultTable& table);
QJsonValue runPlaybackScenario(const ScenarioSettings& settings, ResultTable& table);
QJsonValue runLoadedPlaybackScenario(const ScenarioSettings& settings, ResultTable& table);
QJsonValue runPlayerHealthScenario(const ScenarioSettings& settings, ResultTable& table);
QJsonValue runLossyScenario(const ScenarioSettings& settings, ResultTable& table);
QJsonValue runLongrunScenario(const ScenarioSettings& settings, ResultTable& table);
QJsonValue runSoundScenario(const ScenarioSettings& settings, ResultTable& table);

// Helpers shared by the scenarios.
QJsonObject toJson(const Summary& summary);
// "p50 / p99 / max" or "p50 / p99" of a summary, in its unit.
std::string percentiles(const Summary& summary, bool withMax);
// The ratio as a JSON number, or null when there is none.
QJsonValue ratioJson(double numerator, double denominator);
// Progress on standard error, so that standard output carries only the table.
void progress(const std::string& line);
std::string str(std::int64_t value);
