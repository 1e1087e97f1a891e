// SPDX-License-Identifier: MIT
#include "OperatorSettings.h"

#include <QHostAddress>

std::optional<OperatorSettings> OperatorSettings::parseAddress(const QString& text)
{
    OperatorSettings settings;
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        QHostAddress address;
        if (!address.setAddress(text.left(colon)) || address.protocol() != QAbstractSocket::IPv4Protocol)
            return std::nullopt;
        settings.host = address.toString();
    }
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (!ok || port > 65535)
        return std::nullopt;
    settings.port = quint16(port);
    return settings;
}
