// SPDX-License-Identifier: MIT
// The checks that every request to the operator's server passes before it is served:
// - no request from another origin: a browser's Origin must name this server as the request's Host
//   does, and Sec-Fetch-Site must not say cross-site or same-site (no CORS headers are ever sent, so a
//   page elsewhere cannot read an answer either);
// - on a server that listens on loopback only, the Host must name loopback and the server's port, so
//   that a name rebound to 127.0.0.1 by another site's DNS gets nothing;
// - every command (POST) needs the token; reading (GET) needs it too on a server that listens beyond
//   loopback, where the LAN can reach it. The page itself, the same for everyone, needs none.
#pragma once

#include "OperatorToken.h"

#include <QtGlobal>

#include <optional>
#include <string>

struct RequestFacts
{
    std::string method;
    std::string path;
    std::optional<std::string> host;
    std::optional<std::string> origin;
    std::optional<std::string> fetchSite;  // Sec-Fetch-Site
    std::string authorization;
};

struct Refusal
{
    int status = 403;
    std::string reason;  // a phrase for the answer and the log line
};

class RequestGuard
{
public:
    RequestGuard(OperatorToken token, bool loopbackOnly, quint16 port)
        : m_token(std::move(token)), m_loopbackOnly(loopbackOnly), m_port(port) {}

    bool readsNeedToken() const { return !m_loopbackOnly; }
    // Nothing when the request may be served; otherwise how to refuse it.
    std::optional<Refusal> check(const RequestFacts& request) const;

private:
    bool hostIsThisLoopbackServer(const std::string& host) const;

    OperatorToken m_token;
    bool m_loopbackOnly;
    quint16 m_port;
};
