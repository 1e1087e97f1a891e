// SPDX-License-Identifier: MIT
// The operator's HTTP server: the page (GET /), the show's status as JSON (GET /api/status) and as a
// stream of server-sent events (GET /api/events), its figures for Prometheus (GET /metrics), and the
// commands (POST /api/<command>). RequestGuard checks every request first; each refused or malformed one
// gets an answer and a line.
//
// It runs on threads of its own (cpp-httplib's listener and its pool of workers, one per open
// connection) and never holds up the player: the status is handed over whole with publish(), and a
// command goes to `onCommand`, whose answer a worker waits for a short while only. A browser that stops
// reading stalls its own connection until the write times out, nothing else.
#pragma once

#include "OperatorCommand.h"
#include "OperatorToken.h"
#include "ShowStatus.h"

#include <functional>
#include <memory>

class OperatorServer
{
public:
    using Reply = std::function<void(const CommandResult&)>;
    // Called on a worker thread; `reply`, callable from any thread, at most once, answers the request.
    using CommandHandler = std::function<void(const OperatorCommand& command, Reply reply)>;

    // Listens on `host` (an IPv4 address) and `port` (0: a free one) and serves from then on; nothing,
    // with `error` saying why, when it cannot.
    static std::unique_ptr<OperatorServer> start(const QString& host, quint16 port, OperatorToken token,
                                                 CommandHandler onCommand, QString& error);
    ~OperatorServer();

    OperatorServer(const OperatorServer&) = delete;
    OperatorServer& operator=(const OperatorServer&) = delete;

    // What every reader sees from now on; any thread.
    void publish(const ShowStatus& status);
    quint16 port() const;
    // Whether reading needs the token too: the server listens beyond loopback.
    bool readsNeedToken() const;

    struct Impl;

private:
    explicit OperatorServer(std::unique_ptr<Impl> impl);

    std::unique_ptr<Impl> m_impl;
};
