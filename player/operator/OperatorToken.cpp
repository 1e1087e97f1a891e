// SPDX-License-Identifier: MIT
#include "OperatorToken.h"

#include <QFile>

#include <sys/stat.h>

std::optional<OperatorToken> OperatorToken::load(const QString& path, QString& error)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        error = QStringLiteral("the operator's token file %1 is missing").arg(path);
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        error = QStringLiteral("the operator's token file %1 is not a regular file").arg(path);
        return std::nullopt;
    }
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = QStringLiteral("the operator's token file %1 may be read or changed by others (mode %2); chmod 600 it")
                    .arg(path)
                    .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the operator's token file %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray secret = file.readLine(4096).trimmed();
    if (secret.size() < kMinLength || secret.contains(' ') || secret.contains('\t')) {
        error = QStringLiteral("the operator's token file %1 must hold one token of at least %2 characters without blanks")
                    .arg(path)
                    .arg(kMinLength);
        return std::nullopt;
    }
    return OperatorToken(secret.toStdString());
}

bool OperatorToken::authorizes(const std::string& authorization) const
{
    static const std::string kScheme = "Bearer ";
    if (authorization.compare(0, kScheme.size(), kScheme) != 0)
        return false;
    const std::string presented = authorization.substr(kScheme.size());
    // Every byte is looked at whatever the first difference, so the answer's time tells nothing of it.
    unsigned char difference = presented.size() == m_secret.size() ? 0 : 1;
    for (std::size_t i = 0; i < presented.size(); ++i)
        difference |= static_cast<unsigned char>(presented[i] ^ m_secret[i % m_secret.size()]);
    return difference == 0;
}
