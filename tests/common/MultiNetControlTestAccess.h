// SPDX-License-Identifier: MIT
// Test access to the control object's handler, for what cannot be seen from outside: a datagram handed to
// it directly (the fuzz target; receive filters whose outcome is that nothing happens).
#pragma once

#include "MultiNetControl.h"
#include "control/PrivateAccess.h"

#include <QByteArray>

class MultiNetControlTestAccess
{
public:
    explicit MultiNetControlTestAccess(MultiNetControl& control) : m_c(tamo::detail::PrivateAccess::of(control)) {}

    // Runs the message handler on the calling thread, as the worker would for a received datagram.
    void handle(const QByteArray& bytes, const std::string& ip, int port)
    {
        NetControlNS::struAddress from;
        from.ip = ip;
        from.port = port;
        ControlMessage message(bytes.constData(), bytes.size(), from);
        m_c.handleMessage(message);
    }

private:
    tamo::detail::MultiNetControlPrivate& m_c;
};
