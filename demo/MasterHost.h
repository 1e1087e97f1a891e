// SPDX-License-Identifier: MIT
// The `master` subcommand: the master player host. It reads commands from standard input, one a line,
// and carries them out one after the other; "help" lists them. Each playback command carries the text
// "cmd<N>" as user data, so that the slaves' lines can be matched to the master's "sent" lines. A "wait"
// holds the following lines back while it waits, with the event loop running.
#pragma once

#include "CommandArgs.h"
#include "DemoOptions.h"
#include "HostClock.h"
#include "KeyFileReload.h"
#include "StdinLines.h"

#include <MultiNetControl.h>

#include <QByteArray>

#include <functional>
#include <memory>

class MasterHost
{
public:
    explicit MasterHost(MasterOptions options);

    MasterHost(const MasterHost&) = delete;
    MasterHost& operator=(const MasterHost&) = delete;

    // Runs the event loop until "quit" or the end of input; returns the exit status: 1 when the library
    // does not listen or a wait was not met.
    int exec();

private:
    using Handler = void (MasterHost::*)(CommandArgs&);
    struct Command
    {
        const char* name;
        const char* values;
        const char* help;
        int mostValues;
        Handler handler;
    };
    static const std::vector<Command>& commands();

    void execute(const QString& line);

    // The playback commands share one way out: a fresh tag as user data, the send time, the result.
    void sendPlayback(const char* name, int layerId, const std::function<bool(char*, int)>& send);
    void printSent(const char* name, bool result, qint64 monoUs, int layerId = -1, const QByteArray& tag = {});

    void find(CommandArgs& args);
    void prepare(CommandArgs& args);
    void start(CommandArgs& args);
    void pause(CommandArgs& args);
    void stop(CommandArgs& args);
    void seek(CommandArgs& args);
    void speed(CommandArgs& args);
    void step(CommandArgs& args);
    void stepBack(CommandArgs& args);
    void clockSync(CommandArgs& args);
    void stopClockSync(CommandArgs& args);
    void status(CommandArgs& args);
    void wait(CommandArgs& args);
    void sleep(CommandArgs& args);
    void help(CommandArgs& args);
    void quit(CommandArgs& args);

    const MasterOptions m_options;
    HostClock m_clock;
    NetControlNS::slaveControlCbk m_callbacks;  // outlives m_control; its clock is read from several threads
    MultiNetControl m_control;                  // made and destroyed on the main thread
    std::unique_ptr<KeyFileReload> m_keys;      // with --key-file: puts its keys in m_control, again on SIGHUP
    StdinLines m_input;
    bool m_quitting = false;  // main thread only
    int m_unmetWaits = 0;     // main thread only; any makes the exit status 1
    int m_nextTag = 1;
};
