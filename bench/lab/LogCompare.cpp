// SPDX-License-Identifier: MIT
#include "LogCompare.h"

#include "EventLine.h"
#include "SkewStats.h"

#include <QCommandLineParser>

#include <algorithm>
#include <cstdio>

int compareFrameLogs(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("multinet-lab compare: the skew of frame logs against a reference"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("bound-us"), QStringLiteral("The p99 skew each log stays within (default 1000)."),
                      QStringLiteral("US")});
    parser.addOption({QStringLiteral("since-ns"),
                      QStringLiteral("Compare only the frames each LOG shows from this CLOCK_MONOTONIC time on (a player that "
                                     "started again, or came back after an outage, from then)."),
                      QStringLiteral("NS")});
    parser.addPositionalArgument(QStringLiteral("REFERENCE"), QStringLiteral("The master's frame log."));
    parser.addPositionalArgument(QStringLiteral("LOG"), QStringLiteral("A slave's frame log (one or more)."), QStringLiteral("LOG..."));
    QStringList withoutSubcommand = arguments;
    withoutSubcommand.removeAt(1);
    const bool parsed = parser.parse(withoutSubcommand);
    if (parsed && parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    bool boundOk = true;
    const qint64 boundUs = parser.isSet(QStringLiteral("bound-us")) ? parser.value(QStringLiteral("bound-us")).toLongLong(&boundOk) : 1000;
    bool sinceOk = true;
    const qint64 sinceNs = parser.isSet(QStringLiteral("since-ns")) ? parser.value(QStringLiteral("since-ns")).toLongLong(&sinceOk) : 0;
    if (!parsed || !boundOk || boundUs <= 0 || !sinceOk || parser.positionalArguments().size() < 2) {
        std::fprintf(stderr, "multinet-lab compare: %s\n",
                     !parsed ? qPrintable(parser.errorText())
                     : !boundOk || boundUs <= 0 ? "--bound-us takes a positive whole number"
                     : !sinceOk ? "--since-ns takes a whole number"
                                : "REFERENCE and at least one LOG are needed");
        return 2;
    }
    const QStringList paths = parser.positionalArguments();
    QString error;
    const std::vector<ShownFrame> reference = FrameLog::read(paths.front(), error);
    if (reference.empty()) {
        std::fprintf(stderr, "multinet-lab compare: no frames in %s %s\n", qPrintable(paths.front()), qPrintable(error));
        return 1;
    }
    bool within = true;
    for (int i = 1; i < paths.size(); ++i) {
        error.clear();
        std::vector<ShownFrame> frames = FrameLog::read(paths[i], error);
        frames.erase(std::remove_if(frames.begin(), frames.end(), [sinceNs](const ShownFrame& f) { return f.monoNs < sinceNs; }),
                     frames.end());
        const SkewFigures skew = SkewStats::compare(reference, frames);
        const std::optional<qint64> inStep = SkewStats::inStepFrom(reference, frames, boundUs);
        const bool ok = skew.matched > 0 && skew.p99Us <= boundUs;
        within = within && ok;
        EventLine(QStringLiteral("skew"))
            .add(QStringLiteral("log"), paths[i])
            .add(QStringLiteral("frames"), int(frames.size()))
            .add(QStringLiteral("reference-frames"), int(reference.size()))
            .add(QStringLiteral("matched"), skew.matched)
            .add(QStringLiteral("p50-us"), skew.p50Us)
            .add(QStringLiteral("p99-us"), skew.p99Us)
            .add(QStringLiteral("max-us"), skew.maxUs)
            .add(QStringLiteral("same-frame"), SkewStats::sameFrameShare({reference, frames}), 4)
            .add(QStringLiteral("in-step-from-ns"), inStep.value_or(-1))
            .add(QStringLiteral("within"), ok)
            .print();
    }
    return within ? 0 : 1;
}
