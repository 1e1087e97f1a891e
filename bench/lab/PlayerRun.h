// SPDX-License-Identifier: MIT
// The `run` subcommand: a master and N slaves of multinet-player as processes of this machine on loopback
// (127.0.0.1 and 127.0.0.2 onwards), slaves with host clocks off by a few milliseconds, play a real clip
// through one session. Their frame logs give the skew table. With --control the slaves ignore the clock offset (the
// skew must then show the injected offsets); with --anchor the same session also runs on GStreamer's
// network clock (with --clock gstreamer-net only that). --slave-prefix starts each slave under a command
// of its own (a time-warp wrapper that drifts the whole process, say). Exits 0 when every wait was met
// and the figures are within their bound.
#pragma once

#include "HostProcess.h"
#include "PlayerRunOptions.h"
#include "SkewReport.h"

#include <QTemporaryDir>

#include <memory>
#include <optional>

class PlayerRun
{
public:
    explicit PlayerRun(PlayerRunOptions options);
    int exec();

private:
    enum class Mode { Library, Control, GstNet };

    bool prepareWorkDir();
    // Before the players start: the clip read in once, pending disk writes written out.
    void warmUp() const;
    // Plays one session and reads its figures; nothing when a process did not start.
    std::optional<SessionReport> playSession(Mode mode);
    // The simulated drift of slave `slave`'s oscillator.
    double driftOf(int slave) const;
    // Whether --slave-prefix drifts the slaves' processes itself (it names {ppm} or {rate}).
    bool prefixDrifts() const;
    // Slave `slave`'s process with `arguments`, under the prefix command when there is one.
    std::unique_ptr<HostProcess> makeSlave(int slave, const QStringList& arguments) const;
    bool verdict(const SessionReport& report, Mode mode, QStringList& shortfalls) const;
    void writeJson(const std::vector<std::pair<Mode, SessionReport>>& reports) const;

    const PlayerRunOptions m_options;
    const QString m_player;  // the multinet-player that plays
    std::unique_ptr<QTemporaryDir> m_tempDir;
    QString m_workDir;
    QString m_clip;
};
