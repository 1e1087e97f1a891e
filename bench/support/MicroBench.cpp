// SPDX-License-Identifier: MIT
#include "support/MicroBench.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <stdexcept>
#include <string>

namespace {

constexpr int kTimeoutMs = 120000;
constexpr double kEstimateEveryNs = 3e9;
constexpr double kSteerEveryNs = 5e8;

} // namespace

std::map<QString, double> runMicrobench(bool quick, const QString& filter)
{
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/tamo_microbench");
    QStringList arguments{QStringLiteral("--benchmark_format=json"),
                          QStringLiteral("--benchmark_min_time=") + (quick ? QStringLiteral("0.05") : QStringLiteral("0.5"))};
    if (!filter.isEmpty())
        arguments.append(QStringLiteral("--benchmark_filter=") + filter);
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(kTimeoutMs) || process.exitCode() != 0)
        throw std::runtime_error("tamo_microbench failed: " + process.errorString().toStdString());
    const QJsonDocument document = QJsonDocument::fromJson(process.readAllStandardOutput());
    std::map<QString, double> nsPerCall;
    for (const QJsonValue& benchmark : document.object().value(QStringLiteral("benchmarks")).toArray()) {
        const QJsonObject object = benchmark.toObject();
        if (object.value(QStringLiteral("time_unit")).toString() != QStringLiteral("ns"))
            continue;
        // A benchmark that times itself by hand reports that time as real time; its CPU time is the whole loop's.
        const QString name = object.value(QStringLiteral("name")).toString();
        const bool timedByHand = name.endsWith(QLatin1String("/manual_time"));
        nsPerCall[name] = object.value(timedByHand ? QStringLiteral("real_time") : QStringLiteral("cpu_time")).toDouble();
    }
    return nsPerCall;
}

double lookUp(const std::map<QString, double>& nsPerCall, const char* name)
{
    const auto it = nsPerCall.find(QString::fromLatin1(name));
    if (it == nsPerCall.end())
        throw std::runtime_error(std::string("tamo_microbench reported no ") + name);
    return it->second;
}

double rateCorrectionCpuPercent(double estimateSampleNs, double steeringStepNs)
{
    return (estimateSampleNs / kEstimateEveryNs + steeringStepNs / kSteerEveryNs) * 100;
}
