// SPDX-License-Identifier: MIT
// A master on 127.0.0.1 whose roster holds the admitted slave 127.0.0.5 (process 77, port 4000), with
// reports handed straight to its message handler.
#pragma once

#include "common/LoopbackPeers.h"
#include "common/MultiNetControlTestAccess.h"
#include "common/RecordingHost.h"
#include "wire/MessageCode.h"

#include <initializer_list>
#include <string>

namespace roster_fixture {

inline constexpr int kGroup = 7;
inline const std::string kSlaveIp = "127.0.0.5";
inline constexpr int kSlavePort = 4000;
inline constexpr quint32 kSlavePid = 77;

// A master whose roster holds the admitted slave 127.0.0.5 (process 77, port 4000) with the given layers.
struct MasterWithRoster
{
    explicit MasterWithRoster(std::initializer_list<int> layers)
        : control(host.callbacks(), kGroup, "127.0.0.1", pickFreePort()), internals(control)
    {
        control.setMasterFlag(true);
        control.setSlaves({QString::fromStdString(kSlaveIp + "_" + std::to_string(kSlavePid))});
        for (int layer : layers)
            report(tamo::detail::enS2MReportPartnerCmd, layer);
    }

    void report(quint16 code, int layer, int port = kSlavePort, quint32 pid = kSlavePid, const std::string& ip = kSlaveIp)
    {
        internals.handle(buildDatagram(code, layer, kGroup, {}, {}, pid, 9), ip, port);
    }

    NetControlNS::struAddress entry(int layer)
    {
        for (const auto& e : control.getSlavesPlayer())
            if (e.layerId == layer)
                return e;
        return {};
    }

    RecordingHost host;
    MultiNetControl control;
    MultiNetControlTestAccess internals;
};

} // namespace roster_fixture
