// SPDX-License-Identifier: MIT
#include "RunSummary.h"

#include "TextTable.h"

#include <algorithm>
#include <cstdlib>

namespace {

QString signedMilliseconds(qint64 us)
{
    return (us >= 0 ? QStringLiteral("+") : QString()) + RunSummary::milliseconds(us, 3);
}

// Master's send to the slave's callback, or nothing when the slave never printed the command.
std::optional<qint64> latencyOf(const SentCommand& command, const SlaveRecord& slave)
{
    for (const EventLine& event : *slave.events) {
        if (event.event() == QLatin1String("received") && event.value(QStringLiteral("user-data")) == command.tag)
            return event.integer(QStringLiteral("mono-us")) - command.monoUs;
    }
    return std::nullopt;
}

} // namespace

RunSummary::RunSummary(const std::vector<SentCommand>& sent, const std::vector<SlaveRecord>& slaves,
                       const std::vector<EventLine>& roster)
    : m_sentCount(int(sent.size()))
{
    for (const SlaveRecord& slave : slaves) {
        Row row;
        row.slave = &slave;
        for (const SentCommand& command : sent) {
            if (const std::optional<qint64> latency = latencyOf(command, slave))
                row.latenciesUs.push_back(*latency);
        }
        for (const EventLine& event : *slave.events) {
            if (event.event() == QLatin1String("clock-offset"))
                row.estimatedOffsetUs = event.integer(QStringLiteral("us"));
        }
        // On line when the master sees every roster entry of the process on line.
        int entries = 0;
        int online = 0;
        for (const EventLine& entry : roster) {
            if (entry.value(QStringLiteral("ip")) == slave.ip && entry.integer(QStringLiteral("pid")) == slave.pid) {
                ++entries;
                online += entry.integer(QStringLiteral("online")) == 1 ? 1 : 0;
            }
        }
        row.online = entries > 0 && online == entries;
        m_rows.push_back(std::move(row));
    }
}

std::vector<qint64> RunSummary::latenciesOf(const SentCommand& command, const std::vector<SlaveRecord>& slaves)
{
    std::vector<qint64> latencies;
    for (const SlaveRecord& slave : slaves) {
        if (const std::optional<qint64> latency = latencyOf(command, slave))
            latencies.push_back(*latency);
    }
    return latencies;
}

qint64 RunSummary::median(std::vector<qint64> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

qint64 RunSummary::worst(const std::vector<qint64>& latencies)
{
    if (latencies.empty())
        return 0;
    const auto [lowest, highest] = std::minmax_element(latencies.begin(), latencies.end());
    return *lowest < 0 ? *lowest : *highest;
}

QString RunSummary::milliseconds(qint64 us, int decimals)
{
    return QStringLiteral("%1 ms").arg(double(us) / 1000.0, 0, 'f', decimals);
}

QString RunSummary::latencyText(qint64 us)
{
    return us < 0 ? milliseconds(us) + QStringLiteral(" IMPOSSIBLE") : milliseconds(us);
}

QStringList RunSummary::tableLines() const
{
    TextTable table({QStringLiteral("slave"), QStringLiteral("pid"), QStringLiteral("layers"), QStringLiteral("commands"),
                     QStringLiteral("latency median"), QStringLiteral("worst"), QStringLiteral("offset injected"),
                     QStringLiteral("estimated"), QStringLiteral("error"), QStringLiteral("online")});
    for (const Row& row : m_rows) {
        const bool hasLatency = !row.latenciesUs.empty();
        QString estimated = QStringLiteral("none");
        QString error = QStringLiteral("-");
        if (row.estimatedOffsetUs) {
            estimated = signedMilliseconds(*row.estimatedOffsetUs);
            error = QStringLiteral("%1%2 us")
                        .arg(*row.estimatedOffsetUs >= row.slave->injectedOffsetUs ? QStringLiteral("+") : QString())
                        .arg(*row.estimatedOffsetUs - row.slave->injectedOffsetUs);
        }
        table.addRow({row.slave->ip, QString::number(row.slave->pid), row.slave->layers,
                      QStringLiteral("%1/%2").arg(row.latenciesUs.size()).arg(m_sentCount),
                      hasLatency ? latencyText(median(row.latenciesUs)) : QStringLiteral("-"),
                      hasLatency ? latencyText(worst(row.latenciesUs)) : QStringLiteral("-"),
                      signedMilliseconds(row.slave->injectedOffsetUs), estimated, error,
                      row.online ? QStringLiteral("yes") : QStringLiteral("no")});
    }
    return table.lines();
}

bool RunSummary::everyCommandDelivered() const
{
    return std::all_of(m_rows.begin(), m_rows.end(), [this](const Row& row) { return int(row.latenciesUs.size()) == m_sentCount; });
}

bool RunSummary::everyOffsetFound() const
{
    return std::all_of(m_rows.begin(), m_rows.end(), [](const Row& row) {
        return row.estimatedOffsetUs
               && std::llabs(*row.estimatedOffsetUs - row.slave->injectedOffsetUs) < kOffsetToleranceUs;
    });
}

bool RunSummary::everyLatencyPossible() const
{
    return std::all_of(m_rows.begin(), m_rows.end(), [](const Row& row) { return worst(row.latenciesUs) >= 0; });
}

bool RunSummary::everySlaveOnline() const
{
    return std::all_of(m_rows.begin(), m_rows.end(), [](const Row& row) { return row.online; });
}
