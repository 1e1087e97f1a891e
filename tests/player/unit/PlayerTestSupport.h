// SPDX-License-Identifier: MIT
// What the player's tests share: a main that brings GStreamer up around the test and down after it, the
// players' processes and their lines, frames of a stretch of time, and files a test writes.
#pragma once

#include "EventLine.h"
#include "FrameLog.h"
#include "HostProcess.h"

#include <QFile>
#include <QtTest>

#include <gst/gst.h>

#include <algorithm>
#include <memory>

template <class Test>
int runWithGStreamer(int argc, char* argv[])
{
    gst_init(&argc, &argv);
    QCoreApplication app(argc, argv);
    Test test;
    const int status = QTest::qExec(&test, argc, argv);
    // GStreamer's own threads (its task pool) end here, not while the leak check suspends every thread.
    gst_deinit();
    return status;
}

// PROGRAM ARGUMENTS... as a player NAME, started and ready within timeoutMs; nothing when it did not start.
inline std::unique_ptr<HostProcess> startPlayer(const QString& program, const QString& name, const QStringList& arguments,
                                                int timeoutMs = 15000)
{
    auto player = std::make_unique<HostProcess>(name, arguments, false, program);
    if (player->start(timeoutMs))
        return player;
    qWarning("%s: %s", qPrintable(name), qPrintable(player->startFailure()));
    return nullptr;
}

// The first line of `player` from its event `from` on that `match` takes within timeoutMs, or nothing.
inline const EventLine* awaitLine(HostProcess& player, const std::function<bool(const EventLine&)>& match, int timeoutMs,
                                  std::size_t from = 0)
{
    const int at = player.waitForEvent(match, timeoutMs, from);
    return at < 0 ? nullptr : &player.events()[std::size_t(at)];
}

// A player's "session step=STEP ..." line.
inline bool isStep(const EventLine& line, const char* step)
{
    return line.event() == QLatin1String("session") && line.value(QStringLiteral("step")) == QLatin1String(step);
}

// The rendered frames shown from fromNs up to toNs.
inline std::vector<ShownFrame> renderedBetween(const std::vector<ShownFrame>& frames, qint64 fromNs, qint64 toNs = INT64_MAX)
{
    std::vector<ShownFrame> kept;
    std::copy_if(frames.begin(), frames.end(), std::back_inserter(kept), [&](const ShownFrame& frame) {
        return frame.kind == ShownFrame::Rendered && frame.monoNs >= fromNs && frame.monoNs < toNs;
    });
    return kept;
}

// `text` as the file PATH, readable by its owner only (as key and token files must be); false when it is not.
inline bool writeOwnerOnly(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() &&
           file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}
