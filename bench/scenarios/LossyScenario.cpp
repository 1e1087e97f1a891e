// SPDX-License-Identifier: MIT
// Playing on a network that loses datagrams: multinet-player's master and three slaves on separate hosts
// of a namespace test network, each slave's link losing 0, 5, 10 and 20 % of the UDP datagrams at random
// both ways (nftables), ten 2-minute programmes at each level, one slave restarted a third of the way
// into each. The figures: the share of commands that every slave applied, the time from the restarted
// slave's start to its first frame in step, the skew p99 of each slave, and what acknowledged delivery
// adds on the wire per command and slave. tools/lossy-programme.sh plays each programme. Root only (it
// makes namespaces); not in the default set, since its full form takes about 90 minutes.
#include "scenarios/Scenarios.h"

#include "support/PlayerBinary.h"

#include <QJsonArray>
#include <QProcess>

#include <map>
#include <unistd.h>

namespace {

constexpr int kLossPercents[] = {0, 5, 10, 20};
// IP and UDP headers: nftables counts whole IP datagrams, the computed cost counts what UDP carries.
constexpr double kHeaderBytes = 28;
constexpr double kAckBytes = 28;

struct Level
{
    int programmes = 0;
    int failed = 0;
    double commands = 0;
    double applied = 0;
    std::vector<double> restartMs;
    int neverInStep = 0;
    std::vector<double> skewP99Us;
    double seen = 0, dropped = 0;
    double originals = 0, originalBytes = 0;
    double extras = 0, extraBytes = 0;  // repeats and acknowledgements, bytes without IP and UDP headers

    double share(double part, double whole) const { return whole > 0 ? part / whole : 0; }
    double loss() const { return share(dropped, seen); }
    // What the cost model in the README says acknowledged delivery adds per command and slave, for the
    // loss measured and the commands' mean size: a repeat per lost copy or acknowledgement, and an
    // acknowledgement per copy that arrives.
    double computedExtraBytes() const
    {
        const double commandBytes = share(originalBytes, originals);
        const double copies = 1.0 / ((1 - loss()) * (1 - loss()));
        return (copies - 1) * commandBytes + (1 - loss()) * copies * kAckBytes;
    }
};

std::string scriptPath()
{
    return TAMO_BENCH_TOOLS_DIR "/lossy-programme.sh";
}

// The "key=value" fields of the script's figures line; empty when the programme failed.
std::map<std::string, std::string> playProgramme(int lossPercent, int seconds)
{
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral("bash"), {QString::fromStdString(scriptPath()), QString::number(lossPercent),
                                          QString::number(seconds), playerPath()});
    script.waitForFinished((seconds + 240) * 1000);
    const QString output = QString::fromLocal8Bit(script.readAll());
    std::map<std::string, std::string> fields;
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("programme ")))
            continue;
        for (const QString& word : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const int equals = word.indexOf(QLatin1Char('='));
            if (equals > 0)
                fields[word.left(equals).toStdString()] = word.mid(equals + 1).toStdString();
        }
    }
    if (script.exitStatus() != QProcess::NormalExit || script.exitCode() != 0 || fields.empty()) {
        progress("lossy: a programme failed; its last lines:\n" + output.right(3000).toStdString());
        fields.clear();
    } else if (fields.count("not-applied") && fields.at("not-applied") != "-") {
        progress("lossy: commands a slave did not apply (slave:command): " + fields.at("not-applied"));
    }
    return fields;
}

void add(Level& level, const std::map<std::string, std::string>& fields)
{
    auto number = [&](const char* key) { return std::stod(fields.at(key)); };
    level.commands += number("commands");
    level.applied += number("commands-applied");
    const double restartMs = number("restart-in-step-ms");
    if (restartMs >= 0)
        level.restartMs.push_back(restartMs);
    else
        ++level.neverInStep;
    for (const QString& p99 : QString::fromStdString(fields.at("skew-p99-us")).split(QLatin1Char(','))) {
        if (p99.toDouble() >= 0)
            level.skewP99Us.push_back(p99.toDouble());
    }
    level.seen += number("seen");
    level.dropped += number("dropped");
    level.originals += number("originals");
    level.originalBytes += number("originals-bytes") - kHeaderBytes * number("originals");
    const double extras = number("repeats") + number("acks");
    level.extras += extras;
    level.extraBytes += number("repeats-bytes") + number("acks-bytes") - kHeaderBytes * extras;
}

QJsonObject toJson(int lossPercent, const Level& level)
{
    return QJsonObject{{"loss_percent", lossPercent},
                       {"programmes", level.programmes},
                       {"failed", level.failed},
                       {"measured_loss", level.loss()},
                       {"commands", level.commands},
                       {"commands_applied_by_every_slave", level.applied},
                       {"applied_share", level.share(level.applied, level.commands)},
                       {"restart_to_in_step_ms", toJson(summarize(level.restartMs))},
                       {"restarts_never_in_step", level.neverInStep},
                       {"skew_p99_us", toJson(summarize(level.skewP99Us))},
                       {"extra_datagrams_per_command_slave", level.share(level.extras, level.originals)},
                       {"extra_bytes_per_command_slave", level.share(level.extraBytes, level.originals)},
                       {"computed_extra_bytes_per_command_slave", level.computedExtraBytes()},
                       {"command_bytes", level.share(level.originalBytes, level.originals)}};
}

void addRows(int lossPercent, const Level& level, ResultTable& table)
{
    const std::string name = "lossy, " + str(lossPercent) + "% each way (measured " + fixed(100 * level.loss()) + "%)";
    const Summary restart = summarize(level.restartMs);
    const Summary skew = summarize(level.skewP99Us);
    table.add(name, "programmes played (failed)", str(level.programmes) + " (" + str(level.failed) + ")");
    table.add(name, "commands applied by every slave (%)",
              fixed(100 * level.share(level.applied, level.commands), 2) + " of " + str(std::int64_t(level.commands)));
    table.add(name, "restarted slave: ready to in step p50 / max (ms)",
              restart.count ? fixed(restart.p50, 0) + " / " + fixed(restart.max, 0) : "-",
              level.neverInStep ? str(level.neverInStep) + " never in step" : "-");
    table.add(name, "skew p99 per slave: p50 / max over slaves (us)",
              skew.count ? fixed(skew.p50, 0) + " / " + fixed(skew.max, 0) : "-");
    table.add(name, "added per command and slave: datagrams; bytes (computed)",
              fixed(level.share(level.extras, level.originals), 2) + "; " +
                  fixed(level.share(level.extraBytes, level.originals), 0),
              fixed(level.computedExtraBytes(), 0), ratioOf(level.extraBytes, level.originals * level.computedExtraBytes()));
}

} // namespace

QJsonValue runLossyScenario(const ScenarioSettings& settings, ResultTable& table)
{
    if (geteuid() != 0) {
        progress("lossy: skipped, it makes network namespaces, which needs root");
        table.add("lossy", "-", "skipped: needs root (network namespaces)");
        return QJsonValue(QJsonValue::Null);
    }
    if (!playerBuilt()) {
        table.add("lossy", "-", kPlayerNotBuilt);
        return QJsonValue(QJsonValue::Null);
    }
    const int programmes = settings.programmes > 0 ? settings.programmes : settings.quick ? 1 : 10;
    const int seconds = settings.quick ? 30 : 120;
    QJsonArray levels;
    for (const int lossPercent : kLossPercents) {
        Level level;
        for (int i = 0; i < programmes; ++i) {
            progress("lossy: " + str(lossPercent) + "% loss, programme " + str(i + 1) + " of " + str(programmes) + ", " +
                     str(seconds) + " s");
            const std::map<std::string, std::string> fields = playProgramme(lossPercent, seconds);
            ++level.programmes;
            if (fields.empty())
                ++level.failed;
            else
                add(level, fields);
        }
        addRows(lossPercent, level, table);
        levels.append(toJson(lossPercent, level));
    }
    return QJsonObject{{"programme_seconds", seconds}, {"levels", levels}};
}
