// SPDX-License-Identifier: MIT
#include "scenarios/Scenarios.h"

#include <cstdio>

QJsonObject toJson(const Summary& summary)
{
    return QJsonObject{{"count", static_cast<double>(summary.count)},
                       {"mean", summary.mean},
                       {"p50", summary.p50},
                       {"p99", summary.p99},
                       {"max", summary.max}};
}

std::string percentiles(const Summary& summary, bool withMax)
{
    std::string text = fixed(summary.p50) + " / " + fixed(summary.p99);
    return withMax ? text + " / " + fixed(summary.max) : text;
}

QJsonValue ratioJson(double numerator, double denominator)
{
    const std::optional<double> ratio = ratioOf(numerator, denominator);
    return ratio ? QJsonValue(*ratio) : QJsonValue(QJsonValue::Null);
}

void progress(const std::string& line)
{
    std::fprintf(stderr, "bench: %s\n", line.c_str());
}

std::string str(std::int64_t value)
{
    return std::to_string(value);
}
