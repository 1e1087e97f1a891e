// SPDX-License-Identifier: MIT
#include "RequestGuard.h"

#include <QHostAddress>
#include <QString>

namespace {

QString lowered(const std::string& text)
{
    return QString::fromStdString(text).toLower();
}

} // namespace

std::optional<Refusal> RequestGuard::check(const RequestFacts& request) const
{
    if (request.origin && (!request.host || lowered(*request.origin) != QLatin1String("http://") + lowered(*request.host)))
        return Refusal{403, "cross-origin request (Origin is not this server)"};
    if (request.fetchSite && (*request.fetchSite == "cross-site" || *request.fetchSite == "same-site"))
        return Refusal{403, "cross-origin request (Sec-Fetch-Site: " + *request.fetchSite + ")"};
    if (m_loopbackOnly && !(request.host && hostIsThisLoopbackServer(*request.host)))
        return Refusal{403, "Host does not name this loopback server"};
    const bool command = request.method == "POST";
    const bool page = request.path == "/";
    if (command || (readsNeedToken() && !page)) {
        if (request.authorization.empty())
            return Refusal{401, "no token (Authorization: Bearer TOKEN)"};
        if (!m_token.authorizes(request.authorization))
            return Refusal{401, "wrong token"};
    }
    return std::nullopt;
}

bool RequestGuard::hostIsThisLoopbackServer(const std::string& host) const
{
    // "name", "name:port", "[v6]" or "[v6]:port"; no port means HTTP's 80.
    const QString text = QString::fromStdString(host);
    const int close = text.lastIndexOf(QLatin1Char(']'));
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    const bool hasPort = colon > close;
    QString name = hasPort ? text.left(colon) : text;
    bool portOk = true;
    const int port = hasPort ? text.mid(colon + 1).toInt(&portOk) : 80;
    if (!portOk || port != m_port)
        return false;
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    if (name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    return address.setAddress(name) && address.isLoopback();
}
