// SPDX-License-Identifier: MIT
// One show of multinet-player on loopback, as a venue runs it: slaves on 127.0.0.2 onwards with their
// host clocks off by known amounts, a master with the operator's page that loops a clip until told to
// quit, every player writing its frame log, and the slaves reporting their health to the master. It can
// be keyed (a key file for every player), and it can have a page open (an event stream held on the
// master's /api/events, what an open page holds). The master's "health" lines say what it received.
// Driver thread only: the waits run its event loop.
#pragma once

#include "HostProcess.h"

#include <QProcess>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

// One slave's health as the master printed it.
struct HealthReading
{
    std::int64_t monoNs = 0;        // when the master was asked
    int slave = 0;                  // index of the slave
    bool known = false;             // a report arrived
    double offsetUs = 0;            // the slave's clock minus the master's
    std::int64_t ageMs = 0;         // how long before the reading the master received the report
    bool presentationKnown = false;
    std::int64_t lateP50Us = 0;
    std::int64_t lateP99Us = 0;
    std::int64_t framesDropped = 0;
};

struct PlayerShowSettings
{
    int slaves = 2;
    QString clip;
    QString workDir;  // frame logs, the key and token files
    QString name;     // of this show's files
    bool keyed = false;
    bool pageOpen = false;
};

class PlayerShow
{
public:
    // Starts the players and waits until the master has started the programme; throws std::runtime_error
    // when a player does not start or the programme does not.
    explicit PlayerShow(const PlayerShowSettings& settings);
    ~PlayerShow();

    PlayerShow(const PlayerShow&) = delete;
    PlayerShow& operator=(const PlayerShow&) = delete;

    // When the programme started (monotonic).
    std::int64_t startedNs() const { return m_startedNs; }
    // Waits `ms` with the players' output read meanwhile.
    void waitMs(int ms);
    // Asks the master for its slaves' health; one reading for each slave it printed.
    std::vector<HealthReading> readHealth();
    // Quits every player, so that its frame log is complete; throws when the page's stream ended early.
    void finish();

    QString masterFrameLog() const;
    QString slaveFrameLog(int slave) const;
    std::int64_t injectedOffsetUs(int slave) const;

private:
    QString path(const QString& suffix) const;
    void writeKeyFiles() const;
    void openPage(const QString& url);

    const PlayerShowSettings m_settings;
    std::vector<std::unique_ptr<HostProcess>> m_slaves;
    std::vector<QString> m_slaveKeys;  // ip_pid, as the master's health lines name them
    std::unique_ptr<HostProcess> m_master;
    QProcess m_page;
    std::int64_t m_startedNs = 0;
};
