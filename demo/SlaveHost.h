// SPDX-License-Identifier: MIT
// The `slave` subcommand: a player host that follows its master. Every command that reaches the host's
// callbacks is printed with the monotonic time of the call, and every clock offset the host is told on a
// line of its own. The player reports prepared when it prepares and complete when a layer stops.
// Standard input: "advance-clock US" moves the host clock forward (to make a lost master show without
// waiting 50 s), "status" shows the player and what a keyed group dropped, "quit" ends the program.
#pragma once

#include "DemoOptions.h"
#include "EventLine.h"
#include "HostClock.h"
#include "KeyFileReload.h"
#include "SimulatedPlayer.h"
#include "StdinLines.h"

#include <MultiNetControl.h>

#include <memory>
#include <vector>

class SlaveHost
{
public:
    explicit SlaveHost(SlaveOptions options);

    SlaveHost(const SlaveHost&) = delete;
    SlaveHost& operator=(const SlaveHost&) = delete;

    // Runs the event loop until "quit" (or, started by `run`, the end of input); returns the exit status:
    // 1 when the library does not listen.
    int exec();

private:
    NetControlNS::slaveControlCbk makeCallbacks();
    // Prints the received command with the time of its callback and the player layers it changed.
    void printReceived(EventLine received, qint64 monoUs, int layerId, const char* userData, int userDataLen,
                       const std::vector<int>& changedLayers) const;
    void printLayers(const std::vector<int>& layerIds) const;
    using Report = bool (MultiNetControl::*)(int layerId);
    // Sends one report per layer and prints each.
    void report(Report send, const char* what, const std::vector<int>& layerIds);
    void handleInput(const QString& line);

    const SlaveOptions m_options;
    HostClock m_clock;
    SimulatedPlayer m_player;
    // Made before m_control and destroyed after it; the library calls it from its worker and heartbeat
    // threads.
    NetControlNS::slaveControlCbk m_callbacks;
    // Made and destroyed on the main thread, whose event loop receives for it. A member, not a pointer:
    // the callbacks still reach it while its destructor stops the worker.
    MultiNetControl m_control;
    std::unique_ptr<KeyFileReload> m_keys;  // with --key-file: puts its keys in m_control, again on SIGHUP
    StdinLines m_input;
};
