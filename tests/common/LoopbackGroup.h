// SPDX-License-Identifier: MIT
// A master and its slaves as control objects of this process on loopback addresses, each with a
// recording host. Every slave is admitted by the master.
#pragma once

#include "MultiNetControl.h"
#include "common/RecordingHost.h"

#include <memory>
#include <deque>
#include <string>
#include <vector>

struct LoopbackNode
{
    std::string ip;
    std::unique_ptr<RecordingHost> host;
    std::unique_ptr<MultiNetControl> control;
};

class LoopbackGroup
{
public:
    static constexpr int kGroupId = 7;

    explicit LoopbackGroup(const std::string& masterIp = "127.0.0.1");

    LoopbackNode& master() { return m_master; }
    // A slave on `ip` that reports `layers` to a search for partners, on a host clock that runs
    // `clockDriftPpm` faster than the master's.
    LoopbackNode& addSlave(const std::string& ip, std::vector<int> layers = {0}, double clockDriftPpm = 0.0);
    // Runs a discovery until the roster holds one entry per slave and layer; false on time-out.
    bool discover();
    quint16 port() const { return m_port; }

    // The key under which the master admits slaves of this process on `ip`.
    static QString admissionKey(const std::string& ip);

private:
    quint16 m_port;
    LoopbackNode m_master;
    std::deque<LoopbackNode> m_slaves;  // a deque: references to earlier slaves stay valid
};
