// SPDX-License-Identifier: MIT
// A master on 127.0.0.1 whose roster holds the admitted slave 127.0.0.5 (process 77), with reports sent to
// it over loopback from raw sockets on the slave's address.
#pragma once

#include "EventLoopWait.h"
#include "common/LoopbackPeers.h"
#include "common/RecordingHost.h"
#include "endpoint/Keyring.h"
#include "wire/MessageCode.h"

#include <QTest>

#include <initializer_list>
#include <map>
#include <memory>
#include <string>

namespace roster_fixture {

inline constexpr int kGroup = 7;
inline const std::string kSlaveIp = "127.0.0.5";
inline constexpr quint32 kSlavePid = 77;

struct MasterWithRoster
{
    // The slave's reports of the given layers, from its socket 0.
    explicit MasterWithRoster(std::initializer_list<int> layers)
        : control(host.callbacks(), kGroup, "127.0.0.1", pickFreePort())
    {
        control.setMasterFlag(true);
        control.setSlaves({QString::fromStdString(kSlaveIp + "_" + std::to_string(kSlavePid))});
        for (int layer : layers)
            report(tamo::detail::enS2MReportPartnerCmd, layer);
    }

    // Gives the master and the raw sockets these keys.
    void setGroupKeys(const std::vector<NetControlNS::struGroupKey>& keys)
    {
        std::string why;
        QVERIFY(signer.setKeys(keys, why) && control.setGroupKeys(keys));
    }

    // Sends `code` for `layer` from socket `socket` of `ip`, as process `pid`, and returns once the master has
    // handled it: a clock-sync request follows, and the master answers in turn.
    void report(quint16 code, int layer, int socket = 0, quint32 pid = kSlavePid, const std::string& ip = kSlaveIp)
    {
        RawPeer& from = peer(socket, ip);
        const int answers = from.withCode(tamo::detail::enM2SClockSyncReplyCmd).size();
        send(from, buildDatagram(code, layer, kGroup, {}, {}, pid, 9));
        send(from, buildDatagram(tamo::detail::enS2MClockSyncRequestCmd, -1, kGroup, QByteArray(32, '\0'), {}, pid));
        QVERIFY(from.waitForCode(tamo::detail::enM2SClockSyncReplyCmd, answers + 1));
    }

    // The port of socket `socket` of `ip`.
    int port(int socket = 0, const std::string& ip = kSlaveIp) { return peer(socket, ip).port(); }

    NetControlNS::struAddress entry(int layer)
    {
        for (const auto& e : control.getSlavesPlayer())
            if (e.layerId == layer)
                return e;
        return {};
    }

    RecordingHost host;
    MultiNetControl control;

private:
    RawPeer& peer(int socket, const std::string& ip)
    {
        std::unique_ptr<RawPeer>& p = m_peers[{ip, socket}];
        if (!p)
            p = std::make_unique<RawPeer>(QString::fromStdString(ip));
        return *p;
    }

    void send(RawPeer& from, const QByteArray& datagram)
    {
        QByteArray out(datagram.size() + tamo::detail::kSignatureSize, '\0');
        out.resize(signer.sign(datagram.constData(), datagram.size(), from.port(), out.data()));
        from.send(out, QStringLiteral("127.0.0.1"), control.unicastPort());
    }

    tamo::detail::Keyring signer;
    std::map<std::pair<std::string, int>, std::unique_ptr<RawPeer>> m_peers;
};

} // namespace roster_fixture
