// SPDX-License-Identifier: MIT
// The `run` subcommand: the one-command demo. It starts a master and N slaves as processes of this
// machine on loopback addresses, admits the slaves and plays a scripted session through the master's
// standard input, showing progress as it goes; every wait has a time-out that ends the run with a clear
// error. A summary per slave closes it.
#pragma once

#include "HostProcess.h"
#include "DemoOptions.h"
#include "RunSummary.h"

#include <memory>
#include <vector>

class DemoRun
{
public:
    explicit DemoRun(RunOptions options);

    DemoRun(const DemoRun&) = delete;
    DemoRun& operator=(const DemoRun&) = delete;

    // Plays the session; 0 only when every slave got every command and every wait was met.
    int exec();

private:
    using Step = bool (DemoRun::*)();

    // The steps in order, each shown with its outcome; false at the first that fails.
    bool runSteps();
    // The summary table and the closing line; true when the run succeeded in every respect.
    bool verdict(bool stepsDone, bool endedCleanly) const;

    bool startProcesses();
    bool discover();
    bool prepare();
    bool synchroniseClocks();
    bool play();
    bool stopAndComplete();
    bool readRoster();
    bool shutDown();

    // Has the master send a playback command, then shows how it reached the slaves.
    bool sendPlayback(const QString& line);
    // Has the master wait (its "wait" command); true when the wait was met.
    bool masterWait(const QString& what, int timeoutMs);
    // Sends `line` to the master and waits for its next `event` line.
    std::optional<EventLine> askMaster(const QString& line, const QString& event, int timeoutMs);
    bool fail(const QString& message, const HostProcess* culprit = nullptr);
    void printStep(int number, int count, const char* title, const QString& result) const;
    std::vector<SlaveRecord> slaveRecords() const;

    const RunOptions m_options;
    quint16 m_port = 0;
    std::unique_ptr<HostProcess> m_master;
    std::vector<std::unique_ptr<HostProcess>> m_slaves;
    std::vector<qint64> m_injectedOffsetsUs;   // per slave
    std::vector<QString> m_slaveLayers;        // per slave
    int m_rosterEntries = 0;                   // expected: one per slave and layer
    std::vector<SentCommand> m_sent;
    std::vector<EventLine> m_roster;           // the master's last status
    QString m_stepResult;                      // the running step's outcome, for its line
    QStringList m_stepDetails;                 // lines shown below it
};
