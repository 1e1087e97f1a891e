// SPDX-License-Identifier: MIT
// The closing table of `run`: per slave, the commands that reached its host of those the master sent,
// the delivery latency (master's send to the slave's callback, both read on the monotonic clock that all
// processes here share), the clock offset it was told against the one it was given, and whether the
// master sees it on line.
#pragma once

#include "EventLine.h"

#include <QStringList>

#include <optional>
#include <vector>

struct SentCommand
{
    QString name;
    QString tag;     // the user data that went with it
    qint64 monoUs;   // when the master handed it to the library
};

struct SlaveRecord
{
    QString ip;
    qint64 pid = 0;
    QString layers;
    qint64 injectedOffsetUs = 0;              // its host clock minus the master's
    const std::vector<EventLine>* events = nullptr;  // everything it printed, in order
};

class RunSummary
{
public:
    // An estimate further off than this does not count as found: a sample whose delay reaches 0.8 ms is
    // thrown away, so an accepted one is never off by that much.
    static constexpr qint64 kOffsetToleranceUs = 1000;

    RunSummary(const std::vector<SentCommand>& sent, const std::vector<SlaveRecord>& slaves,
               const std::vector<EventLine>& roster);

    // The latencies of one command to every slave that printed it.
    static std::vector<qint64> latenciesOf(const SentCommand& command, const std::vector<SlaveRecord>& slaves);
    static qint64 median(std::vector<qint64> values);
    // The latency furthest from a possible one: the lowest when it is negative, else the highest; 0 for none.
    static qint64 worst(const std::vector<qint64>& latencies);
    static QString milliseconds(qint64 us, int decimals = 2);
    // A latency in milliseconds, flagged when it is negative: a callback cannot come before its send, so
    // the processes' clocks or the demo's bookkeeping are wrong.
    static QString latencyText(qint64 us);

    QStringList tableLines() const;
    bool everyCommandDelivered() const;
    bool everyOffsetFound() const;
    bool everySlaveOnline() const;
    bool everyLatencyPossible() const;

private:
    struct Row
    {
        const SlaveRecord* slave = nullptr;
        std::vector<qint64> latenciesUs;          // one per command that reached it
        std::optional<qint64> estimatedOffsetUs;  // the last offset its host was told
        bool online = false;
    };

    std::vector<Row> m_rows;
    int m_sentCount = 0;
};
