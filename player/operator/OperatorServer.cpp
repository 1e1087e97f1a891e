// SPDX-License-Identifier: MIT
#include "OperatorServer.h"

#include "EventLine.h"
#include "RequestGuard.h"
#include "StatusJson.h"
#include "StatusMetrics.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <pthread.h>

namespace {

// One worker per open connection: every page holds one for its event stream, and its commands and a
// scraper need more. Streams beyond their bound are refused, so that commands always find a worker.
constexpr std::size_t kWorkers = 24;
constexpr int kMaxStreams = 16;
// How long a worker waits for the main thread's answer to a command before it answers "queued".
constexpr auto kAnswerWait = std::chrono::seconds(2);
// A comment line on a quiet event stream, so that proxies and browsers keep it open.
constexpr auto kKeepAliveEvery = std::chrono::seconds(15);
constexpr std::size_t kMaxBody = 4096;

const char* const kJson = "application/json";

std::string errorJson(const QString& message)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), message}}).toJson(QJsonDocument::Compact).toStdString();
}

// Text from a request made fit for one word of a log line: no control characters, no blanks, not long.
QString loggable(const std::string& text)
{
    QString word = QString::fromUtf8(text.substr(0, 120).c_str());
    for (QChar& c : word) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            c = QLatin1Char('_');
    }
    return word.isEmpty() ? QStringLiteral("-") : word;
}

void logRefusal(const httplib::Request& request, int status, const QString& reason)
{
    EventLine(QStringLiteral("operator-refused"))
        .add(QStringLiteral("method"), loggable(request.method))
        .add(QStringLiteral("path"), loggable(request.path))
        .add(QStringLiteral("from"), loggable(request.remote_addr))
        .add(QStringLiteral("status"), status)
        .add(QStringLiteral("reason"), reason)
        .print();
}

std::optional<std::string> header(const httplib::Request& request, const char* name)
{
    if (!request.has_header(name))
        return std::nullopt;
    return request.get_header_value(name);
}

struct PendingAnswer
{
    std::mutex mutex;
    std::condition_variable arrived;
    std::optional<CommandResult> result;
};

int httpStatus(CommandResult::Outcome outcome)
{
    switch (outcome) {
    case CommandResult::Done: return 200;
    case CommandResult::Refused: return 409;
    case CommandResult::Unsupported: return 501;
    case CommandResult::Busy: return 503;
    }
    return 500;
}

} // namespace

struct OperatorServer::Impl
{
    Impl(CommandHandler handler, QByteArray pageHtml) : onCommand(std::move(handler)), page(pageHtml.toStdString()) {}

    void route();
    httplib::Server::HandlerResponse checkRequest(const httplib::Request& request, httplib::Response& response) const;
    void serveEvents(httplib::Response& response);
    void serveCommand(const httplib::Request& request, httplib::Response& response);

    httplib::Server http;
    std::optional<RequestGuard> guard;  // set once the port is bound, before the first request
    quint16 port = 0;
    CommandHandler onCommand;
    std::string page;
    std::thread listener;

    std::mutex mutex;
    std::condition_variable changed;
    ShowStatus status;     // guarded by mutex, as are the members below
    std::string json;
    quint64 version = 0;
    int streams = 0;
    bool stopping = false;
};

void OperatorServer::Impl::route()
{
    http.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    http.set_payload_max_length(kMaxBody);
    http.set_keep_alive_timeout(2);
    http.set_read_timeout(5);
    http.set_write_timeout(5);
    http.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                              {"Cache-Control", "no-store"},
                              {"Referrer-Policy", "no-referrer"},
                              {"X-Frame-Options", "DENY"}});
    http.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        return checkRequest(request, response);
    });
    http.Get("/", [this](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Security-Policy",
                            "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                            "connect-src 'self'; img-src data:; frame-ancestors 'none'; form-action 'none'");
        response.set_content(page, "text/html; charset=utf-8");
    });
    http.Get("/api/status", [this](const httplib::Request&, httplib::Response& response) {
        std::lock_guard<std::mutex> lock(mutex);
        response.set_content(json, kJson);
    });
    http.Get("/api/events", [this](const httplib::Request&, httplib::Response& response) { serveEvents(response); });
    http.Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
        ShowStatus copy;
        {
            std::lock_guard<std::mutex> lock(mutex);
            copy = status;
        }
        response.set_content(statusMetrics(copy).toStdString(), "text/plain; version=0.0.4; charset=utf-8");
    });
    http.Post(R"(/api/([a-z]+))", [this](const httplib::Request& request, httplib::Response& response) {
        serveCommand(request, response);
    });
    // Answers that cpp-httplib makes itself (no route, a request it cannot read) get a reason and a line too.
    http.set_error_handler([](const httplib::Request& request, httplib::Response& response) {
        if (!response.body.empty())
            return;
        QString reason = QStringLiteral("malformed request");
        if (response.status == 404)
            reason = QStringLiteral("no such page; see GET /");
        else if (request.method == "POST" && !request.has_header("Content-Length"))
            reason = QStringLiteral("a command needs a body, an empty one at least (Content-Length: 0; curl -d '')");
        logRefusal(request, response.status, reason);
        response.set_content(errorJson(reason), kJson);
    });
    http.set_exception_handler([](const httplib::Request& request, httplib::Response& response, std::exception_ptr) {
        logRefusal(request, 500, QStringLiteral("the server failed on it"));
        response.status = 500;
        response.set_content(errorJson(QStringLiteral("the server failed on this request")), kJson);
    });
}

httplib::Server::HandlerResponse OperatorServer::Impl::checkRequest(const httplib::Request& request, httplib::Response& response) const
{
    const bool read = request.method == "GET" || request.method == "HEAD";
    if (!read && request.method != "POST") {
        logRefusal(request, 405, QStringLiteral("method not allowed"));
        response.status = 405;
        response.set_header("Allow", "GET, HEAD, POST");
        response.set_content(errorJson(QStringLiteral("method not allowed")), kJson);
        return httplib::Server::HandlerResponse::Handled;
    }
    const RequestFacts facts{request.method,          request.path, header(request, "Host"), header(request, "Origin"),
                             header(request, "Sec-Fetch-Site"), request.get_header_value("Authorization")};
    const std::optional<Refusal> refusal = guard->check(facts);
    if (!refusal)
        return httplib::Server::HandlerResponse::Unhandled;
    const QString reason = QString::fromStdString(refusal->reason);
    logRefusal(request, refusal->status, reason);
    response.status = refusal->status;
    if (refusal->status == 401)
        response.set_header("WWW-Authenticate", "Bearer realm=\"multinet-player\"");
    response.set_content(errorJson(reason), kJson);
    return httplib::Server::HandlerResponse::Handled;
}

void OperatorServer::Impl::serveEvents(httplib::Response& response)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (streams >= kMaxStreams) {
            response.status = 503;
            response.set_content(errorJson(QStringLiteral("too many open pages")), kJson);
            return;
        }
        ++streams;
    }
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, seen = quint64(0)](std::size_t, httplib::DataSink& sink) mutable {
            std::string chunk;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait_for(lock, kKeepAliveEvery, [&] { return stopping || version != seen; });
                if (stopping)
                    return false;
                if (version == seen) {
                    chunk = ": keep-alive\n\n";
                } else {
                    // The first event tells the browser how soon to reconnect after a loss.
                    chunk = (seen == 0 ? "retry: 1000\n" : "") + std::string("data: ") + json + "\n\n";
                    seen = version;
                }
            }
            return sink.write(chunk.data(), chunk.size());
        },
        [this](bool) {
            std::lock_guard<std::mutex> lock(mutex);
            --streams;
        });
}

void OperatorServer::Impl::serveCommand(const httplib::Request& request, httplib::Response& response)
{
    QString error;
    const std::optional<OperatorCommand> command = OperatorCommand::parse(request.matches[1], request.body, error);
    if (!command) {
        logRefusal(request, 400, error);
        response.status = 400;
        response.set_content(errorJson(error), kJson);
        return;
    }
    auto pending = std::make_shared<PendingAnswer>();
    onCommand(*command, [pending](const CommandResult& result) {
        std::lock_guard<std::mutex> lock(pending->mutex);
        pending->result = result;
        pending->arrived.notify_all();
    });
    std::unique_lock<std::mutex> lock(pending->mutex);
    QJsonObject answer{{QStringLiteral("command"), QLatin1String(OperatorCommand::name(command->kind))}};
    if (!pending->arrived.wait_for(lock, kAnswerWait, [&] { return pending->result.has_value(); })) {
        // The main thread is busy (preparing the programme again, say): the command waits its turn there.
        response.status = 202;
        answer.insert(QStringLiteral("ok"), true);
        answer.insert(QStringLiteral("queued"), true);
    } else {
        response.status = httpStatus(pending->result->outcome);
        if (response.status == 503)
            response.set_header("Retry-After", "1");
        answer.insert(QStringLiteral("ok"), pending->result->outcome == CommandResult::Done);
        answer.insert(response.status == 200 ? QStringLiteral("message") : QStringLiteral("error"), pending->result->message);
    }
    response.set_content(QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString(), kJson);
}

std::unique_ptr<OperatorServer> OperatorServer::start(const QString& host, quint16 port, OperatorToken token,
                                                      CommandHandler onCommand, QString& error)
{
    QFile page(QStringLiteral(":/operator/index.html"));
    if (!page.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("the operator's page is missing from this build");
        return nullptr;
    }
    const QHostAddress address(host);
    if (address.protocol() != QAbstractSocket::IPv4Protocol) {
        error = QStringLiteral("the operator's page needs an IPv4 address to listen on, got '%1'").arg(host);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>(std::move(onCommand), page.readAll());
    impl->route();
    const std::string hostText = host.toStdString();
    const int bound = port == 0 ? impl->http.bind_to_any_port(hostText) : (impl->http.bind_to_port(hostText, port) ? port : -1);
    if (bound <= 0) {
        error = QStringLiteral("cannot listen on %1 port %2 for the operator's page (taken, or no such address here)").arg(host).arg(port);
        return nullptr;
    }
    // The guard checks each request's Host against the port, known only now.
    impl->port = quint16(bound);
    impl->guard.emplace(std::move(token), address.isLoopback(), impl->port);
    Impl* raw = impl.get();
    impl->listener = std::thread([raw] {
        // Named before the workers start: they take the name over, and `top -H` or a benchmark tells
        // the server's threads from the player's.
        pthread_setname_np(pthread_self(), "operator-http");
        raw->http.listen_after_bind();
    });
    // Until it runs, a stop would not reach it: a server stopped at once must not be left listening.
    for (int waited = 0; !impl->http.is_running() && waited < 2000; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return std::unique_ptr<OperatorServer>(new OperatorServer(std::move(impl)));
}

OperatorServer::OperatorServer(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

OperatorServer::~OperatorServer()
{
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        m_impl->stopping = true;
    }
    m_impl->changed.notify_all();
    m_impl->http.stop();
    m_impl->listener.join();
}

void OperatorServer::publish(const ShowStatus& status)
{
    std::string json = statusJson(status).toStdString();
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        m_impl->status = status;
        m_impl->json.swap(json);
        ++m_impl->version;
    }
    m_impl->changed.notify_all();
}

quint16 OperatorServer::port() const
{
    return m_impl->port;
}

bool OperatorServer::readsNeedToken() const
{
    return m_impl->guard->readsNeedToken();
}
